// TQxFileMerge: merges numbered run files, at most Ways at a time, into new
// runs numbered onward until one is left, then renames that one to the
// final name. Equal keys come out in run order. Failures are reported only
// as a false result.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/sort_spec.h"
#include "sortengine/callback.h"
#include "sortengine/sort_keys.h"
#include "sortengine/temp_file.h"

class TQxFileMerge {
 public:
  static constexpr std::int32_t kMinWays = 2;
  static constexpr std::int32_t kMaxWays = 5;

  // Every file operation goes through Env, which must outlive the object.
  explicit TQxFileMerge(platform::Env& Env = platform::DefaultEnv());
  virtual ~TQxFileMerge();
  TQxFileMerge(const TQxFileMerge&) = delete;
  TQxFileMerge& operator=(const TQxFileMerge&) = delete;

  // Record length of the run files (0 = text); handed to all six slots.
  void SetRecLen(std::int64_t Value);
  std::int64_t GetRecLen() const { return RecLen; }

  // Merge steps that may run at the same time (at least 1). Steps whose
  // inputs all exist run side by side; the result, the progress lines and
  // their order are those of one step after the other.
  void SetThreads(std::int32_t Value) { Threads = Value < 1 ? 1 : Value; }
  // With more than one thread, a text step whose inputs hold at least
  // Bytes is merged in two parts at once: the records below a key taken
  // from the middle of its largest input, and the others, each part
  // writing its own stretch of the output.
  void SetSplitFrom(std::int64_t Bytes) { SplitFrom = Bytes; }

  // TempPath + TempPrefix + Number + TempExt.
  std::string TempFileName(std::int64_t Number) const;

  // Merges runs FirstNumber..LastNumber into one file named FinalName (a
  // rename that never replaces an existing file). True when all went well;
  // after success no run file is left. On failure the inputs of the failed
  // step and every run not yet merged stay on disk; an error raised while
  // reading passes through.
  bool Merge(const std::string& FinalName, std::int32_t Ways, std::int64_t FirstNumber,
             std::int64_t LastNumber, TKeyBuilder& KeyBuilder);
  // One merge step: runs First..Last into run Target; the inputs are
  // deleted.
  bool MergeFiles(std::int64_t First, std::int64_t Last, std::int64_t Target,
                  TKeyBuilder& KeyBuilder);

  // Some input slot holds a record.
  bool AnyHasRecord() const;
  // 1-based slot whose current record has the smallest key (the lowest slot
  // among equal keys); -1 when no slot holds a record.
  std::int32_t FindSmallest() const;

  void DoCallBackStr(const std::string& Text);

  // Why the last Merge that returned false failed, naming the file.
  const std::string& LastError() const { return FailureReason; }

  std::string TempPath;
  std::string TempPrefix;
  std::string TempExt;
  TCallBackStrEvent OnCallBackStr;

 private:
  // The files and current keys of one merge step; one set per step that
  // runs at a time.
  struct TStepFiles {
    std::array<TQxFile, 6> Files;  // [0..4] inputs, [5] output
    std::array<std::string, 5> KeyBuffers;
    std::array<std::string_view, 5> Keys;
    std::array<std::uint64_t, 5> KeyPrefixes{};  // KeyPrefixOf the keys
    std::string FailureReason;
    // The files of the upper part of a step merged in two parts.
    std::unique_ptr<TStepFiles> Upper;
  };
  using TSplit = std::array<std::int64_t, 5>;
  struct TStep {
    std::int64_t First;
    std::int64_t Last;
    std::int64_t Target;
  };

  std::unique_ptr<TStepFiles> MakeStepFiles() const;
  TStepFiles& NewStepFiles();
  // One step with the given files; the failure reason is kept in them.
  bool RunStep(TStepFiles& Set, const TStep& Step, TKeyBuilder& KeyBuilder);
  // Reads the next record of input slot k and keeps its key: a record's key
  // never changes, so it is built once instead of at every comparison.
  void Advance(TStepFiles& Set, std::int32_t Slot, TKeyBuilder& KeyBuilder);
  std::int32_t FindSmallest(const TStepFiles& Set) const;
  // Merges the open inputs of Set into its output and closes the output.
  bool MergeOpenFiles(TStepFiles& Set, bool OutputOpen, const std::string& OpenFailure,
                      TKeyBuilder& KeyBuilder);
  // The upper part of a step merged in two: the inputs from Split on, into
  // the output from byte OutputFrom on.
  bool MergeUpperPart(TStepFiles& Set, const TStep& Step, const TSplit& Split,
                      std::int64_t OutputFrom, TKeyBuilder& KeyBuilder);
  // Where each input's records of key at least the split key start; false
  // when the step is too small to split or the inputs cannot be probed.
  bool FindSplit(const TStep& Step, TKeyBuilder& KeyBuilder, TSplit& Split);
  bool RunStepsSideBySide(const std::vector<TStep>& Steps, std::int64_t FirstRun,
                          TKeyBuilder& KeyBuilder);
  // Keeps the reason of a failed file operation; returns false.
  bool Fail(const std::string& Reason);

  platform::Env* Env;
  std::string FailureReason;

  std::int64_t RecLen = 0;
  std::int32_t Ways = kMaxWays;
  std::int32_t Threads = 1;
  std::int64_t SplitFrom = std::int64_t{1} << 20;
  // [0] serves MergeFiles, AnyHasRecord and FindSmallest; more are made
  // for steps that run side by side.
  std::vector<std::unique_ptr<TStepFiles>> StepFiles;
};
