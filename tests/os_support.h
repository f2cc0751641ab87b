// What the tests need from the operating system beyond standard C++:
// running a program with its standard streams in files, and the system's
// wording of a few errors. One implementation per system
// (os_support_posix.cpp, os_support_win32.cpp), so that no test includes an
// operating-system header.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// Failures whose text the platform layer passes on from the system.
enum class SystemError {
  kNoSuchFile,       // the file is missing
  kNoSuchDirectory,  // a directory on the way to it is missing
  kIsADirectory,     // a directory opened or removed as a file
  kNameTooLong,      // a name component longer than the system allows
  kAlreadyExists,    // a rename that must not replace finds its target
};

// The system's own description of `error`, as the platform layer reports it
// (strerror on POSIX, FormatMessage without its CR LF on Windows).
std::string SystemErrorText(SystemError error);

// Where a program's standard streams come from and go to.
struct ProcessIo {
  std::string stdinPath;  // read from the start
  std::string outPath;    // created or emptied
  std::string errPath;    // the same name as outPath: one file for both
  // When set, receives what the program left unread of its standard input
  // (the program and the caller share one file position).
  std::string* stdinLeft = nullptr;
};

// Runs `program` with `arguments` in `workDir`; `environment` holds
// NAME=value entries set on top of the caller's environment. Returns the
// exit code, or -1 when the program could not be started or did not exit by
// itself.
int RunProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& workDir, const ProcessIo& io,
               const std::vector<std::string>& environment = {});

// A Windows named pipe that hands `bytes` to its first reader and then
// closes, so that the reader sees the end of its input. Elsewhere
// Supported() is false and the object does nothing.
class NamedPipeFeeder {
 public:
  static bool Supported();
  explicit NamedPipeFeeder(const std::string& bytes);
  // Waits for the feeding to end; reads the pipe itself when nobody did.
  ~NamedPipeFeeder();
  NamedPipeFeeder(const NamedPipeFeeder&) = delete;
  NamedPipeFeeder& operator=(const NamedPipeFeeder&) = delete;

  // The pipe's name, \\.\pipe\<unique name>.
  const std::string& Path() const { return path_; }

 private:
  struct Feeding;
  std::string path_;
  std::unique_ptr<Feeding> feeding_;
};

// True where RunShell works (POSIX systems).
bool HaveShell();

// Runs `command` with sh -c, its standard streams those of the test, and
// returns the exit status (-1 when sh did not exit normally). Fails the
// test where there is no shell.
int RunShell(const std::string& command);

}  // namespace testing_support
