// Runs the built program as a user would: in a directory of the test's,
// with the C locale, standard input from a file, and its standard output,
// standard error and exit code captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/version.h"
#include "platform/platform.h"
#include "tests/os_support.h"
#include "tests/test_support.h"

namespace testing_support {

inline const std::string kBanner =
    "\n"
    "Quarn version " QUARN_VERSION
    " - Sort a DOS, WINDOWS, UNIX, MAC, or mixed text file\n"
    "Copyright (c) 2026 The Quarn developers\n";

struct RunResult {
  int exitCode = -1;
  std::string out;        // standard output as AsShown gives it
  std::string err;        // the same for standard error
  std::string rawOut;     // standard output byte for byte
  std::string stdinLeft;  // what the program did not read of its input
};

#ifdef _WIN32
// The program ends its console lines with CR LF there, and takes the
// user's locale from the system, not from the environment.
inline constexpr bool kCrLfConsole = true;
inline const std::vector<std::string> kProgramEnvironment = {};
inline std::string ProgramThousandsSeparator() { return platform::ThousandsSeparator(); }
#else
inline constexpr bool kCrLfConsole = false;
// The C locale, so that the memory line's thousands separator is ",".
inline const std::vector<std::string> kProgramEnvironment = {"LC_ALL=C"};
inline std::string ProgramThousandsSeparator() { return ","; }
#endif

// Console text as RunResult shows it, so that one expectation (written with
// LF line ends) serves every system: where console lines end in CR LF, each
// CR LF reads as LF, also one inside a message.
inline std::string AsShown(const std::string& text) {
  if (!kCrLfConsole) return text;
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) shown += text[i];
  return shown;
}

// `text` with each "," replaced by the thousands separator the program uses.
inline std::string WithProgramThousands(const std::string& text) {
  const std::string separator = ProgramThousandsSeparator();
  std::string out;
  for (char c : text) out += c == ',' ? separator : std::string(1, c);
  return out;
}

inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs Script with sh in WorkDir (POSIX only: see HaveShell). In Script,
// $QUARN is the program, and $IN, $OUT and $ERR name files outside WorkDir;
// $IN holds Stdin.
inline RunResult RunShellIn(const std::string& workDir, const std::string& script,
                            const std::string& stdinBytes = "") {
  TempDir io;
  WriteFile(io.File("in"), stdinBytes);
  std::string command = "cd ";
  command += ShellQuoted(workDir);
  command += " && export LC_ALL=C && QUARN=";
  command += ShellQuoted(QUARN_EXE);
  command += " IN=";
  command += ShellQuoted(io.File("in"));
  command += " OUT=";
  command += ShellQuoted(io.File("out"));
  command += " ERR=";
  command += ShellQuoted(io.File("err"));
  command += " && ";
  command += script;
  RunResult result;
  result.exitCode = RunShell(command);
  result.out = ReadFile(io.File("out"));
  result.rawOut = result.out;
  result.err = ReadFile(io.File("err"));
  return result;
}

// Runs the program with Arguments in WorkDir.
inline RunResult RunQuarnIn(const std::string& workDir, const std::vector<std::string>& arguments,
                            const std::string& stdinBytes = "") {
  TempDir io;
  WriteFile(io.File("in"), stdinBytes);
  RunResult result;
  const ProcessIo streams{io.File("in"), io.File("out"), io.File("err"), &result.stdinLeft};
  result.exitCode = RunProcess(QUARN_EXE, arguments, workDir, streams, kProgramEnvironment);
  result.rawOut = ReadFile(io.File("out"));
  result.out = AsShown(result.rawOut);
  result.err = AsShown(ReadFile(io.File("err")));
  return result;
}

// Runs the program with Arguments in WorkDir, its standard output and
// standard error both into the file LogPath; returns the exit code.
inline int RunQuarnLogged(const std::string& workDir, const std::vector<std::string>& arguments,
                          const std::string& logPath) {
  TempDir io;
  WriteFile(io.File("in"), "");
  return RunProcess(QUARN_EXE, arguments, workDir, ProcessIo{io.File("in"), logPath, logPath},
                    kProgramEnvironment);
}

}  // namespace testing_support
