#include "sortengine/file_merge.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "sortengine/run_store.h"
#include "sortengine/sort_keys.h"

TQxFileMerge::TQxFileMerge(platform::Env& Env) : Env(&Env) { NewStepFiles(); }

TQxFileMerge::~TQxFileMerge() = default;

std::unique_ptr<TQxFileMerge::TStepFiles> TQxFileMerge::MakeStepFiles() const {
  auto set = std::make_unique<TStepFiles>();
  for (TQxFile& file : set->Files) {
    file.Env = Env;
    file.RecLen = RecLen;
  }
  return set;
}

TQxFileMerge::TStepFiles& TQxFileMerge::NewStepFiles() {
  StepFiles.push_back(MakeStepFiles());
  return *StepFiles.back();
}

bool TQxFileMerge::Fail(const std::string& Reason) {
  FailureReason = Reason;
  return false;
}

void TQxFileMerge::SetRecLen(std::int64_t Value) {
  RecLen = Value;
  for (auto& set : StepFiles) {
    for (TQxFile& file : set->Files) file.RecLen = Value;
    if (set->Upper)
      for (TQxFile& file : set->Upper->Files) file.RecLen = Value;
  }
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
  std::string_view record;
  if (!file.ReadNext(record)) {
    Set.Keys[static_cast<std::size_t>(Slot)] = {};
    return;
  }
  std::string_view key = record;  // the whole record is the key
  if (!KeyBuilder.Specs().empty()) {
    std::string& buffer = Set.KeyBuffers[static_cast<std::size_t>(Slot)];
    buffer.clear();
    KeyBuilder.Append(record, buffer);
    key = buffer;
  }
  Set.Keys[static_cast<std::size_t>(Slot)] = key;
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
  TSplit split{};
  const bool inTwo = Threads > 1 && RecLen == 0 && FindSplit(Step, KeyBuilder, split);
  std::int64_t lowerBytes = 0;
  for (std::int32_t k = 0; k < inputs; ++k) {
    TQxFile& input = Set.Files[static_cast<std::size_t>(k)];
    const std::int64_t end = inTwo ? split[static_cast<std::size_t>(k)] : -1;
    if (!input.OpenPart(TempFileName(Step.First + k), false, 0, end)) return fail(input.LastError);
    if (inTwo) lowerBytes += end;
    Advance(Set, k, KeyBuilder);
  }
  TQxFile& output = Set.Files[5];
  // A failed open shows at the first write, or at the close of a step
  // without records.
  const bool outputOpen = output.Open(TempFileName(Step.Target), true);
  const std::string openFailure = output.LastError;

  // The upper part starts once the output exists, and writes behind the
  // bytes the lower part will write: the records of one input below the
  // split, every input's together, in the lower part's output.
  const bool upperPart = inTwo && outputOpen;
  bool upperDone = false;
  bool upperOk = true;
  std::exception_ptr upperError;
  std::unique_ptr<TKeyBuilder> upperKeys;
  std::thread upper;
  auto runUpper = [&] {
    try {
      upperOk = MergeUpperPart(*Set.Upper, Step, split, lowerBytes, *upperKeys);
    } catch (...) {
      upperError = std::current_exception();
      upperOk = false;
    }
    upperDone = true;
  };
  if (upperPart) {
    if (!Set.Upper) Set.Upper = MakeStepFiles();
    upperKeys = std::make_unique<TKeyBuilder>(KeyBuilder);
    try {
      upper = std::thread(runUpper);
    } catch (const std::system_error&) {
      // No thread to be had: the upper part follows the lower one here.
    }
  }
  bool lowerOk = false;
  std::exception_ptr lowerError;
  try {
    lowerOk = MergeOpenFiles(Set, outputOpen, openFailure, KeyBuilder);
  } catch (...) {
    lowerError = std::current_exception();
  }
  if (upper.joinable()) upper.join();
  if (upperPart && !upperDone && !lowerError && lowerOk) runUpper();
  // The lower part speaks first, as it would in a merge from start to end.
  if (lowerError) std::rethrow_exception(lowerError);
  if (!lowerOk) return false;
  if (upperError) std::rethrow_exception(upperError);
  if (!upperOk) return fail(Set.Upper->FailureReason);

  if (upperPart) {
    for (std::int32_t k = 0; k < inputs; ++k) {
      TQxFile& input = Set.Upper->Files[static_cast<std::size_t>(k)];
      if (input.IsOpen && !input.Close()) return fail(input.LastError);
    }
  }
  for (std::int32_t k = 0; k < inputs; ++k) {
    TQxFile& input = Set.Files[static_cast<std::size_t>(k)];
    if (input.IsOpen) {
      if (!input.Close()) return fail(input.LastError);
      if (!input.Remove()) return fail(input.LastError);
    }
  }
  return true;
}

bool TQxFileMerge::MergeOpenFiles(TStepFiles& Set, bool OutputOpen, const std::string& OpenFailure,
                                  TKeyBuilder& KeyBuilder) {
  TQxFile& output = Set.Files[5];
  auto outputFailure = [&] {
    Set.FailureReason = OutputOpen ? output.LastError : OpenFailure;
    return false;
  };
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
  return true;
}

bool TQxFileMerge::MergeUpperPart(TStepFiles& Set, const TStep& Step, const TSplit& Split,
                                  std::int64_t OutputFrom, TKeyBuilder& KeyBuilder) {
  const std::int32_t inputs = static_cast<std::int32_t>(Step.Last - Step.First + 1);
  for (std::int32_t k = 0; k < inputs; ++k) {
    TQxFile& input = Set.Files[static_cast<std::size_t>(k)];
    if (!input.OpenPart(TempFileName(Step.First + k), false, Split[static_cast<std::size_t>(k)])) {
      Set.FailureReason = input.LastError;
      return false;
    }
    Advance(Set, k, KeyBuilder);
  }
  TQxFile& output = Set.Files[5];
  const bool outputOpen = output.OpenPart(TempFileName(Step.Target), true, OutputFrom);
  const std::string openFailure = output.LastError;
  return MergeOpenFiles(Set, outputOpen, openFailure, KeyBuilder);
}

namespace {

// Reads the merge's own text runs at chosen places: every record there
// ends in CR LF and holds neither byte, and none is longer than 32,767
// bytes, so the byte after any LF starts a record.
class TRunProbe {
 public:
  TRunProbe(platform::File& File, std::int64_t Size) : File(File), Size(Size) {}

  // The first record start at or after Position (Size when none); -1 on
  // failure.
  std::int64_t NextRecordStart(std::int64_t Position) {
    if (Position <= 0) return 0;
    const std::int64_t from = Position - 1;
    const std::string_view bytes = Read(from, kLongestLine);
    if (bytes.data() == nullptr) return -1;
    const std::size_t lf = bytes.find('\n');
    if (lf != std::string_view::npos) return from + static_cast<std::int64_t>(lf) + 1;
    return from + static_cast<std::int64_t>(bytes.size()) == Size ? Size : -1;
  }

  // The bytes from Position on, up to Count of them; a null view on
  // failure.
  std::string_view Read(std::int64_t Position, std::int64_t Count) {
    if (Count > Size - Position) Count = Size - Position;
    Buffer.resize(static_cast<std::size_t>(Count));
    if (Count == 0) return {Buffer.data(), 0};
    if (!File.Seek(Position) || File.Read(Buffer.data(), Count) != Count) return {};
    return {Buffer.data(), Buffer.size()};
  }

  // The record at the start of Bytes and the length of its line end; false
  // when Bytes holds no whole record.
  static bool RecordAt(std::string_view Bytes, bool AtEnd, std::string_view& Record,
                       std::size_t& Length) {
    const std::size_t end = Bytes.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      if (!AtEnd) return false;
      Record = Bytes;
      Length = Bytes.size();
      return true;
    }
    Record = Bytes.substr(0, end);
    Length = end + 1;
    if (Length < Bytes.size() && Bytes[Length] != Bytes[end] &&
        (Bytes[Length] == '\r' || Bytes[Length] == '\n'))
      ++Length;
    return true;
  }

  static constexpr std::int64_t kLongestLine = 32768 + 2;

  platform::File& File;
  const std::int64_t Size;
  std::string Buffer;
};

// The key of Record as the merge compares it.
std::string_view KeyOf(TKeyBuilder& KeyBuilder, std::string_view Record, std::string& Scratch) {
  if (KeyBuilder.Specs().empty()) return Record;
  Scratch.clear();
  KeyBuilder.Append(Record, Scratch);
  return Scratch;
}

// The start of the first record of key at least SplitKey in a sorted run
// (its size when none); -1 when the run cannot be read.
std::int64_t FirstRecordFrom(TRunProbe& Probe, std::string_view SplitKey, TKeyBuilder& KeyBuilder) {
  std::string scratch;
  // Every record before lo has a smaller key; the record at hi (if any)
  // does not.
  std::int64_t lo = 0;
  std::int64_t hi = Probe.Size;
  constexpr std::int64_t kScanned = 65536;
  while (hi - lo > kScanned) {
    const std::int64_t start = Probe.NextRecordStart(lo + (hi - lo) / 2);
    if (start < 0) return -1;
    if (start >= hi) break;  // the middle falls in the record before hi
    const std::string_view bytes = Probe.Read(start, TRunProbe::kLongestLine);
    std::string_view record;
    std::size_t length;
    if (bytes.data() == nullptr ||
        !TRunProbe::RecordAt(bytes, start + static_cast<std::int64_t>(bytes.size()) == Probe.Size,
                             record, length))
      return -1;
    if (CompareKeys(KeyOf(KeyBuilder, record, scratch), SplitKey) < 0)
      lo = start;
    else
      hi = start;
  }
  // The rest is read at once and walked record by record.
  const std::string_view bytes = Probe.Read(lo, hi - lo + TRunProbe::kLongestLine);
  if (bytes.data() == nullptr) return -1;
  const bool atEnd = lo + static_cast<std::int64_t>(bytes.size()) == Probe.Size;
  std::size_t at = 0;
  while (lo + static_cast<std::int64_t>(at) < hi) {
    std::string_view record;
    std::size_t length;
    if (!TRunProbe::RecordAt(bytes.substr(at), atEnd, record, length)) return -1;
    if (CompareKeys(KeyOf(KeyBuilder, record, scratch), SplitKey) >= 0) break;
    at += length;
  }
  return lo + static_cast<std::int64_t>(at);
}

}  // namespace

bool TQxFileMerge::FindSplit(const TStep& Step, TKeyBuilder& KeyBuilder, TSplit& Split) {
  const std::int32_t inputs = static_cast<std::int32_t>(Step.Last - Step.First + 1);
  std::array<std::unique_ptr<platform::File>, 5> files;
  std::vector<TRunProbe> probes;
  probes.reserve(static_cast<std::size_t>(inputs));
  std::int64_t total = 0;
  std::size_t largest = 0;
  for (std::int32_t k = 0; k < inputs; ++k) {
    const auto slot = static_cast<std::size_t>(k);
    std::string error;
    // A file that cannot be opened here fails the step itself, with its
    // message, in the merge that follows.
    files[slot] = Env->OpenRead(TempFileName(Step.First + k), error);
    if (!files[slot]) return false;
    const std::int64_t size = files[slot]->Size();
    if (size < 0) return false;
    probes.emplace_back(*files[slot], size);
    total += size;
    if (size > probes[largest].Size) largest = slot;
  }
  if (total < SplitFrom || total == 0) return false;

  TRunProbe& middle = probes[largest];
  const std::int64_t start = middle.NextRecordStart(middle.Size / 2);
  if (start <= 0 || start >= middle.Size) return false;
  const std::string_view bytes = middle.Read(start, TRunProbe::kLongestLine);
  std::string_view record;
  std::size_t length;
  if (bytes.data() == nullptr ||
      !TRunProbe::RecordAt(bytes, start + static_cast<std::int64_t>(bytes.size()) == middle.Size,
                           record, length))
    return false;
  std::string scratch;
  const std::string splitKey(KeyOf(KeyBuilder, record, scratch));

  std::int64_t lowerBytes = 0;
  for (std::int32_t k = 0; k < inputs; ++k) {
    const auto slot = static_cast<std::size_t>(k);
    Split[slot] = FirstRecordFrom(probes[slot], splitKey, KeyBuilder);
    if (Split[slot] < 0) return false;
    lowerBytes += Split[slot];
  }
  return lowerBytes > 0 && lowerBytes < total;
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
  std::uint64_t bestPrefix = 0;
  for (std::int32_t i = 1; i <= Ways; ++i) {
    const auto slot = static_cast<std::size_t>(i - 1);
    if (!Set.Files[slot].HasRecord) continue;
    const std::uint64_t mine = Set.KeyPrefixes[slot];
    if (best == -1) {
      best = i;
      bestPrefix = mine;
      continue;
    }
    // Strictly smaller only, so that the lowest slot wins among equal keys.
    // Which slot wins is random: a select, not a jump the processor would
    // mispredict half the time.
    bool smaller = mine < bestPrefix;
    if (mine == bestPrefix && !PrefixSettlesTies(mine))
      smaller = CompareKeyTails(Set.Keys[slot], Set.Keys[static_cast<std::size_t>(best - 1)]) < 0;
    const std::uint64_t take = 0 - static_cast<std::uint64_t>(smaller);
    best = static_cast<std::int32_t>((static_cast<std::uint64_t>(i) & take) |
                                     (static_cast<std::uint64_t>(best) & ~take));
    bestPrefix = (mine & take) | (bestPrefix & ~take);
  }
  return best;
}
