#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "recordfile/read_ahead.h"
#include "recordfile/text_file.h"
#include "tests/os_support.h"
#include "tests/test_support.h"

namespace {

using Records = std::vector<std::string>;
using testing_support::SystemError;
using testing_support::SystemErrorText;

const std::string kEof = "\x1a";
const std::string kNotText = "Not a text file or line exceeds buffer size";
const std::string kInvalidLength = "Invalid record length";
const std::string kReadPastEnd = "Read past end of file";
const std::string kLineTooLarge = "Line too large (exceeds buffer size)";

// Bytes made readable: control bytes by name, long runs counted.
std::string Show(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t run = 1;
    while (i + run < bytes.size() && bytes[i + run] == bytes[i]) ++run;
    const char c = bytes[i];
    std::string one = c == '\r'   ? "<CR>"
                      : c == '\n' ? "<LF>"
                      : c == 26   ? "<26>"
                                  : std::string(1, c);
    if (run > 3) {
      out += one + "{" + std::to_string(run) + "}";
    } else {
      for (std::size_t k = 0; k < run; ++k) out += one;
    }
    i += run;
  }
  return out;
}

// Everything one pass over a file produced: its records, then the message
// of the error that stopped it (empty when the end was reached cleanly).
struct ReadResult {
  Records records;
  std::string error;
};

std::string Show(const ReadResult& r) {
  std::string out;
  for (const auto& rec : r.records) {
    out += '[';
    out += Show(rec);
    out += ']';
  }
  if (!r.error.empty()) out += " error: " + r.error;
  return out;
}

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

// The message of the `Error` raised by `f`, or a note that none came.
template <typename Error, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

class TextFileTest : public ::testing::Test {
 protected:
  // Reads the whole file, alternating the two read calls. At the end a
  // further read must raise "Read past end of file".
  ReadResult ReadFileRecords(const std::string& name, std::int64_t recordLength,
                             std::int64_t bufferSize, bool applyEofMarker,
                             bool ownCrLfRecords = false) {
    TQxTextFile file;
    file.Prepare(name, recordLength, bufferSize, applyEofMarker);
    if (ownCrLfRecords) file.ExpectOwnCrLfRecords();
    file.OpenRead();
    ReadResult result;
    try {
      std::string record;
      // Bounded, so that a read that consumes nothing cannot loop forever.
      for (std::int64_t i = 0; !file.EndOfFile() && i <= file.GetFileSize(); ++i) {
        if (i % 2 == 0) {
          result.records.emplace_back(file.ReadRecordView());
        } else {
          file.ReadRecord(record);
          result.records.push_back(record);
        }
      }
      if (!file.EndOfFile()) {
        result.error = "(no progress)";
      } else if (MessageOf<TQxIOError>([&] { file.ReadRecordView(); }) != kReadPastEnd) {
        result.error = "(no read-past-end error at the end)";
      }
    } catch (const TQxIOError& e) {
      result.error = e.what();
    }
    return result;
  }

  ReadResult Read(const std::string& bytes, std::int64_t recordLength = 0,
                  std::int64_t bufferSize = 255, bool applyEofMarker = true) {
    testing_support::WriteFile(path_, bytes);
    return ReadFileRecords(path_, recordLength, bufferSize, applyEofMarker);
  }

  testing_support::TempDir dir_;
  std::string path_ = dir_.File("data.txt");
};

// ---------------------------------------------------------------- text reads

struct TextCase {
  std::string bytes;
  Records expected;
};

TEST_F(TextFileTest, RecognisesEveryLineEndInAnyMixture) {
  const TextCase cases[] = {
      {"", {}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"\r\n", {""}},
      {"\r\n\r\n", {"", ""}},
      {"a\r\nb\nc\rd\n\re", {"a", "b", "c", "d", "e"}},
      {"a\n\rb", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
      {"a\r\n\rb", {"a", "", "b"}},
      {"\n", {""}},
      {"\r", {""}},
      {"\n\r", {""}},
      {"\r\r", {"", ""}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r", {"a"}},
      {std::string("\tx \0y\r\n", 7), {std::string("\tx \0y", 5)}},
      {"\xff\x80\r\n", {"\xff\x80"}},
  };
  for (std::int64_t buffer : {255, 32768}) {
    for (const auto& c : cases) {
      EXPECT_EQ(Show(Read(c.bytes, 0, buffer)), Show(ReadResult{c.expected, ""}))
          << "file: " << Show(c.bytes) << " buffer: " << buffer;
    }
  }
}

struct MarkerCase {
  std::string bytes;
  Records withMarker;     // a file the user gives
  Records withoutMarker;  // the program's own files: byte 26 is data
};

TEST_F(TextFileTest, FinalByte26IsAMarkerOnlyWhereAsked) {
  const MarkerCase cases[] = {
      {"", {}, {}},
      {kEof, {}, {kEof}},
      {"a\r\n" + kEof, {"a"}, {"a", kEof}},
      {"a\n" + kEof, {"a"}, {"a", kEof}},
      {"a\r" + kEof, {"a"}, {"a", kEof}},
      {"a\n\r" + kEof, {"a"}, {"a", kEof}},
      {"\r\n" + kEof, {""}, {"", kEof}},
      {"b" + kEof, {"b"}, {"b" + kEof}},
      {"a\r\nb" + kEof, {"a", "b"}, {"a", "b" + kEof}},
      {kEof + kEof, {kEof}, {kEof + kEof}},
      {"a\r\n" + kEof + kEof, {"a", kEof}, {"a", kEof + kEof}},
      // Not the last byte of the file: always data.
      {"a" + kEof + "b\r\n", {"a" + kEof + "b"}, {"a" + kEof + "b"}},
      {"a\r\n" + kEof + "b\r\n", {"a", kEof + "b"}, {"a", kEof + "b"}},
      {"a\n" + kEof + "\n", {"a", kEof}, {"a", kEof}},
      {kEof + "\r\n", {kEof}, {kEof}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(Read(c.bytes, 0, 255, true)), Show(ReadResult{c.withMarker, ""}))
        << "file: " << Show(c.bytes) << " with marker";
    EXPECT_EQ(Show(Read(c.bytes, 0, 255, false)), Show(ReadResult{c.withoutMarker, ""}))
        << "file: " << Show(c.bytes) << " without marker";
  }
}

// A line end split by the end of the 255-byte buffer: the first line fills
// indexes 0..251, "ab" 252..253, the line end starts at 254.
TEST_F(TextFileTest, LineEndSplitByBufferEndIsJudgedWhole) {
  const std::string first = Repeat('p', 250) + "\r\n";
  const TextCase cases[] = {
      {first + "ab\r\nc\r\n", {Repeat('p', 250), "ab", "c"}},
      {first + "ab\n\rc\r\n", {Repeat('p', 250), "ab", "c"}},
      {first + "ab\r\rc", {Repeat('p', 250), "ab", "", "c"}},
      {first + "ab\n\nc", {Repeat('p', 250), "ab", "", "c"}},
      {first + "ab\r\n", {Repeat('p', 250), "ab"}},
      {first + "ab\n\r", {Repeat('p', 250), "ab"}},
      {first + "ab\r\n" + kEof, {Repeat('p', 250), "ab"}},
      {first + "ab\r" + kEof, {Repeat('p', 250), "ab"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(Read(c.bytes)), Show(ReadResult{c.expected, ""})) << "file: " << Show(c.bytes);
  }
}

// Each case is put behind 0..300 empty lines, so the long line starts at
// every position of the 255-byte buffer.
struct PlacedCase {
  std::string tail;
  Records expected;  // after the empty lines
  std::string error;
};

TEST_F(TextFileTest, LongLinesAtEveryBufferPosition) {
  const PlacedCase cases[] = {
      // Up to 253 bytes always fit, whatever follows.
      {Repeat('a', 253) + "\r\nz\r\n", {Repeat('a', 253), "z"}, ""},
      {Repeat('a', 253) + "\n\rz\n\r", {Repeat('a', 253), "z"}, ""},
      {Repeat('a', 253) + "\nz\n", {Repeat('a', 253), "z"}, ""},
      {Repeat('a', 253) + "\rz\r", {Repeat('a', 253), "z"}, ""},
      {Repeat('a', 253) + "\r\n", {Repeat('a', 253)}, ""},
      // 254 bytes with more of the file behind them never fit.
      {Repeat('a', 254) + "\r\nz\r\n", {}, kNotText},
      {Repeat('a', 254) + "\nz", {}, kNotText},
      {Repeat('a', 254) + "\r\n", {}, kNotText},
      {Repeat('a', 254) + "\r" + kEof, {}, kNotText},
      // At the very end of the file a little more is allowed.
      {Repeat('a', 254) + "\n", {Repeat('a', 254)}, ""},
      {Repeat('a', 254) + "\r", {Repeat('a', 254)}, ""},
      {Repeat('a', 255), {Repeat('a', 255)}, ""},
      {Repeat('a', 254) + kEof, {Repeat('a', 254)}, ""},
      {Repeat('a', 256), {}, kNotText},
      {Repeat('a', 255) + kEof, {}, kNotText},
  };
  for (const auto& c : cases) {
    for (std::size_t lines = 0; lines <= 300; ++lines) {
      ReadResult expected{Records(lines, ""), c.error};
      expected.records.insert(expected.records.end(), c.expected.begin(), c.expected.end());
      const ReadResult got = Read(Repeat('\n', lines) + c.tail);
      ASSERT_EQ(Show(got), Show(expected))
          << "tail: " << Show(c.tail) << " after " << lines << " empty lines";
    }
  }
}

// A line end that ends exactly at the end of a full buffer, with one byte
// of the file left behind it: a final 26 there adds no empty record, and
// the record returned must survive the look at that byte.
TEST_F(TextFileTest, LastByteBehindAFullBuffer) {
  for (const std::string prefix : {"", "p\r\n"}) {
    const std::string line = prefix + Repeat('a', 253) + "\r\n";
    Records lines = prefix.empty() ? Records{} : Records{"p"};
    lines.push_back(Repeat('a', 253));
    Records withData = lines;
    withData.push_back(kEof);
    Records withX = lines;
    withX.push_back("x");
    EXPECT_EQ(Show(Read(line + kEof, 0, 255, true)), Show(ReadResult{lines, ""})) << prefix;
    EXPECT_EQ(Show(Read(line + kEof, 0, 255, false)), Show(ReadResult{withData, ""})) << prefix;
    EXPECT_EQ(Show(Read(line + "x")), Show(ReadResult{withX, ""})) << prefix;
  }
}

TEST_F(TextFileTest, BinaryDataWithoutLineEndsIsNotText) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(14 + i % 200);
  EXPECT_EQ(Show(Read(bytes)), Show(ReadResult{{}, kNotText}));
  EXPECT_EQ(Show(Read(bytes, 0, 32768)), Show(ReadResult{{bytes}, ""}));
}

// The line-end rules applied to the whole file at once.
Records SplitLines(std::string bytes, bool applyEofMarker) {
  if (applyEofMarker && !bytes.empty() && bytes.back() == 26) bytes.pop_back();
  Records out;
  std::string current;
  bool open = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      out.push_back(current);
      current.clear();
      open = false;
      if (i + 1 < bytes.size() && bytes[i + 1] != c &&
          (bytes[i + 1] == '\r' || bytes[i + 1] == '\n'))
        ++i;
    } else {
      current += c;
      open = true;
    }
  }
  if (open) out.push_back(current);
  return out;
}

TEST_F(TextFileTest, RandomFilesSplitLikeTheReference) {
  std::mt19937 rng(20240611);
  const double dataShares[] = {0.3, 0.8, 0.97, 0.995};
  const char others[] = {'\r', '\n', 26};
  for (int round = 0; round < 3000; ++round) {
    const double share = dataShares[round % 4];
    const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 1500)(rng);
    std::bernoulli_distribution isData(share);
    std::string bytes;
    std::size_t lineLength = 0;
    while (bytes.size() < size) {
      char c = isData(rng) ? static_cast<char>('a' + rng() % 3) : others[rng() % 3];
      // Lines stay within the 253 bytes that always fit.
      if (lineLength == 253) c = '\n';
      lineLength = (c == '\r' || c == '\n') ? 0 : lineLength + 1;
      bytes += c;
    }
    if (rng() % 3 == 0 && lineLength < 253) bytes += static_cast<char>(26);
    const std::int64_t buffer = 255 + static_cast<std::int64_t>(rng() % 3) * 20;
    const bool marker = rng() % 2 == 0;
    ASSERT_EQ(Show(Read(bytes, 0, buffer, marker)), Show(ReadResult{SplitLines(bytes, marker), ""}))
        << "round " << round << " buffer " << buffer << " marker " << marker
        << " file: " << Show(bytes);
  }
}

// The file changes between the size taken at open and the reads.
TEST_F(TextFileTest, FileChangedWhileRead) {
  {
    // Grown: the last buffer reaches beyond the size taken at open.
    testing_support::WriteFile(path_, Repeat('a', 100) + "\r\n" + Repeat('b', 157));
    TQxTextFile file;
    file.Prepare(path_, 0, 255);
    file.OpenRead();
    std::ofstream(path_, std::ios::binary | std::ios::app) << Repeat('c', 50);
    EXPECT_EQ(file.ReadRecordView(), Repeat('a', 100));
    EXPECT_EQ(MessageOf<TQxIOError>([&] { file.ReadRecordView(); }), kLineTooLarge);
  }
  {
    // Shrunk: the refill delivers nothing.
    testing_support::WriteFile(path_, Repeat('a', 100) + "\r\n" + Repeat('b', 200));
    TQxTextFile file;
    file.Prepare(path_, 0, 255);
    file.OpenRead();
    testing_support::WriteFile(path_, Repeat('a', 100) + "\r\n");
    EXPECT_EQ(file.ReadRecordView(), Repeat('a', 100));
    EXPECT_EQ(MessageOf<TQxIOError>([&] { file.ReadRecordView(); }), kReadPastEnd);
    file.Close();
  }
}

// -------------------------------------------------------- fixed-length reads

struct FixedCase {
  std::string bytes;
  std::int64_t length;
  bool applyEofMarker;
  Records expected;
  std::string error;
};

TEST_F(TextFileTest, FixedLengthRecordsWhereverTheBufferStarts) {
  // Line ends and a 26 inside a record are data.
  const std::string r1 = "0123456789", r2 = "abcdefghij", r3 = "A\r\nB\n\r" + kEof + "C\rD";
  const std::string ending26 = "ABCDEFGHI" + kEof;
  const FixedCase cases[] = {
      {r1 + r2 + r3, 10, true, {r1, r2, r3}, ""},
      {r1 + r2 + r3 + kEof, 10, true, {r1, r2, r3}, ""},
      {r1 + r2 + r3 + "x", 10, true, {r1, r2, r3}, kInvalidLength},
      {r1 + r2 + r3 + kEof, 10, false, {r1, r2, r3}, kInvalidLength},
      // The third record would end with the marker.
      {r1 + r2 + ending26, 10, true, {r1, r2}, kInvalidLength},
      {r1 + r2 + ending26, 10, false, {r1, r2, ending26}, ""},
      {r1 + r2 + ending26 + kEof, 10, true, {r1, r2, ending26}, ""},
      {r1 + r2 + "abc", 10, true, {r1, r2}, kInvalidLength},
      {"", 10, true, {}, ""},
      {kEof, 10, true, {}, ""},
      {kEof, 10, false, {}, kInvalidLength},
      {kEof, 1, false, {kEof}, ""},
      {"ab" + kEof, 1, true, {"a", "b"}, ""},
      {"ab" + kEof, 1, false, {"a", "b", kEof}, ""},
  };
  for (const auto& c : cases) {
    // Whole records in front move the case to every place in the buffer.
    for (std::size_t ahead = 0; ahead <= 60; ++ahead) {
      std::string bytes;
      ReadResult expected;
      for (std::size_t i = 0; i < ahead; ++i) {
        std::string filler(static_cast<std::size_t>(c.length), static_cast<char>('k' + i % 10));
        bytes += filler;
        expected.records.push_back(filler);
      }
      bytes += c.bytes;
      expected.records.insert(expected.records.end(), c.expected.begin(), c.expected.end());
      expected.error = c.error;
      for (std::int64_t buffer : {255, 32768}) {
        ASSERT_EQ(Show(Read(bytes, c.length, buffer, c.applyEofMarker)), Show(expected))
            << "case: " << Show(c.bytes) << " length " << c.length << " marker " << c.applyEofMarker
            << " behind " << ahead << " records, buffer " << buffer;
      }
    }
  }
}

// Records that end exactly where a buffer ends (85 * 3 = 255) leave a final
// marker alone for the next fill; it still adds no record.
TEST_F(TextFileTest, FixedLengthMarkerAloneBehindAFullBuffer) {
  const std::string records = Repeat('a', 85) + Repeat('b', 85) + Repeat('c', 85);
  const Records expected = {Repeat('a', 85), Repeat('b', 85), Repeat('c', 85)};
  EXPECT_EQ(Show(Read(records + kEof, 85, 255, true)), Show(ReadResult{expected, ""}));
  EXPECT_EQ(Show(Read(records + kEof, 85, 255, false)), Show(ReadResult{expected, kInvalidLength}));
  Records withD = expected;
  withD.push_back(Repeat('d', 85));
  EXPECT_EQ(Show(Read(records + Repeat('d', 85), 85, 255, true)), Show(ReadResult{withD, ""}));
  EXPECT_EQ(Show(Read(records + "x", 85, 255, true)), Show(ReadResult{expected, kInvalidLength}));
}

// Whole records, optionally one final marker; anything else ends with
// "Invalid record length" at the incomplete or marker-ended record.
ReadResult SplitFixed(const std::string& bytes, std::size_t n, bool applyEofMarker) {
  ReadResult out;
  std::size_t size = bytes.size();
  const bool marker = applyEofMarker && size > 0 && bytes.back() == 26;
  std::size_t whole = size / n;
  if (marker && (size - 1) % n == 0) {
    whole = (size - 1) / n;
  } else if (marker && size % n == 0) {
    whole -= 1;
    out.error = kInvalidLength;
  } else if (size % n != 0) {
    out.error = kInvalidLength;
  }
  for (std::size_t i = 0; i < whole; ++i) out.records.push_back(bytes.substr(i * n, n));
  return out;
}

TEST_F(TextFileTest, RandomFixedLengthFilesSplitLikeTheReference) {
  std::mt19937 rng(7081);
  const char alphabet[] = {'a', 'b', '\r', '\n', 26};
  for (int round = 0; round < 2000; ++round) {
    const std::int64_t buffer = 255 + static_cast<std::int64_t>(rng() % 3) * 20;
    const std::size_t n = 1 + rng() % 254;
    const std::size_t count = rng() % (1 + 1500 / n);
    std::string bytes;
    const std::size_t size = count * n + (rng() % 2 == 0 ? 0 : rng() % (n + 1));
    while (bytes.size() < size) bytes += alphabet[rng() % 5];
    if (!bytes.empty() && rng() % 2 == 0) bytes.back() = 26;
    const bool marker = rng() % 2 == 0;
    ASSERT_EQ(Show(Read(bytes, static_cast<std::int64_t>(n), buffer, marker)),
              Show(SplitFixed(bytes, n, marker)))
        << "round " << round << " length " << n << " buffer " << buffer << " marker " << marker
        << " file: " << Show(bytes);
  }
}

TEST_F(TextFileTest, FixedRecordLengthLimitIsBufferSizeLessOne) {
  const std::string big = Repeat('x', 32767) + Repeat('y', 32767);
  EXPECT_EQ(Show(Read(big, 32767, 32768)),
            Show(ReadResult{{Repeat('x', 32767), Repeat('y', 32767)}, ""}));
  EXPECT_EQ(Show(Read(big, 32768, 32768)),
            Show(ReadResult{{}, "Record too large (exceeds buffer size)"}));
  EXPECT_EQ(Show(Read(big, 255, 255)),
            Show(ReadResult{{}, "Record too large (exceeds buffer size)"}));
}

// ------------------------------------------------------ Prepare and OpenRead

TEST_F(TextFileTest, PrepareClampsTheBufferSize) {
  const struct {
    std::int64_t given, used;
  } cases[] = {
      {std::numeric_limits<std::int64_t>::min(), 255},
      {0, 255},
      {100, 255},
      {254, 255},
      {255, 255},
      {32768, 32768},
      {1048576, 1048576},
      {1048577, 1048576},
      {std::numeric_limits<std::int64_t>::max(), 1048576},
  };
  for (const auto& c : cases) {
    TQxTextFile file;
    file.Prepare(path_, 0, c.given);
    EXPECT_EQ(file.GetBufferSize(), c.used) << "given " << c.given;
  }
}

TEST_F(TextFileTest, NegativeRecordLengthAbortsBeforeOpening) {
  TQxTextFile file;
  EXPECT_EQ(MessageOf<TQxAbort>([&] { file.Prepare(path_, -1, 32768); }), "Invalid Record Lenght");
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(testing_support::Exists(path_));
}

TEST_F(TextFileTest, SecondOpenReadStartsAgain) {
  for (std::int64_t length : {0, 3}) {
    testing_support::WriteFile(path_, length == 0 ? "abc\r\ndef\r\nghi" : "abcdefghi");
    TQxTextFile file;
    file.Prepare(path_, length, 255);
    file.OpenRead();
    EXPECT_EQ(file.ReadRecordView(), "abc");
    file.OpenRead();
    EXPECT_FALSE(file.EndOfFile());
    EXPECT_EQ(file.GetBytesConsumed(), 0);
    EXPECT_EQ(file.ReadRecordView(), "abc");
    EXPECT_EQ(file.ReadRecordView(), "def");
    EXPECT_EQ(file.ReadRecordView(), "ghi");
    EXPECT_TRUE(file.EndOfFile());
    file.OpenRead();
    EXPECT_FALSE(file.EndOfFile()) << "length " << length;
    EXPECT_EQ(file.ReadRecordView(), "abc") << "length " << length;
    file.Close();
    EXPECT_FALSE(file.IsOpen());
  }
}

// ----------------------------------------------------------------- writing

std::string WriteRecords(const std::string& name, std::int64_t recordLength, std::int32_t kind,
                         bool eofMarker, const Records& records, std::int64_t buffer = 255) {
  {
    TQxTextFile file;
    file.Prepare(name, recordLength, buffer);
    file.OpenWrite(kind, eofMarker);
    for (const auto& r : records) file.WriteRecord(r);
    file.Close();
  }
  return testing_support::ReadFile(name);
}

TEST_F(TextFileTest, WritesEachRecordWithTheChosenLineEnd) {
  const struct {
    std::int64_t length;
    std::int32_t kind;
    bool marker;
    std::string expected;
  } cases[] = {
      {0, 0, false, "x\r\n\r\n"},
      {0, 1, false, "x\n\r\n\r"},
      {0, 2, false, "x\n\n"},
      {0, 3, false, "x\r\r"},
      {0, 0, true, "x\r\n\r\n" + kEof},
      // Fixed-length records are written as given, nothing added.
      {1, 0, false, "x"},
      {1, 0, true, "x" + kEof},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(WriteRecords(path_, c.length, c.kind, c.marker, {"x", ""})), Show(c.expected))
        << "length " << c.length << " kind " << c.kind << " marker " << c.marker;
  }
}

TEST_F(TextFileTest, ManyRecordsThroughASmallBufferReadBack) {
  std::mt19937 rng(99);
  Records records;
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    std::string r(rng() % 254, 'a');
    for (auto& c : r) c = static_cast<char>('a' + rng() % 26);
    expected += r + "\r\n";
    records.push_back(std::move(r));
  }
  ASSERT_EQ(WriteRecords(path_, 0, 0, false, records), expected);
  EXPECT_EQ(Show(ReadFileRecords(path_, 0, 255, true)), Show(ReadResult{records, ""}));
  // The program's own files are read by looking for each LF alone.
  EXPECT_EQ(Show(ReadFileRecords(path_, 0, 255, false, true)), Show(ReadResult{records, ""}));
}

// Large buffers hand full chunks to a writing thread and fill the next one
// meanwhile; the bytes must come out whole and in order, whatever the
// record lengths around the chunk borders.
TEST_F(TextFileTest, WritesBehindInChunksAndReadsBack) {
  std::mt19937 rng(7);
  for (const std::int64_t buffer : {std::int64_t{32768}, TQxTextFile::kMaxBufferSize}) {
    Records records;
    std::string expected;
    while (expected.size() < 5 * TQxTextFile::kWriteChunk) {
      // Mostly short records, now and then one that fills most of a buffer.
      const std::size_t length = rng() % 50 == 0 ? rng() % 32000 : rng() % 200;
      std::string r(length, ' ');
      for (auto& c : r) c = static_cast<char>('a' + rng() % 26);
      expected += r + "\n";
      records.push_back(std::move(r));
    }
    ASSERT_EQ(WriteRecords(path_, 0, 2, false, records, buffer), expected) << "buffer " << buffer;
  }
}

TEST_F(TextFileTest, RecordAndLineEndMustFitTheBuffer) {
  const struct {
    std::int64_t length;
    std::size_t size;
    bool fits;
  } cases[] = {
      {0, 32766, true},
      {0, 32767, false},
      {32768, 32768, true},
      {1, 32769, false},
  };
  for (const auto& c : cases) {
    TQxTextFile file;
    file.Prepare(path_, c.length, 32768);
    file.OpenWrite(0, false);
    file.WriteRecord("first");
    const std::string message =
        MessageOf<TQxIOError>([&] { file.WriteRecord(Repeat('z', c.size)); });
    EXPECT_EQ(message, c.fits ? "(no error)" : kLineTooLarge) << "size " << c.size;
    // The object stays usable after the error.
    file.Close();
    const std::size_t first = c.length == 0 ? 7 : 5;
    EXPECT_EQ(testing_support::ReadFile(path_).size(),
              first + (c.fits ? c.size + (c.length == 0 ? 2 : 0) : 0))
        << "size " << c.size;
  }
}

TEST_F(TextFileTest, DestructorFlushesAnOpenWriter) {
  {
    TQxTextFile file;
    file.Prepare(path_, 0, 32768);
    file.OpenWrite(0, true);
    file.WriteRecord("pending");
  }
  EXPECT_EQ(Show(testing_support::ReadFile(path_)), Show("pending\r\n" + kEof));
}

TEST_F(TextFileTest, ReadersAndWritersRefuseTheOtherDirection) {
  testing_support::WriteFile(path_, "abc\r\n");
  TQxTextFile file;
  file.Prepare(path_, 0, 255);
  file.OpenRead();
  EXPECT_EQ(MessageOf<TQxIOError>([&] { file.WriteRecord("x"); }),
            "Cannot write file \"" + path_ + "\": File not open for writing");
  file.OpenWrite(0, false);
  EXPECT_EQ(MessageOf<TQxIOError>([&] { file.ReadRecordView(); }),
            "Cannot read file \"" + path_ + "\": File not open for reading");
  file.Close();
  EXPECT_EQ(testing_support::ReadFile(path_), "");
}

// ---------------------------------------------------------------- read-ahead

// The records through the reading thread are those the file gives, in
// order, over many batches (full by bytes and by count); a read error comes
// after the records before it, with the file's own message; and a reader
// dropped halfway stops.
TEST_F(TextFileTest, ReadAheadGivesWhatTheFileGives) {
  std::mt19937 rng(31);
  std::string bytes;
  for (int i = 0; i < 150000; ++i) {
    const std::size_t length = i % 5000 == 0 ? 30000 : rng() % (i < 100000 ? 3 : 40);
    bytes += std::string(length, static_cast<char>('a' + rng() % 26)) + (i % 2 ? "\r\n" : "\n");
  }
  const std::string tooLong(40000, 'x');  // more than the 32,768-byte buffer
  const struct {
    std::string bytes;
    bool complete;
  } cases[] = {{bytes, true}, {bytes + tooLong + "\r\nafter\r\n", false}};
  for (const auto& c : cases) {
    testing_support::WriteFile(path_, c.bytes);
    const ReadResult expected = ReadFileRecords(path_, 0, 32768, true);
    ASSERT_EQ(expected.error.empty(), c.complete) << expected.error;
    TQxTextFile file;
    file.Prepare(path_, 0, 32768);
    file.OpenRead();
    ReadResult got;
    {
      auto ahead = TReadAhead::Start(file);
      ASSERT_NE(ahead, nullptr);
      try {
        std::string_view record;
        while (ahead->Next(record)) got.records.emplace_back(record);
      } catch (const TQxIOError& e) {
        got.error = e.what();
      }
    }
    EXPECT_EQ(got.records.size(), expected.records.size());
    EXPECT_TRUE(got.records == expected.records);
    EXPECT_EQ(got.error, c.complete ? "" : expected.error);
  }
  TQxTextFile file;
  file.Prepare(path_, 0, 32768);
  file.OpenRead();
  auto ahead = TReadAhead::Start(file);
  std::string_view record;
  ASSERT_TRUE(ahead->Next(record));
  ahead.reset();
}

// ----------------------------------------------------------- platform errors

TEST_F(TextFileTest, WriteFailuresRaiseAndTheFileStillCloses) {
  const std::string full = "/dev/full";  // every write fails: no space left
  if (!platform::FileExists(full)) GTEST_SKIP() << "no " << full;
  const std::string noSpace = "Cannot write file \"" + full + "\": " + std::strerror(ENOSPC);
  // A small buffer writes on the caller's thread; a large one behind it,
  // where the failure surfaces at the next flush or at the latest on Close.
  for (const std::int64_t buffer : {std::int64_t{255}, TQxTextFile::kWriteBehindFrom}) {
    TQxTextFile file;
    file.Prepare(full, 0, buffer);
    file.OpenWrite(0, false);
    EXPECT_EQ(MessageOf<TQxIOError>([&] {
                for (int i = 0; i < 1000000; ++i) file.WriteRecord("abc");
              }),
              noSpace)
        << "buffer " << buffer;
    file.WriteRecord("pending");
    EXPECT_EQ(MessageOf<TQxIOError>([&] { file.Close(); }), noSpace) << "buffer " << buffer;
    EXPECT_FALSE(file.IsOpen());

    // A failure of the last chunk, still in flight, is raised by Close.
    file.OpenWrite(0, false);
    file.WriteRecord("one chunk");
    EXPECT_EQ(MessageOf<TQxIOError>([&] { file.Close(); }), noSpace) << "buffer " << buffer;
    {
      // The destructor's flush fails too, silently.
      TQxTextFile dropped;
      dropped.Prepare(full, 0, buffer);
      dropped.OpenWrite(0, true);
      dropped.WriteRecord("lost");
    }
  }
}

TEST_F(TextFileTest, PlatformFailuresNameTheFileAndTheCause) {
  const std::string missing = dir_.File("missing.txt");
  const std::string noDir = dir_.File("no/such/dir/out.txt");
  // Never cut: a name the system refuses fails with the system's reason.
  const std::string longName = dir_.File(Repeat('n', 300));
  TQxTextFile reader;
  reader.Prepare(missing, 0, 32768);
  EXPECT_EQ(MessageOf<TQxIOError>([&] { reader.OpenRead(); }),
            "Cannot open file \"" + missing + "\": " + SystemErrorText(SystemError::kNoSuchFile));
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(MessageOf<TQxIOError>([&] { reader.Close(); }),
            "Cannot close file \"" + missing + "\": " + std::strerror(EBADF));

  TQxTextFile writer;
  writer.Prepare(noDir, 0, 32768);
  EXPECT_EQ(
      MessageOf<TQxIOError>([&] { writer.OpenWrite(0, false); }),
      "Cannot create file \"" + noDir + "\": " + SystemErrorText(SystemError::kNoSuchDirectory));
  writer.Prepare(longName, 0, 32768);
  EXPECT_EQ(
      MessageOf<TQxIOError>([&] { writer.OpenWrite(0, false); }),
      "Cannot create file \"" + longName + "\": " + SystemErrorText(SystemError::kNameTooLong));
  EXPECT_FALSE(writer.IsOpen());
}

}  // namespace
