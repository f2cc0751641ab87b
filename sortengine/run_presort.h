// TRunPresort: sorts the parts of a run that have been read on a helper
// thread while the rest of the run is still being read. The run is then
// written by merging its sorted parts.
//
// Merging parts gives the order of one sort of the whole run only where no
// two entries have equal keys (or equal keys mean equal records): equal
// keys are ordered by the partition scheme of QuickSort, which depends on
// where the entries stood. The caller checks for that while it writes the
// merged parts and otherwise puts the entries back in the order they were
// read (TRecordKeyList::RestoreReadOrder) and sorts the whole run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "sortengine/run_store.h"

class TRunPresort {
 public:
  // Null when no helper thread can be had.
  static std::unique_ptr<TRunPresort> Start();

  TRunPresort() = default;
  // Waits for the part in hand and stops the helper.
  ~TRunPresort();
  TRunPresort(const TRunPresort&) = delete;
  TRunPresort& operator=(const TRunPresort&) = delete;

  // Sorts Entries[Begin, End) on the helper after the parts handed before.
  // The entries must stay where they are (the index does not move to a
  // larger place while parts are out) and untouched until Wait.
  void Hand(TRunEntry* Entries, std::size_t Begin, std::size_t End);
  // Waits until every part handed is sorted.
  void Wait();

 private:
  void Serve();

  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::pair<TRunEntry*, TRunEntry*>> Parts;
  bool Busy = false;
  bool Stopping = false;
  std::thread Thread;
};

// Calls Take(entry) for the entries of the sorted parts Entries[Starts[i],
// Starts[i + 1]) (the last one up to End) in merged key order, until Take
// returns false.
template <typename Take>
void MergeParts(const TRunEntry* Entries, const std::vector<std::size_t>& Starts, std::size_t End,
                Take&& TakeEntry) {
  struct Head {
    const TRunEntry* At;
    const TRunEntry* Last;
  };
  std::vector<Head> heads;
  for (std::size_t i = 0; i < Starts.size(); ++i) {
    const std::size_t stop = i + 1 < Starts.size() ? Starts[i + 1] : End;
    if (Starts[i] < stop) heads.push_back(Head{Entries + Starts[i], Entries + stop});
  }
  constexpr std::ptrdiff_t kAhead = 8;
  while (!heads.empty()) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < heads.size(); ++i)
      if (CompareEntries(*heads[i].At, *heads[best].At) < 0) best = i;
    Head& head = heads[best];
    if (!TakeEntry(*head.At)) return;
    ++head.At;
    if (head.Last - head.At > kAhead) (head.At + kAhead)->Prefetch();
    if (head.At == head.Last) heads.erase(heads.begin() + static_cast<std::ptrdiff_t>(best));
  }
}

// Sorts Entries[L..R] as QuickSort does.
void SortEntries(TRunEntry* Entries, std::int64_t L, std::int64_t R, int Threads,
                 std::int64_t Threshold);
