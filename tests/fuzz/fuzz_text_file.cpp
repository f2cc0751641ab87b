// Fuzz target of TQxTextFile reading. Input: one byte for the buffer size,
// one of flags, one for the fixed record length, then the bytes of the
// file (flags may add a tail). The file is written to a scratch file of this process and
// read whole through a small buffer; records and the error that ends the
// reading must be those of a plain in-memory model of the line-end,
// end-of-file marker and record-length rules, including the documented
// limits of the buffer. A second OpenRead must read the same again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "recordfile/text_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Show;
using Records = std::vector<std::string>;

constexpr char kEofMarker = 26;
const std::string kNotText = "Not a text file or line exceeds buffer size";
const std::string kInvalidLength = "Invalid record length";
const std::string kRecordTooLarge = "Record too large (exceeds buffer size)";
const std::string kReadPastEnd = "Read past end of file";

// The records of one pass, then the message of the error that ended it
// (empty when the end was reached cleanly).
struct ReadResult {
  Records records;
  std::string error;
  bool operator==(const ReadResult&) const = default;
};

std::string Show(const ReadResult& r) {
  return Show(r.records) + (r.error.empty() ? "" : " error: " + r.error);
}

std::string ScratchPath;

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove(ScratchPath, ignored);
}

// One file per process, in memory where the system has /dev/shm.
void ChooseScratchPath() {
  std::string dir;
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    dir = tmp;
  } else {
    std::error_code ec;
    dir = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
  }
  std::random_device rd;
  ScratchPath = (std::filesystem::path(dir) /
                 ("quarn_fuzz_text_file_" + std::to_string(rd()) + std::to_string(rd()) + ".dat"))
                    .string();
  std::atexit(RemoveScratch);
}

void WriteScratch(std::string_view Bytes) {
  std::FILE* f = std::fopen(ScratchPath.c_str(), "wb");
  FUZZ_CHECK(f != nullptr, "cannot create " + ScratchPath);
  const bool written = std::fwrite(Bytes.data(), 1, Bytes.size(), f) == Bytes.size();
  FUZZ_CHECK(std::fclose(f) == 0 && written, "cannot write " + ScratchPath);
}

// AtEnd: the message of a further read after the last record.
ReadResult ReadAll(TQxTextFile& File, std::size_t FileSize, const std::string& AtEnd) {
  ReadResult out;
  try {
    // Every record consumes at least one byte; more reads mean no progress.
    for (std::size_t i = 0; !File.EndOfFile(); ++i) {
      if (i > FileSize) {
        out.error = "(no progress)";
        return out;
      }
      out.records.emplace_back(File.ReadRecordView());
    }
    try {
      File.ReadRecordView();
      out.error = "(a read at the end raised nothing)";
    } catch (const TQxIOError& e) {
      if (e.what() != AtEnd) out.error = std::string("(at the end: ") + e.what() + ")";
    }
  } catch (const TQxIOError& e) {
    out.error = e.what();
  }
  return out;
}

// Text records: every CR, LF, CR LF or LF CR ends one; a last line without
// a line end is a record too; a final byte 26 is dropped first when it is
// a marker. A record that starts with more than a buffer of the file left
// must end within the first BufferSize - 1 bytes, or reading stops there.
ReadResult TextModel(std::string_view File, std::size_t BufferSize, bool ApplyEofMarker) {
  std::string_view bytes = File;
  if (ApplyEofMarker && !bytes.empty() && bytes.back() == kEofMarker) bytes.remove_suffix(1);
  ReadResult out;
  std::size_t start = 0;
  auto take = [&](std::size_t end) {
    if (File.size() - start > BufferSize && end - start > BufferSize - 2) {
      out.error = kNotText;
      return false;
    }
    out.records.emplace_back(bytes.substr(start, end - start));
    return true;
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n') continue;
    if (!take(i)) return out;
    if (i + 1 < bytes.size() && bytes[i + 1] != c && (bytes[i + 1] == '\r' || bytes[i + 1] == '\n'))
      ++i;
    start = i + 1;
  }
  if (start < bytes.size()) take(bytes.size());
  return out;
}

// Fixed-length records: whole records, then optionally one marker; any
// other rest ends with "Invalid record length" at the incomplete (or
// marker-ended) record. A length beyond the buffer fails at once.
ReadResult FixedModel(std::string_view File, std::size_t Length, std::size_t BufferSize,
                      bool ApplyEofMarker) {
  ReadResult out;
  const std::size_t size = File.size();
  const bool marker = ApplyEofMarker && size > 0 && File.back() == kEofMarker;
  std::size_t whole = size / Length;
  if (marker && (size - 1) % Length == 0) {
    whole = (size - 1) / Length;
  } else if (marker && size % Length == 0) {
    whole -= 1;
    out.error = kInvalidLength;
  } else if (size % Length != 0) {
    out.error = kInvalidLength;
  }
  for (std::size_t i = 0; i < whole; ++i) out.records.emplace_back(File.substr(i * Length, Length));
  const bool anyRead = whole > 0 || !out.error.empty();
  if (Length > BufferSize - 1 && anyRead) return ReadResult{{}, kRecordTooLarge};
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  ChooseScratchPath();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  fuzz_support::ByteReader in(Data, Size);
  const std::uint8_t sizeByte = in.Take();
  const std::uint8_t flags = in.Take();
  const bool applyEofMarker = (flags & 1) != 0;
  const bool fixed = (flags & 2) != 0;
  const bool reopen = (flags & 4) != 0;
  // 1..512: around the buffer sizes, so that some do not fit.
  const std::size_t recordLength = fixed ? 1 + in.Take() + ((flags & 8) != 0 ? 256 : 0) : 0;
  // A line end and a marker at the very end are what the buffer-end rules
  // turn on; a tail chosen by two flag bits puts them there often.
  static const std::string_view kTails[] = {"", "\x1a", "\r\n\x1a", "\n\r\x1a"};
  const std::string bytes = std::string(in.Rest()) + std::string(kTails[(flags >> 5) & 3]);
  // 255..510, or a few bytes short of the file, so that the end of the
  // first fill falls right at the end of the file (a marker behind a
  // full buffer) without the fuzzer having to find that length.
  std::size_t bufferSize = 255 + std::size_t{sizeByte};
  if (const std::size_t shortBy = sizeByte % 8; (flags & 16) != 0)
    bufferSize = bytes.size() >= 255 + shortBy ? bytes.size() - shortBy : 255;
  WriteScratch(bytes);

  const ReadResult expected = fixed ? FixedModel(bytes, recordLength, bufferSize, applyEofMarker)
                                    : TextModel(bytes, bufferSize, applyEofMarker);
  auto context = [&] {
    return "buffer " + std::to_string(bufferSize) + " record length " +
           std::to_string(recordLength) + " marker " + std::to_string(applyEofMarker) + " file [" +
           Show(bytes) + "]\n expected " + Show(expected);
  };

  // The record length is checked before the end of the file.
  const std::string& atEnd =
      fixed && recordLength > bufferSize - 1 ? kRecordTooLarge : kReadPastEnd;
  TQxTextFile file;
  file.Prepare(ScratchPath, static_cast<std::int64_t>(recordLength),
               static_cast<std::int64_t>(bufferSize), applyEofMarker);
  file.OpenRead();
  const ReadResult got = ReadAll(file, bytes.size(), atEnd);
  FUZZ_CHECK(got == expected, context() + "\n got " + Show(got));
  if (reopen) {
    file.OpenRead();
    const ReadResult again = ReadAll(file, bytes.size(), atEnd);
    FUZZ_CHECK(again == expected, context() + "\n after OpenRead again " + Show(again));
  }
  return 0;
}
