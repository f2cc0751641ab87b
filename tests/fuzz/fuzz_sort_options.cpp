// Fuzz target of TQxSortParser::Parse. The input is the TAB-joined command
// line as the driver builds it. FatalError is turned into an exception, so
// a rejected command line is an outcome like any other. Checked: what an
// accepted command line leaves behind stays within the parser's limits, and
// Parse depends on nothing but its argument (a parser left over from
// earlier command lines gives the same outcome as a fresh one).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cmdline/cmd_parser.h"
#include "cmdline/sort_parser.h"
#include "cmdline/str_utils.h"
#include "platform/platform.h"
#include "tests/fatal_capture.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Show;

// Everything Parse leaves behind, as one comparable text; or the message of
// the fatal error that stopped it.
struct Outcome {
  bool fatal = false;
  std::string text;
};

std::string Describe(const TQxSortParser& p) {
  std::string out = "in [" + Show(p.InputFileName) + "] out [" + Show(p.OutputFileName) +
                    "] dups [" + Show(p.DuplicatesFileName) + "] temp [" + Show(p.TempPath) + "]";
  for (const TSortFieldSpec& s : p.SortSpecs) {
    out += " key(" + std::to_string(s.CsvField) + "," + std::to_string(s.FromPos) + "," +
           std::to_string(s.Len) + (s.Ascending ? "" : ",desc") + (s.Numeric ? ",num" : "") +
           (s.CaseInsensitive ? ",ci" : "") + (s.AutoWidth ? ",auto" : "") + " [" +
           Show(s.KeyPart) + "])";
  }
  out += " blank " + std::to_string(p.IgnoreBlank) + " dup " + std::to_string(p.IgnoreDuplicates) +
         " header " + std::to_string(p.HeaderLines) + " reclen " + std::to_string(p.RecordLength) +
         " quiet " + std::to_string(p.Quiet) + " ways " + std::to_string(p.MergeWays) + " memory " +
         std::to_string(p.MemoryLimit) + " csv " + std::to_string(p.CsvMode) + " exclude " +
         std::to_string(p.ExcludeColumn) + "," + std::to_string(p.ExcludeChar) + " separator " +
         std::to_string(p.CsvSeparator) + " quote " + std::to_string(p.CsvQuote) + " maxfield " +
         std::to_string(p.MaxCsvField);
  return out;
}

Outcome Run(TQxSortParser& Parser, const std::string& CommandLine) {
  Outcome out;
  try {
    Parser.Parse(CommandLine);
  } catch (const testing_support::FatalErrorRaised& e) {
    out.fatal = true;
    out.text = e.Message;
    return out;
  }
  out.text = Describe(Parser);
  return out;
}

// Leaves every field away from its default: the first
// command line is accepted, the second fails after most options applied.
void Dirty(TQxSortParser& Parser) {
  Run(Parser,
      "/V=$09,$27\t/SV=3,2,1-\t/NV=7,1,4\t/D=dups.txt\t/H=3\t/F=12\t/Q\t/W=2\t/M=4096\t"
      "/X=2,#35\t/B\t/T=TMP\tfirst.txt\tsecond.txt");
  Run(Parser, "/V=$2C,$00\t/CV=9,1,1\t/Dd\t/H=-1\t/F=7\t/Q\t/M=-3\t/X=0,a\t/W=9\tin\tout");
  Parser.CsvSeparator = 'x';
  Parser.CsvQuote = 'y';
  Parser.MaxCsvField = 1234;
}

// What the parser guarantees about an accepted command line.
void CheckAccepted(const TQxSortParser& p, const std::string& CommandLine) {
  auto seen = [&] { return "command line [" + Show(CommandLine) + "] -> " + Describe(p); };

  // The last two words are the file names; a missing one fails instead.
  std::string rest, options, input, output;
  SplitLastWord(CommandLine, "\t", rest, output);
  SplitLastWord(rest, "\t", options, input);
  FUZZ_CHECK(!p.InputFileName.empty() && !p.OutputFileName.empty(), seen());
  if (!input.empty()) FUZZ_CHECK(p.InputFileName == input, seen());
  if (!output.empty()) FUZZ_CHECK(p.OutputFileName == output, seen());
  if (!p.DuplicatesFileName.empty()) FUZZ_CHECK(p.IgnoreDuplicates, seen());

  FUZZ_CHECK(
      p.MergeWays >= TQxSortParser::kMinMergeWays && p.MergeWays <= TQxSortParser::kMaxMergeWays,
      seen());
  // Half of n KB for a 32-bit n, never below the minimum.
  FUZZ_CHECK(p.MemoryLimit >= TQxSortParser::kMinMemoryLimit && p.MemoryLimit % 512 == 0 &&
                 p.MemoryLimit <= std::int64_t{INT32_MAX} * 512,
             seen());
  FUZZ_CHECK(p.HeaderLines >= INT32_MIN && p.HeaderLines <= INT32_MAX, seen());
  FUZZ_CHECK(p.RecordLength >= INT32_MIN && p.RecordLength <= INT32_MAX, seen());
  if (!p.TempPath.empty()) {
    FUZZ_CHECK(p.TempPath.back() == platform::PathSeparator() && DirectoryExists(p.TempPath),
               seen());
  }

  // CSV mode is known before the first key, from a scan of the options.
  const std::string scan = options + '\t';
  for (const char* marker : {"/V\t", "-V\t", "/v\t", "-v\t", "/V=", "-V=", "/v=", "-v="}) {
    if (scan.find(marker) != std::string::npos) FUZZ_CHECK(p.CsvMode, seen());
  }
  if (!p.CsvMode) {
    // No /V was applied: the characters keep their defaults, keys are columns.
    FUZZ_CHECK(p.CsvSeparator == ';' && p.CsvQuote == '"', seen());
    for (const TSortFieldSpec& s : p.SortSpecs) FUZZ_CHECK(s.CsvField == -1, seen());
  }
  std::int32_t maxField = -1;
  for (const TSortFieldSpec& s : p.SortSpecs) {
    maxField = std::max(maxField, s.CsvField);
    FUZZ_CHECK(!(s.Numeric && s.CaseInsensitive) && !s.AutoWidth && s.KeyPart.empty(), seen());
  }
  FUZZ_CHECK(p.MaxCsvField == maxField, seen());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // For the whole process: every FatalError becomes FatalErrorRaised.
  SetFatalErrorHandler(&testing_support::ThrowFatalError);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string commandLine(reinterpret_cast<const char*>(Data), Size);

  TQxSortParser fresh;
  const Outcome first = Run(fresh, commandLine);
  if (first.fatal) {
    FUZZ_CHECK(!first.text.empty(), "command line [" + Show(commandLine) + "]");
  } else {
    CheckAccepted(fresh, commandLine);
  }

  TQxSortParser reused;
  Dirty(reused);
  const Outcome second = Run(reused, commandLine);
  FUZZ_CHECK(second.fatal == first.fatal && second.text == first.text,
             "command line [" + Show(commandLine) + "]\n fresh: " + Show(first.text) +
                 "\n after others: " + Show(second.text));
  return 0;
}
