// The CSV pass that measures automatic key widths.
#include <memory>
#include <string>

#include "cmdline/fatal_error.h"
#include "recordfile/read_ahead.h"
#include "sortengine/file_sorter.h"
#include "sortengine/sort_keys.h"

void TQxFileSorter::AnalyzeCsvWidths() {
  const TQxSortParser& options = *SortParser;
  TSortSpecs& specs = SortParser->SortSpecs;
  std::int64_t recordsRead = 0;
  std::int64_t lastReported = 0;
  const std::string crlf = "\r\n";

  DoCallBackStr("CSV: analyzing max. width of columns to be sorted (header lines excluded)...");
  for (std::int64_t i = 0; i < options.HeaderLines; ++i) {
    if (InputFile->EndOfFile()) break;
    InputFile->ReadRecordView();
  }
  // The file is read and split on a thread of its own while this one
  // splits the records into fields.
  std::unique_ptr<TReadAhead> ahead = SortThreads() > 1 ? TReadAhead::Start(*InputFile) : nullptr;
  std::string_view record;
  while (TReadAhead::Next(ahead.get(), *InputFile, record)) {
    ++recordsRead;
    const std::int64_t lineNumber = recordsRead + options.HeaderLines;
    if (options.IgnoreBlank && Keys->IsBlank(record)) continue;
    const std::vector<std::string_view>* fields;
    try {
      fields = &Keys->SplitFields(record);
    } catch (const TCsvError&) {
      FatalError("Error Parsing CSV record: " + CsvErrorText + crlf + "Column " +
                 std::to_string(CsvErrorPos) + " in line " + std::to_string(lineNumber) + ":" +
                 crlf + std::string(record));
    }
    for (TSortFieldSpec& spec : specs) {
      if (!spec.AutoWidth) continue;
      if (spec.CsvField < 1 || static_cast<std::size_t>(spec.CsvField) > fields->size())
        FatalError("not enough fields; field " + std::to_string(spec.CsvField) +
                   " not present in line " + std::to_string(lineNumber) + crlf +
                   std::string(record));
      const auto width =
          static_cast<std::int64_t>((*fields)[static_cast<std::size_t>(spec.CsvField) - 1].size());
      if (width > spec.Len) spec.Len = static_cast<std::int32_t>(width);
    }
    if (OnCallBackStr && recordsRead % 1000 == 0) {
      lastReported = recordsRead;
      DoCallBackStr(std::to_string(recordsRead) + " record(s) analyzed.");
    }
  }
  ahead.reset();
  InputFile->OpenRead();
  if (OnCallBackStr && recordsRead != lastReported)
    DoCallBackStr(std::to_string(recordsRead) + " record(s) analyzed.");
  DoCallBackStr("Analyzing CSV file finished.");
}
