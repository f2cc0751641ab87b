#include "recordfile/text_file.h"

#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char kCR = 13;
constexpr char kLF = 10;
constexpr char kEofMarker = 26;

// Written after each text record, selected by LineEndKind.
constexpr std::string_view kLineEnds[] = {"\r\n", "\n\r", "\n", "\r"};

// Message constants.
constexpr const char* sinvalidfiletype = "Not a text file or line exceeds buffer size";
constexpr const char* slinetoolarge = "Line too large (exceeds buffer size)";
constexpr const char* srecordtoolarge = "Record too large (exceeds buffer size)";
constexpr const char* sinvalidrecordlength = "Invalid record length";
constexpr const char* sreadpastend = "Read past end of file";
constexpr const char* sinvalidrecordlenght = "Invalid Record Lenght";

// The first CR or LF in [p, end), or end: one pass over the bytes, where a
// search for each byte on its own would read them twice.
const char* FindCrOrLf(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8(kCR);
  const __m128i lf = _mm_set1_epi8(kLF);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
    p += 16;
  }
#endif
  while (p < end && *p != kCR && *p != kLF) ++p;
  return p;
}

}  // namespace

TQxTextFile::~TQxTextFile() {
  if (OpenMode == Mode::Closed) return;
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the owner that wants errors calls Close.
  }
}

void TQxTextFile::Prepare(const std::string& Name, std::int64_t Length, std::int64_t Size,
                          bool EofMarker) {
  // A new buffer under an open reader would leave its indexes dangling.
  if (OpenMode != Mode::Closed) Close();
  FileName = Name;
  RecordLength = Length;
  ApplyEofMarker = EofMarker;
  OwnCrLfRecords = false;
  if (RecordLength < 0) throw TQxAbort(sinvalidrecordlenght);
  if (Size < kMinBufferSize) Size = kMinBufferSize;
  if (Size > kMaxBufferSize) Size = kMaxBufferSize;
  if (!Buffer || Size != BufferSize) {
    Reallocate(Size);
    SpareBuffer.reset();
  }
  BufferSize = Size;
}

void TQxTextFile::Reallocate(std::int64_t Capacity) {
  Buffer.reset(new char[static_cast<std::size_t>(Capacity)]);
  BufferCapacity = Capacity;
}

void TQxTextFile::OpenRead(std::int64_t From) {
  if (OpenMode != Mode::Closed) Close();
  FileSize = 0;
  BytesConsumed = 0;
  BytesWritten = 0;
  BufferPos = 0;
  BufferLast = -1;
  LineEndLength = 0;
  std::string error;
  File = Env->OpenRead(FileName, error);
  if (!File) RaiseIOError("Cannot open file", error.c_str());
  OpenMode = Mode::Reading;
  FileSize = File->Size();
  if (FileSize < 0) {
    FileSize = 0;
    RaisePlatformError("Cannot read file");
  }
  if (From == 0) {
    FillBuffer(true);
    return;
  }
  if (From > FileSize) RaiseIOError("Cannot seek in file", "Position past the end of the file");
  if (!File->Seek(From)) RaisePlatformError("Cannot seek in file");
  BytesConsumed = From;
  if (From < FileSize) FillBuffer(false);
}

void TQxTextFile::OpenWriteAt(std::int32_t Kind, std::int64_t Offset) {
  OpenWrite(Kind, false, platform::CreateMode::kExisting);
  if (!File->Seek(Offset)) RaisePlatformError("Cannot seek in file");
}

void TQxTextFile::OpenWrite(std::int32_t Kind, bool EofMarker, platform::CreateMode How) {
  if (Kind < 0 || Kind > 3) throw TQxAbort("Invalid line end kind");
  if (OpenMode != Mode::Closed) Close();
  WriteEofMarker = EofMarker;
  LineEndKind = Kind;
  LineEnd = kLineEnds[Kind];
  LineEndLength = static_cast<std::int64_t>(LineEnd.size());
  FileSize = 0;
  BytesConsumed = 0;
  BytesWritten = 0;
  BufferPos = 0;
  BufferLast = -1;
  std::string error;
  File = Env->Create(FileName, How, error);
  if (!File) RaiseIOError("Cannot create file", error.c_str());
  Created = File->Name();
  OpenMode = Mode::Writing;
  WriteCapacity = BufferSize;
  if (BufferSize >= kWriteBehindFrom) {
    Writer = TWriteBehind::Start(*File);
    if (Writer) {
      const std::int64_t chunk = BufferSize > kWriteChunk ? BufferSize : kWriteChunk;
      if (BufferCapacity < chunk) Reallocate(chunk);
      if (!SpareBuffer) SpareBuffer.reset(new char[static_cast<std::size_t>(chunk)]);
      WriteCapacity = chunk;
    }
  }
}

void TQxTextFile::FillBuffer(bool FirstFill) {
  const std::int64_t got = File->Read(Buffer.get(), BufferSize);
  if (got < 0) RaisePlatformError("Cannot read file");
  BufferLast = got - 1;
  BufferPos = 0;
  if (FirstFill && got == 1 && ApplyEofMarker && Buffer[0] == kEofMarker) {
    // A file holding only the marker has no records.
    BufferPos = 1;
    BytesConsumed += 1;
  }
  if (!FirstFill && got == 0) throw TQxIOError(sreadpastend);
}

// Moves the file back to the first unconsumed byte and reads a whole
// buffer from there, so the current record starts at index 0.
void TQxTextFile::SeekToRecordStart() {
  if (!File->Seek(BytesConsumed)) RaisePlatformError("Cannot seek in file");
  FillBuffer(false);
}

// Called when a record ended exactly at the end of a full buffer and one
// byte of the file is left: a final marker there must not yield another
// record. The byte is read aside so that the record just returned, which
// still lives in the buffer, stays intact.
void TQxTextFile::ConsumeTrailingMarker() {
  char last;
  const std::int64_t got = File->Read(&last, 1);
  if (got < 0) RaisePlatformError("Cannot read file");
  if (got == 0) throw TQxIOError(sreadpastend);
  if (last == kEofMarker) {
    BytesConsumed += 1;
    return;
  }
  // Not the marker: put it back for the next refill to read as data.
  if (!File->Seek(BytesConsumed)) RaisePlatformError("Cannot seek in file");
}

bool TQxTextFile::FindLineEnd(std::int64_t Start, std::int64_t& P) {
  LineEndLength = 0;
  P = -1;
  if (Start > BufferLast) return false;
  const char* base = Buffer.get();
  const char* end = base + BufferLast + 1;
  const char* hit = FindCrOrLf(base + Start, end);
  if (hit == end) return false;
  P = hit - base;
  if (P == BufferLast) {
    LineEndLength = 1;  // its partner, if any, is not in the buffer yet
  } else {
    const char here = base[P];
    const char next = base[P + 1];
    LineEndLength = (next != here && (next == kCR || next == kLF)) ? 2 : 1;
  }
  return true;
}

std::string_view TQxTextFile::ReadTextRecord() {
  if (EndOfFile()) throw TQxIOError(sreadpastend);
  std::int64_t P;
  bool found = FindLineEnd(BufferPos, P);
  // A lone CR or LF in the last buffer byte may be half of a pair.
  if ((!found || P == BufferLast) && BufferEndOffset() < FileSize) {
    if (BufferPos == 0) throw TQxIOError(sinvalidfiletype);
    SeekToRecordStart();
    found = FindLineEnd(0, P);
    if ((!found || P == BufferLast) && BufferEndOffset() < FileSize)
      throw TQxIOError(sinvalidfiletype);
  }

  const char* start = Buffer.get() + BufferPos;
  std::int64_t length;
  std::int64_t after;  // bytes consumed behind the record
  if (found) {
    length = P - BufferPos;
    after = LineEndLength;
    const std::int64_t next = P + LineEndLength;
    if (ApplyEofMarker && next <= BufferLast && Buffer[next] == kEofMarker &&
        BytesConsumed + (next - BufferPos) == FileSize - 1)
      after += 1;
  } else {
    // The buffer holds the end of the file: the rest is the last record.
    const std::int64_t position = File->Position();
    if (position < 0) RaisePlatformError("Cannot seek in file");
    if (position != FileSize) throw TQxIOError(slinetoolarge);
    length = BufferLast - BufferPos + 1;
    after = 0;
    if (ApplyEofMarker && Buffer[BufferLast] == kEofMarker) {
      length -= 1;
      after = 1;
    }
  }
  BufferPos += length + after;
  BytesConsumed += length + after;
  if (found && ApplyEofMarker && P + LineEndLength == BufferSize && BytesConsumed + 1 == FileSize)
    ConsumeTrailingMarker();
  return {start, static_cast<std::size_t>(length)};
}

std::string_view TQxTextFile::ReadFixedRecord(std::int64_t n) {
  if (n < 1 || n > BufferSize - 1) throw TQxIOError(srecordtoolarge);
  if (EndOfFile()) throw TQxIOError(sreadpastend);
  std::int64_t last = BufferPos + n - 1;
  if (last > BufferLast && BufferEndOffset() < FileSize) {
    SeekToRecordStart();
    last = n - 1;
  }
  if (last > BufferLast) throw TQxIOError(sinvalidrecordlength);
  std::int64_t after = 0;
  if (ApplyEofMarker && BufferEndOffset() >= FileSize && Buffer[BufferLast] == kEofMarker) {
    if (last == BufferLast) throw TQxIOError(sinvalidrecordlength);
    if (last + 1 == BufferLast) after = 1;
  }
  const char* start = Buffer.get() + BufferPos;
  BufferPos = last + 1 + after;
  BytesConsumed += n + after;
  // The marker alone behind a buffer that ended with a record.
  if (ApplyEofMarker && last + 1 == BufferSize && BytesConsumed + 1 == FileSize)
    ConsumeTrailingMarker();
  return {start, static_cast<std::size_t>(n)};
}

std::string_view TQxTextFile::ReadAnyRecordView() {
  if (OpenMode != Mode::Reading) RaiseIOError("Cannot read file", "File not open for reading");
  return RecordLength > 0 ? ReadFixedRecord(RecordLength) : ReadTextRecord();
}

void TQxTextFile::ReadRecord(std::string& Record) { Record.assign(ReadRecordView()); }

void TQxTextFile::WriteRecord(std::string_view Record) {
  if (OpenMode != Mode::Writing) RaiseIOError("Cannot write file", "File not open for writing");
  const std::int64_t size = static_cast<std::int64_t>(Record.size());
  if (RecordLength > 0)
    PutBytes(Record.data(), size, nullptr, 0);
  else
    PutBytes(Record.data(), size, LineEnd.data(), LineEndLength);
}

// The record and its line end go into the buffer together, so a line end is
// never separated from its record by a flush.
void TQxTextFile::PutBytes(const char* Data, std::int64_t Size, const char* Tail,
                           std::int64_t TailSize) {
  const std::int64_t total = Size + TailSize;
  if (total > BufferSize) throw TQxIOError(slinetoolarge);
  if (BufferPos + total > WriteCapacity) FlushBuffer();
  char* out = Buffer.get() + BufferPos;
  if (Size > 0) std::memcpy(out, Data, static_cast<std::size_t>(Size));
  for (std::int64_t i = 0; i < TailSize; ++i) out[Size + i] = Tail[i];
  BufferPos += total;
  BytesWritten += total;
  FileSize = BytesWritten;
}

void TQxTextFile::FlushBuffer() {
  const std::int64_t pending = BufferPos;
  // Dropped even on failure: writing the same bytes again after a partial
  // write would only add garbage to a file that is already broken.
  BufferPos = 0;
  if (pending == 0) return;
  if (!Writer) {
    if (!File->Write(Buffer.get(), pending)) RaisePlatformError("Cannot write file");
    return;
  }
  FinishWriteBehind();
  Writer->Write(Buffer.get(), pending);
  std::swap(Buffer, SpareBuffer);
}

void TQxTextFile::FinishWriteBehind() {
  if (Writer && !Writer->Wait()) RaisePlatformError("Cannot write file");
}

void TQxTextFile::Close() {
  if (OpenMode == Mode::Writing) {
    try {
      if (WriteEofMarker) PutBytes(&kEofMarker, 1, nullptr, 0);
      FlushBuffer();
      FinishWriteBehind();
      Writer.reset();
    } catch (...) {
      // The writing thread ends before the file it writes to is closed.
      Writer.reset();
      OpenMode = Mode::Closed;
      File->Close();
      throw;
    }
  }
  OpenMode = Mode::Closed;
  // Closing what was never opened fails as the system would.
  if (!File) RaiseIOError("Cannot close file", std::strerror(EBADF));
  if (!File->Close()) RaisePlatformError("Cannot close file");
}

void TQxTextFile::RaisePlatformError(const char* What) {
  RaiseIOError(What, File ? File->Error().c_str() : "File not open");
}

void TQxTextFile::RaiseIOError(const char* What, const char* Detail) {
  throw TQxIOError(std::string(What) + " \"" + FileName + "\": " + Detail);
}
