#include "frontend/driver.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "csv/csv_parser.h"
#include "frontend/screens.h"
#include "frontend/version.h"
#include "recordfile/text_file.h"
#include "sortengine/file_sorter.h"
#include "sortengine/sort_keys.h"

namespace {

constexpr std::string_view kHelpRequests = "/? -? /HELP -HELP";
// Searched with the upper-cased argument, so the lower-case entries never
// match on their own.
constexpr std::string_view kExampleRequests = "/E -E /e -e";

bool IsRequest(const std::string& FirstArg, std::string_view Requests) {
  if (FirstArg.empty()) return false;
  std::string upper = FirstArg;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return Requests.find(upper) != std::string_view::npos;
}

void WriteBanner() {
  WriteConsoleLine("");
  WriteConsoleLine("Quarn version " QUARN_VERSION
                   " - Sort a DOS, WINDOWS, UNIX, MAC, or mixed text file");
  WriteConsoleLine("Copyright (c) 2026 The Quarn developers");
}

std::string TwoDigits(long long Value) {
  return std::string{static_cast<char>('0' + Value / 10), static_cast<char>('0' + Value % 10)};
}

}  // namespace

bool IsHelpRequest(const std::string& FirstArg) { return IsRequest(FirstArg, kHelpRequests); }

bool IsExampleRequest(const std::string& FirstArg) { return IsRequest(FirstArg, kExampleRequests); }

TRequestedScreen RequestedScreen(const std::vector<std::string>& Arguments) {
  if (Arguments.empty() || IsHelpRequest(Arguments[0])) return TRequestedScreen::Usage;
  if (IsExampleRequest(Arguments[0])) return TRequestedScreen::Examples;
  return TRequestedScreen::None;
}

std::string BuildCommandLine(const std::vector<std::string>& Arguments) {
  std::string commandLine;
  for (std::size_t i = 0; i < Arguments.size(); ++i) {
    if (i != 0) commandLine += '\t';
    commandLine += Arguments[i];
  }
  return commandLine;
}

std::string FormatElapsedTime(double Seconds) {
  constexpr double kSecondsPerDay = 86400.0;
  double timeOfDay =
      (std::isfinite(Seconds) && Seconds > 0) ? std::fmod(Seconds, kSecondsPerDay) : 0;
  long long whole = static_cast<long long>(timeOfDay);  // 0 .. 86399
  return TwoDigits(whole / 3600) + ":" + TwoDigits(whole / 60 % 60) + ":" + TwoDigits(whole % 60);
}

std::string UnhandledExceptionReport(std::exception_ptr Error) {
  const char* kind = "error";
  std::string message = "unknown exception";
  try {
    if (Error) std::rethrow_exception(Error);
  } catch (const TQxIOError& e) {
    kind = "I/O error";
    message = e.what();
  } catch (const TQxAbort& e) {
    kind = "abort";
    message = e.what();
  } catch (const std::exception& e) {  // TCsvError, std::bad_alloc and the rest
    message = e.what();
  } catch (...) {
  }
  return std::string("Unhandled exception (") + kind + "): " + message;
}

int FinishOutput(int ExitCode) {
  if (platform::FlushStdout()) return ExitCode;
  // Standard output is what failed, so the complaint goes elsewhere.
  std::fputs("Error: cannot write to standard output", stderr);
  std::fputs(platform::ConsoleLineEnd(), stderr);
  return ExitCode == kExitOk ? kExitError : ExitCode;
}

int RunQuarn(const std::vector<std::string>& Arguments) {
  BuildKeyTables();
  WriteBanner();
  switch (RequestedScreen(Arguments)) {
    case TRequestedScreen::Usage:
      ShowUsage();
      return FinishOutput(kExitOk);
    case TRequestedScreen::Examples:
      ShowExamples();
      return FinishOutput(kExitOk);
    case TRequestedScreen::None:
      break;
  }
  return RunSortJob<TQxFileSorter>(BuildCommandLine(Arguments));
}
