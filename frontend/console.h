// Console text of the front end. Every piece goes to standard output
// through the platform layer; the results of single writes are not
// checked because the final flush reports any output that was lost.
#pragma once

#include <string_view>

// Writes Text as it is, without a line end.
void WriteConsoleText(std::string_view Text);
// Writes Line followed by the console's line end.
void WriteConsoleLine(std::string_view Line);
