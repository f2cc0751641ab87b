// TQxSortParser: file names, every option's effect and every message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cmdline/sort_parser.h"
#include "platform/platform.h"
#include "tests/fatal_capture.h"
#include "tests/test_support.h"

namespace {

// The command line as the front end builds it.
std::string Join(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += '\t';
    line += a;
  }
  return line;
}

std::string Show(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) out += "[" + a + "]";
  return out;
}

// Everything Parse produces, so that a case checks that nothing else moved.
struct Settings {
  std::string Input = "in.txt";
  std::string Output = "out.txt";
  std::string Duplicates;
  std::string Temp;
  std::string Keys;  // each part as {I,F,L flags}
  bool IgnoreBlank = false;
  bool IgnoreDuplicates = false;
  std::int64_t HeaderLines = 0;
  std::int64_t RecordLength = 0;
  bool Quiet = false;
  std::int32_t MergeWays = 5;
  std::int64_t MemoryLimit = 33554432;
  bool CsvMode = false;
  std::int32_t ExcludeColumn = -1;
  int ExcludeChar = ' ';
  int Separator = ';';
  int Quote = '"';
  std::int32_t MaxField = -1;

  bool operator==(const Settings&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Settings& s) {
  return os << "in=" << s.Input << " out=" << s.Output << " dup=" << s.Duplicates
            << " temp=" << s.Temp << " keys=" << s.Keys << " B=" << s.IgnoreBlank
            << " D=" << s.IgnoreDuplicates << " H=" << s.HeaderLines << " F=" << s.RecordLength
            << " Q=" << s.Quiet << " W=" << s.MergeWays << " M=" << s.MemoryLimit
            << " csv=" << s.CsvMode << " X=" << s.ExcludeColumn << "," << s.ExcludeChar
            << " V=" << s.Separator << "," << s.Quote << " maxfield=" << s.MaxField;
}

std::string DescribeKeys(const TSortSpecs& specs) {
  std::string out;
  for (const TSortFieldSpec& k : specs) {
    out += "{" + std::to_string(k.CsvField) + "," + std::to_string(k.FromPos) + "," +
           std::to_string(k.Len) + " " + (k.Ascending ? "asc" : "desc") +
           (k.Numeric ? " num" : "") + (k.CaseInsensitive ? " ci" : "") +
           (k.AutoWidth ? " auto" : "") + (k.KeyPart.empty() ? "" : " keypart!") + "}";
  }
  return out;
}

Settings Snapshot(const TQxSortParser& p) {
  Settings s;
  s.Input = p.InputFileName;
  s.Output = p.OutputFileName;
  s.Duplicates = p.DuplicatesFileName;
  s.Temp = p.TempPath;
  s.Keys = DescribeKeys(p.SortSpecs);
  s.IgnoreBlank = p.IgnoreBlank;
  s.IgnoreDuplicates = p.IgnoreDuplicates;
  s.HeaderLines = p.HeaderLines;
  s.RecordLength = p.RecordLength;
  s.Quiet = p.Quiet;
  s.MergeWays = p.MergeWays;
  s.MemoryLimit = p.MemoryLimit;
  s.CsvMode = p.CsvMode;
  s.ExcludeColumn = p.ExcludeColumn;
  s.ExcludeChar = p.ExcludeChar;
  s.Separator = p.CsvSeparator;
  s.Quote = p.CsvQuote;
  s.MaxField = p.MaxCsvField;
  return s;
}

struct AcceptCase {
  std::vector<std::string> args;  // in.txt out.txt are appended unless Whole
  std::function<void(Settings&)> change;
  bool whole = false;
};

void RunAccepted(const std::vector<AcceptCase>& cases) {
  for (const AcceptCase& c : cases) {
    std::vector<std::string> args = c.args;
    if (!c.whole) {
      args.push_back("in.txt");
      args.push_back("out.txt");
    }
    Settings expected;
    c.change(expected);
    TQxSortParser parser;
    testing_support::CaptureFatalErrors capture;
    try {
      parser.Parse(Join(args));
    } catch (const testing_support::FatalErrorRaised& e) {
      ADD_FAILURE() << Show(args) << " failed: " << e.Message;
      continue;
    }
    EXPECT_EQ(Snapshot(parser), expected) << Show(args);
  }
}

TEST(SortParserAccepts, OptionsAndDefaults) {
  const std::string longName(300, 'n');
  RunAccepted({
      {{}, [](Settings&) {}},
      {{"/M=65536"}, [](Settings& s) { s.MemoryLimit = 33554432; }},
      {{"/M=4096"}, [](Settings& s) { s.MemoryLimit = 2097152; }},
      {{"/M=2049"}, [](Settings& s) { s.MemoryLimit = 1049088; }},
      {{"/M=1024"}, [](Settings& s) { s.MemoryLimit = 1048576; }},
      {{"/M=0"}, [](Settings& s) { s.MemoryLimit = 1048576; }},
      {{"/M=-5"}, [](Settings& s) { s.MemoryLimit = 1048576; }},
      {{"/M=-2147483648"}, [](Settings& s) { s.MemoryLimit = 1048576; }},
      {{"/M=4194304"}, [](Settings& s) { s.MemoryLimit = 2147483648LL; }},
      {{"/M=2147483647"}, [](Settings& s) { s.MemoryLimit = 1099511627264LL; }},
      {{"/m= 8192"}, [](Settings& s) { s.MemoryLimit = 4194304; }},
      {{"/W=2"}, [](Settings& s) { s.MergeWays = 2; }},
      {{"/w=5"}, [](Settings& s) { s.MergeWays = 5; }},
      {{"/W=3", "/W=4"}, [](Settings& s) { s.MergeWays = 4; }},
      {{"/H=3"}, [](Settings& s) { s.HeaderLines = 3; }},
      {{"/h-1"}, [](Settings& s) { s.HeaderLines = -1; }},
      {{"/F=80"}, [](Settings& s) { s.RecordLength = 80; }},
      {{"/F=-2147483648"}, [](Settings& s) { s.RecordLength = -2147483648LL; }},
      {{"/B"}, [](Settings& s) { s.IgnoreBlank = true; }},
      {{"-bxyz"}, [](Settings& s) { s.IgnoreBlank = true; }},
      {{"/Q"}, [](Settings& s) { s.Quiet = true; }},
      {{"/Quiet"}, [](Settings& s) { s.Quiet = true; }},
      {{"/D"}, [](Settings& s) { s.IgnoreDuplicates = true; }},
      {{"/Ddup.txt"},
       [](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = "dup.txt";
       }},
      {{"/d=Dup.Txt"},
       [](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = "Dup.Txt";
       }},
      {{"/D=a.dup", "/D"},
       [](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = "a.dup";
       }},
      {{"/D=my dup.txt"},
       [](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = "my dup.txt";
       }},
      {{"/D=" + longName},
       [longName](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = longName;
       }},
      {{"/V=$09,$00"},
       [](Settings& s) {
         s.CsvMode = true;
         s.Separator = '\t';
         s.Quote = 0;
       }},
      {{"/V=;,'"},
       [](Settings& s) {
         s.CsvMode = true;
         s.Quote = '\'';
       }},
      {{"-v=#44,$27"},
       [](Settings& s) {
         s.CsvMode = true;
         s.Separator = ',';
         s.Quote = '\'';
       }},
      {{"/V=$3B"}, [](Settings& s) { s.CsvMode = true; }},
      {{"/V=|"}, [](Settings& s) { s.CsvMode = true; }},  // no comma: no change
      {{"/V"}, [](Settings& s) { s.CsvMode = true; }},
      {{"/V=$09,$00", "/V"},
       [](Settings& s) {
         s.CsvMode = true;
         s.Separator = '\t';
         s.Quote = 0;
       }},
      {{"/X=5,$23"},
       [](Settings& s) {
         s.ExcludeColumn = 5;
         s.ExcludeChar = '#';
       }},
      {{"/x=-3,#9"},
       [](Settings& s) {
         s.ExcludeColumn = -3;
         s.ExcludeChar = '\t';
       }},
      {{"/X=1,,"},
       [](Settings& s) {
         s.ExcludeColumn = 1;
         s.ExcludeChar = ',';
       }},
      // the pre-scan finds /v and a TAB inside another option's value
      {{"/D=x/v"},
       [](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = "x/v";
         s.CsvMode = true;
       }},
      {{"/D=a-V=b"},
       [](Settings& s) {
         s.IgnoreDuplicates = true;
         s.Duplicates = "a-V=b";
         s.CsvMode = true;
       }},
      // plain arguments before the file names are ignored
      {{"stray", "another"}, [](Settings&) {}},
  });
}

TEST(SortParserAccepts, FileNamesAreAlwaysTheLastTwoArguments) {
  RunAccepted({
      {{"in.txt", "out.txt", "/Q"},
       [](Settings& s) {
         s.Input = "out.txt";
         s.Output = "/Q";
       },
       true},
      // an option in a file name's place is a file name, not an option
      {{"/W=9", "in"},
       [](Settings& s) {
         s.Input = "/W=9";
         s.Output = "in";
       },
       true},
      {{"/B", "in file.txt", "\"out\tfile.txt\""},
       [](Settings& s) {
         s.IgnoreBlank = true;
         s.Input = "in file.txt";
         s.Output = "out\tfile.txt";
       },
       true},
      {{"\"in.txt\"", "out.txt"}, [](Settings&) {}, true},
  });
}

TEST(SortParserAccepts, KeyParts) {
  RunAccepted({
      {{"/s=1,3-", "/c=10,5", "/N=20,4", "/S=1,-3", "/S=5,0"},
       [](Settings& s) {
         s.Keys = "{-1,1,3 desc}{-1,10,5 asc ci}{-1,20,4 asc num}{-1,1,-3 asc}{-1,5,0 asc}";
       }},
      {{"/S=1,3", "/S=1,3"}, [](Settings& s) { s.Keys = "{-1,1,3 asc}{-1,1,3 asc}"; }},
      {{"/S= 1, -2-"}, [](Settings& s) { s.Keys = "{-1,1,-2 desc}"; }},
      {{"/SV=2,1,0", "/NV=7,1,4", "/V"},
       [](Settings& s) {
         s.CsvMode = true;
         s.Keys = "{2,1,0 asc}{7,1,4 asc num}";
         s.MaxField = 7;
       }},
      {{"/V", "/cv=3,2,1-", "/SV=1,1,5"},
       [](Settings& s) {
         s.CsvMode = true;
         s.Keys = "{3,2,1 desc ci}{1,1,5 asc}";
         s.MaxField = 3;
       }},
  });
}

// CSV mode is known before the first key, whichever spelling of /V follows.
TEST(SortParserAccepts, CsvKeyBeforeEverySpellingOfV) {
  for (const char* v : {"/V", "-V", "/v", "-v", "/V=;,x", "-V=;,x", "/v=;,x", "-v=;,x"}) {
    const std::string option = v;
    RunAccepted({
        {{"/SV=1,1,2", option},
         [option](Settings& s) {
           s.CsvMode = true;
           s.Keys = "{1,1,2 asc}";
           s.MaxField = 1;
           if (option.size() > 2) s.Quote = 'x';
         }},
    });
  }
}

TEST(SortParser, ParseStartsFromScratchEveryTime) {
  TQxSortParser parser;
  parser.Parse(Join({"/V=$09,$00", "/SV=3,1,2", "/M=4096", "/D=d", "/X=2,x", "/Q", "/B", "/H=2",
                     "/F=9", "/W=2", "a", "b"}));
  ASSERT_EQ(parser.MaxCsvField, 3);
  parser.Parse(Join({"in.txt", "out.txt"}));
  EXPECT_EQ(Snapshot(parser), Settings());
}

TEST(SortParserRejects, EveryMessage) {
  const std::string csvOnly = "Sort field spec not allowed for CSV files.";
  struct Case {
    std::vector<std::string> args;  // in.txt out.txt are appended
    std::string message;
  };
  const Case cases[] = {
      {{"/H=x"}, "Invalid header line count /H="},
      {{"/H="}, "Invalid header line count /H="},
      {{"/H=1.5"}, "Invalid header line count /H="},
      {{"/F=abc"}, "Invalid record length /F="},
      {{"/F=2147483648"}, "Invalid record length /F="},
      {{"/M=x"}, "Invalid memory usage value /M="},
      {{"/M=99999999999"}, "Invalid memory usage value /M="},
      {{"/M"}, "Invalid memory usage value /M="},
      {{"/W=1"}, "Invalid n-way-merge value /W="},
      {{"/W=6"}, "Invalid n-way-merge value /W="},
      {{"/W=9"}, "Invalid n-way-merge value /W="},
      {{"/W=abc"}, "Invalid n-way-merge value /W="},
      {{"/W=-2"}, "Invalid n-way-merge value /W="},
      {{"/X=5"}, "Invalid parameter /X="},
      {{"/X=a,x"}, "Invalid parameter /X="},
      {{"/X=,x"}, "Invalid parameter /X="},
      {{"/X=5,#"}, "Invalid parameter /X (not a valid decimal character code)"},
      {{"/X=5,#256"}, "Invalid parameter /X (not a valid decimal character code)"},
      {{"/X=5,$1G"}, "Invalid parameter /X (not a valid hexadecimal character code)"},
      {{"/X=5,$100"}, "Invalid parameter /X (not a valid hexadecimal character code)"},
      {{"/X=5,ab"}, "Invalid parameter /X (not a valid character)"},
      {{"/X=5,"}, "Invalid parameter /X (not a valid character)"},
      {{"/V=ab,x"}, "Invalid parameter /V (not a valid character)"},
      {{"/V=;,"}, "Invalid parameter /V (not a valid character)"},
      {{"/V=;,#1234"}, "Invalid parameter /V (not a valid decimal character code)"},
      {{"/V=$1G,x"}, "Invalid parameter /V (not a valid hexadecimal character code)"},
      {{"/T="}, "Temporary file path  does not exist"},
      {{"/Z=1"}, "Invalid argument Z"},
      {{"/Z=1", "/V"}, "Invalid argument Z"},
      {{"/=5"}, "Invalid argument "},
      {{"/Z"}, "Invalid column specification for argument Z"},
      {{"/SVX=1,1,1"}, "Invalid argument SVX"},
      {{"/S"}, "Invalid column specification for argument S"},
      {{"/S=1"}, "Invalid column specification for argument S"},
      {{"/c=1"}, "Invalid column specification for argument C"},
      {{"/S=a,3"}, "Invalid \"from column\" specification for argument S"},
      {{"/N=,3"}, "Invalid \"from column\" specification for argument N"},
      {{"/S=1,x"}, "Invalid \"length\" specification for argument S"},
      {{"/S=1,3,4"}, "Invalid \"length\" specification for argument S"},
      {{"/S=1,3--"}, "Invalid \"length\" specification for argument S"},
      {{"/S=1,"}, "Invalid \"length\" specification for argument S"},
      {{"/S=-"}, "Invalid column specification for argument S"},
      {{"/S=1,3", "/V"}, csvOnly},
      {{"/c=1,3", "/V=$09,$00"}, csvOnly},
      {{"-V", "/N=1,3"}, csvOnly},
      {{"/SV=1,1,0"}, "CSV sort key SV used without preceeding /V parameter."},
      {{"/cv=1,1,0"}, "CSV sort key CV used without preceeding /V parameter."},
      {{"/NV=1,1,0"}, "CSV sort key NV used without preceeding /V parameter."},
      // /Vx turns CSV mode on only when it is handled, after this key
      {{"/SV=1,1,0", "/Vx"}, "CSV sort key SV used without preceeding /V parameter."},
      {{"/V", "/SV=x,1,3"}, "Invalid \"I-th\" specification for argument SV"},
      {{"/V", "/SV=2,1"}, "Invalid column specification for argument SV"},
      {{"/V", "/sv=2,1"}, "Invalid column specification for argument SV"},
      {{"/V", "/SV=2"}, "Invalid column specification for argument SV"},
      {{"/V", "/NV=2,x,1"}, "Invalid \"from column\" specification for argument NV"},
      {{"/V", "/CV=2,1,x"}, "Invalid \"length\" specification for argument CV"},
      // the first bad argument wins
      {{"/W=1", "/H=x"}, "Invalid n-way-merge value /W="},
      {{"/S=1,3", "/W=1"}, "Invalid n-way-merge value /W="},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("in.txt");
    args.push_back("out.txt");
    SCOPED_TRACE(Show(args));
    TQxSortParser parser;
    EXPECT_FATAL(parser.Parse(Join(args)), c.message);
  }
}

TEST(SortParserRejects, MissingFileNames) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{}, "No input file indicated"},
      {{"x"}, "No input file indicated"},
      {{"in.txt", "\"\""}, "No output file indicated"},
      // options are checked before the file names
      {{"/W=9", "in.txt", "\"\""}, "Invalid n-way-merge value /W="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Show(c.args));
    TQxSortParser parser;
    EXPECT_FATAL(parser.Parse(Join(c.args)), c.message);
  }
}

class SortParserTempPath : public ::testing::Test {
 protected:
  std::string Sep() const { return std::string(1, platform::PathSeparator()); }
  static std::string Line(const std::string& option) { return Join({option, "in.txt", "out.txt"}); }
  // TempPath after an option that must be accepted.
  std::string Accept(const std::string& option) {
    testing_support::CaptureFatalErrors capture;
    try {
      parser_.Parse(Line(option));
    } catch (const testing_support::FatalErrorRaised& e) {
      ADD_FAILURE() << option << " failed: " << e.Message;
      return "";
    }
    return parser_.TempPath;
  }
  testing_support::TempDir dir_;
  TQxSortParser parser_;
};

TEST_F(SortParserTempPath, ExistingDirectoryGetsATrailingSeparator) {
  const std::string path = dir_.Path().string();
  EXPECT_EQ(Accept("/T=" + path), path + Sep());
  EXPECT_EQ(Accept("/t=" + path + Sep()), path + Sep());
  EXPECT_EQ(Accept("/T=\"" + path + "\""), path + Sep());
}

TEST_F(SortParserTempPath, MissingDirectoryIsNamedWithItsSeparator) {
  const std::string missing = dir_.File("nothere");
  EXPECT_FATAL(parser_.Parse(Line("/T=" + missing)),
               "Temporary file path " + missing + Sep() + " does not exist");
  testing_support::WriteFile(dir_.File("afile"), "x");
  EXPECT_FATAL(parser_.Parse(Line("/T=" + dir_.File("afile"))),
               "Temporary file path " + dir_.File("afile") + Sep() + " does not exist");
}

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value.c_str());
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(name_, value ? value : "");
#else
    if (value) {
      setenv(name_, value, 1);
    } else {
      unsetenv(name_);
    }
#endif
  }
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(SortParserTempPath, TmpUsesTheSystemTemporaryDirectory) {
  if (platform::PathSeparator() != '/') GTEST_SKIP() << "TMPDIR is the POSIX variable";
  const std::string path = dir_.Path().string();
  ScopedEnv tmpdir("TMPDIR", path);
  EXPECT_EQ(Accept("/T=TMP"), path + "/");
  EXPECT_EQ(Accept("/t=tmp"), path + "/");
  EXPECT_EQ(Accept("-T=Tmp"), path + "/");
}

TEST_F(SortParserTempPath, TmpNamingAMissingDirectoryFails) {
  if (platform::PathSeparator() != '/') GTEST_SKIP() << "TMPDIR is the POSIX variable";
  const std::string missing = dir_.File("gone");
  ScopedEnv tmpdir("TMPDIR", missing);
  EXPECT_FATAL(parser_.Parse(Line("/T=TMP")),
               "Temporary file path " + missing + "/ does not exist");
}

}  // namespace
