#include "sortengine/file_merge.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "sortengine/run_store.h"
#include "sortengine/sort_keys.h"

TQxFileMerge::TQxFileMerge(platform::Env& Env) : Env(&Env) { NewStepFiles(); }

TQxFileMerge::~TQxFileMerge() = default;

TQxFileMerge::TStepFiles& TQxFileMerge::NewStepFiles() {
  StepFiles.push_back(std::make_unique<TStepFiles>());
  TStepFiles& set = *StepFiles.back();
  for (TQxFile& file : set.Files) {
    file.Env = Env;
    file.RecLen = RecLen;
  }
  return set;
}

bool TQxFileMerge::Fail(const std::string& Reason) {
  FailureReason = Reason;
  return false;
}

void TQxFileMerge::SetRecLen(std::int64_t Value) {
  RecLen = Value;
  for (auto& set : StepFiles)
    for (TQxFile& file : set->Files) file.RecLen = Value;
}

std::string TQxFileMerge::TempFileName(std::int64_t Number) const {
  return TempPath + TempPrefix + std::to_string(Number) + TempExt;
}

void TQxFileMerge::DoCallBackStr(const std::string& Text) {
  if (OnCallBackStr) OnCallBackStr(Text.c_str());
}

bool TQxFileMerge::Merge(const std::string& FinalName, std::int32_t RequestedWays,
                         std::int64_t FirstNumber, std::int64_t LastNumber,
                         TKeyBuilder& KeyBuilder) {
  FailureReason.clear();
  Ways =
      RequestedWays < kMinWays ? kMinWays : (RequestedWays > kMaxWays ? kMaxWays : RequestedWays);
  // The runs form a queue: each step takes the lowest-numbered runs still
  // waiting and appends its output under the next free number.
  std::vector<TStep> steps;
  std::int64_t target = LastNumber + 1;
  std::int64_t first = FirstNumber;
  std::int64_t last = LastNumber;
  while (first < last) {
    std::int64_t groupLast = first + Ways - 1;
    if (groupLast > last) groupLast = last;
    steps.push_back(TStep{first, groupLast, target});
    first = groupLast + 1;
    last = target;
    ++target;
  }
  if (Threads > 1 && steps.size() > 1) {
    if (!RunStepsSideBySide(steps, LastNumber + 1, KeyBuilder)) return false;
  } else {
    for (const TStep& step : steps)
      if (!MergeFiles(step.First, step.Last, step.Target, KeyBuilder)) return false;
  }
  const platform::Status renamed = Env->RenameNoReplace(TempFileName(last), FinalName);
  if (!renamed.Ok()) return Fail(renamed.Message());
  return true;
}

bool TQxFileMerge::RunStepsSideBySide(const std::vector<TStep>& Steps, std::int64_t FirstOutput,
                                      TKeyBuilder& KeyBuilder) {
  while (static_cast<std::int32_t>(StepFiles.size()) < Threads) NewStepFiles();
  // Each running step has a file set and a key builder of its own.
  std::vector<std::unique_ptr<TKeyBuilder>> builders;
  for (std::int32_t i = 0; i < Threads; ++i)
    builders.push_back(std::make_unique<TKeyBuilder>(KeyBuilder));

  enum class State { kWaiting, kRunning, kDone, kFailed };
  std::vector<State> states(Steps.size(), State::kWaiting);
  std::vector<std::exception_ptr> errors(Steps.size());
  std::vector<std::string> reasons(Steps.size());
  std::vector<bool> setFree(static_cast<std::size_t>(Threads), true);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::thread> workers;
  bool failed = false;

  // A run the merge produces is ready when the step that writes it is done.
  auto inputsReady = [&](const TStep& step) {
    for (std::int64_t run = step.First; run <= step.Last; ++run)
      if (run >= FirstOutput && states[static_cast<std::size_t>(run - FirstOutput)] != State::kDone)
        return false;
    return true;
  };
  auto freeSet = [&] {
    for (std::size_t s = 0; s < setFree.size(); ++s)
      if (setFree[s]) return static_cast<std::int32_t>(s);
    return std::int32_t{-1};
  };

  // Steps start in queue order, so their progress lines keep that order.
  for (std::size_t i = 0; i < Steps.size(); ++i) {
    std::int32_t set;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return failed || (freeSet() >= 0 && inputsReady(Steps[i])); });
      if (failed) break;
      set = freeSet();
      setFree[static_cast<std::size_t>(set)] = false;
      states[i] = State::kRunning;
    }
    const TStep& step = Steps[i];
    DoCallBackStr("Merging files " + std::to_string(step.First) + " - " +
                  std::to_string(step.Last) + " into " + std::to_string(step.Target));
    auto run = [&, i, set] {
      bool ok = false;
      std::exception_ptr error;
      try {
        ok = RunStep(*StepFiles[static_cast<std::size_t>(set)], Steps[i],
                     *builders[static_cast<std::size_t>(set)]);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      states[i] = ok ? State::kDone : State::kFailed;
      errors[i] = error;
      if (!ok) {
        reasons[i] = StepFiles[static_cast<std::size_t>(set)]->FailureReason;
        failed = true;
      }
      setFree[static_cast<std::size_t>(set)] = true;
      changed.notify_all();
    };
    try {
      workers.emplace_back(run);
    } catch (const std::system_error&) {
      run();  // no thread to be had: the step runs here
    }
  }
  for (std::thread& worker : workers) worker.join();
  // The first step in queue order that failed speaks for the merge, as it
  // would have when the steps ran one after the other.
  for (std::size_t i = 0; i < Steps.size(); ++i) {
    if (states[i] != State::kFailed) continue;
    if (errors[i]) std::rethrow_exception(errors[i]);
    return Fail(reasons[i]);
  }
  return true;
}

void TQxFileMerge::Advance(TStepFiles& Set, std::int32_t Slot, TKeyBuilder& KeyBuilder) {
  TQxFile& file = Set.Files[static_cast<std::size_t>(Slot)];
  std::string_view& key = Set.Keys[static_cast<std::size_t>(Slot)];
  if (!file.ReadNext()) {
    key = {};
    return;
  }
  if (KeyBuilder.Specs().empty()) {
    key = file.CurrentRecord;  // the whole record is the key
  } else {
    std::string& buffer = Set.KeyBuffers[static_cast<std::size_t>(Slot)];
    buffer.clear();
    KeyBuilder.Append(file.CurrentRecord, buffer);
    key = buffer;
  }
  Set.KeyPrefixes[static_cast<std::size_t>(Slot)] = KeyPrefixOf(key);
}

bool TQxFileMerge::MergeFiles(std::int64_t First, std::int64_t Last, std::int64_t Target,
                              TKeyBuilder& KeyBuilder) {
  DoCallBackStr("Merging files " + std::to_string(First) + " - " + std::to_string(Last) + " into " +
                std::to_string(Target));
  TStepFiles& set = *StepFiles.front();
  if (RunStep(set, TStep{First, Last, Target}, KeyBuilder)) return true;
  return Fail(set.FailureReason);
}

bool TQxFileMerge::RunStep(TStepFiles& Set, const TStep& Step, TKeyBuilder& KeyBuilder) {
  auto fail = [&](const std::string& reason) {
    Set.FailureReason = reason;
    return false;
  };
  const std::int32_t inputs = static_cast<std::int32_t>(Step.Last - Step.First + 1);
  for (std::int32_t k = 0; k < inputs; ++k) {
    TQxFile& input = Set.Files[static_cast<std::size_t>(k)];
    if (!input.Open(TempFileName(Step.First + k), false)) return fail(input.LastError);
    Advance(Set, k, KeyBuilder);
  }
  TQxFile& output = Set.Files[5];
  // A failed open shows at the first write, or at the close of a step
  // without records.
  const bool outputOpen = output.Open(TempFileName(Step.Target), true);
  const std::string openFailure = output.LastError;
  auto outputFailure = [&] { return fail(outputOpen ? output.LastError : openFailure); };
  for (;;) {
    const std::int32_t s = FindSmallest(Set);
    if (s < 0) break;
    if (!output.WriteNext(Set.Files[static_cast<std::size_t>(s - 1)].CurrentRecord))
      return outputFailure();
    Advance(Set, s - 1, KeyBuilder);
  }
  // The output is closed (and so flushed) before any input is deleted: an
  // output that cannot be completed fails the step while its inputs still
  // hold the records.
  if (!output.Close()) return outputFailure();
  for (std::int32_t k = 0; k < inputs; ++k) {
    TQxFile& input = Set.Files[static_cast<std::size_t>(k)];
    if (input.IsOpen) {
      if (!input.Close()) return fail(input.LastError);
      if (!input.Remove()) return fail(input.LastError);
    }
  }
  return true;
}

bool TQxFileMerge::AnyHasRecord() const {
  const TStepFiles& set = *StepFiles.front();
  for (std::int32_t i = 0; i < Ways; ++i)
    if (set.Files[static_cast<std::size_t>(i)].HasRecord) return true;
  return false;
}

std::int32_t TQxFileMerge::FindSmallest() const { return FindSmallest(*StepFiles.front()); }

std::int32_t TQxFileMerge::FindSmallest(const TStepFiles& Set) const {
  std::int32_t best = -1;
  for (std::int32_t i = 1; i <= Ways; ++i) {
    const auto slot = static_cast<std::size_t>(i - 1);
    if (!Set.Files[slot].HasRecord) continue;
    // Strictly smaller only, so that the lowest slot wins among equal keys.
    if (best == -1) {
      best = i;
      continue;
    }
    const auto bestSlot = static_cast<std::size_t>(best - 1);
    const std::uint64_t mine = Set.KeyPrefixes[slot];
    const std::uint64_t theirs = Set.KeyPrefixes[bestSlot];
    if (mine < theirs || (mine == theirs && !PrefixSettlesTies(mine) &&
                          CompareKeys(Set.Keys[slot], Set.Keys[bestSlot]) < 0))
      best = i;
  }
  return best;
}
