// POSIX implementation of the platform layer.

// 64-bit file offsets also on 32-bit systems: input files may exceed 2 GB.
#define _FILE_OFFSET_BITS 64

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "platform/platform.h"

namespace platform {

char PathSeparator() { return '/'; }

const char* ConsoleLineEnd() { return "\n"; }

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TempDirectory() {
  const char* dir = getenv("TMPDIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

void BuildUpperCaseTable(unsigned char table[256]) {
  // Windows-1252 upper-case mapping, fixed so that case-insensitive keys do
  // not depend on the user's locale.
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
  for (int b = 'a'; b <= 'z'; ++b) table[b] = static_cast<unsigned char>(b - 0x20);
  table[0x9A] = 0x8A;
  table[0x9C] = 0x8C;
  table[0x9E] = 0x8E;
  table[0xFF] = 0x9F;
  for (int b = 0xE0; b <= 0xFE; ++b)
    if (b != 0xF7) table[b] = static_cast<unsigned char>(b - 0x20);
}

std::string ThousandsSeparator() {
  setlocale(LC_NUMERIC, "");
  const struct lconv* conv = localeconv();
  std::string sep = (conv != nullptr && conv->thousands_sep != nullptr) ? conv->thousands_sep : "";
  setlocale(LC_NUMERIC, "C");
  return sep.empty() ? std::string(",") : sep;
}

double MonotonicSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

namespace {

// A system call that an interrupting signal may cut short is simply
// started again.
template <class Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  ~PosixFile() override {
    if (fd_ >= 0) close(fd_);
  }

  std::int64_t Read(void* buffer, std::int64_t size) override {
    if (!CheckOpen()) return -1;
    char* out = static_cast<char*>(buffer);
    std::int64_t total = 0;
    while (total < size) {
      ssize_t got = read(fd_, out + total, static_cast<size_t>(size - total));
      if (got < 0) {
        if (errno == EINTR) continue;
        Fail();
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
      ssize_t put = write(fd_, in + total, static_cast<size_t>(size - total));
      if (put < 0) {
        if (errno == EINTR) continue;
        return Fail();
      }
      total += put;
    }
    return true;
  }

  bool Seek(std::int64_t position) override {
    if (!CheckOpen()) return false;
    if (lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) return Fail();
    return true;
  }

  std::int64_t Position() override {
    if (!CheckOpen()) return -1;
    off_t pos = lseek(fd_, 0, SEEK_CUR);
    if (pos < 0) {
      Fail();
      return -1;
    }
    return pos;
  }

  std::int64_t Size() override {
    if (!CheckOpen()) return -1;
    struct stat st;
    if (fstat(fd_, &st) != 0) {
      Fail();
      return -1;
    }
    return st.st_size;
  }

  bool Close() override {
    if (!CheckOpen()) return false;
    int fd = fd_;
    fd_ = -1;
    // The descriptor is gone after close even when it reports an error, so
    // EINTR is not retried.
    if (close(fd) != 0) return Fail();
    return true;
  }

  bool IsOpen() const override { return fd_ >= 0; }
  const std::string& Name() const override { return name_; }
  const std::string& Error() const override { return error_; }

 private:
  bool Fail() {
    error_ = strerror(errno);
    return false;
  }
  bool CheckOpen() {
    if (fd_ >= 0) return true;
    errno = EBADF;
    return Fail();
  }

  int fd_;
  std::string name_;
  std::string error_;
};

class PosixDirectoryLock final : public DirectoryLock {
 public:
  explicit PosixDirectoryLock(int fd) : fd_(fd) {}
  // Closing the descriptor releases the lock; so does the end of the
  // process, however it ends.
  ~PosixDirectoryLock() override { close(fd_); }

 private:
  int fd_;
};

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

Status Failure(const std::string& what) { return Status::Failure(what + ": " + strerror(errno)); }

std::string DirectoryOf(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return "";
  return name.substr(0, slash + 1);
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

// The directory holding `name` lies in /dev or /proc.
bool InDeviceNamespace(const std::string& name) {
  const std::string directory = DirectoryOf(name);
  char* resolved = realpath(directory.empty() ? "." : directory.c_str(), nullptr);
  if (resolved == nullptr) return false;
  std::string full(resolved);
  free(resolved);
  full += '/';
  return full.rfind("/dev/", 0) == 0 || full.rfind("/proc/", 0) == 0;
}

int CreateExclusive(const std::string& name) {
  return RetryOnInterrupt([&] {
    return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  });
}

class PosixEnv final : public Env {
 public:
  std::unique_ptr<File> OpenRead(const std::string& name, std::string& error) override {
    int fd = RetryOnInterrupt([&] { return open(name.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
      error = strerror(errno);
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      error = strerror(EISDIR);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd, name);
  }

  std::unique_ptr<File> Create(const std::string& name, CreateMode mode,
                               std::string& error) override {
    int fd = -1;
    std::string made = name;
    switch (mode) {
      case CreateMode::kReplace:
        fd = RetryOnInterrupt(
            [&] { return open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
        break;
      case CreateMode::kFresh:
        // unlink removes a link itself, never its target.
        if (unlink(name.c_str()) != 0 && errno != ENOENT) {
          error = std::string("cannot remove the file left at this name: ") + strerror(errno);
          return nullptr;
        }
        fd = CreateExclusive(name);
        break;
      case CreateMode::kUniqueSibling:
        for (int attempt = 0; attempt < 100; ++attempt) {
          made = DirectoryOf(name) + ".quarn-" + RandomSuffix();
          fd = CreateExclusive(made);
          if (fd >= 0 || errno != EEXIST) break;
        }
        break;
      case CreateMode::kExisting:
        fd =
            RetryOnInterrupt([&] { return open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW); });
        break;
    }
    if (fd < 0) {
      error = strerror(errno);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd, made);
  }

  Status RemoveFile(const std::string& name) override {
    if (unlink(name.c_str()) != 0) return Failure("Cannot delete file " + Quoted(name));
    return {};
  }

  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    const std::string what = "Cannot rename file " + Quoted(from) + " to " + Quoted(to);
#if defined(SYS_renameat2)
    // RENAME_NOREPLACE = 1; called through syscall so that older C
    // libraries without a renameat2 wrapper still build.
    if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1u) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return Failure(what);
#endif
    // File systems without RENAME_NOREPLACE: link fails when the target
    // exists, so it never replaces anything.
    if (link(from.c_str(), to.c_str()) != 0) return Failure(what);
    if (unlink(from.c_str()) != 0) {
      Status failed = Failure(what);
      unlink(to.c_str());
      return failed;
    }
    return {};
  }

  Status RenameReplacing(const std::string& from, const std::string& to) override {
    if (rename(from.c_str(), to.c_str()) != 0)
      return Failure("Cannot rename file " + Quoted(from) + " to " + Quoted(to));
    return {};
  }

  FileInfo Inspect(const std::string& name) override {
    FileInfo info;
    struct stat st;
    if (lstat(name.c_str(), &st) == 0) info.link = S_ISLNK(st.st_mode);
    if (stat(name.c_str(), &st) != 0) return info;
    info.kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
                : S_ISDIR(st.st_mode) ? FileKind::kDirectory
                                      : FileKind::kOther;
    info.volume = static_cast<std::uint64_t>(st.st_dev);
    info.index = static_cast<std::uint64_t>(st.st_ino);
    // /dev/stdout or /proc/self/fd/1 may lead to a regular file that the
    // caller holds open: it is written into, never replaced.
    if (info.kind == FileKind::kRegular && InDeviceNamespace(name)) info.kind = FileKind::kOther;
    return info;
  }

  std::string FullPath(const std::string& name) override {
    if (char* resolved = realpath(name.c_str(), nullptr)) {
      std::string full = resolved;
      free(resolved);
      return full;
    }
    // Not there (yet): resolve the directory and keep the last name.
    const std::string directory = DirectoryOf(name);
    const std::string last = name.substr(directory.size());
    if (char* resolved = realpath(directory.empty() ? "." : directory.c_str(), nullptr)) {
      std::string full = resolved;
      free(resolved);
      if (full.back() != '/') full += '/';
      full += last;
      return full;
    }
    return name;
  }

  std::unique_ptr<DirectoryLock> LockDirectory(const std::string& path,
                                               const std::function<void()>& beforeWaiting,
                                               std::string& error) override {
    const std::string directory = path.empty() ? "." : path;
    int fd = RetryOnInterrupt(
        [&] { return open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
      error = strerror(errno);
      return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) {
        error = strerror(errno);
        close(fd);
        return nullptr;
      }
      if (beforeWaiting) beforeWaiting();
      if (RetryOnInterrupt([&] { return flock(fd, LOCK_EX); }) != 0) {
        error = strerror(errno);
        close(fd);
        return nullptr;
      }
    }
    return std::make_unique<PosixDirectoryLock>(fd);
  }
};

}  // namespace

Env& DefaultEnv() {
  static PosixEnv env;
  return env;
}

}  // namespace platform
