#include "frontend/screens.h"

#include <initializer_list>
#include <string>

#include "cmdline/sort_parser.h"
#include "frontend/console.h"
#include "platform/platform.h"

namespace {

void WriteLines(std::initializer_list<const char*> Lines) {
  for (const char* line : Lines) WriteConsoleLine(line);
}

}  // namespace

void ShowUsage() {
  WriteLines({
      "Usage: Quarn [sort key][-] ... [option] ... <input file> <output file>",
      "Sort keys:",
      "/S=F,L string from position F with length L (case sensitive)",
      "/C=F,L string from position F with length L (case insensitive)",
      "/N=F,L interpreted numeric from position F with length L",
      "Notes:",
      "1. The complete line is used as sort key if no sort keys are indicated.",
      "2. L=0 allowed for last non-numeric key to define a key until EOR.",
      "3. An appending minus sign indicates descending sort order.",
      "4. Quarn uses the quicksort algorithm (not a stable sort).",
      "Sort keys used for CSV files (see option /V below)",
      "/SV=I,F,L I-th CSV field string from position F with length L (case sensitive)",
  });
  // Exactly 80 characters and no line end: an 80-column console wraps it
  // by itself, and a line end would leave an empty row.
  WriteConsoleText(
      "/CV=I,F,L I-th CSV field string from position F with length L (case insensitive)");
  WriteLines({
      "/NV=I,F,L I-th CSV field numeric from position F with length L",
      "",
      "Press <Return> to continue or Ctrl-C to break.",
  });
  platform::ReadStdinLine();
  WriteLines({
      "Options:",
      "/F=n read/write files with fixed-length records (n byte without CR/LF)",
      "/B ignore blank or empty records",
      "/D ignore records with duplicate keys (according to given sort keys)",
      "/D=<file> ignore records with duplicate keys, write them to <file>",
      "/Q quiet mode (no progress output)",
      "/H=n don't sort n header lines (default: n=0)",
  });
  WriteConsoleLine(
      "/W=n n-way-merge of temporary files (2<=n<=" + std::to_string(TQxSortParser::kMaxMergeWays) +
      ", default: n=" + std::to_string(TQxSortParser::kDefaultMergeWays) + ")");
  WriteLines({
      "/T=<path> for temporary files (/T=TMP for Windows temporary file path)",
      "/M=n use n KB memory (n >= 1,024 KB = 1 MB; default: 65,536 KB = 64 MB)",
      "/X=n,c exclude lines with char c (as char, $<hex>, #<dec>) in column n",
      "/V or /V=S,Q for sorting CSV files",
      "  If only /V is specified, semicolon is used as separator and the double",
      "  quotation mark as quotation sign. Use /V=S,Q to specify a different",
      "  separator S and/or quotation sign Q. S, Q must be indicated as",
      "  $<hex> or #<decimal> (e.g. default /V=$3B,$22 for semicolon/double",
      "  quotation mark. Use $00 for Q if no quotation sign is used.",
      "  Indicate sort keys as",
      "  /SV=I,F,L or /CV=I,F,L or /NV=I,F,L with:",
      "    I for I-th CSV field, F for \"from position\", L for length",
      "    L=0 allowed for all keys (auto-aligning of partial keys)",
      "Use Quarn /E to show examples.",
  });
}

void ShowExamples() {
  WriteLines({
      "Example 1: Quarn data.txt data.sor",
      "           - sort complete lines of data.txt to data.sor",
      "",
      "Example 2: Quarn /D=data.dup data.txt data.sor",
      "           - like above, but",
      "           - write duplicate records (i.e. duplicate lines) to dup.txt",
      "",
      "Example 3: Quarn /S=1,3 /S=10,5 /D log.txt log.sor",
      "           - sort key is made of chars 1-3 concatenated with chars 10-14",
      "           - ignore duplicate records (i.e. lines with same sort key)",
      "",
      "Example 4: Quarn /SV=3,1,0 /V csv.txt csv.sor ",
      "           - sort CSV file with default (/V, i.e. semicolon/double quote)",
      "           - sort key is the 3rd CSV field as string from the beginning (1)",
      "           - until end of field (0), i.e. field will be auto-aligned",
  });
}
