// One sort job with several runs, several merge steps, header lines and a
// duplicates file, run once for every file-system call that can fail,
// with that call failing: no failure may pass for success, and no failure
// may cost the user a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "sortengine/file_sorter.h"
#include "tests/fatal_capture.h"
#include "tests/fault_env.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

struct JobResult {
  int exitCode = 0;  // as the program would end: 0, 1 (fatal error) or 217
  std::string message;
};

JobResult RunJob(platform::Env& env, const std::string& commandLine) {
  CaptureFatalErrors capture;
  try {
    TQxFileSorter sorter(env);
    sorter.Sort(commandLine);
  } catch (const FatalErrorRaised& e) {
    return {1, e.Message};
  } catch (const std::exception& e) {
    return {217, e.what()};
  }
  return {};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

class FailureTable : public ::testing::Test {
 protected:
  void SetUp() override {
    // 3-byte records charge 13 bytes each against the 1 MB budget: five
    // runs, merged two at a time in four steps. The key (bytes 1-2) has
    // 676 values, so most records are duplicates.
    std::mt19937 random(7);
    input_ = "H2 second header\r\nH1 first header\r\n";
    for (int i = 0; i < 330000; ++i) {
      std::string record(3, 'a');
      for (char& c : record) c = static_cast<char>('a' + random() % 26);
      records_.push_back(record);
      input_ += record + "\n";
    }
  }

  std::string In() const { return dir_.File("in.txt"); }
  std::string Out() const { return dir_.File("out.txt"); }
  std::string Dups() const { return dir_.File("dups.txt"); }

  void ResetFiles() {
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
      std::filesystem::remove_all(e.path());
    WriteFile(In(), input_);
    WriteFile(Out(), kOldOutput);
  }

  std::string CommandLine(const std::string& output) const {
    return "/H=2\t/S=1,2\t/D=" + Dups() + "\t/M=0\t/W=2\t/T=" + dir_.Path().string() + "\t" + In() +
           "\t" + output;
  }

  // The records of Name sorted by key with all of the input's records, or
  // a failure saying why not.
  ::testing::AssertionResult HoldsAllRecordsSorted(const std::string& name) const {
    std::vector<std::string> lines = Lines(ReadFile(name));
    if (!std::is_sorted(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
          return a.substr(0, 2) < b.substr(0, 2);
        }))
      return ::testing::AssertionFailure() << name << " is not in key order";
    std::vector<std::string> expected = records_;
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    if (lines != expected) return ::testing::AssertionFailure() << name << " lacks records";
    return ::testing::AssertionSuccess();
  }

  // Runs the job with every call of every kind failing in turn and checks
  // what each failure leaves behind.
  void RunTable(const std::string& output) {
    ResetFiles();
    FaultEnv clean;
    JobResult ok = RunJob(clean, CommandLine(output));
    ASSERT_EQ(ok.exitCode, 0) << ok.message;
    const std::string sortedOutput = ReadFile(output);
    const std::string sortedDuplicates = ReadFile(Dups());
    ASSERT_EQ(Lines(sortedOutput).size(), 2 + 676u);
    ASSERT_GE(clean.Count(FaultOp::kCreate), 5 + 4 + 2) << "five runs, four merge steps";

    int failures = 0;
    for (int o = 0; o < static_cast<int>(FaultOp::kCount); ++o) {
      const FaultOp op = static_cast<FaultOp>(o);
      // Reads fail after a byte count, taken at 80 points spread over all
      // the bytes read (a step not a multiple of the buffer size).
      const std::int64_t step = op == FaultOp::kRead ? clean.Count(op) / 80 + 1 : 1;
      const std::string error =
          op == FaultOp::kWrite ? "No space left on device" : "Input/output error";
      for (std::int64_t n = op == FaultOp::kRead ? 0 : 1; n <= clean.Count(op); n += step) {
        SCOPED_TRACE(std::string(FaultOpName(op)) + " #" + std::to_string(n));
        ResetFiles();
        FaultEnv env;
        env.FailAt(op, n, error);
        const JobResult r = RunJob(env, CommandLine(output));
        ASSERT_TRUE(env.Fired());
        if (r.exitCode == 0) {
          // Tolerated only where nothing was at stake: the result is whole.
          EXPECT_TRUE(ReadFile(output) == sortedOutput);
          EXPECT_TRUE(ReadFile(Dups()) == sortedDuplicates);
          continue;
        }
        ++failures;
        EXPECT_NE(r.message.find(error), std::string::npos) << r.message;
        EXPECT_TRUE(ReadFile(In()) == input_) << "input changed: " << r.message;
        if (output != In()) {
          EXPECT_EQ(ReadFile(output), kOldOutput) << r.message;
        }
        const std::string kept = "the sorted records remain in \"";
        const std::size_t at = r.message.find(kept);
        if (at != std::string::npos) {
          const std::string name =
              r.message.substr(at + kept.size(), r.message.size() - at - kept.size() - 1);
          EXPECT_TRUE(HoldsAllRecordsSorted(name)) << r.message;
        }
        for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
          EXPECT_EQ(e.path().filename().string().rfind(".quarn-", 0), std::string::npos)
              << "a partial output was left: " << r.message;
      }
    }
    EXPECT_GT(failures, 100);
  }

  static constexpr const char* kOldOutput = "the output before the job\r\n";
  TempDir dir_;
  std::string input_;
  std::vector<std::string> records_;
};

TEST_F(FailureTable, EveryFailureLeavesTheInputAndTheOldOutput) { RunTable(Out()); }

TEST_F(FailureTable, EveryFailureLeavesAnInputThatIsAlsoTheOutput) { RunTable(In()); }

}  // namespace
