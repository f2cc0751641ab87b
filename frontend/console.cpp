#include "frontend/console.h"

#include <cstring>

#include "platform/platform.h"

void WriteConsoleText(std::string_view Text) { platform::WriteStdout(Text.data(), Text.size()); }

void WriteConsoleLine(std::string_view Line) {
  const char* lineEnd = platform::ConsoleLineEnd();
  platform::WriteStdout(Line.data(), Line.size());
  platform::WriteStdout(lineEnd, std::strlen(lineEnd));
  // Each line is passed on at once, also to a pipe or a log file, so that
  // a long job can be followed; a failure stays on record for the exit.
  platform::FlushStdout();
}
