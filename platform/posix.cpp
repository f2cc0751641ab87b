// POSIX implementation of the platform layer.

// 64-bit file offsets also on 32-bit systems: input files may exceed 2 GB.
#define _FILE_OFFSET_BITS 64

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

std::string ErrorText(int code) { return strerror(code); }

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

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

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameNoReplace(const std::string& from, const std::string& to) {
#if defined(SYS_renameat2)
  // RENAME_NOREPLACE = 1; called through syscall so that older C libraries
  // without a renameat2 wrapper still build.
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1u) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // File systems without RENAME_NOREPLACE: link fails when the target
  // exists, so it never replaces anything.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  if (unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    return false;
  }
  return true;
}

bool CopyFileReplace(const std::string& from, const std::string& to) {
  // Creating the target would empty a source that is the same file.
  struct stat in, out;
  if (stat(from.c_str(), &in) == 0 && stat(to.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino)
    return false;
  File source;
  if (!source.OpenRead(from)) return false;
  File target;
  if (!target.Create(to)) return false;
  static constexpr std::int64_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (;;) {
    std::int64_t got = source.Read(buffer.get(), kChunk);
    if (got < 0) return false;
    if (got == 0) break;
    if (!target.Write(buffer.get(), got)) return false;
  }
  return source.Close() && target.Close();
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

bool WriteStdout(const char* data, std::size_t size) {
  return fwrite(data, 1, size, stdout) == size;
}

bool FlushStdout() { return fflush(stdout) == 0 && !ferror(stdout); }

void ReadStdinLine() {
  fflush(stdout);
  int c;
  while ((c = getchar()) != EOF && c != '\n') {
  }
}

File::~File() {
  if (IsOpen()) close(Fd(handle_));
}

bool File::Fail() {
  error_ = ErrorText(errno);
  return false;
}

bool File::OpenRead(const std::string& name) {
  if (IsOpen()) Close();
  int fd;
  do {
    fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail();
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return Fail();
  }
  handle_ = fd;
  return true;
}

bool File::Create(const std::string& name) {
  if (IsOpen()) Close();
  int fd;
  do {
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail();
  handle_ = fd;
  return true;
}

std::int64_t File::Read(void* buffer, std::int64_t size) {
  if (!IsOpen()) {
    errno = EBADF;
    Fail();
    return -1;
  }
  char* out = static_cast<char*>(buffer);
  std::int64_t total = 0;
  while (total < size) {
    ssize_t got = read(Fd(handle_), out + total, static_cast<size_t>(size - total));
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

bool File::Write(const void* buffer, std::int64_t size) {
  if (!IsOpen()) {
    errno = EBADF;
    return Fail();
  }
  const char* in = static_cast<const char*>(buffer);
  std::int64_t total = 0;
  while (total < size) {
    ssize_t put = write(Fd(handle_), in + total, static_cast<size_t>(size - total));
    if (put < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    total += put;
  }
  return true;
}

bool File::Seek(std::int64_t position) {
  if (lseek(Fd(handle_), static_cast<off_t>(position), SEEK_SET) < 0) return Fail();
  return true;
}

std::int64_t File::Position() {
  off_t pos = lseek(Fd(handle_), 0, SEEK_CUR);
  if (pos < 0) {
    Fail();
    return -1;
  }
  return pos;
}

std::int64_t File::Size() {
  struct stat st;
  if (fstat(Fd(handle_), &st) != 0) {
    Fail();
    return -1;
  }
  return st.st_size;
}

bool File::Close() {
  if (!IsOpen()) {
    errno = EBADF;
    return Fail();
  }
  int fd = Fd(handle_);
  handle_ = -1;
  // The descriptor is gone after close even when it reports an error, so
  // EINTR is not retried.
  if (close(fd) != 0) return Fail();
  return true;
}

}  // namespace platform
