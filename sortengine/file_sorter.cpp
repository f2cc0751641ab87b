#include "sortengine/file_sorter.h"

#include <string>

#include "cmdline/fatal_error.h"
#include "platform/platform.h"
#include "sortengine/sort_keys.h"

namespace {

// Set by the key check when some CSV key has an automatic width; decides
// whether the CSV pre-pass runs.
bool AnyAutoWidth = false;

constexpr std::int64_t kProgressStep = 1000;
constexpr std::int64_t kRecordOverhead = 10;  // charged per record on top of its length

}  // namespace

TQxFileSorter::TQxFileSorter()
    : SortParser(std::make_unique<TQxSortParser>()), FileMerge(std::make_unique<TQxFileMerge>()) {
  FileMerge->TempPrefix = "$Quarn";
  FileMerge->TempExt = ".tmp";
}

TQxFileSorter::~TQxFileSorter() = default;

void TQxFileSorter::DoCallBackStr(const std::string& Text) {
  if (OnCallBackStr) OnCallBackStr(Text.c_str());
}

void TQxFileSorter::WriteToConsole(const char* Line) {
  std::string text = Line;
  text += platform::ConsoleLineEnd();
  platform::WriteStdout(text.data(), text.size());
}

void TQxFileSorter::ReportRecordsRead(std::int64_t RecordsRead, std::int64_t& LastReported) {
  LastReported = RecordsRead;
  DoCallBackStr(std::to_string(RecordsRead) + " record(s) read.");
}

void TQxFileSorter::TakeRecord(std::string_view Record) {
  const TQxSortParser& options = *SortParser;
  if (options.IgnoreBlank) {
    if (IsBlankRecord(Record)) {
      ++Blank;
      return;
    }
  } else if (options.ExcludeColumn >= 1) {
    const auto column = static_cast<std::size_t>(options.ExcludeColumn);
    if (Record.size() >= column &&
        static_cast<unsigned char>(Record[column - 1]) == options.ExcludeChar) {
      ++Excluded;
      return;
    }
  }
  if (options.SortSpecs.empty() && !CsvMode) {
    RecordList.AddSelfKeyed(Record);
    return;
  }
  KeyScratch.clear();
  AppendSortKey(Record, SortParser->SortSpecs, KeyScratch);
  RecordList.Add(Record, KeyScratch);
}

void TQxFileSorter::Sort(const std::string& CommandLine) {
  // 1. A fresh job.
  HeaderList.clear();
  RecordList.Clear();
  MemoryUsed = 0;
  RunCount = 0;
  Excluded = 0;
  Blank = 0;
  std::int64_t recordsRead = 0;
  std::int64_t lastReported = 0;
  bool noRunYet = true;
  InputFile = std::make_unique<TQxTextFile>();

  // 2. Options.
  SortParser->Parse(CommandLine);
  TQxSortParser& options = *SortParser;

  // 3. CSV state, set up for every job.
  CsvFields.clear();
  CsvParser = std::make_unique<TCsvParser>(static_cast<char>(CsvSeparator), static_cast<char>(CsvQuote));
  CsvMode = options.CsvMode;
  AnyAutoWidth = false;

  // 4. Length 0 is an automatic width for CSV keys, "to the end" for the
  // last column key, and an error anywhere else.
  TSortSpecs& specs = options.SortSpecs;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    TSortFieldSpec& spec = specs[i];
    if (spec.Len != 0) continue;
    if (CsvMode) {
      spec.AutoWidth = true;
      AnyAutoWidth = true;
    } else if (i + 1 == specs.size()) {
      if (spec.Numeric) FatalError("length = 0 only valid for last non-nemeric key specification");
    } else {
      FatalError("length = 0 only valid for last non-numeric key specification");
    }
  }

  // 5-7. The merge object.
  FileMerge->TempPath = options.TempPath;
  const std::string mergedFileName = options.TempPath + "$Quarn.tmp";
  if (options.Quiet) {
    OnCallBackStr = nullptr;
    FileMerge->OnCallBackStr = nullptr;
  } else {
    FileMerge->OnCallBackStr = OnCallBackStr;
  }
  FileMerge->SetRecLen(options.RecordLength);

  // 8-10. The input.
  if (!platform::FileExists(options.InputFileName))
    FatalError("File " + options.InputFileName + " not found");
  InputFile->Prepare(options.InputFileName, options.RecordLength, kBufferSize);
  InputFile->OpenRead();
  if (AnyAutoWidth) AnalyzeCsvWidths();

  // 11-12.
  DoCallBackStr("Maximum memory used: " + FormatThousands(options.MemoryLimit) + " bytes");
  DoCallBackStr("Reading...");

  // 13-14. Header lines are kept apart: not filtered, keyed or charged.
  for (std::int64_t i = 0; i < options.HeaderLines; ++i) {
    if (InputFile->EndOfFile()) break;
    HeaderList.emplace_back(InputFile->ReadRecordView());
  }
  recordsRead = static_cast<std::int64_t>(HeaderList.size());

  // 15. Records into runs.
  const bool reporting = static_cast<bool>(OnCallBackStr);
  while (!InputFile->EndOfFile()) {
    std::string_view record = InputFile->ReadRecordView();
    ++recordsRead;
    if (reporting && recordsRead % kProgressStep == 0) ReportRecordsRead(recordsRead, lastReported);
    TakeRecord(record);
    MemoryUsed += static_cast<std::int64_t>(record.size()) + kRecordOverhead;
    if (MemoryUsed > options.MemoryLimit) {
      if (reporting && recordsRead != lastReported) ReportRecordsRead(recordsRead, lastReported);
      WriteRun();
      noRunYet = false;
    }
  }

  // 16-18. Closed before anything is deleted or moved, so the output may
  // name the input itself.
  InputFile->Close();
  InputFile.reset();
  if (reporting && recordsRead != lastReported) ReportRecordsRead(recordsRead, lastReported);
  if (!RecordList.Empty() || noRunYet) WriteRun();

  // 19-20.
  DoCallBackStr("Begin " + std::to_string(options.MergeWays) + "-way merging files 0-" +
                std::to_string(RunCount - 1) + "...");
  if (!FileMerge->Merge(mergedFileName, options.MergeWays, 0, RunCount - 1, specs))
    FatalError("Can't merge temporary files into " + mergedFileName);

  // 21-22. Final placement.
  if (platform::FileExists(options.OutputFileName)) platform::DeleteFile(options.OutputFileName);
  std::int64_t written;
  if (options.IgnoreDuplicates || options.HeaderLines != 0) {
    written = ProcessLastFile(mergedFileName);
  } else {
    if (!platform::RenameNoReplace(mergedFileName, options.OutputFileName)) {
      if (platform::CopyFileReplace(mergedFileName, options.OutputFileName) ||
          CopyFileContents(mergedFileName, options.OutputFileName)) {
        platform::DeleteFile(mergedFileName);
      } else {
        FatalError("Can't rename\r\n" + mergedFileName + "\r\nto\r\n" + options.OutputFileName);
      }
    }
    written = recordsRead - Excluded - Blank;
  }

  // 23. Statistics.
  if (OnCallBackStr) {
    if (options.IgnoreBlank) DoCallBackStr(std::to_string(Blank) + " empty record(s) discarded.");
    DoCallBackStr(std::to_string(written) + " record(s) written.");
  }

  // 24.
  CsvParser.reset();
  CsvFields.clear();
}

bool CopyFileContents(const std::string& Source, const std::string& Target) {
  platform::File source;
  if (!source.OpenRead(Source)) return false;
  platform::File target;
  if (!target.Create(Target)) return false;
  constexpr std::int64_t kStep = 32768;
  std::unique_ptr<char[]> buffer(new char[kStep]);
  bool ok = true;
  for (;;) {
    std::int64_t got = source.Read(buffer.get(), kStep);
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) break;
    if (!target.Write(buffer.get(), got)) {
      ok = false;
      break;
    }
  }
  if (!source.Close()) ok = false;
  if (!target.Close()) ok = false;
  return ok;
}

std::string FormatThousands(std::int64_t Value) {
  const std::string separator = platform::ThousandsSeparator();
  std::string digits = std::to_string(Value < 0 ? -Value : Value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return Value < 0 ? "-" + out : out;
}
