#include "sortengine/file_merge.h"

#include "sortengine/run_store.h"
#include "sortengine/sort_keys.h"

TQxFileMerge::TQxFileMerge(platform::Env& Env) : Env(&Env) {
  for (TQxFile& file : Files) file.Env = &Env;
}

bool TQxFileMerge::Fail(const std::string& Reason) {
  FailureReason = Reason;
  return false;
}

void TQxFileMerge::SetRecLen(std::int64_t Value) {
  RecLen = Value;
  for (TQxFile& file : Files) file.RecLen = Value;
}

std::string TQxFileMerge::TempFileName(std::int64_t Number) const {
  return TempPath + TempPrefix + std::to_string(Number) + TempExt;
}

void TQxFileMerge::DoCallBackStr(const std::string& Text) {
  if (OnCallBackStr) OnCallBackStr(Text.c_str());
}

bool TQxFileMerge::Merge(const std::string& FinalName, std::int32_t RequestedWays,
                         std::int64_t FirstNumber, std::int64_t LastNumber, TKeyBuilder& KeyBuilder) {
  FailureReason.clear();
  Ways = RequestedWays < kMinWays ? kMinWays : (RequestedWays > kMaxWays ? kMaxWays : RequestedWays);
  // The runs form a queue: each step takes the lowest-numbered runs still
  // waiting and appends its output under the next free number.
  std::int64_t target = LastNumber + 1;
  std::int64_t first = FirstNumber;
  std::int64_t last = LastNumber;
  while (first < last) {
    std::int64_t groupLast = first + Ways - 1;
    if (groupLast > last) groupLast = last;
    if (!MergeFiles(first, groupLast, target, KeyBuilder)) return false;
    first = groupLast + 1;
    last = target;
    ++target;
  }
  const platform::Status renamed = Env->RenameNoReplace(TempFileName(last), FinalName);
  if (!renamed.Ok()) return Fail(renamed.Message());
  return true;
}

bool TQxFileMerge::Advance(std::int32_t Slot, TKeyBuilder& KeyBuilder) {
  TQxFile& file = Files[Slot];
  if (!file.ReadNext()) {
    Keys[Slot] = {};
    return false;
  }
  if (KeyBuilder.Specs().empty()) {
    Keys[Slot] = file.CurrentRecord;  // the whole record is the key
  } else {
    std::string& buffer = KeyBuffers[Slot];
    buffer.clear();
    KeyBuilder.Append(file.CurrentRecord, buffer);
    Keys[Slot] = buffer;
  }
  KeyPrefixes[Slot] = KeyPrefixOf(Keys[Slot]);
  return true;
}

bool TQxFileMerge::MergeFiles(std::int64_t First, std::int64_t Last, std::int64_t Target,
                              TKeyBuilder& KeyBuilder) {
  DoCallBackStr("Merging files " + std::to_string(First) + " - " + std::to_string(Last) +
                " into " + std::to_string(Target));
  const std::int32_t inputs = static_cast<std::int32_t>(Last - First + 1);
  for (std::int32_t k = 0; k < inputs; ++k) {
    if (!Files[k].Open(TempFileName(First + k), false)) return Fail(Files[k].LastError);
    Advance(k, KeyBuilder);
  }
  TQxFile& output = Files[5];
  // A failed open shows at the first write, or at the close of a step
  // without records.
  const bool outputOpen = output.Open(TempFileName(Target), true);
  const std::string openFailure = output.LastError;
  auto outputFailure = [&] { return Fail(outputOpen ? output.LastError : openFailure); };
  for (;;) {
    std::int32_t s = FindSmallest();
    if (s < 0) break;
    if (!output.WriteNext(Files[s - 1].CurrentRecord)) return outputFailure();
    Advance(s - 1, KeyBuilder);
  }
  // The output is closed (and so flushed) before any input is deleted: an
  // output that cannot be completed fails the step while its inputs still
  // hold the records.
  if (!output.Close()) return outputFailure();
  for (std::int32_t k = 0; k < inputs; ++k) {
    if (Files[k].IsOpen) {
      if (!Files[k].Close()) return Fail(Files[k].LastError);
      if (!Files[k].Remove()) return Fail(Files[k].LastError);
    }
  }
  return true;
}

bool TQxFileMerge::AnyHasRecord() const {
  for (std::int32_t i = 0; i < Ways; ++i)
    if (Files[i].HasRecord) return true;
  return false;
}

std::int32_t TQxFileMerge::FindSmallest() const {
  std::int32_t best = -1;
  for (std::int32_t i = 1; i <= Ways; ++i) {
    if (!Files[i - 1].HasRecord) continue;
    // Strictly smaller only, so that the lowest slot wins among equal keys.
    if (best == -1) {
      best = i;
      continue;
    }
    const std::uint64_t mine = KeyPrefixes[i - 1];
    const std::uint64_t theirs = KeyPrefixes[best - 1];
    if (mine < theirs ||
        (mine == theirs && !PrefixSettlesTies(mine) && CompareKeys(Keys[i - 1], Keys[best - 1]) < 0))
      best = i;
  }
  return best;
}
