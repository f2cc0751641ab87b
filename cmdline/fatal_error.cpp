#include "cmdline/fatal_error.h"

#include <cstdlib>

#include "platform/platform.h"

namespace {
FatalErrorHandler g_handler = nullptr;
}

void SetFatalErrorHandler(FatalErrorHandler Handler) { g_handler = Handler; }

void FatalError(const std::string& Message) {
  if (g_handler != nullptr) {
    g_handler(Message);
    std::abort();  // a handler must not return
  }
  std::string line = "Error: " + Message + platform::ConsoleLineEnd();
  platform::WriteStdout(line.data(), line.size());
  // exit, not a return or a throw: no caller's clean-up runs, but the
  // process's orderly exit flushes standard output.
  std::exit(1);
}
