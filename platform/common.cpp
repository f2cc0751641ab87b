// Platform helpers built on the Env interface alone, shared by every system.
#include "platform/platform.h"

namespace platform {

bool SameFile(Env& env, const std::string& a, const std::string& b) {
  const FileInfo first = env.Inspect(a);
  const FileInfo second = env.Inspect(b);
  if (first.kind != FileKind::kMissing && second.kind != FileKind::kMissing)
    return first.volume == second.volume && first.index == second.index;
  if (first.kind != second.kind) return false;
  return env.FullPath(a) == env.FullPath(b);
}

}  // namespace platform
