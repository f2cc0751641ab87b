#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "csv/csv_parser.h"
#include "frontend/console.h"
#include "frontend/driver.h"
#include "recordfile/text_file.h"
#include "sortengine/callback.h"
#include "tests/test_support.h"

namespace {

const char* ScreenName(TRequestedScreen Screen) {
  switch (Screen) {
    case TRequestedScreen::None:
      return "none";
    case TRequestedScreen::Usage:
      return "usage";
    case TRequestedScreen::Examples:
      return "examples";
  }
  return "?";
}

TEST(RequestedScreen, FirstArgumentSelectsTheScreen) {
  struct Case {
    const char* firstArg;
    TRequestedScreen expected;
  };
  const Case cases[] = {
      {"/?", TRequestedScreen::Usage},
      {"-?", TRequestedScreen::Usage},
      {"/help", TRequestedScreen::Usage},
      {"/HELP", TRequestedScreen::Usage},
      {"-hElP", TRequestedScreen::Usage},
      // Any piece of "/? -? /HELP -HELP" counts.
      {"/h", TRequestedScreen::Usage},
      {"?", TRequestedScreen::Usage},
      {"help", TRequestedScreen::Usage},
      {"p", TRequestedScreen::Usage},
      {" ", TRequestedScreen::Usage},
      {"? -", TRequestedScreen::Usage},
      // A lone e is a piece of HELP, and help is tested first.
      {"e", TRequestedScreen::Usage},
      {"/e", TRequestedScreen::Examples},
      {"/E", TRequestedScreen::Examples},
      {"-E", TRequestedScreen::Examples},
      {"-e", TRequestedScreen::Examples},
      {"e -e", TRequestedScreen::Examples},
      // Upper-cased "-E /E" is not in "/E -E /e -e".
      {"-e /e", TRequestedScreen::None},
      {"/H=1", TRequestedScreen::None},
      {"", TRequestedScreen::None},
      {"/help2", TRequestedScreen::None},
      {"/S=1,3", TRequestedScreen::None},
      {"in.txt", TRequestedScreen::None},
      // Only ASCII letters are upper-cased.
      {"\xe9", TRequestedScreen::None},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(ScreenName(c.expected), ScreenName(RequestedScreen({c.firstArg})))
        << "first argument \"" << c.firstArg << "\"";
  }
}

TEST(RequestedScreen, NoArgumentsShowUsageAndOnlyTheFirstArgumentCounts) {
  EXPECT_EQ(TRequestedScreen::Usage, RequestedScreen({}));
  EXPECT_EQ(TRequestedScreen::None, RequestedScreen({"/S=1,3", "/?", "/E"}));
  EXPECT_EQ(TRequestedScreen::Usage, RequestedScreen({"help", "in.txt", "out.txt"}));
  EXPECT_EQ(TRequestedScreen::Examples, RequestedScreen({"/e", "/?"}));
}

TEST(RequestedScreen, HelpAndExampleTestsStandAlone) {
  EXPECT_TRUE(IsHelpRequest("-HeLp"));
  EXPECT_FALSE(IsHelpRequest(""));
  EXPECT_FALSE(IsHelpRequest("/E"));
  EXPECT_TRUE(IsExampleRequest("E"));
  EXPECT_TRUE(IsExampleRequest(" "));
  EXPECT_FALSE(IsExampleRequest(""));
  EXPECT_FALSE(IsExampleRequest("/H=1"));
}

TEST(BuildCommandLine, JoinsWithOneTabAndKeepsSpacesInsideArguments) {
  std::string line = BuildCommandLine({"/S=1,3", "my input.txt", "out.txt"});
  EXPECT_EQ("/S=1,3\tmy input.txt\tout.txt", line);
  EXPECT_EQ(2, std::count(line.begin(), line.end(), '\t'));
}

TEST(BuildCommandLine, EdgesOfTheArgumentList) {
  EXPECT_EQ("", BuildCommandLine({}));
  EXPECT_EQ("only", BuildCommandLine({"only"}));
  // Empty arguments keep their place between the tabs.
  EXPECT_EQ("\t\tb", BuildCommandLine({"", "", "b"}));
}

TEST(FormatElapsedTime, ShowsTimeOfDayOfTheDifference) {
  struct Case {
    double seconds;
    const char* expected;
  };
  const Case cases[] = {
      {0.0, "00:00:00"},
      {0.999, "00:00:00"},
      {59.999, "00:00:59"},
      {61.0, "00:01:01"},
      {3661.5, "01:01:01"},
      {86399.99, "23:59:59"},
      {86400.0, "00:00:00"},
      {25 * 3600.0, "01:00:00"},
      {2 * 86400.0 + 3723.0, "01:02:03"},
      {-5.0, "00:00:00"},
      {std::numeric_limits<double>::quiet_NaN(), "00:00:00"},
      {std::numeric_limits<double>::infinity(), "00:00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, FormatElapsedTime(c.seconds)) << c.seconds << " s";
  }
}

TEST(UnhandledExceptionReport, NamesTheKindOfTheError) {
  struct Case {
    std::exception_ptr error;
    const char* expected;
  };
  const Case cases[] = {
      {std::make_exception_ptr(TQxIOError("Not a text file or line exceeds buffer size")),
       "Unhandled exception (I/O error): Not a text file or line exceeds buffer size"},
      {std::make_exception_ptr(TQxAbort("Negative record length")),
       "Unhandled exception (abort): Negative record length"},
      {std::make_exception_ptr(TCsvError("Quote in unquoted field")),
       "Unhandled exception (error): Quote in unquoted field"},
      {std::make_exception_ptr(std::runtime_error("something else")),
       "Unhandled exception (error): something else"},
      {std::make_exception_ptr(42), "Unhandled exception (error): unknown exception"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, UnhandledExceptionReport(c.error));

  std::string outOfMemory = UnhandledExceptionReport(std::make_exception_ptr(std::bad_alloc()));
  EXPECT_EQ(0u, outOfMemory.rfind("Unhandled exception (error): ", 0)) << outOfMemory;
}

// Stands in for TQxFileSorter: reports one progress line, then ends as
// the test asks; its destructor leaves a trace in the output.
enum class JobEnd { Normally, IOError, Abort, CsvError, OutOfMemory };

struct StandInSorter {
  static inline JobEnd End = JobEnd::Normally;
  static inline std::string LastCommandLine;

  TCallBackStrEvent OnCallBackStr;

  ~StandInSorter() { WriteConsoleLine("sorter destroyed"); }
  void WriteToConsole(const char* Line) { WriteConsoleLine(std::string("console: ") + Line); }
  void Sort(const std::string& CommandLine) {
    LastCommandLine = CommandLine;
    if (OnCallBackStr) OnCallBackStr("Reading...");
    switch (End) {
      case JobEnd::Normally:
        return;
      case JobEnd::IOError:
        throw TQxIOError("Cannot read file \"in.txt\"");
      case JobEnd::Abort:
        throw TQxAbort("bad record length");
      case JobEnd::CsvError:
        throw TCsvError("csv trouble");
      case JobEnd::OutOfMemory:
        throw std::bad_alloc();
    }
  }
};

struct JobResult {
  int exitCode;
  std::string output;
};

JobResult RunStandInJob(JobEnd End, const std::string& CommandLine) {
  StandInSorter::End = End;
  testing::internal::CaptureStdout();
  int exitCode = RunSortJob<StandInSorter>(CommandLine);
  // The system's console line end reads as "\n", so that one expectation
  // serves every system.
  const std::string captured = testing::internal::GetCapturedStdout();
  const std::string lineEnd = platform::ConsoleLineEnd();
  std::string output;
  for (std::size_t at = 0; at < captured.size();) {
    if (captured.compare(at, lineEnd.size(), lineEnd) == 0) {
      output += '\n';
      at += lineEnd.size();
    } else {
      output += captured[at++];
    }
  }
  return {exitCode, output};
}

TEST(RunSortJob, NormalEndPrintsElapsedTimeThenDestroysTheSorter) {
  JobResult result = RunStandInJob(JobEnd::Normally, "/Q\tin.txt\tout.txt");
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("/Q\tin.txt\tout.txt", StandInSorter::LastCommandLine);
  // Progress goes through the sorter's own console writer.
  const std::vector<std::string> lines = testing_support::SplitLines(result.output);
  ASSERT_EQ(lines.size(), 3u) << result.output;
  EXPECT_EQ(lines[0], "console: Reading...");
  EXPECT_TRUE(testing_support::IsElapsedTimeLine(lines[1])) << lines[1];
  EXPECT_EQ(lines[2], "sorter destroyed");
}

TEST(RunSortJob, EscapedExceptionIsReportedAfterTheSorterIsGone) {
  struct Case {
    JobEnd end;
    const char* report;
  };
  const Case cases[] = {
      {JobEnd::IOError, "Unhandled exception (I/O error): Cannot read file \"in.txt\""},
      {JobEnd::Abort, "Unhandled exception (abort): bad record length"},
      {JobEnd::CsvError, "Unhandled exception (error): csv trouble"},
  };
  for (const Case& c : cases) {
    JobResult result = RunStandInJob(c.end, "in.txt\tout.txt");
    EXPECT_EQ(217, result.exitCode) << c.report;
    // No elapsed time; the report comes last.
    EXPECT_EQ(std::string("console: Reading...\nsorter destroyed\n") + c.report + "\n",
              result.output);
  }
}

TEST(RunSortJob, OutOfMemoryEndsWithExitCode217) {
  JobResult result = RunStandInJob(JobEnd::OutOfMemory, "x");
  EXPECT_EQ(217, result.exitCode);
  EXPECT_NE(std::string::npos,
            result.output.find("sorter destroyed\nUnhandled exception (error): "))
      << result.output;
  EXPECT_EQ(std::string::npos, result.output.find("Elapsed time"));
}

}  // namespace
