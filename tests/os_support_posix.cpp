// POSIX side of the tests' system helpers.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/os_support.h"

extern char** environ;

namespace testing_support {

std::string SystemErrorText(SystemError error) {
  switch (error) {
    case SystemError::kNoSuchFile:
    case SystemError::kNoSuchDirectory:
      return strerror(ENOENT);
    case SystemError::kIsADirectory:
      return strerror(EISDIR);
    case SystemError::kNameTooLong:
      return strerror(ENAMETOOLONG);
    case SystemError::kAlreadyExists:
      return strerror(EEXIST);
  }
  return "";
}

namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int OpenOrFail(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) ADD_FAILURE() << "cannot open " << path << ": " << strerror(errno);
  return fd;
}

}  // namespace

int RunProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& workDir, const ProcessIo& io,
               const std::vector<std::string>& environment) {
  // Everything the child needs is made before fork: a test may run
  // programs from several threads, and after fork only async-signal-safe
  // calls are allowed.
  std::vector<std::string> entries = environment;
  for (char** e = environ; *e != nullptr; ++e) {
    bool overridden = false;
    for (const std::string& set : environment) overridden = overridden || NameOf(set) == NameOf(*e);
    if (!overridden) entries.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = arguments;
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int in = OpenOrFail(io.stdinPath, O_RDONLY);
  const int out = OpenOrFail(io.outPath, O_WRONLY | O_CREAT | O_TRUNC);
  const int err =
      io.errPath == io.outPath ? out : OpenOrFail(io.errPath, O_WRONLY | O_CREAT | O_TRUNC);
  int status = 0;
  bool waited = false;
  if (in >= 0 && out >= 0 && err >= 0) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(workDir.c_str()) == 0 && dup2(in, 0) == 0 && dup2(out, 1) == 1 && dup2(err, 2) == 2)
        execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    if (pid > 0) {
      pid_t done;
      while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
      }
      waited = done == pid;
    } else {
      ADD_FAILURE() << "fork: " << strerror(errno);
    }
  }
  if (io.stdinLeft != nullptr && in >= 0) {
    io.stdinLeft->clear();
    char buffer[4096];
    ssize_t got;
    while ((got = read(in, buffer, sizeof buffer)) > 0)
      io.stdinLeft->append(buffer, static_cast<size_t>(got));
  }
  for (int fd : {in, out, err == out ? -1 : err})
    if (fd >= 0) close(fd);
  return waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct NamedPipeFeeder::Feeding {};

bool NamedPipeFeeder::Supported() { return false; }
NamedPipeFeeder::NamedPipeFeeder(const std::string&) {}
NamedPipeFeeder::~NamedPipeFeeder() = default;

bool HaveShell() { return true; }

int RunShell(const std::string& command) {
  const int status = std::system(("sh -c " + ShellQuoted(command)).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
