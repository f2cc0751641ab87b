// TQxFileSorter: carries one external sort from the command line to the
// placed output file, and is the single source of its progress lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cmdline/sort_parser.h"
#include "recordfile/text_file.h"
#include "sortengine/callback.h"
#include "sortengine/file_merge.h"
#include "sortengine/run_presort.h"
#include "sortengine/run_store.h"
#include "sortengine/sort_keys.h"

class TQxFileSorter {
 public:
  static constexpr std::int64_t kBufferSize = 32768;

  // Creates the parser, the merge object (run files "$Quarn<n>.tmp") and
  // the lists. Creates no file. Every file operation of the job goes
  // through Env, which must outlive the sorter.
  explicit TQxFileSorter(platform::Env& Env = platform::DefaultEnv());
  // Touches no temporary file; releases the temporary directory.
  ~TQxFileSorter();
  TQxFileSorter(const TQxFileSorter&) = delete;
  TQxFileSorter& operator=(const TQxFileSorter&) = delete;

  std::int32_t Hnd = 0;
  TCallBackStrEvent OnCallBackStr;

  // Sends Text to OnCallBackStr when it is set.
  void DoCallBackStr(const std::string& Text);
  // Writes Line and a line end to standard output.
  void WriteToConsole(const char* Line);

  // Runs one sort job for the TAB-joined command line. Returns when the
  // output file is complete; user errors end the process through
  // FatalError; record-file errors propagate as exceptions.
  void Sort(const std::string& CommandLine);

  // Sorts the collected records by key and writes them as run RunCount;
  // then starts the next run (RunCount + 1, lists empty, MemoryUsed 0).
  void WriteRun();
  // Writes the output file from the header lines and the merged file,
  // dropping duplicates under /D; deletes the merged file. Returns the
  // lines written, header lines included. The output is replaced only by a
  // complete result: the records go to a new file beside it that is then
  // renamed over it (an output that is a device or FIFO is written in
  // place). On failure the output is as it was and the error names the
  // merged file, which still holds the sorted records.
  std::int64_t ProcessLastFile(const std::string& MergedFileName);
  // The CSV pre-pass: widest value of every auto-width key's field, over
  // the records after the header lines. Leaves the input at its first
  // record again.
  void AnalyzeCsvWidths();

  std::unique_ptr<TQxSortParser> SortParser;
  std::unique_ptr<TQxFileMerge> FileMerge;
  std::vector<std::string> HeaderList;
  TRecordKeyList RecordList;  // the records of the current run with their keys
  std::int32_t RunCount = 0;
  std::int64_t MemoryUsed = 0;

 private:
  // The steps of Sort, in order.
  void StartJob(const std::string& CommandLine);
  void OpenInput();
  void ReadRuns();
  void MergeRuns();
  std::int64_t PlaceOutput();  // returns the lines written
  void ReportStatistics(std::int64_t Written);
  void EndJob();

  void CheckKeyLengths();
  // Gives the records read since the last part to the presort helper.
  void HandPart();
  // Sorts the current run. True when it is left in sorted parts (PartStarts)
  // to be written merged; false when it is sorted whole.
  bool SortRun();
  // Sorts the run whole, from the order it was read in, after its parts
  // showed equal keys; later runs are sorted whole from the start.
  void SortRunWhole();
  void ReportRecordsRead(std::int64_t RecordsRead, std::int64_t& LastReported);
  void TakeRecord(std::string_view Record);
  // Refuses, before anything is read, file names that would make the job
  // destroy its own input or output (see the definition).
  void CheckFileNames();
  // True when Name is, or would be, one of the job's temporary files.
  bool IsTempName(const std::string& Name);
  // Takes the temporary directory for this job, waiting while another job
  // holds it. Called before the first temporary file is made.
  void LockTempDirectory();
  // An input that is not a regular file (a pipe or a device) can be read
  // only once: it is copied into a temporary file, whose name is returned.
  std::string CopyStreamInput(const std::string& Name);
  // Moves the merged file to the output (no header lines, no /D).
  void PlaceMergedFile(const std::string& MergedFileName);

  platform::Env* Env;
  std::unique_ptr<platform::DirectoryLock> TempLock;
  std::string InputCopyName;
  std::string MergedFileName;
  // Builds the keys of the job; made once the options are known.
  std::unique_ptr<TKeyBuilder> Keys;
  // Some CSV key has an automatic width: the CSV pass runs.
  bool AnyAutoWidth = false;
  std::int64_t RecordsRead = 0;

  std::unique_ptr<TQxTextFile> InputFile;
  // Writes one run after another with the same buffers.
  std::unique_ptr<TQxTextFile> RunFile;
  std::string KeyScratch;

  // The parts of a run sorted on a helper while the run is read (null when
  // each run is sorted whole: one core, an index that might have to grow,
  // or equal keys seen in a run).
  std::unique_ptr<TRunPresort> Presort;
  std::vector<std::size_t> PartStarts;  // the first entry of each part
  std::size_t PartEnd = 0;              // entries handed out so far
  std::int64_t PartBytes = 0;           // memory charged between two parts
  std::int64_t NextPartAt = 0;          // MemoryUsed at which a part is due
  // Every record is its own key, so records with equal keys are equal.
  bool RecordsAreKeys = false;
  std::int64_t Excluded = 0;
  std::int64_t Blank = 0;
};

// Sorts entries L..R of List by key, in place. The partition scheme fixes
// the order of records with equal keys (the sort is not stable). Up to
// Threads threads share the work, each taking parts of at least Threshold
// entries; the result is the same for any number of threads.
constexpr std::int64_t kParallelSortThreshold = 1 << 12;
void QuickSort(TRecordKeyList& List, std::int64_t L, std::int64_t R, int Threads = 1,
               std::int64_t Threshold = kParallelSortThreshold);

// The threads the machine offers for sorting (at least 1).
int SortThreads();

// Byte copy of Source into Target, created as How says, 32,768 bytes a
// step. Succeeds when every byte arrived and both files closed cleanly;
// Created receives the name of the file made (for a unique sibling, its own
// name), also when the copy failed after creating it.
platform::Status CopyFileContents(platform::Env& Env, const std::string& Source,
                                  const std::string& Target,
                                  platform::CreateMode How = platform::CreateMode::kReplace,
                                  std::string* Created = nullptr);

// Where the output is placed: a link to a regular file is followed, so that
// the file it leads to is replaced and the link stays.
std::string PlacementName(platform::Env& Env, const std::string& Output);

// Count with the user's thousands separator, e.g. 33,554,432.
std::string FormatThousands(std::int64_t Value);
