// Sort jobs through the built program: exit code, console lines and files,
// byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e_support.h"
#include "tests/sort_model.h"

using namespace testing_support;

namespace {

const std::string kMemoryLine = WithProgramThousands("Maximum memory used: 33,554,432 bytes");

// The console lines of a job between the banner and the elapsed-time line
// (which must be the last line of a job that ended normally).
std::vector<std::string> JobLines(const RunResult& r) {
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  std::vector<std::string> lines = SplitLines(r.out.substr(kBanner.size()));
  if (lines.empty() || !IsElapsedTimeLine(lines.back())) {
    ADD_FAILURE() << "no elapsed-time line at the end of:\n" << r.out;
    return lines;
  }
  lines.pop_back();
  return lines;
}

// What a job that stopped with an error printed after the banner.
std::string ErrorText(const RunResult& r) {
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  return r.out.substr(kBanner.size());
}

std::vector<std::string> SimpleJobLines(int read, int written) {
  return {kMemoryLine,
          "Reading...",
          std::to_string(read) + " record(s) read.",
          "Sorting/Writing to file 0...",
          "Begin 5-way merging files 0-0...",
          std::to_string(written) + " record(s) written."};
}

class SortJob : public ::testing::Test {
 protected:
  RunResult Run(const std::vector<std::string>& args) {
    return RunQuarnIn(dir.Path().string(), args);
  }
  // Runs the options with in.txt and out.txt as the two file names.
  RunResult RunSort(std::vector<std::string> options) {
    options.push_back("in.txt");
    options.push_back("out.txt");
    return Run(options);
  }
  std::string In() const { return dir.File("in.txt"); }
  std::string Out() const { return dir.File("out.txt"); }
  // Nothing but the named files is left in the working directory.
  void ExpectOnlyFiles(std::vector<std::string> names) {
    std::vector<std::string> present;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      present.push_back(e.path().filename().string());
    std::sort(present.begin(), present.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(present, names);
  }
  TempDir dir;
};

TEST_F(SortJob, KeysAndOptions) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> options;
    std::string output;
  };
  const Case cases[] = {
      {"whole record, every line end", "b\r\na\nc\rd\n\re", {}, "a\r\nb\r\nc\r\nd\r\ne\r\n"},
      {"a final byte 26 is no record", "b\r\na\r\n\x1a", {}, "a\r\nb\r\n"},
      {"a shorter record sorts first", "ab\nabc\na\n", {}, "a\r\nab\r\nabc\r\n"},
      {"empty records are records", "b\n\na\n\n", {}, "\r\n\r\na\r\nb\r\n"},
      {"case-sensitive column", "x20\ny10\nz30\n", {"/S=2,2"}, "y10\r\nx20\r\nz30\r\n"},
      {"upper case before lower",
       "abc1\nABC2\naBc3\nabd\n",
       {"/S=1,3"},
       "ABC2\r\naBc3\r\nabc1\r\nabd\r\n"},
      // Equal keys come out in the order of the quicksort's exchanges.
      {"case-insensitive",
       "abc1\nABC2\naBc3\nabd\n",
       {"/c=1,3"},
       "aBc3\r\nABC2\r\nabc1\r\nabd\r\n"},
      {"numeric",
       "  12\n  -5\n 100\n   3\n  -1\n  -0\n   0\n",
       {"/N=1,4"},
       "  -5\r\n  -1\r\n  -0\r\n   0\r\n   3\r\n  12\r\n 100\r\n"},
      {"numeric descending",
       "  12\n  -5\n 100\n   3\n  -1\n",
       {"/N=1,4-"},
       " 100\r\n  12\r\n   3\r\n  -1\r\n  -5\r\n"},
      {"two keys",
       "a 10\nb  5\na  7\nb 20\n",
       {"/S=1,1", "/N=2,3-"},
       "a 10\r\na  7\r\nb 20\r\nb  5\r\n"},
      {"last key to the end", "xxbc\nyyb\nzza\n", {"/S=3,0"}, "zza\r\nyyb\r\nxxbc\r\n"},
      {"header line stays on top", "zz header\nb\na\n", {"/H=1"}, "zz header\r\na\r\nb\r\n"},
      {"more header lines than lines", "b\na\n", {"/H=5"}, "b\r\na\r\n"},
      {"blank records dropped", "b\r\n\r\n  \r\na\r\n", {"/B"}, "a\r\nb\r\n"},
      {"excluded by column", "a#1\nb#2\nc.3\nd\n", {"/X=2,$23"}, "c.3\r\nd\r\n"},
      {"/B switches /X off", "a#1\n\nc.3\n", {"/B", "/X=2,$23"}, "a#1\r\nc.3\r\n"},
      {"duplicates dropped", "b\na\nb\na\nc\n", {"/D"}, "a\r\nb\r\nc\r\n"},
      {"fixed-length records", "ccbbaa", {"/F=2"}, "aabbcc"},
      {"fixed-length record ending in 26 lands last",
       std::string("zz\x1a"
                   "aaa",
                   6),
       {"/F=3", "/D"},
       std::string("aaazz\x1a", 6)},
      {"CSV auto-width string key",
       "x;b;1\ny;ab;2\nz;c;3\n",
       {"/V", "/SV=2,1,0"},
       "y;ab;2\r\nx;b;1\r\nz;c;3\r\n"},
      {"CSV auto-width numeric key",
       "a;100\nb;5\nc;12\n",
       {"/NV=2,1,0", "/V"},
       "b;5\r\nc;12\r\na;100\r\n"},
      {"CSV with other separator and quote",
       "1,'b,x'\n2,'a'\n",
       {"/V=$2C,$27", "/SV=2,1,1"},
       "2,'a'\r\n1,'b,x'\r\n"},
  };
  for (const Case& c : cases) {
    WriteFile(In(), c.input);
    RunResult r = RunSort(c.options);
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(ReadFile(Out()), c.output) << c.name;
    ExpectOnlyFiles({"in.txt", "out.txt"});
    std::filesystem::remove(Out());
  }
}

TEST_F(SortJob, ConsoleLinesOfAPlainJob) {
  WriteFile(In(), "b\r\na\nc\rd\n\re");
  RunResult r = Run({"in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(JobLines(r), SimpleJobLines(5, 5));
  EXPECT_EQ(r.err, "");
}

TEST_F(SortJob, ConsoleLinesOfTheOptions) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> options;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"empty input",
       "",
       {},
       {kMemoryLine, "Reading...", "Sorting/Writing to file 0...",
        "Begin 5-way merging files 0-0...", "0 record(s) written."}},
      {"header lines only",
       "h1\nh2\n",
       {"/H=2"},
       {kMemoryLine, "Reading...", "2 record(s) read.", "Sorting/Writing to file 0...",
        "Begin 5-way merging files 0-0...", "Processing last file...", "2 record(s) written."}},
      {"blank and header",
       "h\n\nb\n \na\n",
       {"/B", "/H=1", "/W=2", "/M=4096"},
       {WithProgramThousands("Maximum memory used: 2,097,152 bytes"), "Reading...",
        "5 record(s) read.", "Sorting/Writing to file 0...", "Begin 2-way merging files 0-0...",
        "Processing last file...", "2 empty record(s) discarded.", "3 record(s) written."}},
      {"duplicates",
       "b\na\nb\na\nc\n",
       {"/D"},
       {kMemoryLine, "Reading...", "5 record(s) read.", "Sorting/Writing to file 0...",
        "Begin 5-way merging files 0-0...", "Processing last file...",
        "2 duplicate record(s) ignored.", "3 record(s) written."}},
      {"header and exclusion",
       "H\n1\n2x\n3\n4x\n5\n6\n7\n8\n9\n",
       {"/H=1", "/X=2,x"},
       {kMemoryLine, "Reading...", "10 record(s) read.", "Sorting/Writing to file 0...",
        "Begin 5-way merging files 0-0...", "Processing last file...", "8 record(s) written."}},
      {"CSV pre-pass",
       "h;zzzzzzzz\nx;b\ny;ab\n",
       {"/V", "/H=1", "/SV=2,1,0"},
       {"CSV: analyzing max. width of columns to be sorted (header lines excluded)...",
        "2 record(s) analyzed.", "Analyzing CSV file finished.", kMemoryLine, "Reading...",
        "3 record(s) read.", "Sorting/Writing to file 0...", "Begin 5-way merging files 0-0...",
        "Processing last file...", "3 record(s) written."}},
  };
  for (const Case& c : cases) {
    WriteFile(In(), c.input);
    RunResult r = RunSort(c.options);
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(JobLines(r), c.lines) << c.name;
  }
}

TEST_F(SortJob, ProgressCountsAreNeverRepeated) {
  auto lines = [](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += std::to_string(n - i) + ";x\n";
    return text;
  };
  auto counts = [](const std::vector<std::string>& all) {
    std::vector<std::string> picked;
    for (const std::string& l : all)
      if (l.find(" record(s) read.") != std::string::npos ||
          l.find(" record(s) analyzed.") != std::string::npos)
        picked.push_back(l);
    return picked;
  };
  struct Case {
    int records;
    std::vector<std::string> options;
    std::vector<std::string> counts;
  };
  const Case cases[] = {
      {999, {}, {"999 record(s) read."}},
      {1000, {}, {"1000 record(s) read."}},
      {1001, {}, {"1000 record(s) read.", "1001 record(s) read."}},
      {1000, {"/V", "/SV=1,1,0"}, {"1000 record(s) analyzed.", "1000 record(s) read."}},
      {1500,
       {"/V", "/SV=1,1,0"},
       {"1000 record(s) analyzed.", "1500 record(s) analyzed.", "1000 record(s) read.",
        "1500 record(s) read."}},
  };
  for (const Case& c : cases) {
    WriteFile(In(), lines(c.records));
    RunResult r = RunSort(c.options);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(counts(JobLines(r)), c.counts) << c.records << " records";
  }
}

TEST_F(SortJob, QuietJobPrintsBannerAndElapsedTimeOnly) {
  WriteFile(In(), "b\na\n");
  RunResult r = Run({"/Q", "/D", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(JobLines(r), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(Out()), "a\r\nb\r\n");
}

TEST_F(SortJob, DuplicatesFileAndExistingOutput) {
  WriteFile(In(), "b\na\nB\nA\nc\n");
  WriteFile(Out(), "an older, longer output file that is replaced\r\n");
  RunResult r = Run({"/C=1,1", "/D=dups.txt", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  // Equal keys in quicksort order (a, A, B, b, c): the first of each group
  // is kept, the others go to the duplicates file.
  EXPECT_EQ(ReadFile(Out()), "a\r\nB\r\nc\r\n");
  EXPECT_EQ(ReadFile(dir.File("dups.txt")), "A\r\nb\r\n");

  WriteFile(In(), "x\ny\n");
  r = Run({"/D=nodups.txt", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Exists(dir.File("nodups.txt")));
  EXPECT_EQ(ReadFile(dir.File("nodups.txt")), "");
}

TEST_F(SortJob, OutputMayBeTheInputFile) {
  WriteFile(In(), "c\nb\na\n");
  RunResult r = Run({"in.txt", "in.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(In()), "a\r\nb\r\nc\r\n");
  ExpectOnlyFiles({"in.txt"});
}

TEST_F(SortJob, TemporaryDirectory) {
  std::filesystem::create_directory(dir.File("tmp dir"));
  WriteFile(In(), "b\na\n");
  RunResult r = Run({"/T=tmp dir", "/H=1", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFile(Out()), "b\r\na\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("tmp dir")));
  ExpectOnlyFiles({"in.txt", "out.txt", "tmp dir"});
}

TEST_F(SortJob, FatalErrors) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> args;
    std::string message;  // without "Error: " and the line end
  };
  const Case cases[] = {
      {"one file name", "a\n", {"in.txt"}, "No input file indicated"},
      {"merge ways out of range",
       "a\n",
       {"/W=9", "in.txt", "out.txt"},
       "Invalid n-way-merge value /W="},
      {"unknown option", "a\n", {"/Z=1", "in.txt", "out.txt"}, "Invalid argument Z"},
      {"length 0 not last",
       "abcdefgh\n",
       {"/S=1,0", "/S=5,3", "in.txt", "out.txt"},
       "length = 0 only valid for last non-numeric key specification"},
      {"numeric length 0",
       "abcdefgh\n",
       {"/N=1,0", "in.txt", "out.txt"},
       "length = 0 only valid for last non-nemeric key specification"},
      {"missing input", "", {"missing.txt", "out.txt"}, "File missing.txt not found"},
      {"input is a directory", "", {".", "out.txt"}, "File . not found"},
      {"record too short for From",
       "abcdefgh\nab\n",
       {"/S=5,3", "in.txt", "out.txt"},
       "Illegal sort field: From=5 beyond end of line: \r\nab"},
      {"record too short for Len",
       "abcdefgh\nabcdef\n",
       {"/S=5,3", "in.txt", "out.txt"},
       "Illegal sort field: Len=3 beyond end of line: \r\nabcdef"},
      {"From below 1",
       "abcdefgh\n",
       {"/S=0,3", "in.txt", "out.txt"},
       "Illegal sort field: From=0 before start of line: \r\nabcdefgh"},
      {"CSV record that cannot be split",
       "a;b\n\"a\"b;c\n",
       {"/V", "/SV=1,1,1", "in.txt", "out.txt"},
       "Error Parsing CSV record: End of quotation sign not followed by separator\r\nColumn 4 in "
       "line:\r\n\"a\"b;c"},
      {"CSV field missing",
       "a;b;c\n",
       {"/V", "/SV=4,1,2", "in.txt", "out.txt"},
       "4-th CSV field separated with comma char #59 doesn't exist in line:\r\na;b;c"},
      {"CSV pre-pass with line number",
       "h\na;b\nc\n",
       {"/V", "/H=1", "/SV=2,1,0", "in.txt", "out.txt"},
       "not enough fields; field 2 not present in line 3\r\nc"},
  };
  for (const Case& c : cases) {
    WriteFile(In(), c.input);
    RunResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.name;
    // Progress lines may come first; the error line is the last thing said.
    const std::string text = ErrorText(r);
    const size_t at = text.find("Error: ");
    EXPECT_EQ(at == std::string::npos ? text : text.substr(at),
              AsShown("Error: " + c.message + "\n"))
        << c.name;
    EXPECT_FALSE(Exists(Out())) << c.name;
  }
}

TEST_F(SortJob, LeftoverMergedFileStopsTheJobBeforeTheOutputIsTouched) {
  WriteFile(In(), "b\na\n");
  WriteFile(dir.File("$Quarn.tmp"), "left over\r\n");
  WriteFile(Out(), "keep me\r\n");
  RunResult r = Run({"in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 1);
  // The message names the file in the way, and the system's reason.
  const std::string text = ErrorText(r);
  const size_t at = text.find("Error: ");
  EXPECT_EQ(at == std::string::npos ? text : text.substr(at),
            AsShown("Error: Can't merge temporary files into $Quarn.tmp\r\n"
                    "Cannot rename file \"$Quarn0.tmp\" to \"$Quarn.tmp\": " +
                    SystemErrorText(SystemError::kAlreadyExists) + "\n"));
  EXPECT_EQ(ReadFile(Out()), "keep me\r\n");
  EXPECT_EQ(ReadFile(dir.File("$Quarn.tmp")), "left over\r\n");
  EXPECT_EQ(ReadFile(dir.File("$Quarn0.tmp")), "a\r\nb\r\n");  // the sorted run stays
}

TEST_F(SortJob, RecordFileErrorsEndWithExitCode217) {
  WriteFile(In(), "abc\n");
  RunResult r = Run({"/F=-1", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 217);
  EXPECT_EQ(ErrorText(r), "Unhandled exception (abort): Invalid Record Lenght\n");

  WriteFile(In(), std::string(40000, 'x') + "\nshort\n");
  r = Run({"in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 217);
  std::vector<std::string> lines = SplitLines(ErrorText(r));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "Unhandled exception (I/O error): Not a text file or line exceeds buffer size");

  WriteFile(In(), "abcd");
  r = Run({"/F=3", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 217);
  lines = SplitLines(ErrorText(r));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Unhandled exception (I/O error): Invalid record length");
}

// ---- Many runs against a plain model of the same job ----------------------

std::string Thousands(long long v) {
  std::string digits = std::to_string(v), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

struct ModelJob {
  std::string output;
  std::vector<std::string> lines;
};

// The job as a plain in-memory program: cut runs by the memory estimate,
// quicksort each, merge them in the queue order with ties to the lower run,
// optionally drop duplicates.
ModelJob RunModel(const std::vector<std::string>& records, long long limit, int ways, bool dedupe,
                  const std::function<std::string(const std::string&)>& keyOf) {
  ModelJob job;
  job.lines = {WithProgramThousands("Maximum memory used: " + Thousands(limit) + " bytes"),
               "Reading..."};
  std::vector<std::vector<std::string>> runs;
  std::vector<std::string> recs, keys;
  long long used = 0, read = 0, last = 0;
  auto cut = [&] {
    job.lines.push_back("Sorting/Writing to file " + std::to_string(runs.size()) + "...");
    ModelQuickSort(recs, keys, 0, static_cast<long>(recs.size()) - 1);
    runs.push_back(recs);
    recs.clear();
    keys.clear();
    used = 0;
  };
  for (const std::string& rec : records) {
    ++read;
    if (read % 1000 == 0) {
      last = read;
      job.lines.push_back(std::to_string(read) + " record(s) read.");
    }
    recs.push_back(rec);
    keys.push_back(keyOf(rec));
    used += static_cast<long long>(rec.size()) + 10;
    if (used > limit) {
      if (read != last) job.lines.push_back(std::to_string(read) + " record(s) read.");
      last = read;
      cut();
    }
  }
  if (read != last) job.lines.push_back(std::to_string(read) + " record(s) read.");
  if (!recs.empty() || runs.empty()) cut();
  job.lines.push_back("Begin " + std::to_string(ways) + "-way merging files 0-" +
                      std::to_string(runs.size() - 1) + "...");
  size_t first = 0, lastRun = runs.size() - 1;
  while (first < lastRun) {
    size_t groupLast = std::min(first + static_cast<size_t>(ways) - 1, lastRun);
    job.lines.push_back("Merging files " + std::to_string(first) + " - " +
                        std::to_string(groupLast) + " into " + std::to_string(runs.size()));
    std::vector<size_t> pos(groupLast - first + 1, 0);
    std::vector<std::string> merged;
    for (;;) {
      long best = -1;
      for (size_t k = 0; k < pos.size(); ++k) {
        const auto& run = runs[first + k];
        if (pos[k] == run.size()) continue;
        if (best < 0 ||
            keyOf(run[pos[k]]) <
                keyOf(runs[first + static_cast<size_t>(best)][pos[static_cast<size_t>(best)]]))
          best = static_cast<long>(k);
      }
      if (best < 0) break;
      merged.push_back(runs[first + static_cast<size_t>(best)][pos[static_cast<size_t>(best)]++]);
    }
    runs.push_back(merged);
    first = groupLast + 1;
    lastRun = runs.size() - 1;
  }
  long long written = 0, duplicates = 0;
  std::string previousKey;
  for (size_t i = 0; i < runs[lastRun].size(); ++i) {
    const std::string& rec = runs[lastRun][i];
    if (dedupe && i > 0 && keyOf(rec) == previousKey) {
      ++duplicates;
      continue;
    }
    previousKey = keyOf(rec);
    job.output += rec + "\r\n";
    ++written;
  }
  if (dedupe) {
    job.lines.push_back("Processing last file...");
    job.lines.push_back(std::to_string(duplicates) + " duplicate record(s) ignored.");
  }
  job.lines.push_back(std::to_string(written) + " record(s) written.");
  return job;
}

TEST_F(SortJob, ManyRunsMatchThePlainModel) {
  auto whole = [](const std::string& r) { return r; };
  auto firstTwo = [](const std::string& r) { return r.substr(0, 2); };
  auto firstTwoDescending = [](const std::string& r) {
    std::string k = r.substr(0, 2);
    for (char& c : k) c = static_cast<char>(255 - static_cast<unsigned char>(c));
    return k;
  };
  auto foldedThree = [](const std::string& r) {
    std::string k = r.substr(0, 3);
    for (char& c : k)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return k;
  };
  struct Case {
    const char* name;
    int records;
    std::vector<std::string> options;
    long long limit;
    int ways;
    bool dedupe;
    std::function<std::string(const std::string&)> keyOf;
  };
  const Case cases[] = {
      {"whole records, 5 ways", 30000, {"/M=0"}, 1048576, 5, false, whole},
      {"ties on two bytes, 2 ways", 40000, {"/M=0", "/W=2", "/S=1,2"}, 1048576, 2, false, firstTwo},
      {"descending, 3 ways",
       80000,
       {"/M=-5", "/W=3", "/S=1,2-"},
       1048576,
       3,
       false,
       firstTwoDescending},
      {"case-insensitive with duplicates",
       60000,
       {"/M=0", "/C=1,3", "/D"},
       1048576,
       5,
       true,
       foldedThree},
      {"two merge steps", 125000, {"/M=0", "/S=1,2"}, 1048576, 5, false, firstTwo},
  };
  std::mt19937 rng(12345);
  for (const Case& c : cases) {
    std::vector<std::string> records;
    std::string input;
    for (int i = 0; i < c.records; ++i) {
      std::string rec;
      for (int k = 0; k < 3; ++k) rec += "aAbB"[rng() % 4];
      rec += '|';
      rec += std::to_string(i);
      rec += '|';
      rec.append(rng() % 90, 'x');
      records.push_back(rec);
      input += rec + (i % 3 == 0 ? "\n" : "\r\n");
    }
    WriteFile(In(), input);
    RunResult r = RunSort(c.options);
    ModelJob expected = RunModel(records, c.limit, c.ways, c.dedupe, c.keyOf);
    ASSERT_EQ(r.exitCode, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(JobLines(r), expected.lines) << c.name;
    EXPECT_TRUE(ReadFile(Out()) == expected.output) << c.name << ": output differs from the model";
    ExpectOnlyFiles({"in.txt", "out.txt"});
  }
}

// Runs are sorted in parts while they are read and written by merging the
// parts, where that gives the order of one sort of the whole run. Keys that
// repeat only between parts of a run (never within one) must still come
// out in the order of the whole-run sort.
TEST_F(SortJob, RunsSortedInPartsMatchThePlainModel) {
  auto number = [](const std::string& r) { return r.substr(4, 6); };
  struct Case {
    const char* name;
    int records;
    int distinctKeys;  // the key is the record's number modulo this
  };
  const Case cases[] = {
      {"distinct keys", 50000, 1000000},
      {"keys repeated only between parts", 50000, 9000},
  };
  std::mt19937 rng(777);
  for (const Case& c : cases) {
    std::vector<int> numbers(static_cast<std::size_t>(c.records));
    for (int i = 0; i < c.records; ++i) numbers[static_cast<std::size_t>(i)] = i;
    // Shuffled, except that no key repeats within distinctKeys records.
    if (c.distinctKeys > c.records) std::shuffle(numbers.begin(), numbers.end(), rng);
    std::vector<std::string> records;
    std::string input;
    for (int i = 0; i < c.records; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%06d", numbers[static_cast<std::size_t>(i)] % c.distinctKeys);
      std::string rec = std::string(1, "abc"[rng() % 3]) + "xy|" + key + "|" + std::to_string(i);
      rec.append(rng() % 60, 'z');
      records.push_back(rec);
      input += rec + "\r\n";
    }
    WriteFile(In(), input);
    RunResult r = RunSort({"/M=0", "/S=5,6"});
    ModelJob expected = RunModel(records, 1048576, 5, false, number);
    ASSERT_EQ(r.exitCode, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(JobLines(r), expected.lines) << c.name;
    EXPECT_TRUE(ReadFile(Out()) == expected.output) << c.name << ": output differs from the model";
  }
}

}  // namespace
