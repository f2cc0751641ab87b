// Runs the built program as a user would: in a directory of the test's,
// with the C locale, standard input from a file, and its standard output,
// standard error and exit code captured.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/version.h"
#include "tests/test_support.h"

namespace testing_support {

inline const std::string kBanner =
    "\n"
    "Quarn version " QUARN_VERSION
    " - Sort a DOS, WINDOWS, UNIX, MAC, or mixed text file\n"
    "Copyright (c) 2026 The Quarn developers\n";

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs Script with sh in WorkDir. In Script, $QUARN is the program, and
// $IN, $OUT and $ERR name files outside WorkDir; $IN holds Stdin.
inline RunResult RunShellIn(const std::string& workDir, const std::string& script,
                            const std::string& stdinBytes = "") {
  TempDir io;
  WriteFile(io.File("in"), stdinBytes);
  // The C locale, so that the memory line's thousands separator is ",".
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
  std::string shell = "sh -c ";
  shell += ShellQuoted(command);
  const int status = std::system(shell.c_str());
  RunResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(io.File("out"));
  result.err = ReadFile(io.File("err"));
  return result;
}

// Runs the program with Arguments in WorkDir.
inline RunResult RunQuarnIn(const std::string& workDir, const std::vector<std::string>& arguments,
                            const std::string& stdinBytes = "") {
  std::string script = "\"$QUARN\"";
  for (const std::string& a : arguments) {
    script += ' ';
    script += ShellQuoted(a);
  }
  return RunShellIn(workDir, script + " <\"$IN\" >\"$OUT\" 2>\"$ERR\"", stdinBytes);
}

}  // namespace testing_support
