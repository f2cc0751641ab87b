#include "csv/csv_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

std::string Show(const Fields& f) {
  std::string out;
  for (const auto& s : f) out += "[" + s + "]";
  return out;
}

struct SplitCase {
  std::string line;
  bool unquoteAfterBlank;
  Fields expected;
};

TEST(CsvParser, SplitsLines) {
  const SplitCase cases[] = {
      {"a;b;c", true, {"a", "b", "c"}},
      {"a;;c", true, {"a", "", "c"}},
      {"a;b;", true, {"a", "b"}},
      {";", true, {""}},
      {";;", true, {"", ""}},
      {"", true, {}},
      {"abc", true, {"abc"}},
      {"'a;b';c", true, {"a;b", "c"}},
      {"'';x", true, {"", "x"}},
      {"x;''", true, {"x"}},
      {"x;'y'", true, {"x", "y"}},
      {"''", true, {}},
      {"a'b;c", true, {"a'b", "c"}},
      {"ab'", true, {"ab'"}},
      {" a ; b ", true, {" a ", " b "}},
      // A blank then a quoted value: unwrapped only on request.
      {" 'b c';d", true, {"b c", "d"}},
      {" 'b c';d", false, {" 'b c'", "d"}},
      // Only a quotation sign at the very start protects separators.
      {" 'x;y'", true, {" 'x", "y'"}},
      {" 'x;y'", false, {" 'x", "y'"}},
      // The shortest wrapped forms: nothing left of the value.
      {" ';a", true, {"", "a"}},
      {" '';a", true, {"", "a"}},
      {" ' ;a", true, {" ' ", "a"}},
      {"x; 'y'", true, {"x", "y"}},
  };
  TCsvParser parser(';', '\'');
  for (const auto& c : cases) {
    Fields got{"stale", "stale", "stale", "stale"};
    parser.SplitLine(c.line, got, c.unquoteAfterBlank, -1);
    EXPECT_EQ(Show(got), Show(c.expected))
        << "line: " << c.line << " unquote: " << c.unquoteAfterBlank;
    EXPECT_EQ(CsvErrorText, "") << c.line;
    EXPECT_EQ(CsvErrorPos, 0) << c.line;
  }
}

struct FailCase {
  std::string line;
  std::string errorText;
  std::int32_t errorPos;
  std::string message;
  Fields completed;  // what the list holds after the failure
};

TEST(CsvParser, ReportsMalformedLines) {
  const std::string notFollowed = "End of quotation sign not followed by separator";
  const FailCase cases[] = {
      {"'abc", "Quote error", 4, "Missing closing quote", {}},
      {"'", "Quote error", 1, "Missing closing quote", {}},
      {"x;'ab", "Quote error", 5, "Missing closing quote", {"x"}},
      {"'a'b;c", notFollowed, 4, "Error in line at position 5", {}},
      {"'a''b'", notFollowed, 4, "Error in line at position 5", {}},
      {"x;'a'bc", notFollowed, 6, "Error in line at position 7", {"x"}},
      // The bad character is the last one: reported as a missing quote.
      {"'a'b", "Quote error", 4, "Missing closing quote", {}},
      {"x;''y", "Quote error", 5, "Missing closing quote", {"x"}},
  };
  TCsvParser parser(';', '\'');
  for (const auto& c : cases) {
    Fields got{"stale", "stale", "stale"};
    try {
      parser.SplitLine(c.line, got, true, -1);
      ADD_FAILURE() << "no error for: " << c.line;
    } catch (const TCsvError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.line;
    }
    EXPECT_EQ(CsvErrorText, c.errorText) << c.line;
    EXPECT_EQ(CsvErrorPos, c.errorPos) << c.line;
    EXPECT_EQ(Show(got), Show(c.completed)) << c.line;
  }
}

TEST(CsvParser, FailureLeavesNothingForTheNextLine) {
  TCsvParser parser(';', '\'');
  Fields got;
  EXPECT_THROW(parser.SplitLine("a;'bc", got, true, -1), TCsvError);
  EXPECT_EQ(CsvErrorText, "Quote error");
  // Neither the half-read quoted field nor the error values survive.
  parser.SplitLine("d;e", got, true, -1);
  EXPECT_EQ(Show(got), "[d][e]");
  EXPECT_EQ(CsvErrorText, "");
  EXPECT_EQ(CsvErrorPos, 0);

  EXPECT_THROW(parser.SplitLine("'a'b;c", got, true, -1), TCsvError);
  parser.SplitLine("f", got, true, -1);
  EXPECT_EQ(Show(got), "[f]");
}

TEST(CsvParser, MaxFieldsStopsBeforeTheRest) {
  struct Case {
    std::string line;
    std::int32_t maxFields;
    Fields expected;
  };
  const Case cases[] = {
      {"a;b;'c", 2, {"a", "b"}},  // the open quote behind is never seen
      {"a;b", 2, {"a", "b"}},    {"a;b;c", 1, {"a"}}, {"a;b", 5, {"a", "b"}},
      {"a;'x'y;c", 1, {"a"}},    {"", 1, {}},
  };
  TCsvParser parser(';', '\'');
  for (const auto& c : cases) {
    Fields got;
    parser.SplitLine(c.line, got, true, c.maxFields);
    EXPECT_EQ(Show(got), Show(c.expected)) << c.line << " max " << c.maxFields;
    EXPECT_EQ(CsvErrorText, "") << c.line;
  }
  Fields got;
  EXPECT_THROW(parser.SplitLine("a;b;'c", got, true, -1), TCsvError);
  EXPECT_EQ(Show(got), "[a][b]");
}

TEST(CsvParser, QuoteCharZeroMeansNoQuoting) {
  TCsvParser parser(',', '\0');
  Fields got;
  parser.SplitLine("'a,b',\"c,d\"", got, true, -1);
  EXPECT_EQ(Show(got), "['a][b'][\"c][d\"]");
  // A blank followed by a quotation mark is not unwrapped either.
  parser.SplitLine(" \"x\",y", got, true, -1);
  EXPECT_EQ(Show(got), "[ \"x\"][y]");
  // A byte 0 at the start of a field still opens a quoted field.
  parser.SplitLine(std::string("a,\0b,c\0,d", 9), got, true, -1);
  EXPECT_EQ(Show(got), "[a][b,c][d]");
}

TEST(CsvParser, BytesAbove127AreData) {
  TCsvParser parser(';', '"');
  Fields got;
  parser.SplitLine("\xE9t\xE9;\"\xFF;\x80\"", got, true, -1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "\xE9t\xE9");
  EXPECT_EQ(got[1], "\xFF;\x80");
}

}  // namespace
