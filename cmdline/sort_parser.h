// TQxSortParser: the TAB-joined command line into the settings of one sort.
// Every rejected argument ends the process through FatalError; Parse returns
// only when the whole command line was accepted.
#pragma once

#include <cstdint>
#include <string>

#include "cmdline/cmd_parser.h"
#include "cmdline/sort_spec.h"

class TQxSortParser : public TQxCmdParser {
 public:
  static constexpr std::int32_t kMinMergeWays = 2;
  static constexpr std::int32_t kMaxMergeWays = 5;
  static constexpr std::int32_t kDefaultMergeWays = 5;
  static constexpr std::int64_t kDefaultMemoryLimit = 33554432;
  static constexpr std::int64_t kMinMemoryLimit = 1048576;

  // Resets every field, takes the last two
  // arguments as input and output file, then applies the options before
  // them in order. Ends in FatalError on the first bad option, then on a
  // missing input or output name.
  void Parse(const std::string& CommandLine) override;
  void HandleOption(const std::string& Name, const std::string& Value) override;
  // Fills a file name that is still empty; otherwise ignores Text.
  void HandleArgument(const std::string& Text) override;
  // Parses one key option (S, C, N, SV, CV, NV) and appends its part.
  void ParseSortKey(const std::string& Name, const std::string& Value);

  std::string InputFileName;
  std::string OutputFileName;
  std::string DuplicatesFileName;
  std::string TempPath;  // empty, or ending in the path separator
  TSortSpecs SortSpecs;
  bool IgnoreBlank = false;
  bool IgnoreDuplicates = false;
  std::int64_t HeaderLines = 0;
  std::int64_t RecordLength = 0;
  bool Quiet = false;
  std::int32_t MergeWays = kDefaultMergeWays;
  std::int64_t MemoryLimit = kDefaultMemoryLimit;
  bool CsvMode = false;
  unsigned char CsvSeparator = ';';
  unsigned char CsvQuote = '"';   // 0 = none
  std::int32_t MaxCsvField = -1;  // largest CsvField of all keys, -1 = none
  std::int32_t ExcludeColumn = -1;
  unsigned char ExcludeChar = 32;
};
