// Windows implementation of the platform layer. Only the ANSI (...A)
// functions are used: names are 8-bit byte strings throughout the program,
// passed to the system as they are.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

// Console output in binary mode from the start: the program writes its CR
// LF line ends itself, and text mode would turn each into CR CR LF. The
// driver writes to standard error directly, so that stream too.
struct BinaryConsole {
  BinaryConsole() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
  }
} binaryConsole;

// The system's description of an error code, without the CR LF that
// FormatMessage puts at its end.
std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  if (message.empty()) message = "System error " + std::to_string(code);
  return message;
}

std::string LastErrorMessage() { return SystemMessage(GetLastError()); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The directory part of `name` with its separator ("" for a bare name);
// "C:name" is a name in the current directory of drive C.
std::string DirectoryOf(const std::string& name) {
  const std::size_t cut = name.find_last_of("\\/:");
  if (cut == std::string::npos) return "";
  return name.substr(0, cut + 1);
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return i == a.size() && b[i] == '\0';
}

// Names that the system maps to a device wherever they stand: NUL, CON and
// the like (also with an extension or a colon, "nul.txt", "CON:"), and
// everything in the device namespace \\.\ .
bool IsDeviceName(const std::string& name) {
  if (name.size() >= 4 && IsSeparator(name[0]) && IsSeparator(name[1]) && name[2] == '.' &&
      IsSeparator(name[3]))
    return true;
  std::string base = name.substr(DirectoryOf(name).size());
  if (base.empty() && !name.empty() && name.back() == ':') {
    // "CON:" ends in the colon that DirectoryOf cut at.
    base = name.substr(0, name.size() - 1);
    base = base.substr(DirectoryOf(base).size());
  }
  base = base.substr(0, base.find_first_of(".:"));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"NUL",  "CON",  "PRN",  "AUX",  "CONIN$", "CONOUT$",
                                         "COM1", "COM2", "COM3", "COM4", "COM5",   "COM6",
                                         "COM7", "COM8", "COM9", "LPT1", "LPT2",   "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8",   "LPT9"};
  for (const char* device : kDevices)
    if (EqualsIgnoringCase(base, device)) return true;
  return false;
}

// Opens an existing file or directory (links followed) only to ask about
// it: no data access, so no other opener's sharing mode stands in the way.
HANDLE OpenForQuery(const std::string& name) {
  return CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The final path of an open file, links resolved, without the \\?\ prefix
// that the system puts in front; empty when the system cannot tell.
std::string FinalPath(HANDLE handle) {
  std::string path(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleA(
        handle, &path[0], static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length == 0) return "";
    if (length < path.size()) {
      path.resize(length);
      if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        // \\?\UNC\server\share becomes \\server\share.
        path.erase(0, 6);
        path[0] = '\\';
      } else if (path.rfind("\\\\?\\", 0) == 0) {
        path.erase(0, 4);
      }
      return path;
    }
    path.assign(length, '\0');  // too small: length is the size needed
  }
  return "";
}

std::string FinalPathOf(const std::string& name) {
  HANDLE handle = OpenForQuery(name);
  if (handle == INVALID_HANDLE_VALUE) return "";
  std::string path = FinalPath(handle);
  CloseHandle(handle);
  return path;
}

std::string FullPathName(const std::string& name) {
  std::string path(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        GetFullPathNameA(name.c_str(), static_cast<DWORD>(path.size()), &path[0], nullptr);
    if (length == 0) return name;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.assign(length, '\0');
  }
  return name;
}

// Six characters from a random source: names that another process cannot
// guess or be using.
std::string RandomSuffix() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::random_device source;
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kChars[source() % (sizeof kChars - 1)];
  return suffix;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

Status Failure(const std::string& what) {
  return Status::Failure(what + ": " + LastErrorMessage());
}

// ReadFile and WriteFile take 32-bit counts.
constexpr std::int64_t kMaxTransfer = 1 << 30;

class Win32File final : public File {
 public:
  Win32File(HANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  std::int64_t Read(void* buffer, std::int64_t size) override {
    if (!CheckOpen()) return -1;
    char* out = static_cast<char*>(buffer);
    std::int64_t total = 0;
    while (total < size) {
      const DWORD step =
          static_cast<DWORD>(size - total < kMaxTransfer ? size - total : kMaxTransfer);
      DWORD got = 0;
      if (!ReadFile(handle_, out + total, step, &got, nullptr)) {
        const DWORD code = GetLastError();
        // A pipe whose writer has closed its end: the end of the input.
        if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;
        Fail(code);
        return -1;
      }
      if (got == 0) break;
      total += got;
    }
    return total;
  }

  bool Write(const void* buffer, std::int64_t size) override {
    if (!CheckOpen()) return false;
    const char* in = static_cast<const char*>(buffer);
    std::int64_t total = 0;
    while (total < size) {
      const DWORD step =
          static_cast<DWORD>(size - total < kMaxTransfer ? size - total : kMaxTransfer);
      DWORD put = 0;
      if (!WriteFile(handle_, in + total, step, &put, nullptr)) return Fail(GetLastError());
      if (put == 0) return Fail(ERROR_WRITE_FAULT);
      total += put;
    }
    return true;
  }

  bool Seek(std::int64_t position) override {
    if (!CheckOpen()) return false;
    LARGE_INTEGER to;
    to.QuadPart = position;
    if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN)) return Fail(GetLastError());
    return true;
  }

  std::int64_t Position() override {
    if (!CheckOpen()) return -1;
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(handle_, zero, &at, FILE_CURRENT)) {
      Fail(GetLastError());
      return -1;
    }
    return at.QuadPart;
  }

  std::int64_t Size() override {
    if (!CheckOpen()) return -1;
    // A pipe or device has no size, like a pipe's zero size on POSIX.
    if (GetFileType(handle_) != FILE_TYPE_DISK) return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) {
      Fail(GetLastError());
      return -1;
    }
    return size.QuadPart;
  }

  bool Close() override {
    if (!CheckOpen()) return false;
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) return Fail(GetLastError());
    return true;
  }

  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
  const std::string& Name() const override { return name_; }
  const std::string& Error() const override { return error_; }

 private:
  bool Fail(DWORD code) {
    error_ = SystemMessage(code);
    return false;
  }
  bool CheckOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) return true;
    return Fail(ERROR_INVALID_HANDLE);
  }

  HANDLE handle_;
  std::string name_;
  std::string error_;
};

class Win32DirectoryLock final : public DirectoryLock {
 public:
  explicit Win32DirectoryLock(HANDLE handle) : handle_(handle) {}
  // Closing the handle deletes the lock file and lets the next job in; the
  // system closes it too when the process ends, however it ends.
  ~Win32DirectoryLock() override { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

// The program's own files admit a second writer (CreateMode::kExisting);
// the user's files only readers.
HANDLE CreateForWriting(const std::string& name, DWORD disposition, bool shared = false) {
  const DWORD share = shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  return CreateFileA(
      name.c_str(), GENERIC_WRITE, share, nullptr, disposition,
      FILE_ATTRIBUTE_NORMAL | (disposition == OPEN_EXISTING ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
      nullptr);
}

class Win32Env final : public Env {
 public:
  std::unique_ptr<File> OpenRead(const std::string& name, std::string& error) override {
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastErrorMessage();
      return nullptr;
    }
    return std::make_unique<Win32File>(handle, name);
  }

  std::unique_ptr<File> Create(const std::string& name, CreateMode mode,
                               std::string& error) override {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string made = name;
    switch (mode) {
      case CreateMode::kReplace:
        handle = CreateForWriting(name, CREATE_ALWAYS);
        break;
      case CreateMode::kFresh:
        // DeleteFileA removes a link itself, never its target; CREATE_NEW
        // then fails rather than open anything that appeared meanwhile.
        if (!DeleteFileA(name.c_str())) {
          const DWORD code = GetLastError();
          if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            error = "cannot remove the file left at this name: " + SystemMessage(code);
            return nullptr;
          }
        }
        handle = CreateForWriting(name, CREATE_NEW, /*shared=*/true);
        break;
      case CreateMode::kUniqueSibling:
        for (int attempt = 0; attempt < 100; ++attempt) {
          made = DirectoryOf(name) + ".quarn-" + RandomSuffix();
          handle = CreateForWriting(made, CREATE_NEW);
          if (handle != INVALID_HANDLE_VALUE) break;
          const DWORD code = GetLastError();
          if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
        }
        break;
      case CreateMode::kExisting:
        handle = CreateForWriting(name, OPEN_EXISTING, /*shared=*/true);
        break;
    }
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastErrorMessage();
      return nullptr;
    }
    return std::make_unique<Win32File>(handle, made);
  }

  Status RemoveFile(const std::string& name) override {
    if (!DeleteFileA(name.c_str())) return Failure("Cannot delete file " + Quoted(name));
    return {};
  }

  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    // MoveFileA fails when `to` exists.
    if (!MoveFileA(from.c_str(), to.c_str()))
      return Failure("Cannot rename file " + Quoted(from) + " to " + Quoted(to));
    return {};
  }

  Status RenameReplacing(const std::string& from, const std::string& to) override {
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
      return Failure("Cannot rename file " + Quoted(from) + " to " + Quoted(to));
    return {};
  }

  FileInfo Inspect(const std::string& name) override {
    FileInfo info;
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
      info.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (IsDeviceName(name)) {
      info.kind = FileKind::kOther;
      return info;
    }
    HANDLE handle = OpenForQuery(name);
    if (handle == INVALID_HANDLE_VALUE) {
      // Some files refuse even a query (the page file): known, but without
      // an identity.
      if (attributes != INVALID_FILE_ATTRIBUTES)
        info.kind =
            (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kDirectory : FileKind::kRegular;
      return info;
    }
    BY_HANDLE_FILE_INFORMATION details;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
      info.kind = FileKind::kOther;
    } else if (GetFileInformationByHandle(handle, &details)) {
      info.kind = (details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kDirectory
                                                                        : FileKind::kRegular;
      info.volume = details.dwVolumeSerialNumber;
      info.index =
          (static_cast<std::uint64_t>(details.nFileIndexHigh) << 32) | details.nFileIndexLow;
    } else {
      info.kind = FileKind::kRegular;
    }
    CloseHandle(handle);
    return info;
  }

  std::string FullPath(const std::string& name) override {
    const std::string full = FullPathName(name.empty() ? "." : name);
    if (IsDeviceName(name)) return full;
    std::string final = FinalPathOf(full);
    if (!final.empty()) return final;
    // Not there (yet): resolve the directory and keep the last name.
    const std::string directory = DirectoryOf(full);
    final = FinalPathOf(directory);
    if (final.empty()) return full;
    if (!IsSeparator(final.back())) final += '\\';
    return final + full.substr(directory.size());
  }

  std::unique_ptr<DirectoryLock> LockDirectory(const std::string& path,
                                               const std::function<void()>& beforeWaiting,
                                               std::string& error) override {
    std::string lockName = path;
    if (!lockName.empty() && !IsSeparator(lockName.back()) && lockName.back() != ':')
      lockName += '\\';
    lockName += "$Quarn.lock";
    bool told = false;
    int deniedRetries = 0;
    for (;;) {
      // No sharing: while one job holds the file open, every other open
      // fails. Deleted on close, so nothing is left behind.
      HANDLE handle =
          CreateFileA(lockName.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle != INVALID_HANDLE_VALUE) return std::make_unique<Win32DirectoryLock>(handle);
      const DWORD code = GetLastError();
      if (code == ERROR_SHARING_VIOLATION) {
        if (!told && beforeWaiting) beforeWaiting();
        told = true;
        Sleep(150);
        continue;
      }
      // The file of a holder that has just let go may still be on its way
      // out ("delete pending"), which reads as access denied for a moment.
      if (code == ERROR_ACCESS_DENIED && ++deniedRetries < 20) {
        Sleep(100);
        continue;
      }
      error = SystemMessage(code);
      return nullptr;
    }
  }
};

}  // namespace

char PathSeparator() { return '\\'; }

const char* ConsoleLineEnd() { return "\r\n"; }

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  std::string pattern = path;
  if (!IsSeparator(pattern.back())) pattern += '\\';
  pattern += "*.*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

std::string TempDirectory() {
  char path[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0 || length >= sizeof path) return "";
  std::string directory(path, length);
  if (!IsSeparator(directory.back())) directory += '\\';
  return directory;
}

void BuildUpperCaseTable(unsigned char table[256]) {
  // The ANSI code page's own mapping, taken once for every byte; byte 0
  // would end the string for CharUpperBuffA, and maps to itself anyway.
  char bytes[256];
  for (int b = 0; b < 256; ++b) bytes[b] = static_cast<char>(b);
  CharUpperBuffA(bytes + 1, 255);
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(bytes[b]);
  table[0] = 0;
}

std::string ThousandsSeparator() {
  char separator[16] = {};
  const int length =
      GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, sizeof separator);
  if (length <= 1) return ",";
  return std::string(separator);
}

double MonotonicSeconds() { return static_cast<double>(GetTickCount64()) / 1000.0; }

Env& DefaultEnv() {
  static Win32Env env;
  return env;
}

}  // namespace platform
