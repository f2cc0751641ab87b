#include "cmdline/sort_parser.h"

#include <optional>

#include "cmdline/fatal_error.h"
#include "cmdline/str_utils.h"
#include "platform/platform.h"

namespace {

// The option's value as a 32-bit integer, or FatalError(Message).
std::int32_t IntegerOrFail(const std::string& Value, const std::string& Message) {
  std::optional<std::int32_t> n = StrToInt32(Value);
  if (!n) FatalError(Message);
  return *n;
}

}  // namespace

void TQxSortParser::Parse(const std::string& CommandLine) {
  InputFileName.clear();
  OutputFileName.clear();
  DuplicatesFileName.clear();
  TempPath.clear();
  SortSpecs.clear();
  IgnoreBlank = false;
  IgnoreDuplicates = false;
  HeaderLines = 0;
  RecordLength = 0;
  Quiet = false;
  MergeWays = kDefaultMergeWays;
  MemoryLimit = kDefaultMemoryLimit;
  CsvMode = false;
  ExcludeColumn = -1;
  ExcludeChar = 32;

  // The last two arguments are the file names, whatever they look like.
  std::string rest;
  std::string options;
  SplitLastWord(CommandLine, "\t", rest, OutputFileName);
  SplitLastWord(rest, "\t", options, InputFileName);

  MaxCsvField = -1;
  CsvSeparator = ';';
  CsvQuote = '"';

  // CSV mode is known before the first key option, so /V may follow keys.
  const std::string scan = options + '\t';
  CsvMode = false;
  for (const char* marker : {"/V\t", "-V\t", "/v\t", "-v\t", "/V=", "-V=", "/v=", "-v="}) {
    if (scan.find(marker) != std::string::npos) {
      CsvMode = true;
      break;
    }
  }

  TQxCmdParser::Parse(options);

  if (InputFileName.empty()) FatalError("No input file indicated");
  if (OutputFileName.empty()) FatalError("No output file indicated");
}

void TQxSortParser::HandleArgument(const std::string& Text) {
  if (InputFileName.empty()) {
    InputFileName = Text;
  } else if (OutputFileName.empty()) {
    OutputFileName = Text;
  }
}

void TQxSortParser::HandleOption(const std::string& Name, const std::string& Value) {
  if (Name == "B") {
    IgnoreBlank = true;
  } else if (Name == "V") {
    std::size_t comma = Value.find(',');
    if (comma != std::string::npos) {
      CsvSeparator = ParseCharCode("V", Value.substr(0, comma));
      CsvQuote = ParseCharCode("V", Value.substr(comma + 1));
    }
    CsvMode = true;
  } else if (Name == "D") {
    IgnoreDuplicates = true;
    if (!Value.empty()) DuplicatesFileName = Value;
  } else if (Name == "H") {
    HeaderLines = IntegerOrFail(Value, "Invalid header line count /H=");
  } else if (Name == "F") {
    RecordLength = IntegerOrFail(Value, "Invalid record length /F=");
  } else if (Name == "T") {
    if (UpperAscii(Value) == "TMP") {
      // A failed query keeps an earlier /T; only an empty result is fatal.
      std::string system = platform::TempDirectory();
      if (!system.empty()) TempPath = system;
      if (TempPath.empty()) FatalError("Can't determine Windows temporary file path");
    } else if (!Value.empty() && Value[0] == '"') {
      // The last byte goes whatever it is: the closing quote, normally.
      TempPath = AddTrailingBackslash(Value.size() >= 2 ? Value.substr(1, Value.size() - 2)
                                                        : std::string());
    } else {
      TempPath = AddTrailingBackslash(Value);
    }
    if (!DirectoryExists(TempPath)) {
      FatalError("Temporary file path " + TempPath + " does not exist");
    }
  } else if (Name == "Q") {
    Quiet = true;
  } else if (Name == "M") {
    std::int32_t n = IntegerOrFail(Value, "Invalid memory usage value /M=");
    // Half of n KB; 64 bits, since n * 512 overflows 32 bits from n = 4194304.
    MemoryLimit = static_cast<std::int64_t>(n) * 1024 / 2;
    if (MemoryLimit < kMinMemoryLimit) MemoryLimit = kMinMemoryLimit;
  } else if (Name == "W") {
    const char* message = "Invalid n-way-merge value /W=";
    std::int32_t n = IntegerOrFail(Value, message);
    if (n < kMinMergeWays || n > kMaxMergeWays) FatalError(message);
    MergeWays = n;
  } else if (Name == "X") {
    const char* message = "Invalid parameter /X=";
    std::size_t comma = Value.find(',');
    if (comma == std::string::npos) FatalError(message);
    ExcludeColumn = IntegerOrFail(Value.substr(0, comma), message);
    ExcludeChar = ParseCharCode("X", Value.substr(comma + 1));
  } else {
    ParseSortKey(Name, Value);
  }
}

void TQxSortParser::ParseSortKey(const std::string& Name, const std::string& Value) {
  const std::string columnMessage = "Invalid column specification for argument " + Name;
  if (Value.empty()) FatalError(columnMessage);

  TSortFieldSpec spec;
  if (Name == "S" || Name == "C" || Name == "N") {
    if (CsvMode) FatalError("Sort field spec not allowed for CSV files.");
  } else if (Name == "SV" || Name == "CV" || Name == "NV") {
    if (!CsvMode) FatalError("CSV sort key " + Name + " used without preceeding /V parameter.");
  } else {
    FatalError("Invalid argument " + Name);
  }
  spec.Numeric = Name[0] == 'N';
  spec.CaseInsensitive = Name[0] == 'C';

  std::string rest = Value;
  spec.Ascending = rest.back() != '-';
  if (!spec.Ascending) rest.pop_back();

  // Column keys are refused in CSV mode and CSV keys outside it, so here
  // CSV mode means a key of the I,F,L form.
  spec.CsvField = -1;
  if (CsvMode) {
    std::size_t comma = rest.find(',');
    if (comma == std::string::npos) FatalError(columnMessage);
    spec.CsvField =
        IntegerOrFail(rest.substr(0, comma), "Invalid \"I-th\" specification for argument " + Name);
    rest.erase(0, comma + 1);
  }

  std::size_t comma = rest.find(',');
  if (comma == std::string::npos) FatalError(columnMessage);
  spec.FromPos = IntegerOrFail(rest.substr(0, comma),
                               "Invalid \"from column\" specification for argument " + Name);
  rest.erase(0, comma + 1);

  spec.Len = IntegerOrFail(rest, "Invalid \"length\" specification for argument " + Name);

  SortSpecs.push_back(spec);
  if (spec.CsvField > MaxCsvField) MaxCsvField = spec.CsvField;
}
