#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "cmdline/sort_parser.h"
#include "sortengine/sort_keys.h"
#include "tests/fatal_capture.h"

namespace {

const std::string CRLF = "\r\n";

// Key options as the option parser would fill them. Kind is 'S', 'C' or 'N'.
TSortFieldSpec Col(std::int32_t From, std::int32_t Len, char Kind = 'S', bool Ascending = true) {
  TSortFieldSpec s;
  s.FromPos = From;
  s.Len = Len;
  s.Numeric = Kind == 'N';
  s.CaseInsensitive = Kind == 'C';
  s.Ascending = Ascending;
  return s;
}

TSortFieldSpec Csv(std::int32_t Field, std::int32_t From, std::int32_t Len, char Kind = 'S',
                   bool Ascending = true) {
  TSortFieldSpec s = Col(From, Len, Kind, Ascending);
  s.CsvField = Field;
  return s;
}

// An auto-width CSV key after the width pre-pass measured Width.
TSortFieldSpec Auto(std::int32_t Field, std::int32_t From, std::int32_t Width, char Kind = 'S',
                    bool Ascending = true) {
  TSortFieldSpec s = Csv(Field, From, Width, Kind, Ascending);
  s.AutoWidth = true;
  return s;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

class SortKeys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BuildKeyTables(); }

  void SetUp() override { UseColumns(); }
  void TearDown() override { UseColumns(); }

  static void UseColumns() { Dialect = TCsvDialect(); }

  // What the sort job sets up for /V, with the last field a key needs as
  // the option parser computes it.
  static void UseCsv(const TSortSpecs& Specs, unsigned char Separator = ';',
                     unsigned char Quote = '\'') {
    Dialect = TCsvDialect();
    Dialect.Mode = true;
    Dialect.Separator = static_cast<char>(Separator);
    Dialect.Quote = static_cast<char>(Quote);
    for (const auto& s : Specs) Dialect.MaxField = std::max(Dialect.MaxField, s.CsvField);
  }

  // Keys as the job builds them, each with a builder of its own.
  static std::string ExtractSortKey(std::string_view Record, const TSortSpecs& Specs) {
    TKeyBuilder builder(Specs, Dialect);
    return builder.Extract(Record);
  }
  static void AppendSortKey(std::string_view Record, const TSortSpecs& Specs, std::string& Key) {
    TKeyBuilder builder(Specs, Dialect);
    builder.Append(Record, Key);
  }

  static inline TCsvDialect Dialect;

  // Records sorted by their keys; ties keep input order.
  static std::vector<std::string> SortByKey(std::vector<std::string> Records, TSortSpecs& Specs) {
    std::vector<std::pair<std::string, std::string>> keyed;
    for (auto& r : Records) keyed.emplace_back(ExtractSortKey(r, Specs), r);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
      return CompareKeys(a.first, b.first) < 0;
    });
    std::vector<std::string> out;
    for (auto& k : keyed) out.push_back(k.second);
    return out;
  }
};

TEST_F(SortKeys, LayoutJoinsPartsInOrder) {
  TSortSpecs specs{Col(1, 3), Col(10, 5)};
  EXPECT_EQ(ExtractSortKey("abcdefghijklmnop", specs), "abcjklmn");
  // Exactly long enough.
  EXPECT_EQ(ExtractSortKey("ABCdefghiJKLMN", specs), "ABCJKLMN");

  // Len 0 runs to the end of the record; at the last byte it is one byte.
  TSortSpecs toEnd{Col(2, 1), Col(4, 0)};
  EXPECT_EQ(ExtractSortKey("abcdefg", toEnd), "bdefg");
  EXPECT_EQ(ExtractSortKey("abcd", toEnd), "bd");

  // Appends without clearing.
  std::string key = "xy";
  AppendSortKey("abcdefghijklmn", specs, key);
  EXPECT_EQ(key, "xyabcjklmn");
}

TEST_F(SortKeys, NoSpecificationKeysTheWholeRecord) {
  TSortSpecs none;
  EXPECT_EQ(ExtractSortKey(std::string("a\0\xFF b", 5), none), std::string("a\0\xFF b", 5));
  EXPECT_EQ(ExtractSortKey("", none), "");
  EXPECT_LT(CompareKeys(ExtractSortKey("ab", none), ExtractSortKey("abc", none)), 0);

  // CSV mode: still the whole record, but a malformed one is reported.
  UseCsv(none);
  EXPECT_EQ(ExtractSortKey("b;a", none), "b;a");
  EXPECT_FATAL(ExtractSortKey("'x", none),
               "Error Parsing CSV record: Quote error" + CRLF + "Column 2 in line:" + CRLF + "'x");
}

struct ErrorCase {
  const char* label;
  bool csv;
  std::string record;
  TSortSpecs specs;
  std::string message;
};

TEST_F(SortKeys, BadRecordsStopWithExactMessages) {
  const std::string notFollowed = "End of quotation sign not followed by separator";
  const std::string beyondCsv = " beyond end of CSV field (enclosed by -><-):" + CRLF + "->";
  const std::string beforeCsv = " before start of CSV field (enclosed by -><-):" + CRLF + "->";
  const std::string follows = "<-" + CRLF + "Line follows:" + CRLF;
  const std::vector<ErrorCase> cases = {
      {"1: From beyond end",
       false,
       "abc",
       {Col(4, 1)},
       "Illegal sort field: From=4 beyond end of line: " + CRLF + "abc"},
      {"1: empty record",
       false,
       "",
       {Col(1, 1)},
       "Illegal sort field: From=1 beyond end of line: " + CRLF},
      {"1: Len 0 one past the end",
       false,
       "abc",
       {Col(4, 0)},
       "Illegal sort field: From=4 beyond end of line: " + CRLF + "abc"},
      {"1: negative Len does not skip the From check",
       false,
       "abc",
       {Col(5, -1)},
       "Illegal sort field: From=5 beyond end of line: " + CRLF + "abc"},
      {"1: in the second key",
       false,
       "abcdef",
       {Col(1, 2), Col(7, 1)},
       "Illegal sort field: From=7 beyond end of line: " + CRLF + "abcdef"},
      {"2: one byte short",
       false,
       "abcd",
       {Col(3, 3)},
       "Illegal sort field: Len=3 beyond end of line: " + CRLF + "abcd"},
      {"2: no overflow",
       false,
       "abc",
       {Col(2, INT_MAX)},
       "Illegal sort field: Len=2147483647 beyond end of line: " + CRLF + "abc"},
      {"3: text after closing quote",
       true,
       "'a'b;c",
       {Csv(2, 1, 1)},
       "Error Parsing CSV record: " + notFollowed + CRLF + "Column 4 in line:" + CRLF + "'a'b;c"},
      {"3: open quote",
       true,
       "x;'ab",
       {Csv(2, 1, 1)},
       "Error Parsing CSV record: Quote error" + CRLF + "Column 5 in line:" + CRLF + "x;'ab"},
      {"4: too few fields",
       true,
       "a;b;c",
       {Csv(4, 1, 2)},
       "4-th CSV field separated with comma char #59 doesn't exist in line:" + CRLF + "a;b;c"},
      {"4: trailing separator has no empty field",
       true,
       "a;b;",
       {Csv(3, 1, 1)},
       "3-th CSV field separated with comma char #59 doesn't exist in line:" + CRLF + "a;b;"},
      {"4: empty record has no field",
       true,
       "",
       {Csv(1, 1, 1)},
       "1-th CSV field separated with comma char #59 doesn't exist in line:" + CRLF},
      {"4: field number 0",
       true,
       "a;b",
       {Csv(0, 1, 1)},
       "0-th CSV field separated with comma char #59 doesn't exist in line:" + CRLF + "a;b"},
      {"5: From beyond value",
       true,
       "ab;c",
       {Csv(1, 3, 1)},
       "Illegal sort field: From=3" + beyondCsv + "ab" + follows + "ab;c"},
      {"5: auto width at 2, one-byte value",
       true,
       "x;z",
       {Auto(1, 2, 3)},
       "Illegal sort field: From=2" + beyondCsv + "x" + follows + "x;z"},
      {"5: auto width at 1, field empty everywhere",
       true,
       "a;;c",
       {Auto(2, 1, 0)},
       "Illegal sort field: From=1" + beyondCsv + follows + "a;;c"},
      {"6: Len beyond value",
       true,
       "abc;d",
       {Csv(1, 2, 3)},
       "Illegal sort field: From=2, Len=3: Len goes beyond end of CSV field: " + CRLF + "abc"},
      {"6: no overflow",
       true,
       "abc;d",
       {Csv(1, 2, INT_MAX)},
       "Illegal sort field: From=2, Len=2147483647: Len goes beyond end of CSV field: " + CRLF +
           "abc"},
      // From below 1 never reads in front of the record or value.
      {"column From 0",
       false,
       "abc",
       {Col(0, 2)},
       "Illegal sort field: From=0 before start of line: " + CRLF + "abc"},
      {"column From 0, Len 0",
       false,
       "abc",
       {Col(0, 0)},
       "Illegal sort field: From=0 before start of line: " + CRLF + "abc"},
      {"column From 0, empty record",
       false,
       "",
       {Col(0, 1)},
       "Illegal sort field: From=0 before start of line: " + CRLF},
      {"column From negative, negative Len",
       false,
       "abc",
       {Col(-3, -1)},
       "Illegal sort field: From=-3 before start of line: " + CRLF + "abc"},
      {"column extremes",
       false,
       "abc",
       {Col(INT_MIN, INT_MAX)},
       "Illegal sort field: From=-2147483648 before start of line: " + CRLF + "abc"},
      {"CSV From 0",
       true,
       "abc;d",
       {Csv(1, 0, 2)},
       "Illegal sort field: From=0" + beforeCsv + "abc" + follows + "abc;d"},
      {"CSV From 0, auto width",
       true,
       "ab;d",
       {Auto(1, 0, 5)},
       "Illegal sort field: From=0" + beforeCsv + "ab" + follows + "ab;d"},
      {"CSV From negative, empty value",
       true,
       ";d",
       {Auto(1, -1, 0, 'N')},
       "Illegal sort field: From=-1" + beforeCsv + follows + ";d"},
      {"CSV extremes",
       true,
       "abc;d",
       {Csv(2, INT_MIN, INT_MAX)},
       "Illegal sort field: From=-2147483648" + beforeCsv + "d" + follows + "abc;d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.csv) {
      UseCsv(c.specs);
    } else {
      UseColumns();
    }
    TSortSpecs specs = c.specs;
    EXPECT_FATAL(ExtractSortKey(c.record, specs), c.message);
  }
}

TEST_F(SortKeys, SeparatorCodeInMessageIsDecimal) {
  TSortSpecs specs{Csv(2, 1, 1)};
  UseCsv(specs, '\t', '"');
  EXPECT_FATAL(ExtractSortKey("a", specs),
               "2-th CSV field separated with comma char #9 doesn't exist in line:" + CRLF + "a");
  UseCsv(specs, 0xA7, '"');
  EXPECT_FATAL(ExtractSortKey("a", specs),
               "2-th CSV field separated with comma char #167 doesn't exist in line:" + CRLF + "a");
}

TEST_F(SortKeys, NumericOrder) {
  const std::vector<std::string> ordered = {"  -5", "  -1", "  -0", "   0", "   3", "  12", "+100"};
  std::vector<std::string> shuffled = {"   3", "+100", "  -0", "  -5", "   0", "  12", "  -1"};

  TSortSpecs ascending{Col(1, 4, 'N')};
  EXPECT_EQ(SortByKey(shuffled, ascending), ordered);
  EXPECT_EQ(ExtractSortKey("  -5", ascending).size(), 5u);  // sign byte + 4

  TSortSpecs descending{Col(1, 4, 'N', false)};
  std::vector<std::string> reversed(ordered.rbegin(), ordered.rend());
  EXPECT_EQ(SortByKey(shuffled, descending), reversed);

  // Descending is the byte inverse of ascending, sign byte included.
  for (const auto& r : ordered)
    EXPECT_EQ(ExtractSortKey(r, descending), InvertBytes(ExtractSortKey(r, ascending))) << r;
}

TEST_F(SortKeys, NumericRewriting) {
  struct Case {
    std::string text;
    std::string key;
  };
  const Case cases[] = {
      {"", "\xFF"},
      {" +12",
       "\xFF"
       "0012"},
      {"1.5",
       "\xFF"
       "1.5"},
      // A minus anywhere makes the number negative; its digits are inverted.
      {"12-", std::string(1, '\0') + InvertBytes("120")},
      {"2012-03", std::string(1, '\0') + InvertBytes("2012003")},
      {" -7", std::string(1, '\0') + InvertBytes("007")},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(NumericKey(c.text)), Hex(c.key)) << c.text;

  // 12- sorts with the negatives.
  TSortSpecs specs{Col(1, 3, 'N')};
  EXPECT_EQ(SortByKey({"  5", "12-", " -1"}, specs),
            (std::vector<std::string>{"12-", " -1", "  5"}));
}

TEST_F(SortKeys, CaseInsensitiveKeys) {
  TSortSpecs folded{Col(1, 3, 'C')};
  EXPECT_EQ(ExtractSortKey("abc", folded), "ABC");
  EXPECT_EQ(ExtractSortKey("aBc", folded), ExtractSortKey("ABC", folded));

  TSortSpecs exact{Col(1, 3)};
  EXPECT_EQ(SortByKey({"abc", "ABC"}, exact), (std::vector<std::string>{"ABC", "abc"}));

  // Descending and case-insensitive, column and CSV alike.
  TSortSpecs colDesc{Col(1, 3, 'C', false)};
  TSortSpecs csvDesc{Csv(2, 1, 3, 'C', false)};
  struct Mode {
    const char* label;
    bool csv;
    TSortSpecs* specs;
    std::string prefix;
  };
  const Mode modes[] = {{"column", false, &colDesc, ""}, {"CSV", true, &csvDesc, "x;"}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.label);
    if (m.csv) {
      UseCsv(*m.specs);
    } else {
      UseColumns();
    }
    auto key = [&](const std::string& v) { return ExtractSortKey(m.prefix + v, *m.specs); };
    EXPECT_EQ(key("abc"), key("ABC"));
    EXPECT_LT(CompareKeys(key("abd"), key("abc")), 0);
    EXPECT_LT(CompareKeys(key("ABC"), key("abb")), 0);
  }
}

TEST_F(SortKeys, Tables) {
  EXPECT_EQ(FoldTable[static_cast<unsigned char>('a')], 'A');
  EXPECT_EQ(FoldTable[static_cast<unsigned char>('z')], 'Z');
  EXPECT_EQ(FoldTable[static_cast<unsigned char>('{')], '{');
  EXPECT_EQ(FoldTable[0xE9], 0xC9);
  EXPECT_EQ(FoldTable[0xF7], 0xF7);
  EXPECT_EQ(FoldTable[0xFF], 0x9F);
  EXPECT_EQ(Hex(FoldCase("\xE9\xF7\xFF"
                         "a1")),
            Hex("\xC9\xF7\x9F"
                "A1"));
  EXPECT_EQ(Hex(InvertBytes(std::string("\0\x01\x80\xFF", 4))),
            Hex(std::string("\xFF\xFE\x7F\0", 4)));
  for (int b = 0; b < 256; ++b) ASSERT_EQ(InvertTable[b], 255 - b) << b;

  // Folded first, then inverted: 0xFF -> 0x9F -> 0x60.
  TSortSpecs specs{Col(1, 2, 'C', false)};
  EXPECT_EQ(Hex(ExtractSortKey(std::string("\0\xFF", 2), specs)), Hex("\xFF\x60"));

  EXPECT_EQ(Blanks(3), "   ");
  EXPECT_EQ(Blanks(0), "");
  EXPECT_EQ(Blanks(-2), "");
}

TEST_F(SortKeys, CsvKeysCutFromFieldValues) {
  TSortSpecs specs{Csv(3, 2, 2), Csv(1, 1, 1, 'N')};
  UseCsv(specs);
  // Quoted values are unwrapped, also after a blank.
  EXPECT_EQ(ExtractSortKey("7;x; 'abc'", specs),
            "bc\xFF"
            "7");
  EXPECT_EQ(ExtractSortKey("-;x;'q;rs'", specs), std::string(";r") + '\0' + InvertBytes("0"));
  // Only fields up to the highest one used are split: the defect behind
  // field 3 goes unnoticed.
  EXPECT_EQ(ExtractSortKey("1;x;abc;'u'v;w", specs),
            "bc\xFF"
            "1");

  // The fields of a longer record do not linger for a shorter one.
  EXPECT_FATAL(
      ExtractSortKey("1;x", specs),
      "3-th CSV field separated with comma char #59 doesn't exist in line:" + CRLF + "1;x");
}

TEST_F(SortKeys, AutoWidthPadsToTheMeasuredWidth) {
  // Numbers are padded in front, so their digits line up.
  TSortSpecs numeric{Auto(2, 1, 3, 'N')};
  UseCsv(numeric);
  EXPECT_EQ(ExtractSortKey("a;5", numeric),
            "\xFF"
            "005");
  EXPECT_EQ(SortByKey({"a;100", "b;5", "c;12"}, numeric),
            (std::vector<std::string>{"b;5", "c;12", "a;100"}));

  // Strings are padded behind.
  TSortSpecs text{Auto(2, 1, 2)};
  UseCsv(text);
  EXPECT_EQ(ExtractSortKey("x;b", text), "b ");
  EXPECT_EQ(SortByKey({"1;b", "2;ab"}, text), (std::vector<std::string>{"2;ab", "1;b"}));

  // At position 1 an empty value becomes blanks and sorts before letters.
  EXPECT_EQ(ExtractSortKey("x;;y", text), "  ");
  EXPECT_EQ(SortByKey({"1;a;", "2;;z"}, text), (std::vector<std::string>{"2;;z", "1;a;"}));

  // Further in, the part starts inside the padded value.
  TSortSpecs inner{Auto(1, 2, 3, 'N'), Auto(2, 2, 3)};
  UseCsv(inner);
  EXPECT_EQ(ExtractSortKey("12;ab", inner),
            "\xFF"
            "12"
            "b ");

  // Descending auto-width: padding is inverted with the value.
  TSortSpecs desc{Auto(1, 1, 3, 'S', false)};
  UseCsv(desc);
  EXPECT_EQ(Hex(ExtractSortKey("a", desc)), Hex(InvertBytes("a  ")));
}

TEST_F(SortKeys, NegativeLenGivesAnEmptyPart) {
  TSortSpecs column{Col(2, -3), Col(1, 1)};
  EXPECT_EQ(ExtractSortKey("abc", column), "a");
  TSortSpecs numeric{Col(3, -1, 'N')};
  EXPECT_EQ(Hex(ExtractSortKey("abc", numeric)), Hex("\xFF"));
  TSortSpecs numericDesc{Col(3, -1, 'N', false)};
  EXPECT_EQ(Hex(ExtractSortKey("abc", numericDesc)), Hex(std::string(1, '\0')));
  TSortSpecs extreme{Col(3, INT_MIN)};
  EXPECT_EQ(ExtractSortKey("abc", extreme), "");

  TSortSpecs csv{Csv(1, 2, -5), Csv(2, 1, 1)};
  UseCsv(csv);
  EXPECT_EQ(ExtractSortKey("ab;c", csv), "c");
}

}  // namespace
