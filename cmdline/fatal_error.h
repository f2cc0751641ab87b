// The program's single exit for user-facing errors.
#pragma once

#include <string>

// Writes "Error: " + Message and a line end to standard output and ends the
// process with exit code 1, without unwinding: callers' clean-up never runs.
[[noreturn]] void FatalError(const std::string& Message);

// Tests replace the exit with a handler of their own (one that throws, so
// the test regains control). The handler must not return; if it does, the
// process aborts. Passing nullptr restores the program's own exit.
using FatalErrorHandler = void (*)(const std::string& Message);
void SetFatalErrorHandler(FatalErrorHandler Handler);
