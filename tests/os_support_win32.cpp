// Windows side of the tests' system helpers.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "tests/os_support.h"

namespace testing_support {

namespace {

std::string MessageOf(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length != 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  return message;
}

// One argument as the C runtime's command-line parser reads it back:
// quotes around it when needed, backslashes doubled only before a quote.
std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (argument[i] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted += argument[i];
  }
  return quoted + "\"";
}

std::string UpperName(const std::string& entry) {
  std::string name = entry.substr(0, entry.find('=', 1));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

// The caller's environment block with `extra` set on top; empty when
// there is nothing to add (the child then inherits the caller's).
std::string EnvironmentBlock(const std::vector<std::string>& extra) {
  if (extra.empty()) return "";
  std::string block;
  for (const std::string& e : extra) block += e + '\0';
  char* strings = GetEnvironmentStringsA();
  for (const char* e = strings; e != nullptr && *e != '\0'; e += std::strlen(e) + 1) {
    bool overridden = false;
    for (const std::string& set : extra) overridden = overridden || UpperName(set) == UpperName(e);
    if (!overridden) block += std::string(e) + '\0';
  }
  if (strings != nullptr) FreeEnvironmentStringsA(strings);
  return block + '\0';
}

HANDLE OpenOrFail(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    ADD_FAILURE() << "cannot open " << path << ": " << MessageOf(GetLastError());
  return handle;
}

}  // namespace

std::string SystemErrorText(SystemError error) {
  switch (error) {
    case SystemError::kNoSuchFile:
      return MessageOf(ERROR_FILE_NOT_FOUND);
    case SystemError::kNoSuchDirectory:
      return MessageOf(ERROR_PATH_NOT_FOUND);
    case SystemError::kIsADirectory:
      return MessageOf(ERROR_ACCESS_DENIED);
    case SystemError::kNameTooLong:
      return MessageOf(ERROR_FILENAME_EXCED_RANGE);
    case SystemError::kAlreadyExists:
      return MessageOf(ERROR_ALREADY_EXISTS);
  }
  return "";
}

int RunProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& workDir, const ProcessIo& io,
               const std::vector<std::string>& environment) {
  std::string commandLine = QuotedArgument(program);
  for (const std::string& a : arguments) {
    commandLine += ' ';
    commandLine += QuotedArgument(a);
  }
  std::string block = EnvironmentBlock(environment);

  // A child inherits every inheritable handle open at its start: programs
  // started from several threads at once must not get each other's files.
  static std::mutex starting;
  std::unique_lock<std::mutex> lock(starting);
  HANDLE in = OpenOrFail(io.stdinPath, GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenOrFail(io.outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err =
      io.errPath == io.outPath ? out : OpenOrFail(io.errPath, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process = {};
  bool started = false;
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                             block.empty() ? nullptr : &block[0], workDir.c_str(), &startup,
                             &process) != 0;
    if (!started)
      ADD_FAILURE() << "cannot start " << commandLine << ": " << MessageOf(GetLastError());
  }
  for (HANDLE h : {out, err == out ? INVALID_HANDLE_VALUE : err})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (in != INVALID_HANDLE_VALUE) SetHandleInformation(in, HANDLE_FLAG_INHERIT, 0);
  lock.unlock();

  DWORD exitCode = 0;
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, &exitCode)) started = false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (io.stdinLeft != nullptr && in != INVALID_HANDLE_VALUE) {
    io.stdinLeft->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0)
      io.stdinLeft->append(buffer, got);
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  return started ? static_cast<int>(exitCode) : -1;
}

struct NamedPipeFeeder::Feeding {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::thread writer;
};

bool NamedPipeFeeder::Supported() { return true; }

NamedPipeFeeder::NamedPipeFeeder(const std::string& bytes) : feeding_(std::make_unique<Feeding>()) {
  std::random_device random;
  path_ = "\\\\.\\pipe\\quarn-test-" + std::to_string(random()) + "-" + std::to_string(random());
  // Made before the reader starts, which would otherwise find no pipe.
  feeding_->pipe = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                    1, 65536, 65536, 0, nullptr);
  if (feeding_->pipe == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot make " << path_ << ": " << MessageOf(GetLastError());
    return;
  }
  feeding_->writer = std::thread([pipe = feeding_->pipe, bytes] {
    if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      DWORD put = 0;
      for (std::size_t at = 0; at < bytes.size(); at += put)
        if (!WriteFile(pipe, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &put,
                       nullptr))
          break;
      FlushFileBuffers(pipe);  // until the reader has taken everything
    }
    CloseHandle(pipe);
  });
}

NamedPipeFeeder::~NamedPipeFeeder() {
  if (!feeding_->writer.joinable()) return;
  // A pipe nobody opened would keep the writer waiting for ever.
  HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (reader != INVALID_HANDLE_VALUE) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    CloseHandle(reader);
  }
  feeding_->writer.join();
}

bool HaveShell() { return false; }

int RunShell(const std::string& command) {
  ADD_FAILURE() << "no POSIX shell to run: " << command;
  return -1;
}

}  // namespace testing_support
