// Fuzz target of TCsvParser::SplitLine. Input: separator, quotation sign,
// one byte for the field limit and the reuse of the field list, then the
// line. A line without the quotation sign must split like a plain cut at
// every separator; any line must keep the relations between the limited,
// the unlimited and the unwrapping split, and report its errors in the
// documented form; a line with quotation signs is compared with a plain
// field-by-field reading of the dialect. TCsvError is an expected outcome;
// crashes are not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csv/csv_parser.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Show;
using Fields = std::vector<std::string>;

struct Outcome {
  Fields fields;
  bool failed = false;
  std::string message;  // of the TCsvError
  std::string errorText;
  std::int32_t errorPos = 0;

  bool operator==(const Outcome&) const = default;
};

std::string Show(const Outcome& o) {
  std::string out = Show(o.fields);
  if (o.failed) out += " error: " + o.message;
  out += " (\"" + o.errorText + "\" at " + std::to_string(o.errorPos) + ")";
  return out;
}

// Storage holds strings of an earlier split, as the callers' list does.
Outcome Split(TCsvParser& Parser, std::string_view Line, bool UnquoteAfterBlank,
              std::int32_t MaxFields, Fields& Storage) {
  Outcome out;
  try {
    Parser.SplitLine(Line, Storage, UnquoteAfterBlank, MaxFields);
  } catch (const TCsvError& e) {
    out.failed = true;
    out.message = e.what();
  }
  out.fields = Storage;
  out.errorText = CsvErrorText;
  out.errorPos = CsvErrorPos;
  return out;
}

// Cut at every separator; no empty last field; at most MaxFields fields.
Fields PlainSplit(std::string_view Line, char Separator, std::int32_t MaxFields) {
  Fields out;
  std::string current;
  for (char c : Line) {
    if (c == Separator) {
      out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  if (MaxFields >= 0 && out.size() > static_cast<std::size_t>(MaxFields))
    out.resize(static_cast<std::size_t>(MaxFields));
  return out;
}

// Lines with quotation signs, one field at a time: a field that starts with
// the quotation sign runs to the next one, which must be followed by the
// separator or the end of the line; an empty quoted last field adds
// nothing. No limit, no unwrapping.
Outcome QuotedSplit(std::string_view Line, char Separator, char Quote) {
  Outcome out;
  const std::size_t n = Line.size();
  auto fail = [&](std::size_t Pos, bool AtEnd) {
    out.failed = true;
    if (AtEnd) {
      out.message = "Missing closing quote";
      out.errorText = "Quote error";
      out.errorPos = static_cast<std::int32_t>(n);
    } else {
      out.message = "Error in line at position " + std::to_string(Pos + 1);
      out.errorText = "End of quotation sign not followed by separator";
      out.errorPos = static_cast<std::int32_t>(Pos);
    }
    return out;
  };
  std::size_t i = 0;
  while (i < n) {
    if (Line[i] != Quote) {
      const std::size_t end = std::min(Line.find(Separator, i), n);
      out.fields.emplace_back(Line.substr(i, end - i));
      i = end + 1;
      continue;
    }
    const std::size_t close = Line.find(Quote, i + 1);
    if (close == std::string_view::npos) return fail(n, true);
    std::string value(Line.substr(i + 1, close - i - 1));
    if (close + 1 == n) {
      if (!value.empty()) out.fields.push_back(value);
      return out;
    }
    // 1-based position of the byte after the closing quotation sign.
    if (Line[close + 1] != Separator) return fail(close + 2, close + 2 == n);
    out.fields.push_back(value);
    i = close + 2;
  }
  return out;
}

// A field written as blank, quotation sign, value, quotation sign.
std::string Unwrap(const std::string& Field, char Quote) {
  if (Field.size() < 2 || Field[0] != ' ' || Field[1] != Quote || Field.back() != Quote)
    return Field;
  return Field.size() == 2 ? std::string() : Field.substr(2, Field.size() - 3);
}

// Error state and exception agree, in one of the two documented forms.
void CheckErrorReport(const Outcome& o, std::string_view Line, char Quote) {
  const auto length = static_cast<std::int32_t>(Line.size());
  if (!o.failed) {
    FUZZ_CHECK(o.errorText.empty() && o.errorPos == 0, Show(o));
    return;
  }
  FUZZ_CHECK(Line.find(Quote) != std::string_view::npos, Show(Line) + " -> " + Show(o));
  if (o.message == "Missing closing quote") {
    FUZZ_CHECK(o.errorText == "Quote error" && o.errorPos == length, Show(o));
  } else {
    FUZZ_CHECK(o.errorText == "End of quotation sign not followed by separator", Show(o));
    FUZZ_CHECK(o.errorPos >= 1 && o.errorPos < length, Show(o));
    FUZZ_CHECK(o.message == "Error in line at position " + std::to_string(o.errorPos + 1), Show(o));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  fuzz_support::ByteReader in(Data, Size);
  const char separator = static_cast<char>(in.Take());
  const char quote = static_cast<char>(in.Take());
  const std::uint8_t shape = in.Take();
  const std::int32_t maxFields = shape % 10 - 1;  // -1 = no limit
  const std::string_view line = in.Rest();
  // Built only for the report of a failed check.
  auto context = [&] {
    return "separator " + Show(std::string(1, separator)) + " quote " +
           Show(std::string(1, quote)) + " limit " + std::to_string(maxFields) + " line [" +
           Show(line) + "]";
  };

  // One parser for all splits: each must start from a clean state.
  TCsvParser parser(separator, quote);
  Fields storage(shape / 10 % 4, "stale");

  const Outcome whole = Split(parser, line, false, -1, storage);
  CheckErrorReport(whole, line, quote);
  if (line.find(quote) == std::string_view::npos) {
    FUZZ_CHECK(!whole.failed && whole.fields == PlainSplit(line, separator, -1),
               context() + " -> " + Show(whole));
  } else {
    const Outcome expected = QuotedSplit(line, separator, quote);
    FUZZ_CHECK(whole == expected, context() + " -> " + Show(whole) + " expected " + Show(expected));
  }

  // A limit keeps the first fields and hides any fault behind them. The
  // limit is tested after each byte, so limit 0 still takes in the first
  // byte: a separator there completes one empty field.
  const Outcome limited = Split(parser, line, false, maxFields, storage);
  CheckErrorReport(limited, line, quote);
  if (maxFields == 0 && !line.empty()) {
    Outcome expected;
    if (line[0] == separator && line[0] != quote) expected.fields.emplace_back();
    FUZZ_CHECK(limited == expected, context() + " -> " + Show(limited));
  } else if (maxFields >= 0 && whole.fields.size() >= static_cast<std::size_t>(maxFields)) {
    Outcome expected;
    expected.fields.assign(whole.fields.begin(), whole.fields.begin() + maxFields);
    FUZZ_CHECK(limited == expected, context() + " -> " + Show(limited) + " whole " + Show(whole));
  } else {
    FUZZ_CHECK(limited == whole, context() + " -> " + Show(limited) + " whole " + Show(whole));
  }

  // Unwrapping changes field values only, never where fields end.
  Outcome unwrapped = Split(parser, line, true, maxFields, storage);
  Outcome expected = limited;
  for (auto& field : expected.fields) field = Unwrap(field, quote);
  FUZZ_CHECK(unwrapped == expected,
             context() + " -> " + Show(unwrapped) + " expected " + Show(expected));
  return 0;
}
