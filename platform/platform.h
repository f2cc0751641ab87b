// The few operations Quarn needs from the operating system. One
// implementation file per system (posix.cpp, win32.cpp); nothing outside
// platform/ includes an operating-system header.
//
// Everything that touches the file system goes through an Env, which the
// program hands down to the record files, the temporary files, the merge
// and the final placement; tests hand in a stand-in that fails chosen
// operations. Console, clock and character tables are plain functions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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

// The outcome of a file-system operation: empty on success, otherwise a
// message that names the file(s) and carries the system's description,
// e.g. `Cannot delete file "a.txt": Permission denied`.
class Status {
 public:
  Status() = default;
  static Status Failure(std::string message) { return Status(std::move(message)); }
  bool Ok() const { return message_.empty(); }
  const std::string& Message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)) {
    if (message_.empty()) message_ = "unknown error";
  }
  std::string message_;
};

// An open file for raw block I/O, created by an Env. Every operation that
// fails returns false (or -1) and leaves the system's description of the
// failure in Error(). The destructor closes a file that is still open and
// ignores the result.
class File {
 public:
  virtual ~File() = default;

  // Reads up to `size` bytes; returns the count read (0 at end of input) or
  // -1 on failure. Retries interrupted and short reads until `size` bytes
  // or the end of input, so on a pipe a short count means its end.
  virtual std::int64_t Read(void* buffer, std::int64_t size) = 0;
  // Writes all `size` bytes; false on failure.
  virtual bool Write(const void* buffer, std::int64_t size) = 0;
  virtual bool Seek(std::int64_t position) = 0;
  // Current position, or -1 on failure.
  virtual std::int64_t Position() = 0;
  // Size of the file, or -1 on failure.
  virtual std::int64_t Size() = 0;
  // Closes the file; it is closed afterwards even when this fails.
  virtual bool Close() = 0;
  virtual bool IsOpen() const = 0;

  // The path the file was opened or created under (for a unique file, the
  // name that was made).
  virtual const std::string& Name() const = 0;
  virtual const std::string& Error() const = 0;
};

// How Env::Create treats the name it is given.
enum class CreateMode {
  // Create the file or truncate an existing one, following links: the
  // user's own output and duplicates files, also devices written in place.
  kReplace,
  // A file of the program's own: whatever is left at the name (a file or a
  // link, which is removed, never followed) goes first, then the file is
  // created exclusively and never through a link.
  kFresh,
  // A new file beside `name` (same directory) under a name no other
  // process can be using; `name` itself is not touched. File::Name() tells
  // the name made.
  kUniqueSibling,
  // An existing file of the program's own, opened for writing with its
  // bytes kept (never through a link), so that a second writer can fill a
  // later part of a file another handle is writing.
  kExisting,
};

enum class FileKind { kMissing, kRegular, kDirectory, kOther };

// What a name refers to, links followed. `volume` and `index` identify the
// file (device and inode; volume serial number and file index on Windows);
// they are meaningful only for an existing file. A name in the system's
// device namespace (on POSIX /dev and /proc, e.g. /dev/stdout even when it
// leads to a regular file) is kOther: such names are written in place,
// never replaced.
struct FileInfo {
  FileKind kind = FileKind::kMissing;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // The name itself is a symbolic link.
  bool link = false;
};

// Held while a job uses a temporary directory; destroying it (or the end of
// the process, however it ends) releases the directory.
class DirectoryLock {
 public:
  virtual ~DirectoryLock() = default;
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens an existing file (or pipe, or device) for reading. On failure
  // returns null and sets `error` to the system's description.
  virtual std::unique_ptr<File> OpenRead(const std::string& name, std::string& error) = 0;
  // Creates a file for writing as `mode` says. On failure returns null and
  // sets `error` to the system's description.
  virtual std::unique_ptr<File> Create(const std::string& name, CreateMode mode,
                                       std::string& error) = 0;

  virtual Status RemoveFile(const std::string& name) = 0;
  // Fails instead of replacing an existing `to`.
  virtual Status RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // Replaces an existing `to` in one step: at every moment `to` is either
  // the old file or the new one.
  virtual Status RenameReplacing(const std::string& from, const std::string& to) = 0;

  virtual FileInfo Inspect(const std::string& name) = 0;
  // The absolute form of `name` with every link and "." or ".." in its
  // existing part resolved, so that two names of one place compare equal.
  virtual std::string FullPath(const std::string& name) = 0;

  // Takes the job's exclusive lock on the directory `path` ("" is the
  // current directory). When another process holds it, calls
  // `beforeWaiting` once and waits. Null (with `error` set) when the
  // directory cannot be locked at all.
  virtual std::unique_ptr<DirectoryLock> LockDirectory(const std::string& path,
                                                       const std::function<void()>& beforeWaiting,
                                                       std::string& error) = 0;
};

// The real file system.
Env& DefaultEnv();

// True when the two names are one file: the same file when both exist,
// otherwise the same full path.
bool SameFile(Env& env, const std::string& a, const std::string& b);

}  // namespace platform
