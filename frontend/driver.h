// The program driver: banner, help and example screens, and the one sort
// job of a process with its elapsed time and exit code.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "frontend/console.h"
#include "platform/platform.h"

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;  // also FatalError's code
constexpr int kExitUnhandledException = 217;

// Runs the program for Arguments (the program name not included) and
// returns the exit code. Writes to standard output; reads standard input
// only at the pause of the usage screen. A user error inside the job ends
// the process through FatalError and never returns here.
int RunQuarn(const std::vector<std::string>& Arguments);

// The arguments joined with one TAB between neighbours, nothing around.
std::string BuildCommandLine(const std::vector<std::string>& Arguments);

// Seconds as "HH:MM:SS": whole days and fractions of a second dropped, so
// the hours run from 00 to 23. Negative or non-finite input gives 00:00:00.
std::string FormatElapsedTime(double Seconds);

// Only the first argument is tested. A request is a non-empty argument
// whose ASCII upper-case form is a substring of the request text; help is
// tested first.
bool IsHelpRequest(const std::string& FirstArg);
bool IsExampleRequest(const std::string& FirstArg);

// Which screen the program shows instead of sorting: the usage screen for
// no arguments or a help request, else the examples for an example request.
enum class TRequestedScreen { None, Usage, Examples };
TRequestedScreen RequestedScreen(const std::vector<std::string>& Arguments);

// The line reported for an exception that escaped the job:
// "Unhandled exception (<kind>): <message>", kind "I/O error", "abort" or
// "error" (everything else).
std::string UnhandledExceptionReport(std::exception_ptr Error);

// Flushes standard output and returns ExitCode, or kExitError (with a line
// on standard error) when output of a successful run was lost.
int FinishOutput(int ExitCode);

// The sort job of the driver: constructs one Sorter, routes its progress
// lines to its own console writer, sorts CommandLine and prints the
// elapsed time. An exception that escapes is reported after the sorter is
// destroyed (so its open files are flushed and closed first), with exit
// code 217 and no elapsed time. Sorter is TQxFileSorter in the program;
// tests put a stand-in with the same members there.
template <class Sorter>
int RunSortJob(const std::string& CommandLine) {
  std::exception_ptr escaped;
  try {
    Sorter sorter;
    sorter.OnCallBackStr = [&sorter](const char* Line) { sorter.WriteToConsole(Line); };
    double start = platform::MonotonicSeconds();
    sorter.Sort(CommandLine);
    WriteConsoleLine("Elapsed time: " + FormatElapsedTime(platform::MonotonicSeconds() - start));
  } catch (...) {
    escaped = std::current_exception();
  }
  if (escaped) {
    WriteConsoleLine(UnhandledExceptionReport(escaped));
    return FinishOutput(kExitUnhandledException);
  }
  return FinishOutput(kExitOk);
}
