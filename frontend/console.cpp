#include "frontend/console.h"

#include <cstring>

#include "platform/platform.h"

void WriteConsoleText(std::string_view Text) { platform::WriteStdout(Text.data(), Text.size()); }

void WriteConsoleLine(std::string_view Line) {
  const char* lineEnd = platform::ConsoleLineEnd();
  platform::WriteStdout(Line.data(), Line.size());
  platform::WriteStdout(lineEnd, std::strlen(lineEnd));
}
