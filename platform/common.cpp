// Platform helpers shared by every system: those built on the Env interface
// alone, and the console through the C library's streams (each system's
// file sets the streams up as it needs, e.g. binary mode on Windows).
#include <cstdio>

#include "platform/platform.h"

namespace platform {

bool WriteStdout(const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, stdout) == size;
}

bool FlushStdout() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

void ReadStdinLine() {
  std::fflush(stdout);
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') {
  }
}

bool SameFile(Env& env, const std::string& a, const std::string& b) {
  const FileInfo first = env.Inspect(a);
  const FileInfo second = env.Inspect(b);
  if (first.kind != FileKind::kMissing && second.kind != FileKind::kMissing)
    return first.volume == second.volume && first.index == second.index;
  if (first.kind != second.kind) return false;
  return env.FullPath(a) == env.FullPath(b);
}

}  // namespace platform
