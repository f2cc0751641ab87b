// The few operations Quarn needs from the operating system. One
// implementation file per system (posix.cpp, win32.cpp); nothing outside
// platform/ includes an operating-system header.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The directory separator: '/' on POSIX, '\' on Windows.
char PathSeparator();

// Line end of console output: "\n" on POSIX, "\r\n" on Windows.
const char* ConsoleLineEnd();

// True when `path` names an existing file; a directory does not count.
bool FileExists(const std::string& path);

// True when `path` names an existing directory. An empty path gives false.
bool DirectoryExists(const std::string& path);

// Deletes a file. True on success.
bool DeleteFile(const std::string& path);

// Renames `from` to `to`. Never replaces an existing `to`: fails instead.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Copies the bytes of `from` into `to`, creating or truncating `to`.
bool CopyFileReplace(const std::string& from, const std::string& to);

// The system's directory for temporary files, ending in the separator;
// empty when the system cannot tell.
std::string TempDirectory();

// Fills table[b] with the single-byte upper-case form of byte b.
void BuildUpperCaseTable(unsigned char table[256]);

// The thousands separator of the user's numeric locale; "," when the locale
// has none.
std::string ThousandsSeparator();

// Seconds on a clock that never jumps (unaffected by changes of the time of
// day); only differences are meaningful.
double MonotonicSeconds();

// Writes bytes to standard output. False when the write failed.
bool WriteStdout(const char* data, std::size_t size);

// Flushes standard output. False when anything written so far was lost.
bool FlushStdout();

// Reads and discards one line of standard input; returns at end of input.
void ReadStdinLine();

// A file opened for raw block I/O. Every operation that fails returns false
// (or -1) and leaves the system's description of the failure in Error().
// The destructor closes a file that is still open and ignores the result.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool OpenRead(const std::string& name);
  // Creates the file or truncates an existing one, for writing.
  bool Create(const std::string& name);
  bool IsOpen() const { return handle_ != -1; }

  // Reads up to `size` bytes; returns the count read (0 at end of file) or
  // -1 on failure. Retries interrupted reads and short reads until `size`
  // bytes or end of file.
  std::int64_t Read(void* buffer, std::int64_t size);
  // Writes all `size` bytes; false on failure.
  bool Write(const void* buffer, std::int64_t size);
  bool Seek(std::int64_t position);
  // Current position, or -1 on failure.
  std::int64_t Position();
  // Size of the file, or -1 on failure.
  std::int64_t Size();
  bool Close();

  const std::string& Error() const { return error_; }

 private:
  bool Fail();
  std::intptr_t handle_ = -1;
  std::string error_;
};

}  // namespace platform
