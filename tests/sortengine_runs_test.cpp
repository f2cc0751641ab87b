// The in-memory sort, the merge queue, the temporary-file slots and the
// small helpers of the sort job.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sortengine/file_merge.h"
#include "sortengine/file_sorter.h"
#include "sortengine/run_presort.h"
#include "sortengine/run_store.h"
#include "sortengine/sort_keys.h"
#include "tests/fault_env.h"
#include "tests/os_support.h"
#include "tests/sort_model.h"
#include "tests/test_support.h"

using testing_support::Exists;
using testing_support::ModelQuickSort;
using testing_support::ReadFile;
using testing_support::SystemError;
using testing_support::SystemErrorText;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::vector<std::string> SortedRecords(const std::vector<std::string>& records,
                                       const std::vector<std::string>& keys, int threads = 1,
                                       std::int64_t threshold = kParallelSortThreshold) {
  TRecordKeyList list;
  for (size_t i = 0; i < records.size(); ++i) list.Add(records[i], keys[i]);
  QuickSort(list, 0, static_cast<std::int64_t>(list.Count()) - 1, threads, threshold);
  std::vector<std::string> out;
  for (const TRunEntry& e : list.GetEntries()) out.emplace_back(e.RecordView());
  return out;
}

}  // namespace

TEST(QuickSort, EqualKeysFollowThePartitionScheme) {
  // Keys B, A, A: the first exchange swaps entries 0 and 2, so record 3
  // comes first.
  EXPECT_EQ(SortedRecords({"1", "2", "3"}, {"B", "A", "A"}),
            (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(SortedRecords({}, {}), std::vector<std::string>{});
  EXPECT_EQ(SortedRecords({"x"}, {"k"}), std::vector<std::string>{"x"});
  // A proper prefix sorts first; bytes compare unsigned; prefixes longer
  // than the cached eight bytes still decide.
  EXPECT_EQ(SortedRecords({"a", "b", "c", "d", "e"},
                          {"AB", "A", std::string("\xff"), "abcdefghZ", "abcdefghA"}),
            (std::vector<std::string>{"b", "a", "e", "d", "c"}));
}

TEST(QuickSort, MatchesTheModelOnRandomKeysWithManyTies) {
  std::mt19937 rng(7);
  for (int round = 0; round < 240; ++round) {
    // The last rounds are long enough for partitions taken block by block.
    const int n = static_cast<int>(round < 200 ? rng() % 300 : 1000 + rng() % 4000);
    const int alphabet = 1 + static_cast<int>(rng() % 4);
    std::vector<std::string> records, keys;
    for (int i = 0; i < n; ++i) {
      std::string key;
      const int len = static_cast<int>(rng() % 11);  // around the eight cached bytes
      for (int k = 0; k < len; ++k) key += static_cast<char>('\xfd' + rng() % alphabet);
      keys.push_back(key);
      records.push_back(std::to_string(i));
    }
    std::vector<std::string> expected = records, modelKeys = keys;
    ModelQuickSort(expected, modelKeys, 0, n - 1);
    ASSERT_EQ(SortedRecords(records, keys), expected) << "round " << round;
    // Parts handed to other threads from 8 entries on: the same order.
    ASSERT_EQ(SortedRecords(records, keys, 1 + round % 4, 8), expected) << "round " << round;
  }
}

TEST(QuickSort, SortedAndReversedInputsOfEqualKeys) {
  // Long runs of equal keys and presorted input: the order must still
  // match the model (and the recursion must stay shallow).
  for (int variant = 0; variant < 3; ++variant) {
    std::vector<std::string> records, keys;
    for (int i = 0; i < 20000; ++i) {
      records.push_back(std::to_string(i));
      keys.push_back(variant == 0 ? "same"
                                  : std::to_string(variant == 1 ? 100000 + i : 200000 - i));
    }
    std::vector<std::string> expected = records, modelKeys = keys;
    ModelQuickSort(expected, modelKeys, 0, static_cast<long>(records.size()) - 1);
    EXPECT_EQ(SortedRecords(records, keys), expected) << "variant " << variant;
    EXPECT_EQ(SortedRecords(records, keys, 2, 1000), expected) << "variant " << variant;
  }
}

// Parts handed to the helper while the index fills, the index moved to a
// larger place in between (after the helper is done), the last part sorted
// here: merged, they give the sorted order; and put back in read order
// they give the records as added.
TEST(QuickSort, PartsSortedOnAHelperWhileTheIndexGrows) {
  std::mt19937 rng(99);
  TRecordKeyList list;
  list.Reserve(100);
  auto presort = TRunPresort::Start();
  ASSERT_NE(presort, nullptr);
  std::vector<std::string> added;
  std::vector<std::size_t> starts;
  std::size_t handed = 0;
  bool moved = false;
  for (int i = 0; i < 5000; ++i) {
    if (list.Full()) {
      presort->Wait();
      moved = true;
    }
    std::string record = std::to_string(rng() % 100000000) + "/" + std::to_string(i);
    list.AddSelfKeyed(record);
    added.push_back(record);
    if (list.Count() % 700 == 0) {
      starts.push_back(handed);
      presort->Hand(list.GetEntries().data(), handed, list.Count());
      handed = list.Count();
    }
  }
  presort->Wait();
  starts.push_back(handed);
  QuickSort(list, static_cast<std::int64_t>(handed), static_cast<std::int64_t>(list.Count()) - 1);
  EXPECT_TRUE(moved);

  std::vector<std::string> merged;
  MergeParts(list.GetEntries().data(), starts, list.Count(), [&](const TRunEntry& e) {
    merged.emplace_back(e.RecordView());
    return true;
  });
  std::vector<std::string> sorted = added;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_TRUE(merged == sorted);

  list.RestoreReadOrder();
  std::vector<std::string> restored;
  for (const TRunEntry& e : list.GetEntries()) restored.emplace_back(e.RecordView());
  EXPECT_TRUE(restored == added);
}

TEST(RunStore, RecordsAndKeysOfEveryLengthComeBackWhole) {
  // Around the limits of the short length fields, and keys that are equal
  // in their first eight bytes.
  const std::size_t recordLengths[] = {0, 1, 0x7FFE, 0x7FFF, 0x8000, 40000};
  const std::size_t keyLengths[] = {0, 7, 8, 9, 0xFFFE, 0xFFFF, 70000};
  TRecordKeyList list;
  std::vector<std::pair<std::string, std::string>> added;
  int n = 0;
  for (std::size_t r : recordLengths) {
    for (std::size_t k : keyLengths) {
      std::string record(r, static_cast<char>('a' + n % 26));
      std::string key(k, 'k');
      if (k > 8) key[k - 1] = static_cast<char>('0' + n % 10);
      list.Add(record, key);
      added.emplace_back(record, key);
      ++n;
    }
    std::string self(r, 's');
    list.AddSelfKeyed(self);
    added.emplace_back(self, self);
  }
  ASSERT_EQ(list.Count(), added.size());
  for (std::size_t i = 0; i < added.size(); ++i) {
    const TRunEntry& e = list.GetEntries()[i];
    EXPECT_TRUE(e.RecordView() == added[i].first) << i;
    EXPECT_TRUE(e.KeyView() == added[i].second) << i;
    for (std::size_t j = 0; j < added.size(); ++j) {
      const int expected = CompareKeys(added[i].second, added[j].second);
      const int got = CompareEntries(e, list.GetEntries()[j]);
      EXPECT_EQ((got > 0) - (got < 0), (expected > 0) - (expected < 0)) << i << " vs " << j;
    }
  }
}

class MergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildKeyTables();
    merge.TempPath = dir.Path().string() + "/";
    merge.TempPrefix = "$Quarn";
    merge.TempExt = ".tmp";
    merge.OnCallBackStr = [this](const char* line) { lines.emplace_back(line); };
  }
  void WriteRun(int number, const std::string& bytes) {
    WriteFile(merge.TempFileName(number), bytes);
  }

  TempDir dir;
  TQxFileMerge merge;
  std::vector<std::string> lines;
  TSortSpecs noKeys;
  TKeyBuilder noKeyBuilder{noKeys, TCsvDialect()};
};

TEST_F(MergeTest, RunQueueTable) {
  struct Case {
    int runs;
    int ways;
    std::vector<std::string> steps;
  };
  const Case cases[] = {
      {1, 5, {}},
      {2, 5, {"Merging files 0 - 1 into 2"}},
      {4,
       2,
       {"Merging files 0 - 1 into 4", "Merging files 2 - 3 into 5", "Merging files 4 - 5 into 6"}},
      {6, 5, {"Merging files 0 - 4 into 6", "Merging files 5 - 6 into 7"}},
      {7,
       3,
       {"Merging files 0 - 2 into 7", "Merging files 3 - 5 into 8", "Merging files 6 - 8 into 9"}},
      {12,
       5,
       {"Merging files 0 - 4 into 12", "Merging files 5 - 9 into 13",
        "Merging files 10 - 13 into 14"}},
      {3, 9, {"Merging files 0 - 2 into 3"}},                                // more than 5 ways: 5
      {3, 1, {"Merging files 0 - 1 into 3", "Merging files 2 - 3 into 4"}},  // fewer than 2: 2
  };
  // One step at a time, and steps side by side where their inputs exist.
  for (int threads : {1, 3})
    for (const Case& c : cases) {
      merge.SetThreads(threads);
      lines.clear();
      std::string expected;
      for (int r = 0; r < c.runs; ++r) {
        const std::string record = std::to_string(100 + r) + "r";
        WriteRun(r, record + "\r\n");
        expected += record + "\r\n";
      }
      const std::string final = dir.File("$Quarn.tmp");
      ASSERT_TRUE(merge.Merge(final, c.ways, 0, c.runs - 1, noKeyBuilder)) << c.runs << " runs";
      EXPECT_EQ(lines, c.steps) << c.runs << " runs, " << c.ways << " ways, " << threads
                                << " threads";
      EXPECT_EQ(ReadFile(final), expected);
      // Every run file is gone; only the final file is left.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
      std::filesystem::remove(final);
    }
}

TEST_F(MergeTest, EqualKeysComeFromTheLowerRunAndEmptyRunsVanish) {
  TSortSpecs firstByte = {TSortFieldSpec{"", -1, 1, 1, true, false, false, false}};
  TKeyBuilder firstByteBuilder(firstByte, TCsvDialect());
  WriteRun(0, "a0\r\nb0\r\n");
  WriteRun(1, "");
  WriteRun(2, "a2\r\nb2\r\nc2\r\n");
  ASSERT_TRUE(merge.Merge(dir.File("$Quarn.tmp"), 5, 0, 2, firstByteBuilder));
  EXPECT_EQ(ReadFile(dir.File("$Quarn.tmp")), "a0\r\na2\r\nb0\r\nb2\r\nc2\r\n");
  EXPECT_FALSE(Exists(merge.TempFileName(1)));
}

TEST_F(MergeTest, FailuresAreFalseResults) {
  // A leftover final file: the rename fails and the merged records stay
  // under the last run number.
  WriteRun(0, "b\r\n");
  WriteRun(1, "a\r\n");
  WriteFile(dir.File("$Quarn.tmp"), "old\r\n");
  EXPECT_FALSE(merge.Merge(dir.File("$Quarn.tmp"), 5, 0, 1, noKeyBuilder));
  EXPECT_EQ(ReadFile(dir.File("$Quarn.tmp")), "old\r\n");
  EXPECT_EQ(ReadFile(merge.TempFileName(2)), "a\r\nb\r\n");

  // A missing input: the step fails before its output exists.
  std::filesystem::remove(dir.File("$Quarn.tmp"));
  WriteRun(3, "x\r\n");
  EXPECT_FALSE(merge.Merge(dir.File("$Quarn.tmp"), 5, 3, 4, noKeyBuilder));
  EXPECT_FALSE(Exists(merge.TempFileName(5)));
  EXPECT_TRUE(Exists(merge.TempFileName(3)));
}

TEST_F(MergeTest, AFailedStepSpeaksForTheMergeAlsoWhenStepsRunSideBySide) {
  // Steps 0-1 -> 4 and 2-3 -> 5 could run at once; run 3 is missing.
  merge.SetThreads(2);
  for (int r = 0; r < 3; ++r) WriteRun(r, std::to_string(r) + "\r\n");
  EXPECT_FALSE(merge.Merge(dir.File("$Quarn.tmp"), 2, 0, 3, noKeyBuilder));
  EXPECT_NE(merge.LastError().find(merge.TempFileName(3)), std::string::npos) << merge.LastError();
  EXPECT_EQ(ReadFile(merge.TempFileName(4)), "0\r\n1\r\n");
  EXPECT_EQ(ReadFile(merge.TempFileName(2)), "2\r\n");
  EXPECT_FALSE(Exists(merge.TempFileName(5)));
  EXPECT_FALSE(Exists(merge.TempFileName(6)));
}

// A step merged in two parts at once writes the very file one thread
// writes, also where the split key has equal keys in several runs, where
// records are long enough to hide the middle of a run, and where a run is
// empty or every key is the same (no split).
TEST_F(MergeTest, StepsMergedInTwoPartsWriteWhatOneThreadWrites) {
  TSortSpecs firstByte = {TSortFieldSpec{"", -1, 1, 1, true, false, false, false}};
  TKeyBuilder firstByteBuilder(firstByte, TCsvDialect());
  struct Case {
    const char* name;
    TKeyBuilder* keys;
    int letters;    // the first byte is one of this many letters
    int longEvery;  // every n-th record is 20,000 bytes or more (0: none)
    bool emptyRun;  // run 1 holds no record
    bool splits;    // at least one step is cut in two
  };
  const Case cases[] = {
      {"whole records", &noKeyBuilder, 26, 0, false, true},
      {"ties on the first byte", &firstByteBuilder, 3, 0, true, true},
      {"long records", &firstByteBuilder, 5, 7, false, true},
      {"one key for all", &firstByteBuilder, 1, 0, false, false},
  };
  std::mt19937 rng(4242);
  for (const Case& c : cases) {
    std::vector<std::string> runs;
    for (int r = 0; r < 7; ++r) {
      std::vector<std::string> records;
      const int count = c.emptyRun && r == 1 ? 0 : 200 + static_cast<int>(rng() % 300);
      for (int i = 0; i < count; ++i) {
        std::string record(1, static_cast<char>('a' + rng() % c.letters));
        const bool isLong = c.longEvery != 0 && i % c.longEvery == 0;
        record += std::to_string(r) + ":" + std::to_string(i) + ":";
        record.append(isLong ? 20000 + rng() % 12000 : rng() % 60, 'x');
        records.push_back(record);
      }
      std::stable_sort(records.begin(), records.end(), [&](const auto& a, const auto& b) {
        return c.keys->Extract(a) < c.keys->Extract(b);
      });
      std::string bytes;
      for (const auto& record : records) bytes += record + "\r\n";
      runs.push_back(bytes);
    }
    for (int ways : {5, 3}) {
      std::string expected;
      for (int threads : {1, 2}) {
        testing_support::FaultEnv env;
        TQxFileMerge split(env);
        split.TempPath = merge.TempPath;
        split.TempPrefix = "$Quarn";
        split.TempExt = ".tmp";
        split.SetThreads(threads);
        split.SetSplitFrom(0);
        for (int r = 0; r < 7; ++r) WriteRun(r, runs[static_cast<std::size_t>(r)]);
        const std::string final = dir.File("$Quarn.tmp");
        ASSERT_TRUE(split.Merge(final, ways, 0, 6, *c.keys)) << c.name << ": " << split.LastError();
        const std::string merged = ReadFile(final);
        std::filesystem::remove(final);
        if (threads == 1) {
          expected = merged;
          continue;
        }
        EXPECT_TRUE(merged == expected) << c.name << ", " << ways << " ways: not the same file";
        // One output is created per step; a step cut in two opens it twice.
        const std::int64_t steps = ways == 5 ? 2 : 3;
        EXPECT_EQ(env.Count(testing_support::FaultOp::kCreate) > steps, c.splits)
            << c.name << ", " << ways << " ways";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0);
      }
    }
  }
}

TEST_F(MergeTest, FixedLengthRunsEndingInByte26SurviveTheMerge) {
  merge.SetRecLen(3);
  WriteRun(0, std::string("bb\x1a", 3));
  WriteRun(1, std::string("aa\x1a", 3));
  ASSERT_TRUE(merge.Merge(dir.File("$Quarn.tmp"), 5, 0, 1, noKeyBuilder));
  EXPECT_EQ(ReadFile(dir.File("$Quarn.tmp")), std::string("aa\x1a"
                                                          "bb\x1a",
                                                          6));
}

TEST(TempFileSlot, OpenReadWriteAndRemove) {
  TempDir dir;
  TQxFile slot;
  EXPECT_FALSE(slot.Open(dir.File("missing.tmp"), false));
  EXPECT_FALSE(slot.Open(dir.Path().string(), false));  // a directory is no file
  EXPECT_FALSE(slot.ReadNext());
  EXPECT_FALSE(slot.WriteNext("x"));
  EXPECT_FALSE(slot.Close());

  WriteFile(dir.File("empty.tmp"), "");
  ASSERT_TRUE(slot.Open(dir.File("empty.tmp"), false));
  EXPECT_FALSE(slot.ReadNext());
  EXPECT_TRUE(slot.CurrentRecord.empty());
  EXPECT_TRUE(slot.Close());
  EXPECT_TRUE(slot.Remove());
  EXPECT_FALSE(Exists(dir.File("empty.tmp")));

  ASSERT_TRUE(slot.Open(dir.File("out.tmp"), true));
  EXPECT_TRUE(slot.WriteNext("one"));
  EXPECT_TRUE(slot.WriteNext(""));
  EXPECT_TRUE(slot.Close());
  EXPECT_EQ(ReadFile(dir.File("out.tmp")), "one\r\n\r\n");
  EXPECT_FALSE(slot.Open(dir.File("no/such/dir.tmp"), true));
}

TEST(SortJobHelpers, BlankRecordsAndThousands) {
  const TSortSpecs none;
  const TKeyBuilder columns(none, TCsvDialect());
  EXPECT_TRUE(columns.IsBlank(""));
  EXPECT_TRUE(columns.IsBlank(" \t\x01 "));
  EXPECT_FALSE(columns.IsBlank(";;;"));
  TCsvDialect csv;
  csv.Mode = true;
  const TKeyBuilder fields(none, csv);
  EXPECT_TRUE(fields.IsBlank(";;;"));
  EXPECT_TRUE(fields.IsBlank(" \"\" ; ;"));
  EXPECT_FALSE(fields.IsBlank(";\t;"));
  EXPECT_FALSE(fields.IsBlank(";a;"));

  const std::string sep = platform::ThousandsSeparator();
  EXPECT_EQ(FormatThousands(33554432), "33" + sep + "554" + sep + "432");
  EXPECT_EQ(FormatThousands(1048576), "1" + sep + "048" + sep + "576");
  EXPECT_EQ(FormatThousands(999), "999");
}

TEST(SortJobHelpers, CopyFileContentsCopiesAndReportsFailure) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7);
  WriteFile(dir.File("src"), bytes);
  WriteFile(dir.File("dst"), "older and longer content than nothing");
  platform::Env& env = platform::DefaultEnv();
  EXPECT_TRUE(CopyFileContents(env, dir.File("src"), dir.File("dst")).Ok());
  EXPECT_EQ(ReadFile(dir.File("dst")), bytes);
  EXPECT_EQ(CopyFileContents(env, dir.File("missing"), dir.File("dst2")).Message(),
            "Cannot open file \"" + dir.File("missing") +
                "\": " + SystemErrorText(SystemError::kNoSuchFile));
  EXPECT_EQ(CopyFileContents(env, dir.File("src"), dir.File("no/such/dst")).Message(),
            "Cannot create file \"" + dir.File("no/such/dst") +
                "\": " + SystemErrorText(SystemError::kNoSuchDirectory));
}

TEST(Sorter, ConstructedAndDestroyedWithoutAJobTouchesNoFile) {
  TempDir dir;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  {
    TQxFileSorter sorter;
    std::vector<std::string> got;
    sorter.DoCallBackStr("silent");  // no callback: nothing happens
    sorter.OnCallBackStr = [&](const char* line) { got.emplace_back(line); };
    sorter.DoCallBackStr("");
    EXPECT_EQ(got, std::vector<std::string>{""});
  }
  std::filesystem::current_path(cwd);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0);
}
