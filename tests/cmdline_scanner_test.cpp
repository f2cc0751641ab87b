// The argument scanner, the character-code and path routines and the small
// string utilities.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/cmd_parser.h"
#include "cmdline/str_utils.h"
#include "platform/platform.h"
#include "tests/fatal_capture.h"
#include "tests/test_support.h"

namespace {

// Records every dispatched argument as "O:<name>=<value>" or "A:<text>".
class RecordingParser : public TQxCmdParser {
 public:
  void HandleOption(const std::string& Name, const std::string& Value) override {
    Seen.push_back("O:" + Name + "=" + Value);
  }
  void HandleArgument(const std::string& Text) override { Seen.push_back("A:" + Text); }
  std::vector<std::string> Seen;
};

std::string Show(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\t') {
      out += "<TAB>";
    } else if (c < 32) {
      out += '<';
      out += std::to_string(c);
      out += '>';
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TEST(CmdParserScan, SplitsArgumentsAtTabsWithTheQuoteRule) {
  struct Case {
    std::string line;
    std::vector<std::string> seen;
  };
  const Case cases[] = {
      {"", {}},
      {" \t \r\n", {}},
      {"a\t\tb", {"A:a", "A:b"}},
      {"a\t \tb", {"A:a", "A:b"}},
      {" /Q\tx", {"O:Q=", "A:x"}},
      // trailing blanks of an argument stay, except at the very end
      {"a \tb ", {"A:a ", "A:b"}},
      // a quoted argument holds TABs; the byte after the closing quote is
      // the separator
      {"/T=\"c:\\my\tdir\"\tx", {"O:T=\"c:\\my\tdir\"", "A:x"}},
      {"\"a\tb\"", {"A:\"a\tb\""}},
      {"\"a\tb\"c\td", {"A:\"a\tb\"", "A:d"}},  // c is the separator
      // no closing quote: the first TAB still separates
      {"\"a\tb", {"A:\"a", "A:b"}},
      {"a\t\"b\tc\"", {"A:a", "A:\"b\tc\""}},
      // spaces inside an argument are kept
      {"/D=my dup.txt\tin file", {"O:D=my dup.txt", "A:in file"}},
      {"-\t/\tx", {"A:-", "A:/", "A:x"}},
  };
  for (const Case& c : cases) {
    RecordingParser parser;
    parser.Parse(c.line);
    EXPECT_EQ(parser.Seen, c.seen) << "line: " << Show(c.line);
  }
}

TEST(CmdParserScan, NextArgumentLeavesTheRestUntrimmedForTheNextCall) {
  TQxCmdParser parser;
  std::string remaining = "  a\t b \t";
  EXPECT_EQ(parser.NextArgument(remaining), "a");
  EXPECT_EQ(remaining, " b");  // the end was trimmed with the first call
  EXPECT_EQ(parser.NextArgument(remaining), "b");
  EXPECT_EQ(remaining, "");
  EXPECT_EQ(parser.NextArgument(remaining), "");
}

TEST(CmdParserScan, BaseHandlersDoNothing) {
  TQxCmdParser parser;
  parser.Parse("/Q\tx\t/S=1,2");  // must neither fail nor dispatch anywhere
}

TEST(CmdParserSplitOption, Table) {
  struct Case {
    std::string argument;
    bool isOption;
    std::string name;
    std::string valueOrText;
  };
  const Case cases[] = {
      {"/s=1,3", true, "S", "1,3"},
      {"-SV=2,1,0-", true, "SV", "2,1,0-"},
      {"/Q", true, "Q", ""},
      {"/h5", true, "H", "5"},
      {"/=5", true, "", "5"},
      {"/B", true, "B", ""},
      {"/b", true, "B", ""},
      {"-B", true, "B", ""},
      {"/Bxyz", true, "B", "xyz"},
      {"/Dsorted.dup", true, "D", "sorted.dup"},
      {"/D=Sorted.Dup", true, "D", "Sorted.Dup"},
      {"/Quiet", true, "Q", "uiet"},
      {"/cv=1,2,3", true, "CV", "1,2,3"},
      {"/x=a=b", true, "X", "a=b"},
      {"/\xe4=1", true, "\xe4", "1"},  // only a..z are upper-cased
      {"-", false, "", "-"},
      {"/", false, "", "/"},
      {"data.txt", false, "", "data.txt"},
      {"a/b", false, "", "a/b"},
  };
  TQxCmdParser parser;
  for (const Case& c : cases) {
    TQxCmdParser::SplitResult r = parser.SplitOption(c.argument);
    EXPECT_EQ(r.IsOption, c.isOption) << c.argument;
    if (c.isOption) {
      EXPECT_EQ(r.Name, c.name) << c.argument;
      EXPECT_EQ(r.Value, c.valueOrText) << c.argument;
    } else {
      EXPECT_EQ(r.Text, c.valueOrText) << c.argument;
    }
  }
}

TEST(CmdParserSplitOption, LongValueArrivesWhole) {
  const std::string value(300, 'p');
  TQxCmdParser parser;
  TQxCmdParser::SplitResult r = parser.SplitOption("/D=" + value);
  EXPECT_EQ(r.Value, value);
  r = parser.SplitOption("/D" + value);
  EXPECT_EQ(r.Value, value);
}

TEST(ParseCharCode, AcceptedCodes) {
  struct Case {
    std::string text;
    int code;
  };
  const Case cases[] = {
      {"$3B", 59},   {"$22", 34}, {"$00", 0},  {"$", 0},   {"$ff", 255}, {"$F", 15}, {"#9", 9},
      {"#255", 255}, {"#0", 0},   {"#009", 9}, {"x", 'x'}, {";", ';'},   {",", ','}, {"\xff", 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseCharCode("V", c.text), c.code) << c.text;
  }
}

TEST(ParseCharCode, RejectedCodes) {
  const std::string decimal = " (not a valid decimal character code)";
  const std::string hex = " (not a valid hexadecimal character code)";
  const std::string plain = " (not a valid character)";
  struct Case {
    std::string option;
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"X", "#", "Invalid parameter /X" + decimal},
      {"V", "#256", "Invalid parameter /V" + decimal},
      {"V", "#1234", "Invalid parameter /V" + decimal},
      {"V", "#0009", "Invalid parameter /V" + decimal},  // too long, though 9
      {"V", "#-1", "Invalid parameter /V" + decimal},
      {"V", "#9a", "Invalid parameter /V" + decimal},
      {"V", "#9 ", "Invalid parameter /V" + decimal},
      {"V", "$1G", "Invalid parameter /V" + hex},
      {"X", "$100", "Invalid parameter /X" + hex},
      {"V", "$-1", "Invalid parameter /V" + hex},
      {"V", "ab", "Invalid parameter /V" + plain},
      {"X", "", "Invalid parameter /X" + plain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option + " " + c.text);
    EXPECT_FATAL(ParseCharCode(c.option, c.text), c.message);
  }
}

TEST(PathRoutines, TrailingSeparator) {
  const std::string s(1, platform::PathSeparator());
  EXPECT_EQ(AddTrailingBackslash(""), "");
  EXPECT_EQ(AddTrailingBackslash("tmp"), "tmp" + s);
  EXPECT_EQ(AddTrailingBackslash("tmp" + s), "tmp" + s);
  EXPECT_EQ(AddTrailingBackslash(s), s);
  EXPECT_EQ(RemoveTrailingBackslash(""), "");
  EXPECT_EQ(RemoveTrailingBackslash("tmp"), "tmp");
  EXPECT_EQ(RemoveTrailingBackslash("tmp" + s), "tmp");
  EXPECT_EQ(RemoveTrailingBackslash("tmp" + s + s), "tmp" + s);
}

TEST(PathRoutines, DirectoryExists) {
  testing_support::TempDir dir;
  const std::string s(1, platform::PathSeparator());
  const std::string path = dir.Path().string();
  testing_support::WriteFile(dir.File("file.txt"), "x");
  EXPECT_TRUE(DirectoryExists(path));
  EXPECT_TRUE(DirectoryExists(path + s));
  EXPECT_FALSE(DirectoryExists(""));
  EXPECT_FALSE(DirectoryExists(dir.File("file.txt")));
  EXPECT_FALSE(DirectoryExists(dir.File("file.txt") + s));
  EXPECT_FALSE(DirectoryExists(dir.File("missing")));
  EXPECT_FALSE(DirectoryExists(dir.File("missing") + s));
}

TEST(StrUtils, SplitLastWord) {
  struct Case {
    std::string text;
    std::string rest;
    std::string last;
  };
  const Case cases[] = {
      {"a\tb\tc", "a\tb", "c"},     {"a\t\"b c\"", "a", "b c"},
      {"abc", "", "abc"},           {"", "", ""},
      {" \t a\tb \t ", "a", "b"},   {"a \t \tb", "a", "b"},
      {"a\t\"b\tc\"", "a", "b\tc"},  // a quoted last word may hold the delimiter
      {"\"b c\"", "", "b c"},       {"abc\"", "", "abc"},  // closing quote without an opening one
      {"a\t\"\"", "a", ""},         {"a\t b", "a", " b"},  // the last word itself is not trimmed
  };
  for (const Case& c : cases) {
    std::string rest = "junk";
    std::string last = "junk";
    SplitLastWord(c.text, "\t", rest, last);
    EXPECT_EQ(rest, c.rest) << Show(c.text);
    EXPECT_EQ(last, c.last) << Show(c.text);
  }
}

TEST(StrUtils, ReversePos) {
  EXPECT_EQ(ReversePos("\t", "a\tb\tc"), 4u);
  EXPECT_EQ(ReversePos("ab", "abxab"), 4u);
  EXPECT_EQ(ReversePos("a", "a"), 1u);
  EXPECT_EQ(ReversePos("x", "abc"), 0u);
  EXPECT_EQ(ReversePos("abcd", "abc"), 0u);
  EXPECT_EQ(ReversePos("a", ""), 0u);
  EXPECT_EQ(ReversePos("", "abc"), 0u);
}

TEST(StrUtils, HexToInt) {
  EXPECT_EQ(HexToInt(""), 0);
  EXPECT_EQ(HexToInt("3B"), 59);
  EXPECT_EQ(HexToInt("3b"), 59);
  EXPECT_EQ(HexToInt("fF"), 255);
  EXPECT_EQ(HexToInt("7fffffffffffffff"), INT64_MAX);
  EXPECT_EQ(HexToInt("10000000000000000"), std::nullopt);
  EXPECT_EQ(HexToInt("1G"), std::nullopt);
  EXPECT_EQ(HexToInt(" 1"), std::nullopt);
  EXPECT_EQ(HexToInt("-1"), std::nullopt);
}

TEST(StrUtils, StrToInt32) {
  struct Case {
    std::string text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"+42", 42},
      {"-42", -42},
      {"  7", 7},
      {" -7", -7},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"00000000000000000000001", 1},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"-", std::nullopt},
      {"+", std::nullopt},
      {"7 ", std::nullopt},
      {"- 7", std::nullopt},
      {"1.5", std::nullopt},
      {"$10", std::nullopt},
      {"0x10", std::nullopt},
      {"1e3", std::nullopt},
      {"--1", std::nullopt},
      {"\t7", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrToInt32(c.text), c.value) << "'" << c.text << "'";
  }
}

TEST(StrUtils, TrimControlAndUpperAscii) {
  EXPECT_EQ(TrimControl(std::string("\0 \t\x1f"
                                    "a b\x20\r\n",
                                    10)),
            "a b");
  EXPECT_EQ(TrimControl("\x80 x \xff"), "\x80 x \xff");  // high bytes are data
  EXPECT_EQ(TrimControl(" \t "), "");
  EXPECT_EQ(UpperAscii("abz-AZ_\xe4\xff"), "ABZ-AZ_\xe4\xff");
}

}  // namespace
