// The built program's banner, usage screen and example screen, byte for
// byte, with the exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

using testing_support::kBanner;
using testing_support::RunResult;
using testing_support::SplitLines;
using testing_support::TempDir;

const std::string kUsage =
    "Usage: Quarn [sort key][-] ... [option] ... <input file> <output file>\n"
    "Sort keys:\n"
    "/S=F,L string from position F with length L (case sensitive)\n"
    "/C=F,L string from position F with length L (case insensitive)\n"
    "/N=F,L interpreted numeric from position F with length L\n"
    "Notes:\n"
    "1. The complete line is used as sort key if no sort keys are indicated.\n"
    "2. L=0 allowed for last non-numeric key to define a key until EOR.\n"
    "3. An appending minus sign indicates descending sort order.\n"
    "4. Quarn uses the quicksort algorithm (not a stable sort).\n"
    "Sort keys used for CSV files (see option /V below)\n"
    "/SV=I,F,L I-th CSV field string from position F with length L (case sensitive)\n"
    "/CV=I,F,L I-th CSV field string from position F with length L (case insensitive)"
    "/NV=I,F,L I-th CSV field numeric from position F with length L\n"
    "\n"
    "Press <Return> to continue or Ctrl-C to break.\n"
    "Options:\n"
    "/F=n read/write files with fixed-length records (n byte without CR/LF)\n"
    "/B ignore blank or empty records\n"
    "/D ignore records with duplicate keys (according to given sort keys)\n"
    "/D=<file> ignore records with duplicate keys, write them to <file>\n"
    "/Q quiet mode (no progress output)\n"
    "/H=n don't sort n header lines (default: n=0)\n"
    "/W=n n-way-merge of temporary files (2<=n<=5, default: n=5)\n"
    "/T=<path> for temporary files (/T=TMP for Windows temporary file path)\n"
    "/M=n use n KB memory (n >= 1,024 KB = 1 MB; default: 65,536 KB = 64 MB)\n"
    "/X=n,c exclude lines with char c (as char, $<hex>, #<dec>) in column n\n"
    "/V or /V=S,Q for sorting CSV files\n"
    "  If only /V is specified, semicolon is used as separator and the double\n"
    "  quotation mark as quotation sign. Use /V=S,Q to specify a different\n"
    "  separator S and/or quotation sign Q. S, Q must be indicated as\n"
    "  $<hex> or #<decimal> (e.g. default /V=$3B,$22 for semicolon/double\n"
    "  quotation mark. Use $00 for Q if no quotation sign is used.\n"
    "  Indicate sort keys as\n"
    "  /SV=I,F,L or /CV=I,F,L or /NV=I,F,L with:\n"
    "    I for I-th CSV field, F for \"from position\", L for length\n"
    "    L=0 allowed for all keys (auto-aligning of partial keys)\n"
    "Use Quarn /E to show examples.\n";

const std::string kExamples =
    "Example 1: Quarn data.txt data.sor\n"
    "           - sort complete lines of data.txt to data.sor\n"
    "\n"
    "Example 2: Quarn /D=data.dup data.txt data.sor\n"
    "           - like above, but\n"
    "           - write duplicate records (i.e. duplicate lines) to dup.txt\n"
    "\n"
    "Example 3: Quarn /S=1,3 /S=10,5 /D log.txt log.sor\n"
    "           - sort key is made of chars 1-3 concatenated with chars 10-14\n"
    "           - ignore duplicate records (i.e. lines with same sort key)\n"
    "\n"
    "Example 4: Quarn /SV=3,1,0 /V csv.txt csv.sor \n"
    "           - sort CSV file with default (/V, i.e. semicolon/double quote)\n"
    "           - sort key is the 3rd CSV field as string from the beginning (1)\n"
    "           - until end of field (0), i.e. field will be auto-aligned\n";

RunResult RunShell(const std::string& Script, const std::string& Stdin) {
  TempDir work;
  return testing_support::RunShellIn(work.Path().string(), Script, Stdin);
}

RunResult RunQuarn(const std::vector<std::string>& Arguments, const std::string& Stdin = "") {
  TempDir work;
  return testing_support::RunQuarnIn(work.Path().string(), Arguments, Stdin);
}

TEST(Screens, NoArgumentsShowBannerAndTheWholeUsageScreen) {
  RunResult r = RunQuarn({});  // empty stdin: the pause returns at once
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(kBanner + kUsage, r.out);
  EXPECT_EQ("", r.err);

  // The 80-character line and the next one form a single line of the file.
  bool found = false;
  for (const std::string& line : SplitLines(r.out)) {
    if (line.rfind("/CV=I,F,L", 0) != 0) continue;
    found = true;
    EXPECT_EQ(142u, line.size()) << line;
    EXPECT_EQ(80u, line.find("/NV=I,F,L")) << line;
  }
  EXPECT_TRUE(found);
}

TEST(Screens, ExampleScreenReadsNoInput) {
  // The harness and the program share the file position of standard
  // input: what the program does not read is left for the harness.
  RunResult r = RunQuarn({"/E"}, "not for the program\n");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(kBanner + kExamples, r.out);
  EXPECT_EQ("not for the program\n", r.stdinLeft);
  EXPECT_EQ("", r.err);
}

// Byte for byte, each console line ends in the system's line end exactly
// once; on Windows a CR LF inside a message must not come out as CR CR LF.
TEST(Screens, ConsoleLineEndsAreWrittenOnce) {
  const std::string end = platform::ConsoleLineEnd();
  auto console = [&](const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? end : std::string(1, c);
    return out;
  };
  RunResult r = RunQuarn({"/E"});
  EXPECT_EQ(console(kBanner + kExamples), r.rawOut);

  TempDir work;
  testing_support::WriteFile(work.File("in.txt"), "abcdefgh\nab\n");
  r = testing_support::RunQuarnIn(work.Path().string(), {"/Q", "/S=5,3", "in.txt", "out.txt"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(console(kBanner) + "Error: Illegal sort field: From=5 beyond end of line: \r\nab" + end,
            r.rawOut);
}

TEST(Screens, FirstArgumentChoosesTheScreen) {
  struct Case {
    std::vector<std::string> arguments;
    const std::string& screen;
  };
  const Case cases[] = {
      {{"/?"}, kUsage},          {{"-HeLp", "in.txt", "out.txt"}, kUsage},
      {{"e"}, kUsage},  // a piece of HELP
      {{" "}, kUsage},           {{"/e"}, kExamples},
      {{"-E", "/?"}, kExamples},
  };
  for (const Case& c : cases) {
    RunResult r = RunQuarn(c.arguments, "\n");
    EXPECT_EQ(0, r.exitCode) << c.arguments[0];
    EXPECT_EQ(kBanner + c.screen, r.out) << c.arguments[0];
  }
}

TEST(Screens, LostOutputIsAnError) {
  if (!testing_support::HaveShell() || !std::filesystem::exists("/dev/full"))
    GTEST_SKIP() << "needs a POSIX shell and /dev/full";
  RunResult r = RunShell("\"$QUARN\" /E <\"$IN\" >/dev/full 2>\"$ERR\"; echo $? >\"$OUT\"", "");
  EXPECT_EQ("1\n", r.out);
  EXPECT_EQ("Error: cannot write to standard output\n", r.err);
}

}  // namespace
