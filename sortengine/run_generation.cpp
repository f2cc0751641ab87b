// The in-memory sort of a run, the run writer and the last-file pass.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sortengine/file_sorter.h"
#include "sortengine/run_presort.h"
#include "sortengine/sort_keys.h"

namespace {

// The first steps of the partition loop of TSortParts::Sort, taken a block
// at a time: which entries of a block of the left end stop the scan from
// the left (no smaller than the pivot), and which of a block of the right
// end stop the scan from the right (no greater), is found for the whole
// block without a jump per entry, and the stoppers are swapped in pairs in
// the order the loop would pair them. While the two blocks lie apart every
// entry in them still holds what it held when the partition began, so the
// entries end where the loop puts them. Leaves I and J where the loop would
// stand at the top of a round; the loop takes the rest.
void PartitionInBlocks(TRunEntry* e, std::int64_t& I, std::int64_t& J, const TRunEntry& Pivot) {
  constexpr std::int64_t kBlock = 64;
  std::uint8_t left[kBlock];
  std::uint8_t right[kBlock];
  std::int64_t leftCount = 0;
  std::int64_t rightCount = 0;
  std::int64_t leftNext = 0;
  std::int64_t rightNext = 0;
  while (J - I + 1 > 2 * kBlock) {
    if (leftCount == 0) {
      leftNext = 0;
      for (std::int64_t k = 0; k < kBlock; ++k) {
        left[leftCount] = static_cast<std::uint8_t>(k);
        leftCount += CompareEntries(e[static_cast<std::size_t>(I + k)], Pivot) >= 0;
      }
    }
    if (rightCount == 0) {
      rightNext = 0;
      for (std::int64_t k = 0; k < kBlock; ++k) {
        right[rightCount] = static_cast<std::uint8_t>(k);
        rightCount += CompareEntries(e[static_cast<std::size_t>(J - k)], Pivot) <= 0;
      }
    }
    const std::int64_t pairs = leftCount < rightCount ? leftCount : rightCount;
    for (std::int64_t k = 0; k < pairs; ++k)
      std::swap(e[static_cast<std::size_t>(I + left[leftNext + k])],
                e[static_cast<std::size_t>(J - right[rightNext + k])]);
    leftCount -= pairs;
    rightCount -= pairs;
    leftNext += pairs;
    rightNext += pairs;
    // A block whose stoppers are all swapped is passed as the scan passes it.
    if (leftCount == 0) I += kBlock;
    if (rightCount == 0) J -= kBlock;
  }
  // Stoppers not yet paired: the scans stand on the first of them.
  if (leftCount > 0) I += left[leftNext];
  if (rightCount > 0) J -= right[rightNext];
}

// Parts of one sort waiting for a thread. Any thread may take any part:
// the parts are disjoint and each is partitioned the same way wherever it
// runs, so the order that results is the sequential one.
class TSortParts {
 public:
  TSortParts(TRunEntry* Entries, std::int64_t Threshold) : Entries(Entries), Threshold(Threshold) {}

  void Add(std::int64_t L, std::int64_t R) {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      Waiting.emplace_back(L, R);
    }
    Changed.notify_one();
  }

  // Takes parts and sorts them until every part is sorted.
  void Work() {
    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
      Changed.wait(lock, [this] { return !Waiting.empty() || Busy == 0; });
      if (Waiting.empty()) return;
      const auto [l, r] = Waiting.back();
      Waiting.pop_back();
      ++Busy;
      lock.unlock();
      Sort(l, r);
      lock.lock();
      if (--Busy == 0 && Waiting.empty()) Changed.notify_all();
    }
  }

 private:
  // Sorts e[L..R]. Each partition splits [L, R] into [L, J] and [I, R];
  // the smaller side waits for a thread when it is at least Threshold
  // entries, otherwise it is sorted by recursion, and the larger one by
  // this loop, so the depth stays logarithmic whatever the input. The
  // order of equal keys depends only on the partition scheme.
  void Sort(std::int64_t L, std::int64_t R) {
    TRunEntry* e = Entries;
    while (L < R) {
      std::int64_t I = L;
      std::int64_t J = R;
      const TRunEntry pivot = e[static_cast<std::size_t>(L + (R - L) / 2)];
      PartitionInBlocks(e, I, J, pivot);
      do {
        while (CompareEntries(e[static_cast<std::size_t>(I)], pivot) < 0) ++I;
        while (CompareEntries(e[static_cast<std::size_t>(J)], pivot) > 0) --J;
        if (I <= J) {
          std::swap(e[static_cast<std::size_t>(I)], e[static_cast<std::size_t>(J)]);
          ++I;
          --J;
        }
      } while (I <= J);
      const bool leftSmaller = J - L < R - I;
      const std::int64_t smallL = leftSmaller ? L : I;
      const std::int64_t smallR = leftSmaller ? J : R;
      if (leftSmaller)
        L = I;
      else
        R = J;
      if (smallL >= smallR) continue;
      if (Threshold > 0 && smallR - smallL + 1 >= Threshold)
        Add(smallL, smallR);
      else
        Sort(smallL, smallR);
    }
  }

  TRunEntry* Entries;
  const std::int64_t Threshold;  // 0: one thread, no parts handed out
  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<std::pair<std::int64_t, std::int64_t>> Waiting;
  int Busy = 0;
};

}  // namespace

void SortEntries(TRunEntry* Entries, std::int64_t L, std::int64_t R, int Threads,
                 std::int64_t Threshold) {
  if (L >= R) return;
  TSortParts parts(Entries, Threads > 1 ? (Threshold > 1 ? Threshold : 2) : 0);
  parts.Add(L, R);
  std::vector<std::thread> helpers;
  for (int t = 1; t < Threads; ++t) {
    try {
      helpers.emplace_back(&TSortParts::Work, &parts);
    } catch (const std::system_error&) {
      break;  // no thread to be had: the others share the work
    }
  }
  parts.Work();
  for (std::thread& helper : helpers) helper.join();
}

void QuickSort(TRecordKeyList& List, std::int64_t L, std::int64_t R, int Threads,
               std::int64_t Threshold) {
  SortEntries(List.GetEntries().data(), L, R, Threads, Threshold);
}

// Merging sorted parts gives the order of one sort of the whole run when
// no two keys are equal, or when equal keys mean equal records; otherwise
// the entries go back to the order they were read in and the run is sorted
// whole, so that equal keys keep the order of the partition scheme.
bool TQxFileSorter::SortRun() {
  const std::size_t count = RecordList.Count();
  if (!Presort) {
    QuickSort(RecordList, 0, static_cast<std::int64_t>(count) - 1, SortThreads());
    return false;
  }
  Presort->Wait();
  if (count > PartEnd) {
    PartStarts.push_back(PartEnd);
    QuickSort(RecordList, static_cast<std::int64_t>(PartEnd), static_cast<std::int64_t>(count) - 1,
              SortThreads());
    PartEnd = count;
  }
  // One part is a sort of the whole run.
  return PartStarts.size() > 1;
}

void TQxFileSorter::SortRunWhole() {
  RecordList.RestoreReadOrder();
  QuickSort(RecordList, 0, static_cast<std::int64_t>(RecordList.Count()) - 1, SortThreads());
  // The keys of this job repeat: later runs are sorted whole at once.
  Presort.reset();
}

void TQxFileSorter::WriteRun() {
  LockTempDirectory();
  DoCallBackStr("Sorting/Writing to file " + std::to_string(RunCount) + "...");
  bool inParts = SortRun();
  if (!RunFile) RunFile = std::make_unique<TQxTextFile>(*Env);
  TQxTextFile& run = *RunFile;
  try {
    run.Prepare(FileMerge->TempFileName(RunCount), SortParser->RecordLength, kBufferSize,
                /*ApplyEofMarker=*/false);
    run.OpenWrite(0, false, platform::CreateMode::kFresh);
    const std::vector<TRunEntry>& entries = RecordList.GetEntries();
    if (inParts) {
      // The merged parts are the order of one sort of the whole run only
      // while no two keys are equal (or equal keys mean equal records). At
      // the first equal pair the file is begun again, from the run sorted
      // whole.
      const TRunEntry* previous = nullptr;
      MergeParts(entries.data(), PartStarts, entries.size(), [&](const TRunEntry& entry) {
        if (!RecordsAreKeys && previous != nullptr && CompareEntries(*previous, entry) == 0) {
          inParts = false;
          return false;
        }
        previous = &entry;
        run.WriteRecord(entry.RecordView());
        return true;
      });
      if (!inParts) {
        run.Close();
        SortRunWhole();
        run.OpenWrite(0, false, platform::CreateMode::kFresh);
      }
    }
    if (!inParts) {
      // The sorted entries point all over the run's blocks: each record is
      // fetched a few entries ahead, so that its bytes are at hand when
      // their turn comes.
      constexpr std::size_t kAhead = 8;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i + kAhead < entries.size()) entries[i + kAhead].Prefetch();
        run.WriteRecord(entries[i].RecordView());
      }
    }
    run.Close();
  } catch (...) {
    // The run is closed before the failure is reported, as a file of the
    // program's own may have to be deleted then.
    try {
      if (run.IsOpen()) run.Close();
    } catch (const TQxIOError&) {
    }
    throw;
  }
  ++RunCount;
  RecordList.Clear();
  MemoryUsed = 0;
  PartStarts.clear();
  PartEnd = 0;
  NextPartAt = PartBytes;
}

namespace {

// Copies the merged records to Output, dropping duplicates under /D.
// Returns the records written.
std::int64_t CopyMergedRecords(TQxTextFile& Merged, TQxTextFile& Output,
                               const TQxSortParser& Options, TKeyBuilder& Keys,
                               TQxTextFile& DuplicatesFile, std::int64_t& Duplicates) {
  std::int64_t written = 0;
  if (!Options.IgnoreDuplicates) {
    while (!Merged.EndOfFile()) {
      Output.WriteRecord(Merged.ReadRecordView());
      ++written;
    }
    return written;
  }
  const bool keepDuplicates = DuplicatesFile.IsOpen();
  std::string previousKey;
  std::string key;
  if (!Merged.EndOfFile()) {
    std::string_view record = Merged.ReadRecordView();
    Keys.Append(record, previousKey);
    Output.WriteRecord(record);
    ++written;
  }
  while (!Merged.EndOfFile()) {
    std::string_view record = Merged.ReadRecordView();
    key.clear();
    Keys.Append(record, key);
    if (key != previousKey) {
      Output.WriteRecord(record);
      previousKey.swap(key);
      ++written;
    } else {
      ++Duplicates;
      if (keepDuplicates) DuplicatesFile.WriteRecord(record);
    }
  }
  return written;
}

}  // namespace

std::int64_t TQxFileSorter::ProcessLastFile(const std::string& MergedFileName) {
  const TQxSortParser& options = *SortParser;
  DoCallBackStr("Processing last file...");
  TQxTextFile merged(*Env);
  TQxTextFile output(*Env);
  TQxTextFile duplicatesFile(*Env);
  // A device or FIFO is written in place; anything else is replaced by a
  // complete file made beside it.
  const std::string outputName = PlacementName(*Env, options.OutputFileName);
  const bool inPlace = Env->Inspect(outputName).kind == platform::FileKind::kOther;
  std::int64_t written = static_cast<std::int64_t>(HeaderList.size());
  std::int64_t duplicates = 0;
  try {
    merged.Prepare(MergedFileName, options.RecordLength, TQxFile::kBufferSize,
                   /*ApplyEofMarker=*/false);
    merged.ExpectOwnCrLfRecords();
    merged.OpenRead();
    output.Prepare(outputName, options.RecordLength, kBufferSize);
    output.OpenWrite(
        0, false, inPlace ? platform::CreateMode::kReplace : platform::CreateMode::kUniqueSibling);
    for (const std::string& header : HeaderList) output.WriteRecord(header);
    if (options.IgnoreDuplicates && !options.DuplicatesFileName.empty()) {
      duplicatesFile.Prepare(options.DuplicatesFileName, options.RecordLength, kBufferSize);
      duplicatesFile.OpenWrite(0, false);
    }
    written += CopyMergedRecords(merged, output, options, *Keys, duplicatesFile, duplicates);
    merged.Close();
    output.Close();
    if (duplicatesFile.IsOpen()) duplicatesFile.Close();
    if (!inPlace) {
      const platform::Status placed = Env->RenameReplacing(output.CreatedName(), outputName);
      if (!placed.Ok()) throw TQxIOError(placed.Message());
    }
  } catch (const TQxIOError& e) {
    // The output stays as it was; the merged file still holds every
    // sorted record, and the message says where.
    if (!inPlace && !output.CreatedName().empty()) {
      try {
        if (output.IsOpen()) output.Close();
      } catch (const TQxIOError&) {
      }
      Env->RemoveFile(output.CreatedName());
    }
    throw TQxIOError(std::string(e.what()) + "; the sorted records remain in \"" + MergedFileName +
                     "\"");
  }
  if (options.IgnoreDuplicates)
    DoCallBackStr(std::to_string(duplicates) + " duplicate record(s) ignored.");
  Env->RemoveFile(MergedFileName);
  return written;
}
