#include "sortengine/file_sorter.h"

#include <string>
#include <thread>

#include "cmdline/fatal_error.h"
#include "platform/platform.h"
#include "recordfile/read_ahead.h"
#include "sortengine/sort_keys.h"

namespace {

constexpr std::int64_t kProgressStep = 1000;
constexpr std::int64_t kRecordOverhead = 10;  // charged per record on top of its length

}  // namespace

TQxFileSorter::TQxFileSorter(platform::Env& FileSystem)
    : SortParser(std::make_unique<TQxSortParser>()),
      FileMerge(std::make_unique<TQxFileMerge>(FileSystem)),
      Env(&FileSystem) {
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
  // Passed on at once, so that progress (and a wait for another job) shows
  // also in a pipe or a log file.
  platform::FlushStdout();
}

void TQxFileSorter::ReportRecordsRead(std::int64_t RecordsRead, std::int64_t& LastReported) {
  LastReported = RecordsRead;
  DoCallBackStr(std::to_string(RecordsRead) + " record(s) read.");
}

void TQxFileSorter::TakeRecord(std::string_view Record) {
  const TQxSortParser& options = *SortParser;
  if (options.IgnoreBlank) {
    if (Keys->IsBlank(Record)) {
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
  // The parts out on the helper must be sorted before a full index moves
  // to a larger place.
  if (Presort && RecordList.Full()) Presort->Wait();
  if (options.SortSpecs.empty() && !options.CsvMode) {
    RecordList.AddSelfKeyed(Record);
    return;
  }
  KeyScratch.clear();
  Keys->Append(Record, KeyScratch);
  RecordList.Add(Record, KeyScratch);
}

void TQxFileSorter::Sort(const std::string& CommandLine) {
  StartJob(CommandLine);
  OpenInput();
  ReadRuns();
  MergeRuns();
  const std::int64_t written = PlaceOutput();
  ReportStatistics(written);
  EndJob();
}

void TQxFileSorter::StartJob(const std::string& CommandLine) {
  HeaderList.clear();
  RecordList.Clear();
  MemoryUsed = 0;
  RunCount = 0;
  Excluded = 0;
  Blank = 0;
  RecordsRead = 0;
  InputFile = std::make_unique<TQxTextFile>(*Env);
  InputCopyName.clear();

  SortParser->Parse(CommandLine);
  TQxSortParser& options = *SortParser;
  // The key builder sees the key list in place, so the widths that the CSV
  // pass fills in below reach every key.
  TCsvDialect dialect;
  dialect.Mode = options.CsvMode;
  dialect.Separator = static_cast<char>(options.CsvSeparator);
  dialect.Quote = static_cast<char>(options.CsvQuote);
  dialect.MaxField = options.MaxCsvField;
  Keys = std::make_unique<TKeyBuilder>(options.SortSpecs, dialect);
  CheckKeyLengths();
  // Every record is charged at least kRecordOverhead, which bounds the
  // records of one run; the index is made that large at once (up to a
  // sane size) rather than grown by copying.
  constexpr std::int64_t kMaxReserved = std::int64_t{1} << 24;
  const std::int64_t mostRecords = options.MemoryLimit / kRecordOverhead + 1;
  RecordList.Reserve(
      static_cast<std::size_t>(mostRecords < kMaxReserved ? mostRecords : kMaxReserved));
  // Parts of a run are sorted on a helper while the rest is read.
  constexpr std::int64_t kParts = 4;
  Presort.reset();
  PartStarts.clear();
  PartEnd = 0;
  PartBytes = options.MemoryLimit / kParts;
  NextPartAt = PartBytes;
  RecordsAreKeys = options.SortSpecs.empty() && !options.CsvMode;
  if (SortThreads() > 1 && PartBytes > 0) Presort = TRunPresort::Start();

  FileMerge->TempPath = options.TempPath;
  MergedFileName = options.TempPath + "$Quarn.tmp";
  if (options.Quiet) {
    OnCallBackStr = nullptr;
    FileMerge->OnCallBackStr = nullptr;
  } else {
    FileMerge->OnCallBackStr = OnCallBackStr;
  }
  FileMerge->SetRecLen(options.RecordLength);
  FileMerge->SetThreads(SortThreads());
}

// Length 0 is an automatic width for CSV keys, "to the end" for the last
// column key, and an error anywhere else.
void TQxFileSorter::CheckKeyLengths() {
  TSortSpecs& specs = SortParser->SortSpecs;
  AnyAutoWidth = false;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    TSortFieldSpec& spec = specs[i];
    if (spec.Len != 0) continue;
    if (SortParser->CsvMode) {
      spec.AutoWidth = true;
      AnyAutoWidth = true;
    } else if (i + 1 == specs.size()) {
      if (spec.Numeric) FatalError("length = 0 only valid for last non-nemeric key specification");
    } else {
      FatalError("length = 0 only valid for last non-numeric key specification");
    }
  }
}

void TQxFileSorter::OpenInput() {
  const TQxSortParser& options = *SortParser;
  // A pipe or device is read once, into a temporary copy, because the CSV
  // pass reads the input twice and the record file needs to know where the
  // input ends.
  const platform::FileKind inputKind = Env->Inspect(options.InputFileName).kind;
  if (inputKind == platform::FileKind::kMissing || inputKind == platform::FileKind::kDirectory)
    FatalError("File " + options.InputFileName + " not found");
  CheckFileNames();
  const std::string inputName = inputKind == platform::FileKind::kOther
                                    ? CopyStreamInput(options.InputFileName)
                                    : options.InputFileName;
  InputFile->Prepare(inputName, options.RecordLength, kBufferSize);
  InputFile->OpenRead();
  if (AnyAutoWidth) AnalyzeCsvWidths();
}

void TQxFileSorter::ReadRuns() {
  const TQxSortParser& options = *SortParser;
  DoCallBackStr("Maximum memory used: " + FormatThousands(options.MemoryLimit) + " bytes");
  DoCallBackStr("Reading...");

  // Header lines are kept apart: not filtered, keyed or charged.
  for (std::int64_t i = 0; i < options.HeaderLines; ++i) {
    if (InputFile->EndOfFile()) break;
    HeaderList.emplace_back(InputFile->ReadRecordView());
  }
  RecordsRead = static_cast<std::int64_t>(HeaderList.size());

  std::int64_t lastReported = 0;
  bool noRunYet = true;
  const bool reporting = static_cast<bool>(OnCallBackStr);
  // CSV keys make taking a record cost more than reading it: the input is
  // then read and split on a thread of its own while this one keys, sorts
  // and writes the runs. So it is once the parts of a run are no longer
  // sorted on the helper (keys that repeat), which leaves the second core
  // idle. (While parts are sorted the second core is busy with them, and
  // the copy through the reading thread measured slower.)
  auto startReadAhead = [&]() -> std::unique_ptr<TReadAhead> {
    if (SortThreads() < 2 || (!options.CsvMode && Presort)) return nullptr;
    return TReadAhead::Start(*InputFile);
  };
  std::unique_ptr<TReadAhead> ahead = startReadAhead();
  std::string_view record;
  while (TReadAhead::Next(ahead.get(), *InputFile, record)) {
    ++RecordsRead;
    if (reporting && RecordsRead % kProgressStep == 0) ReportRecordsRead(RecordsRead, lastReported);
    TakeRecord(record);
    MemoryUsed += static_cast<std::int64_t>(record.size()) + kRecordOverhead;
    if (MemoryUsed > options.MemoryLimit) {
      if (reporting && RecordsRead != lastReported) ReportRecordsRead(RecordsRead, lastReported);
      WriteRun();
      noRunYet = false;
      if (!ahead) ahead = startReadAhead();
    } else if (Presort && MemoryUsed >= NextPartAt) {
      HandPart();
    }
  }

  ahead.reset();
  // Closed before anything is deleted or moved, so the output may name the
  // input itself.
  InputFile->Close();
  InputFile.reset();
  if (!InputCopyName.empty()) Env->RemoveFile(InputCopyName);  // a leftover is replaced next time
  if (reporting && RecordsRead != lastReported) ReportRecordsRead(RecordsRead, lastReported);
  // Every job writes at least one run, an empty one when no record was taken.
  if (!RecordList.Empty() || noRunYet) WriteRun();
  Presort.reset();
  RecordList.Release();
  RunFile.reset();
}

void TQxFileSorter::HandPart() {
  const std::size_t count = RecordList.Count();
  if (count > PartEnd) {
    PartStarts.push_back(PartEnd);
    Presort->Hand(RecordList.GetEntries().data(), PartEnd, count);
    PartEnd = count;
  }
  while (NextPartAt <= MemoryUsed) NextPartAt += PartBytes;
}

void TQxFileSorter::MergeRuns() {
  const TQxSortParser& options = *SortParser;
  DoCallBackStr("Begin " + std::to_string(options.MergeWays) + "-way merging files 0-" +
                std::to_string(RunCount - 1) + "...");
  if (!FileMerge->Merge(MergedFileName, options.MergeWays, 0, RunCount - 1, *Keys))
    FatalError("Can't merge temporary files into " + MergedFileName + "\r\n" +
               FileMerge->LastError());
}

// The output is never deleted first: it is replaced in one step by a
// complete file, so that a failure leaves it as it was (and an output that
// is also the input keeps the user's data).
std::int64_t TQxFileSorter::PlaceOutput() {
  const TQxSortParser& options = *SortParser;
  if (options.IgnoreDuplicates || options.HeaderLines != 0) return ProcessLastFile(MergedFileName);
  PlaceMergedFile(MergedFileName);
  return RecordsRead - Excluded - Blank;
}

void TQxFileSorter::ReportStatistics(std::int64_t Written) {
  if (!OnCallBackStr) return;
  if (SortParser->IgnoreBlank) DoCallBackStr(std::to_string(Blank) + " empty record(s) discarded.");
  DoCallBackStr(std::to_string(Written) + " record(s) written.");
}

void TQxFileSorter::EndJob() {
  Keys.reset();
  TempLock.reset();
}

void TQxFileSorter::CheckFileNames() {
  const TQxSortParser& options = *SortParser;
  const std::string& duplicates = options.DuplicatesFileName;
  if (!duplicates.empty()) {
    // Both would be written at once, or the input replaced by the
    // duplicates alone.
    if (platform::SameFile(*Env, duplicates, options.OutputFileName))
      FatalError("Duplicates file " + duplicates + " is the output file");
    if (platform::SameFile(*Env, duplicates, options.InputFileName))
      FatalError("Duplicates file " + duplicates + " is the input file");
  }
  // Temporary files are removed and rewritten freely: a user's file under
  // such a name would be destroyed while it is still needed.
  if (IsTempName(options.InputFileName))
    FatalError("Input file " + options.InputFileName +
               " has the name of a temporary file; rename or move it first");
  if (IsTempName(options.OutputFileName))
    FatalError("Output file " + options.OutputFileName + " has the name of a temporary file");
  if (!duplicates.empty() && IsTempName(duplicates))
    FatalError("Duplicates file " + duplicates + " has the name of a temporary file");
}

bool TQxFileSorter::IsTempName(const std::string& Name) {
  const char separator = platform::PathSeparator();
  const std::string full = Env->FullPath(Name);
  const std::size_t cut = full.rfind(separator);
  const std::string directory = cut == std::string::npos ? "." : full.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? full : full.substr(cut + 1);

  const std::string& prefix = FileMerge->TempPrefix;
  const std::string& extension = FileMerge->TempExt;
  if (base.size() < prefix.size() + extension.size() ||
      base.compare(0, prefix.size(), prefix) != 0 ||
      base.compare(base.size() - extension.size(), extension.size(), extension) != 0)
    return false;
  // "$Quarn.tmp", "$QuarnInput.tmp" or a run number as TempFileName writes it.
  const std::string middle =
      base.substr(prefix.size(), base.size() - prefix.size() - extension.size());
  bool runNumber = !middle.empty() && (middle[0] != '0' || middle.size() == 1);
  for (char c : middle) runNumber = runNumber && c >= '0' && c <= '9';
  if (!middle.empty() && middle != "Input" && !runNumber) return false;

  const std::string& tempPath = SortParser->TempPath;
  return platform::SameFile(*Env, directory, tempPath.empty() ? "." : tempPath);
}

void TQxFileSorter::LockTempDirectory() {
  if (TempLock) return;
  const std::string& tempPath = SortParser->TempPath;
  const std::string shown = Env->FullPath(tempPath.empty() ? "." : tempPath);
  std::string error;
  TempLock = Env->LockDirectory(
      tempPath,
      [&] {
        DoCallBackStr("Waiting for another job using the temporary directory " + shown + "...");
      },
      error);
  if (!TempLock) throw TQxIOError("Cannot lock temporary directory \"" + shown + "\": " + error);
}

std::string TQxFileSorter::CopyStreamInput(const std::string& Name) {
  LockTempDirectory();
  InputCopyName = SortParser->TempPath + FileMerge->TempPrefix + "Input" + FileMerge->TempExt;
  const platform::Status copied =
      CopyFileContents(*Env, Name, InputCopyName, platform::CreateMode::kFresh);
  if (!copied.Ok()) throw TQxIOError(copied.Message());
  return InputCopyName;
}

std::string PlacementName(platform::Env& Env, const std::string& Output) {
  const platform::FileInfo info = Env.Inspect(Output);
  return info.link && info.kind == platform::FileKind::kRegular ? Env.FullPath(Output) : Output;
}

void TQxFileSorter::PlaceMergedFile(const std::string& MergedFileName) {
  const std::string output = PlacementName(*Env, SortParser->OutputFileName);
  bool placed;
  if (Env->Inspect(output).kind == platform::FileKind::kOther) {
    // A device or FIFO is written into, never replaced.
    placed = CopyFileContents(*Env, MergedFileName, output).Ok();
    if (placed) Env->RemoveFile(MergedFileName);
  } else {
    placed = Env->RenameReplacing(MergedFileName, output).Ok();
    if (!placed) {
      // Another file system: a complete copy beside the output takes its
      // place in one step.
      std::string copy;
      placed = CopyFileContents(*Env, MergedFileName, output, platform::CreateMode::kUniqueSibling,
                                &copy)
                   .Ok() &&
               Env->RenameReplacing(copy, output).Ok();
      if (placed)
        Env->RemoveFile(MergedFileName);
      else if (!copy.empty())
        Env->RemoveFile(copy);
    }
  }
  if (!placed)
    FatalError("Can't rename\r\n" + MergedFileName + "\r\nto\r\n" + SortParser->OutputFileName);
}

platform::Status CopyFileContents(platform::Env& Env, const std::string& Source,
                                  const std::string& Target, platform::CreateMode How,
                                  std::string* Created) {
  auto failure = [](const char* what, const std::string& name, const std::string& error) {
    return platform::Status::Failure(std::string(what) + " \"" + name + "\": " + error);
  };
  std::string error;
  std::unique_ptr<platform::File> source = Env.OpenRead(Source, error);
  if (!source) return failure("Cannot open file", Source, error);
  std::unique_ptr<platform::File> target = Env.Create(Target, How, error);
  if (!target) return failure("Cannot create file", Target, error);
  if (Created != nullptr) *Created = target->Name();
  constexpr std::int64_t kStep = 32768;
  std::unique_ptr<char[]> buffer(new char[kStep]);
  for (;;) {
    const std::int64_t got = source->Read(buffer.get(), kStep);
    if (got < 0) return failure("Cannot read file", Source, source->Error());
    if (got == 0) break;
    if (!target->Write(buffer.get(), got))
      return failure("Cannot write file", Target, target->Error());
  }
  if (!source->Close()) return failure("Cannot close file", Source, source->Error());
  if (!target->Close()) return failure("Cannot close file", Target, target->Error());
  return {};
}

int SortThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
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
