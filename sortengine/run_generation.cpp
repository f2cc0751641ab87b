// The in-memory sort of a run, the run writer and the last-file pass.
#include <string>
#include <utility>

#include "platform/platform.h"
#include "sortengine/file_sorter.h"
#include "sortengine/sort_keys.h"

void QuickSort(TRecordKeyList& List, std::int64_t L, std::int64_t R) {
  std::vector<TRunEntry>& e = List.GetEntries();
  // Each partition splits [L, R] into [L, J] and [I, R], sorted
  // independently; the smaller side is sorted by recursion and the larger
  // by this loop, so the depth stays logarithmic whatever the input. The
  // order of equal keys depends only on the partition scheme.
  while (L < R) {
    std::int64_t I = L;
    std::int64_t J = R;
    const TRunEntry pivot = e[static_cast<std::size_t>(L + (R - L) / 2)];
    do {
      while (CompareEntries(e[static_cast<std::size_t>(I)], pivot) < 0) ++I;
      while (CompareEntries(e[static_cast<std::size_t>(J)], pivot) > 0) --J;
      if (I <= J) {
        std::swap(e[static_cast<std::size_t>(I)], e[static_cast<std::size_t>(J)]);
        ++I;
        --J;
      }
    } while (I <= J);
    if (J - L < R - I) {
      if (L < J) QuickSort(List, L, J);
      L = I;
    } else {
      if (I < R) QuickSort(List, I, R);
      R = J;
    }
  }
}

void TQxFileSorter::WriteRun() {
  DoCallBackStr("Sorting/Writing to file " + std::to_string(RunCount) + "...");
  QuickSort(RecordList, 0, static_cast<std::int64_t>(RecordList.Count()) - 1);
  {
    TQxTextFile run;
    run.Prepare(FileMerge->TempFileName(RunCount), SortParser->RecordLength, kBufferSize,
                /*ApplyEofMarker=*/false);
    run.OpenWrite(0, false);
    for (const TRunEntry& entry : RecordList.GetEntries()) run.WriteRecord(entry.RecordView());
    run.Close();
  }
  ++RunCount;
  RecordList.Clear();
  MemoryUsed = 0;
}

std::int64_t TQxFileSorter::ProcessLastFile(const std::string& MergedFileName) {
  const TQxSortParser& options = *SortParser;
  DoCallBackStr("Processing last file...");
  TQxTextFile merged;
  merged.Prepare(MergedFileName, options.RecordLength, kBufferSize, /*ApplyEofMarker=*/false);
  merged.OpenRead();
  TQxTextFile output;
  output.Prepare(options.OutputFileName, options.RecordLength, kBufferSize);
  output.OpenWrite(0, false);

  for (const std::string& header : HeaderList) output.WriteRecord(header);
  std::int64_t written = static_cast<std::int64_t>(HeaderList.size());

  if (!options.IgnoreDuplicates) {
    while (!merged.EndOfFile()) {
      output.WriteRecord(merged.ReadRecordView());
      ++written;
    }
  } else {
    std::int64_t duplicates = 0;
    TQxTextFile duplicatesFile;
    const bool keepDuplicates = !options.DuplicatesFileName.empty();
    if (keepDuplicates) {
      duplicatesFile.Prepare(options.DuplicatesFileName, options.RecordLength, kBufferSize);
      duplicatesFile.OpenWrite(0, false);
    }
    TSortSpecs& specs = SortParser->SortSpecs;
    std::string previousKey;
    std::string key;
    if (!merged.EndOfFile()) {
      std::string_view record = merged.ReadRecordView();
      AppendSortKey(record, specs, previousKey);
      output.WriteRecord(record);
      ++written;
    }
    while (!merged.EndOfFile()) {
      std::string_view record = merged.ReadRecordView();
      key.clear();
      AppendSortKey(record, specs, key);
      if (key != previousKey) {
        output.WriteRecord(record);
        previousKey.swap(key);
        ++written;
      } else {
        ++duplicates;
        if (keepDuplicates) duplicatesFile.WriteRecord(record);
      }
    }
    DoCallBackStr(std::to_string(duplicates) + " duplicate record(s) ignored.");
    merged.Close();
    output.Close();
    if (keepDuplicates) duplicatesFile.Close();
  }
  if (merged.IsOpen()) merged.Close();
  if (output.IsOpen()) output.Close();
  platform::DeleteFile(MergedFileName);
  return written;
}
