// Fuzz target of key building (TKeyBuilder's Extract and Append). Input: a
// byte of mode (column or CSV) and key count, separator and quotation sign
// in CSV mode, four bytes per key part, then the record. FatalError is
// turned into an exception. Checked against a plain model of the parts and
// their transforms, and by three properties: Append leaves what the
// key held untouched; inverting the direction of every part inverts every
// byte of the key; case-insensitive keys of records that differ only in
// case (by the fold table) are equal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/sort_parser.h"
#include "csv/csv_parser.h"
#include "sortengine/sort_keys.h"
#include "tests/fatal_capture.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Show;

struct Outcome {
  bool fatal = false;
  std::string text;  // the key, or the message of the fatal error
};

std::string Show(const Outcome& o) { return (o.fatal ? "fatal: " : "key: ") + Show(o.text); }

std::string Show(const TSortSpecs& Specs) {
  std::string out;
  for (const TSortFieldSpec& s : Specs) {
    out += " (" + std::to_string(s.CsvField) + "," + std::to_string(s.FromPos) + "," +
           std::to_string(s.Len) + (s.Ascending ? "" : ",desc") + (s.Numeric ? ",num" : "") +
           (s.CaseInsensitive ? ",ci" : "") + (s.AutoWidth ? ",auto" : "") + ")";
  }
  return out;
}

// The job's CSV form for the current input.
TCsvDialect Dialect;

Outcome Key(TKeyBuilder& Builder, std::string_view Record) {
  Outcome out;
  try {
    out.text = Builder.Extract(Record);
  } catch (const testing_support::FatalErrorRaised& e) {
    out.fatal = true;
    out.text = e.Message;
  }
  return out;
}

// A position or length: mostly small, sometimes the 32-bit extremes.
std::int32_t Number(std::uint8_t b) {
  if (b == 255) return INT32_MAX;
  if (b == 254) return INT32_MIN;
  return b % 40 - 2;
}

// ------------------------------------------------------------------ model

std::string Transform(std::string Part, const TSortFieldSpec& S) {
  auto invert = [](std::string& t) {
    for (char& c : t) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  };
  if (S.CaseInsensitive) {
    for (char& c : Part) c = static_cast<char>(FoldTable[static_cast<unsigned char>(c)]);
  }
  if (S.Numeric) {
    bool negative = false;
    for (char& c : Part) {
      if (c == '-') negative = true;
      if (c == '-' || c == ' ' || c == '+') c = '0';
    }
    if (negative) invert(Part);
    Part.insert(Part.begin(), negative ? '\0' : '\xff');
  }
  if (!S.Ascending) invert(Part);
  return Part;
}

// The expected key, or the start of the expected fatal message.
struct Expected {
  bool fatal = false;
  std::string text;
};

Expected ColumnPart(std::string_view Record, const TSortFieldSpec& S) {
  const auto n = static_cast<std::int64_t>(Record.size());
  const std::int64_t from = S.FromPos, len = S.Len;
  const std::string at = "Illegal sort field: From=" + std::to_string(from);
  if (from > n) return {true, at + " beyond end of line: "};
  if (from < 1) return {true, at + " before start of line: "};
  if (len == 0) return {false, std::string(Record.substr(from - 1))};
  if (from + len - 1 > n)
    return {true, "Illegal sort field: Len=" + std::to_string(len) + " beyond end of line: "};
  return {false, std::string(Record.substr(from - 1, len < 0 ? 0 : len))};
}

Expected CsvPart(const std::vector<std::string>& Fields, const TSortFieldSpec& S) {
  if (S.CsvField < 1 || static_cast<std::size_t>(S.CsvField) > Fields.size())
    return {true, std::to_string(S.CsvField) + "-th CSV field separated with comma char #" +
                      std::to_string(static_cast<unsigned char>(Dialect.Separator)) +
                      " doesn't exist in line:"};
  std::string value = Fields[static_cast<std::size_t>(S.CsvField - 1)];
  const std::int64_t from = S.FromPos, len = S.Len;
  const std::string at = "Illegal sort field: From=" + std::to_string(from);
  if (from < 1) return {true, at + " before start of CSV field"};
  const std::string beyond = at + " beyond end of CSV field";
  if (S.AutoWidth) {
    if (from > 1 && from > static_cast<std::int64_t>(value.size())) return {true, beyond};
    // Padded to the measured width: numbers on the left, text on the right.
    if (len > static_cast<std::int64_t>(value.size())) {
      const std::string pad(static_cast<std::size_t>(len) - value.size(), ' ');
      value = S.Numeric ? pad + value : value + pad;
    }
    if (from > static_cast<std::int64_t>(value.size())) return {true, beyond};
    return {false, value.substr(from - 1)};
  }
  if (from > static_cast<std::int64_t>(value.size())) return {true, beyond};
  if (from + len - 1 > static_cast<std::int64_t>(value.size()))
    return {true, at + ", Len=" + std::to_string(len) + ": Len goes beyond end of CSV field: "};
  return {false, value.substr(from - 1, len < 0 ? 0 : len)};
}

Expected ModelKey(std::string_view Record, const TSortSpecs& Specs) {
  std::vector<std::string> fields;
  if (Dialect.Mode) {
    // The split itself is the CSV target's business; a parser of its own
    // here, so that the one under test gets no help.
    TCsvParser parser(Dialect.Separator, Dialect.Quote);
    try {
      parser.SplitLine(Record, fields, true, Dialect.MaxField);
    } catch (const TCsvError&) {
      return {true, "Error Parsing CSV record: " + CsvErrorText + "\r\nColumn " +
                        std::to_string(CsvErrorPos) + " in line:\r\n"};
    }
  }
  if (Specs.empty()) return {false, std::string(Record)};
  Expected key;
  for (const TSortFieldSpec& s : Specs) {
    Expected part = Dialect.Mode ? CsvPart(fields, s) : ColumnPart(Record, s);
    if (part.fatal) return part;
    key.text += Transform(part.text, s);
  }
  return key;
}

// ------------------------------------------------------------ properties

// The record with the case of some bytes changed: each byte is replaced by
// another one of the same fold class, chosen by a generator seeded from
// the input. In CSV mode bytes whose class holds the separator or the
// quotation sign stay, so that the fields are cut at the same places.
std::string CaseVariant(std::string_view Record, std::uint32_t Seed) {
  // classes[u]: the bytes that fold to u.
  static const auto classes = [] {
    std::vector<std::vector<unsigned char>> c(256);
    for (int b = 0; b < 256; ++b) c[FoldTable[b]].push_back(static_cast<unsigned char>(b));
    return c;
  }();
  std::string out(Record);
  std::uint32_t state = Seed | 1;
  for (char& c : out) {
    const auto& members = classes[FoldTable[static_cast<unsigned char>(c)]];
    bool keep = false;
    for (unsigned char m : members)
      keep = keep || (Dialect.Mode && (m == static_cast<unsigned char>(Dialect.Separator) ||
                                       m == static_cast<unsigned char>(Dialect.Quote)));
    if (keep) continue;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(members[state % members.size()]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  BuildKeyTables();
  // The model relies on these: a..z fold to A..Z, other ASCII to itself.
  for (int b = 0; b < 128; ++b) {
    const int folded = b >= 'a' && b <= 'z' ? b - 32 : b;
    FUZZ_CHECK(FoldTable[b] == folded && InvertTable[b] == 255 - b, std::to_string(b));
  }
  SetFatalErrorHandler(&testing_support::ThrowFatalError);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  fuzz_support::ByteReader in(Data, Size);
  const std::uint8_t mode = in.Take();
  const bool csv = (mode & 1) != 0;
  const int count = (mode >> 1) % 5;
  const std::uint8_t separator = csv ? in.Take() : ';';
  const std::uint8_t quote = csv ? in.Take() : '"';

  // Key parts as the option parser and the sort job leave them.
  TSortSpecs specs;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t kind = in.Take();
    const std::uint8_t field = in.Take();
    TSortFieldSpec s;
    s.Numeric = kind % 3 == 2;
    s.CaseInsensitive = kind % 3 == 1;
    s.Ascending = (kind & 4) == 0;
    s.CsvField = csv ? field % 8 - 1 : -1;
    s.FromPos = Number(in.Take());
    s.Len = Number(in.Take());
    if (csv && s.Len == 0) {
      // Length 0 asks for the width measured over the file.
      s.AutoWidth = true;
      s.Len = kind >> 3;
    } else if (!csv && s.Len == 0 && (i != count - 1 || s.Numeric)) {
      s.Len = 1;  // refused by the sort job: only the last text key runs to the end
    }
    specs.push_back(s);
  }
  const std::string_view record = in.Rest();

  // The CSV form as the sort job sets it up, anew for each input; one
  // builder keeps its scratch from key to key, as in the job.
  Dialect = TCsvDialect();
  Dialect.Mode = csv;
  Dialect.Separator = static_cast<char>(separator);
  Dialect.Quote = static_cast<char>(quote);
  for (const TSortFieldSpec& s : specs) Dialect.MaxField = std::max(Dialect.MaxField, s.CsvField);
  TKeyBuilder builder(specs, Dialect);

  auto context = [&] {
    return std::string(csv ? "csv separator " + std::to_string(separator) + " quote " +
                                 std::to_string(quote)
                           : "columns") +
           " keys" + Show(specs) + " record [" + Show(record) + "]";
  };

  const Outcome key = Key(builder, record);
  const Expected expected = ModelKey(record, specs);
  if (expected.fatal) {
    FUZZ_CHECK(key.fatal && key.text.compare(0, expected.text.size(), expected.text) == 0,
               context() + "\n got " + Show(key) + "\n expected fatal: " + Show(expected.text));
  } else {
    FUZZ_CHECK(!key.fatal && key.text == expected.text,
               context() + "\n got " + Show(key) + "\n expected key: " + Show(expected.text));
  }

  if (!key.fatal) {
    std::string appended("\xff\x00kept", 6);
    const std::string kept = appended;
    builder.Append(record, appended);
    FUZZ_CHECK(appended == kept + key.text, context() + "\n appended " + Show(appended));
  }

  // Without key parts the key is the record itself, in any direction.
  if (!specs.empty()) {
    TSortSpecs reversed = specs;
    for (TSortFieldSpec& s : reversed) s.Ascending = !s.Ascending;
    TKeyBuilder reversedBuilder(reversed, Dialect);
    const Outcome reversedKey = Key(reversedBuilder, record);
    FUZZ_CHECK(reversedKey.fatal == key.fatal &&
                   reversedKey.text == (key.fatal ? key.text : InvertBytes(key.text)),
               context() + "\n key " + Show(key) + "\n reversed " + Show(reversedKey));

    TSortSpecs folded = specs;
    for (TSortFieldSpec& s : folded) {
      s.Numeric = false;
      s.CaseInsensitive = true;
    }
    const std::string variant = CaseVariant(record, static_cast<std::uint32_t>(Size) * 2654435761u);
    TKeyBuilder foldedBuilder(folded, Dialect);
    const Outcome a = Key(foldedBuilder, record);
    const Outcome b = Key(foldedBuilder, variant);
    FUZZ_CHECK(a.fatal == b.fatal && (a.fatal || a.text == b.text),
               context() + "\n variant [" + Show(variant) + "]\n key " + Show(a) + "\n variant's " +
                   Show(b));
  }
  return 0;
}
