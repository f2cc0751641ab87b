#include "sortengine/sort_keys.h"

#include <string>

#include "cmdline/fatal_error.h"
#include "cmdline/sort_parser.h"
#include "platform/platform.h"

unsigned char InvertTable[256];
unsigned char FoldTable[256];

void BuildKeyTables() {
  for (int b = 0; b < 256; ++b) InvertTable[b] = static_cast<unsigned char>(255 - b);
  platform::BuildUpperCaseTable(FoldTable);
}

namespace {

const char* const kCrLf = "\r\n";

// The transforms work in place on bytes already appended to the key, so a
// key part costs no string of its own.

inline void MapBytes(char* p, std::size_t n, const unsigned char* table) {
  auto* u = reinterpret_cast<unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) u[i] = table[u[i]];
}

inline void FoldAndInvertBytes(char* p, std::size_t n) {
  auto* u = reinterpret_cast<unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) u[i] = InvertTable[FoldTable[u[i]]];
}

// Rewrites blanks and signs to '0'; true when a minus was among them.
inline bool RewriteNumber(char* p, std::size_t n) {
  bool negative = false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (c == '-') {
      negative = true;
      p[i] = '0';
    } else if (c == ' ' || c == '+') {
      p[i] = '0';
    }
  }
  return negative;
}

// Appends the part (m bytes at Src) to Key and transforms it for Spec.
inline void AppendPart(const char* Src, std::size_t m, const TSortFieldSpec& Spec,
                       std::string& Key) {
  if (Spec.Numeric) {
    const std::size_t signAt = Key.size();
    Key.push_back('\0');
    Key.append(Src, m);
    char* p = Key.data() + signAt + 1;
    const bool negative = RewriteNumber(p, m);
    // Negative digits are inverted; a descending part inverts them (back)
    // as well, so one pass at most.
    if (negative != !Spec.Ascending) MapBytes(p, m, InvertTable);
    unsigned char sign = negative ? 0 : 255;
    if (!Spec.Ascending) sign = static_cast<unsigned char>(255 - sign);
    Key[signAt] = static_cast<char>(sign);
    return;
  }
  const std::size_t start = Key.size();
  Key.append(Src, m);
  if (m == 0) return;
  char* p = Key.data() + start;
  if (Spec.CaseInsensitive) {
    if (Spec.Ascending) {
      MapBytes(p, m, FoldTable);
    } else {
      FoldAndInvertBytes(p, m);
    }
  } else if (!Spec.Ascending) {
    MapBytes(p, m, InvertTable);
  }
}

std::string Num(std::int64_t Value) { return std::to_string(Value); }

// The error paths build their messages out of line, away from the loop.

[[noreturn]] void ColumnFromBeyondEnd(const TSortFieldSpec& S, std::string_view Record) {
  FatalError("Illegal sort field: From=" + Num(S.FromPos) + " beyond end of line: " + kCrLf +
             std::string(Record));
}

[[noreturn]] void ColumnFromBeforeStart(const TSortFieldSpec& S, std::string_view Record) {
  FatalError("Illegal sort field: From=" + Num(S.FromPos) + " before start of line: " + kCrLf +
             std::string(Record));
}

[[noreturn]] void ColumnLenBeyondEnd(const TSortFieldSpec& S, std::string_view Record) {
  FatalError("Illegal sort field: Len=" + Num(S.Len) + " beyond end of line: " + kCrLf +
             std::string(Record));
}

[[noreturn]] void CsvSplitFailed(std::string_view Record) {
  FatalError("Error Parsing CSV record: " + CsvErrorText + kCrLf + "Column " + Num(CsvErrorPos) +
             " in line:" + kCrLf + std::string(Record));
}

[[noreturn]] void CsvFieldMissing(const TSortFieldSpec& S, char Separator,
                                  std::string_view Record) {
  FatalError(Num(S.CsvField) + "-th CSV field separated with comma char #" +
             Num(static_cast<unsigned char>(Separator)) + " doesn't exist in line:" + kCrLf +
             std::string(Record));
}

[[noreturn]] void CsvFromOutside(const TSortFieldSpec& S, const char* Where, std::string_view Value,
                                 std::string_view Record) {
  FatalError("Illegal sort field: From=" + Num(S.FromPos) + Where + kCrLf + "->" +
             std::string(Value) + "<-" + kCrLf + "Line follows:" + kCrLf + std::string(Record));
}

[[noreturn]] void CsvFromBeyondEnd(const TSortFieldSpec& S, std::string_view Value,
                                   std::string_view Record) {
  CsvFromOutside(S, " beyond end of CSV field (enclosed by -><-):", Value, Record);
}

[[noreturn]] void CsvFromBeforeStart(const TSortFieldSpec& S, std::string_view Value,
                                     std::string_view Record) {
  CsvFromOutside(S, " before start of CSV field (enclosed by -><-):", Value, Record);
}

[[noreturn]] void CsvLenBeyondEnd(const TSortFieldSpec& S, std::string_view Value) {
  FatalError("Illegal sort field: From=" + Num(S.FromPos) + ", Len=" + Num(S.Len) +
             ": Len goes beyond end of CSV field: " + kCrLf + std::string(Value));
}

void AppendColumnPart(std::string_view Record, const TSortFieldSpec& S, std::string& Key) {
  const auto n = static_cast<std::int64_t>(Record.size());
  const std::int64_t from = S.FromPos;
  if (from > n) ColumnFromBeyondEnd(S, Record);
  if (from < 1) ColumnFromBeforeStart(S, Record);
  std::int64_t m;
  if (S.Len == 0) {
    m = n - from + 1;
  } else if (from + S.Len - 1 > n) {
    ColumnLenBeyondEnd(S, Record);
  } else {
    m = S.Len < 0 ? 0 : S.Len;
  }
  AppendPart(Record.data() + (from - 1), static_cast<std::size_t>(m), S, Key);
}

}  // namespace

TKeyBuilder::TKeyBuilder(const TSortSpecs& Specs, const TCsvDialect& Csv)
    : SpecsList(&Specs), Csv(Csv), Parser(Csv.Separator, Csv.Quote) {}

void TKeyBuilder::AppendCsvPart(std::string_view Record, const TSortFieldSpec& S,
                                std::string& Key) {
  if (S.CsvField < 1 || static_cast<std::size_t>(S.CsvField) > Fields.size())
    CsvFieldMissing(S, Csv.Separator, Record);
  std::string_view value = Fields[static_cast<std::size_t>(S.CsvField - 1)];
  std::int64_t n = static_cast<std::int64_t>(value.size());
  const std::int64_t from = S.FromPos;
  if (from < 1) CsvFromBeforeStart(S, value, Record);
  // An auto-width key at position 1 takes short values: padding fills them.
  if (!(S.AutoWidth && from == 1) && from > n) CsvFromBeyondEnd(S, value, Record);

  std::int64_t m;
  if (S.AutoWidth) {
    if (S.Len > n) {
      const auto pad = static_cast<std::size_t>(S.Len - n);
      // Numbers are aligned right so that their digits line up.
      if (S.Numeric) {
        PaddedValue.assign(pad, ' ');
        PaddedValue.append(value);
      } else {
        PaddedValue.assign(value);
        PaddedValue.append(pad, ' ');
      }
      value = PaddedValue;
      n = S.Len;
    }
    m = n - from + 1;
    // A field empty in every record leaves the padded value empty.
    if (from > n) CsvFromBeyondEnd(S, value, Record);
  } else {
    if (from + S.Len - 1 > n) CsvLenBeyondEnd(S, value);
    m = S.Len < 0 ? 0 : S.Len;
  }
  AppendPart(value.data() + (from - 1), static_cast<std::size_t>(m), S, Key);
}

const std::vector<std::string_view>& TKeyBuilder::SplitFields(std::string_view Record) {
  Parser.SplitLine(Record, Fields, true, Csv.MaxField);
  return Fields;
}

void TKeyBuilder::Append(std::string_view Record, std::string& Key) {
  const TSortSpecs& specs = *SpecsList;
  if (!Csv.Mode) {
    if (specs.empty()) {
      Key.append(Record);
      return;
    }
    for (const TSortFieldSpec& S : specs) AppendColumnPart(Record, S, Key);
    return;
  }
  try {
    SplitFields(Record);
  } catch (const TCsvError&) {
    CsvSplitFailed(Record);
  }
  if (specs.empty()) {
    Key.append(Record);
    return;
  }
  for (const TSortFieldSpec& S : specs) AppendCsvPart(Record, S, Key);
}

std::string TKeyBuilder::Extract(std::string_view Record) {
  std::string Key;
  Append(Record, Key);
  return Key;
}

bool TKeyBuilder::IsBlank(std::string_view Record) const {
  std::size_t first = 0;
  std::size_t last = Record.size();
  while (first < last && static_cast<unsigned char>(Record[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(Record[last - 1]) <= 32) --last;
  if (first == last) return true;
  if (!Csv.Mode) return false;
  for (std::size_t i = first; i < last; ++i) {
    const char c = Record[i];
    if (c != ' ' && c != Csv.Separator && c != Csv.Quote) return false;
  }
  return true;
}

std::string FoldCase(std::string_view Text) {
  std::string out(Text);
  MapBytes(out.data(), out.size(), FoldTable);
  return out;
}

std::string InvertBytes(std::string_view Text) {
  std::string out(Text);
  MapBytes(out.data(), out.size(), InvertTable);
  return out;
}

std::string NumericKey(std::string_view Text) {
  TSortFieldSpec numeric;
  numeric.Numeric = true;
  std::string out;
  AppendPart(Text.data(), Text.size(), numeric, out);
  return out;
}

std::string Blanks(std::int64_t Count) {
  return Count > 0 ? std::string(static_cast<std::size_t>(Count), ' ') : std::string();
}
