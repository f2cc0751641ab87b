// TQxTextFile: one file read or written as a sequence of records through a
// single byte buffer. Text records end in CR LF, LF CR, LF or CR (any mix
// when reading; the chosen line end when writing); fixed-length records are
// exactly RecordLength bytes. A byte 26 as the very last byte of a file the
// user gives is an end-of-file marker, not data.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "recordfile/write_behind.h"

// Every read, write and platform failure of a record file.
class TQxIOError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one argument check of Prepare (a negative record length).
class TQxAbort : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TQxTextFile {
 public:
  static constexpr std::int64_t kMinBufferSize = 255;
  static constexpr std::int64_t kMaxBufferSize = 1048576;
  static constexpr std::int64_t kDefaultBufferSize = 32768;
  // Writers with a buffer of at least kWriteBehindFrom bytes hand full
  // chunks of kWriteChunk bytes (or their buffer size, if larger) to a
  // thread of their own and fill the next chunk meanwhile. The buffer size
  // still bounds a record.
  static constexpr std::int64_t kWriteBehindFrom = 32768;
  static constexpr std::int64_t kWriteChunk = 1048576;

  // Every file operation goes through Env, which must outlive the object.
  explicit TQxTextFile(platform::Env& Env = platform::DefaultEnv()) : Env(&Env) {}
  // Closes a file that is still open, with the final flush of a writer.
  // Errors of that close are swallowed.
  ~TQxTextFile();
  TQxTextFile(const TQxTextFile&) = delete;
  TQxTextFile& operator=(const TQxTextFile&) = delete;

  // Remembers the file and the record form and allocates the buffer (clamped
  // to 255 .. 1,048,576 bytes); opens nothing. RecordLength < 0 raises
  // TQxAbort "Invalid Record Lenght". `ApplyEofMarker` false makes a final
  // byte 26 ordinary data: the program's own temporary files read back
  // exactly as they were written. Called again on a closed file, it keeps
  // buffers of the same size.
  void Prepare(const std::string& FileName, std::int64_t RecordLength, std::int64_t BufferSize,
               bool ApplyEofMarker = true);

  // Declares the file one the program wrote itself with CR LF line ends
  // from records that hold neither CR nor LF (its runs and merge outputs):
  // a record whose line end is in the buffer is then found by one search,
  // for its LF. A file of another form may read differently. Call after
  // Prepare.
  void ExpectOwnCrLfRecords() { OwnCrLfRecords = true; }

  // Opens for reading from the first byte (or from byte From, which must
  // start a record) and fills the buffer; on a file already open it starts
  // again.
  void OpenRead(std::int64_t From = 0);
  // Creates the file for writing as How says (by default: creates or
  // empties it). LineEndKind 0..3 selects CR LF, LF CR, LF or CR; any other
  // value raises TQxAbort. Messages name FileName also when How makes a
  // file of another name (CreatedName()).
  void OpenWrite(std::int32_t LineEndKind, bool WriteEofMarker,
                 platform::CreateMode How = platform::CreateMode::kReplace);

  // Opens an existing file of the program's own to write records with the
  // line end LineEndKind from byte Offset on, keeping the bytes before it:
  // a second writer fills the later part of a file another one writes.
  void OpenWriteAt(std::int32_t LineEndKind, std::int64_t Offset);

  // True when every byte of the file has been consumed by reads.
  bool EndOfFile() const { return BytesConsumed == FileSize; }

  // The next record without its line end. Call only while !EndOfFile().
  void ReadRecord(std::string& Record);
  // The same, as a view into the buffer that stays valid until the next
  // read, OpenRead or Close of this object.
  std::string_view ReadRecordView() {
    // The program's own files, record by record: the LF behind the CR that
    // ends the record is in the buffer.
    if (OwnCrLfRecords && RecordLength == 0 && !ApplyEofMarker && OpenMode == Mode::Reading &&
        BytesConsumed < FileSize && BufferPos <= BufferLast) {
      const char* start = Buffer.get() + BufferPos;
      const void* lf =
          std::memchr(start, '\n', static_cast<std::size_t>(BufferLast - BufferPos + 1));
      if (lf != nullptr) {
        const std::int64_t length = static_cast<const char*>(lf) - start - 1;
        if (length >= 0 && start[length] == '\r') {
          BufferPos += length + 2;
          BytesConsumed += length + 2;
          return {start, static_cast<std::size_t>(length)};
        }
      }
    }
    return ReadAnyRecordView();
  }

  // Appends a record (text records: followed by the line end).
  void WriteRecord(std::string_view Record);

  // Writes what is pending and closes the file. When the final write (or
  // a write still in flight) fails the file is closed all the same and the
  // error raised.
  void Close();

  const std::string& GetFileName() const { return FileName; }
  // The name of the file that OpenWrite created; empty before.
  const std::string& CreatedName() const { return Created; }
  std::int64_t GetRecordLength() const { return RecordLength; }
  std::int64_t GetBufferSize() const { return BufferSize; }
  std::int64_t GetFileSize() const { return FileSize; }
  std::int64_t GetBytesConsumed() const { return BytesConsumed; }
  std::int64_t GetBytesWritten() const { return BytesWritten; }
  bool IsOpen() const { return OpenMode != Mode::Closed; }

 private:
  enum class Mode { Closed, Reading, Writing };

  void FillBuffer(bool FirstFill);
  void SeekToRecordStart();
  void ConsumeTrailingMarker();
  bool FindLineEnd(std::int64_t Start, std::int64_t& P);
  std::string_view ReadTextRecord();
  std::string_view ReadAnyRecordView();
  std::string_view ReadFixedRecord(std::int64_t n);
  void PutBytes(const char* Data, std::int64_t Size, const char* Tail, std::int64_t TailSize);
  void FlushBuffer();
  // Waits for the chunk in flight, if any; raises its failure.
  void FinishWriteBehind();
  void Reallocate(std::int64_t Capacity);
  // File offset just past the last byte held in the buffer. BufferPos and
  // BytesConsumed always advance together, so this is also the platform
  // file's position.
  std::int64_t BufferEndOffset() const { return BytesConsumed + (BufferLast - BufferPos + 1); }
  [[noreturn]] void RaisePlatformError(const char* What);
  [[noreturn]] void RaiseIOError(const char* What, const char* Detail);

  platform::Env* Env;
  std::unique_ptr<platform::File> File;
  std::string Created;
  Mode OpenMode = Mode::Closed;
  std::int64_t BufferSize = 0;
  std::int32_t LineEndKind = 0;
  std::string LineEnd;
  // Writing: length of LineEnd; reading: length of the line end found last.
  std::int64_t LineEndLength = 0;
  std::string FileName;
  std::int64_t BufferLast = -1;
  // Reading: index of the next unconsumed byte; writing: bytes waiting.
  std::int64_t BufferPos = 0;
  std::int64_t BytesConsumed = 0;
  std::int64_t BytesWritten = 0;
  // Reading: size when opened; writing: equal to BytesWritten.
  std::int64_t FileSize = 0;
  bool WriteEofMarker = false;
  bool ApplyEofMarker = true;
  bool OwnCrLfRecords = false;
  std::int64_t RecordLength = 0;
  std::unique_ptr<char[]> Buffer;
  std::int64_t BufferCapacity = 0;
  // Writing: bytes Buffer takes before it is flushed.
  std::int64_t WriteCapacity = 0;
  // Write-behind: the chunk being written while Buffer fills.
  std::unique_ptr<char[]> SpareBuffer;
  std::unique_ptr<TWriteBehind> Writer;
};
