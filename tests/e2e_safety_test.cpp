// The user's files stay safe through the built program: jobs that share a
// temporary directory, an output that is also the input, pipes and devices,
// links planted at temporary names, and file names that clash.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/e2e_support.h"

using namespace testing_support;

namespace {

// Lines "k<number>" in a shuffled order, and the same lines sorted with
// CR LF line ends, as the program writes them.
struct Data {
  std::string input;
  std::string sorted;
};

Data MakeData(int count, unsigned seed, const std::string& tag) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i)
    lines.push_back(tag + std::to_string(1000000 + i) + std::string(20, 'x'));
  std::mt19937 random(seed);
  std::shuffle(lines.begin(), lines.end(), random);
  Data data;
  for (const std::string& line : lines) data.input += line + "\n";
  std::sort(lines.begin(), lines.end());
  for (const std::string& line : lines) data.sorted += line + "\r\n";
  return data;
}

// The text after the banner.
std::string AfterBanner(const RunResult& r) {
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  return r.out.substr(std::min(r.out.size(), kBanner.size()));
}

// The lock file that a Windows job holds open in its temporary directory
// is no temporary file: it goes when the job ends.
bool IsTempFileName(const std::string& name) {
  return name.rfind("$Quarn", 0) == 0 && name != "$Quarn.lock";
}

class SafeFiles : public ::testing::Test {
 protected:
  RunResult Run(const std::vector<std::string>& args) {
    return RunQuarnIn(dir.Path().string(), args);
  }
  RunResult Shell(const std::string& script) { return RunShellIn(dir.Path().string(), script); }
  std::string File(const std::string& name) const { return dir.File(name); }
  std::vector<std::string> TempFilesLeft() const {
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      if (IsTempFileName(e.path().filename().string()))
        left.push_back(e.path().filename().string());
    return left;
  }
  TempDir dir;
};

TEST_F(SafeFiles, AJobWaitsWhileAnotherHoldsTheTemporaryDirectory) {
  const Data data = MakeData(100, 1, "w");
  WriteFile(File("in.txt"), data.input);
  std::string error;
  auto held = platform::DefaultEnv().LockDirectory(
      dir.Path().string(), [] {}, error);
  ASSERT_NE(held, nullptr) << error;

  int exitCode = -1;
  std::thread runner([&] {
    exitCode = RunQuarnLogged(dir.Path().string(), {"in.txt", "out.txt"}, File("job.log"));
  });
  const std::string waiting = "Waiting for another job using the temporary directory " +
                              platform::DefaultEnv().FullPath(dir.Path().string()) + "...";
  for (int i = 0; i < 3000 && ReadFile(File("job.log")).find(waiting) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string log = AsShown(ReadFile(File("job.log")));
  EXPECT_NE(log.find(waiting + "\n"), std::string::npos) << log;
  // Nothing of the job's was written while it waited.
  EXPECT_TRUE(TempFilesLeft().empty());
  EXPECT_FALSE(Exists(File("out.txt")));

  held.reset();
  runner.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(ReadFile(File("out.txt")), data.sorted);
  const std::string finished = ReadFile(File("job.log"));
  EXPECT_EQ(finished.find(waiting), finished.rfind(waiting)) << "said once";
  EXPECT_LT(finished.find(waiting), finished.find("Sorting/Writing to file 0..."));
}

TEST_F(SafeFiles, TwoJobsInOneTemporaryDirectoryBothSucceed) {
  // Several runs each, so that both jobs write $Quarn0.tmp and more.
  const Data a = MakeData(90000, 2, "a");
  const Data b = MakeData(90000, 3, "b");
  WriteFile(File("a.txt"), a.input);
  WriteFile(File("b.txt"), b.input);
  for (int round = 0; round < 3; ++round) {
    int aExit = -1;
    int bExit = -1;
    std::thread aJob([&] {
      aExit = RunQuarnLogged(dir.Path().string(), {"/Q", "/M=0", "a.txt", "A.out"}, File("a.log"));
    });
    std::thread bJob([&] {
      bExit = RunQuarnLogged(dir.Path().string(), {"/Q", "/M=0", "b.txt", "B.out"}, File("b.log"));
    });
    aJob.join();
    bJob.join();
    EXPECT_EQ(aExit, 0) << ReadFile(File("a.log"));
    EXPECT_EQ(bExit, 0) << ReadFile(File("b.log"));
    EXPECT_TRUE(ReadFile(File("A.out")) == a.sorted) << "round " << round;
    EXPECT_TRUE(ReadFile(File("B.out")) == b.sorted) << "round " << round;
    EXPECT_TRUE(TempFilesLeft().empty());
  }
}

TEST_F(SafeFiles, AFailedFinalPassLeavesAnInputThatIsAlsoTheOutputIntact) {
  if (!HaveShell()) GTEST_SKIP() << "needs a POSIX shell and prlimit's file-size limit";
  // Three long header lines, so that the final file is larger than the
  // run; a file-size limit between the two fails only the final pass.
  std::string input;
  for (int i = 0; i < 3; ++i)
    input += "header " + std::to_string(i) + std::string(1000, 'h') + "\r\n";
  const Data data = MakeData(1000, 4, "r");
  std::string records;
  for (std::size_t at = 0; at < data.input.size();) {
    const std::size_t end = data.input.find('\n', at);
    records += data.input.substr(at, end - at) + "\r\n";
    at = end + 1;
  }
  input += records;
  WriteFile(File("in.txt"), input);
  const std::string limit = std::to_string(records.size() + 1500);
  RunResult r = Shell("trap '' XFSZ; prlimit --fsize=" + limit +
                      " \"$QUARN\" /Q /H=3 in.txt in.txt >\"$OUT\" 2>\"$ERR\"");
  EXPECT_EQ(r.exitCode, 217);
  EXPECT_EQ(AfterBanner(r),
            "Unhandled exception (I/O error): Cannot write file \"in.txt\": File too large; "
            "the sorted records remain in \"$Quarn.tmp\"\n");
  EXPECT_TRUE(ReadFile(File("in.txt")) == input);
  EXPECT_TRUE(ReadFile(File("$Quarn.tmp")) == data.sorted);
  // The partly written file beside the input is gone.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"$Quarn.tmp", "in.txt"}));
}

// Inputs that arrive through a pipe, read once.
struct PipeCase {
  const char* name;
  std::string input;
  std::string options;  // separated by blanks
  std::string output;
};
const PipeCase kPipeCases[] = {
    {"whole records", "b\na\nc\n", "", "a\r\nb\r\nc\r\n"},
    {"a final byte 26 is no record", "b\r\na\r\n\x1a", "", "a\r\nb\r\n"},
    {"CSV auto-width reads the input twice", "x;10\ny;2\nz;-3\n", "/V /NV=2,1,0",
     "z;-3\r\ny;2\r\nx;10\r\n"},
    {"header lines and duplicates", "h\nb\na\nb\n", "/H=1 /D", "h\r\na\r\nb\r\n"},
};

TEST_F(SafeFiles, PipesAreReadToTheirEnd) {
  if (!HaveShell()) GTEST_SKIP() << "needs a POSIX shell, /dev/stdin and mkfifo";
  for (const PipeCase& c : kPipeCases) {
    WriteFile(File("src"), c.input);
    RunResult r =
        Shell("cat src | \"$QUARN\" /Q " + c.options + " /dev/stdin out.txt >\"$OUT\" 2>\"$ERR\"");
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(ReadFile(File("out.txt")), c.output) << c.name;
    EXPECT_TRUE(TempFilesLeft().empty()) << c.name;
  }
  // A FIFO as well, with progress lines.
  WriteFile(File("src"), "2\n1\n");
  RunResult r = Shell(
      "mkfifo in.fifo && (cat src >in.fifo &) && \"$QUARN\" in.fifo out.txt >\"$OUT\" 2>\"$ERR\"");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("\n2 record(s) read.\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(File("out.txt")), "1\r\n2\r\n");
}

TEST_F(SafeFiles, NamedPipesAreReadToTheirEnd) {
  if (!NamedPipeFeeder::Supported()) GTEST_SKIP() << "Windows named pipes only";
  for (const PipeCase& c : kPipeCases) {
    NamedPipeFeeder pipe(c.input);
    std::vector<std::string> args = {"/Q"};
    std::istringstream options(c.options);
    for (std::string option; options >> option;) args.push_back(option);
    args.push_back(pipe.Path());
    args.push_back("out.txt");
    RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.out;
    EXPECT_EQ(ReadFile(File("out.txt")), c.output) << c.name;
    EXPECT_TRUE(TempFilesLeft().empty()) << c.name;
  }
}

TEST_F(SafeFiles, AnOutputThatIsADeviceOrFifoIsWrittenIntoNeverReplaced) {
  if (!HaveShell()) GTEST_SKIP() << "needs a POSIX shell, /dev/stdout and mkfifo";
  WriteFile(File("in.txt"), "b\na\nb\n");
  // Standard output (a pipe) as the output file, with and without the
  // last pass; the system's /dev/stdout stays what it is.
  for (const std::string options : {"", "/D"}) {
    RunResult r =
        Shell("\"$QUARN\" /Q " + options + " in.txt /dev/stdout 2>\"$ERR\" | cat >\"$OUT\"");
    EXPECT_EQ(r.exitCode, 0) << options;
    const std::string expected = options.empty() ? "a\r\nb\r\nb\r\n" : "a\r\nb\r\n";
    EXPECT_EQ(AfterBanner(r).substr(0, expected.size()), expected) << options;
    EXPECT_TRUE(TempFilesLeft().empty());
    EXPECT_TRUE(std::filesystem::is_symlink("/dev/stdout"));
  }
  RunResult r = Shell(
      "mkfifo out.fifo && (cat out.fifo >got &) && \"$QUARN\" /Q in.txt out.fifo >\"$OUT\" "
      "2>\"$ERR\" && wait");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  for (int i = 0; i < 500 && ReadFile(File("got")).size() < 9; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ReadFile(File("got")), "a\r\nb\r\nb\r\n");
  EXPECT_TRUE(std::filesystem::is_fifo(File("out.fifo")));
}

#ifdef _WIN32
// The counterpart of the test above. Not run on POSIX, where a faulty build
// run as root would replace the system's /dev/null.
TEST_F(SafeFiles, TheNulDeviceAsOutputIsWrittenIntoNeverReplaced) {
  WriteFile(File("in.txt"), "b\na\nb\n");
  // With and without the last pass; a rename over the device or a copy
  // beside it would fail or leave a file behind.
  for (const std::string options : {"/Q", "/D"}) {
    RunResult r = Run({options, "in.txt", "NUL"});
    EXPECT_EQ(r.exitCode, 0) << options << r.out;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"in.txt"}) << options;
  }
}
#endif

TEST_F(SafeFiles, AnOutputLinkStaysALinkToTheSortedFile) {
  if (!SymlinksSupported()) GTEST_SKIP() << "no symbolic links here";
  std::filesystem::create_directory(File("data"));
  WriteFile(File("data/real.txt"), "old\r\n");
  std::filesystem::create_symlink("data/real.txt", File("out.txt"));
  WriteFile(File("in.txt"), "b\na\nb\n");
  for (const std::string options : {"/Q", "/D"}) {
    RunResult r = Run({options, "in.txt", "out.txt"});
    EXPECT_EQ(r.exitCode, 0) << options << r.out;
    EXPECT_TRUE(std::filesystem::is_symlink(File("out.txt"))) << options;
    EXPECT_EQ(ReadFile(File("data/real.txt")), options == "/D" ? "a\r\nb\r\n" : "a\r\nb\r\nb\r\n");
  }
}

TEST_F(SafeFiles, TemporaryFilesAreNeverWrittenThroughPlantedLinks) {
  if (!SymlinksSupported()) GTEST_SKIP() << "no symbolic links here";
  TempDir elsewhere;
  const std::string victim = elsewhere.File("victim.txt");
  WriteFile(victim, "precious\n");
  WriteFile(File("in.txt"), "b\na\n");
  std::filesystem::create_symlink(victim, File("$Quarn0.tmp"));
  std::filesystem::create_symlink(victim, File("$Quarn1.tmp"));
  RunResult r = Run({"/Q", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFile(victim), "precious\n");
  EXPECT_EQ(ReadFile(File("out.txt")), "a\r\nb\r\n");
  EXPECT_FALSE(std::filesystem::is_symlink(File("out.txt")));
  // The link that was not needed stays; the one replaced by run 0 is gone.
  EXPECT_EQ(TempFilesLeft(), std::vector<std::string>{"$Quarn1.tmp"});
}

TEST_F(SafeFiles, ATemporaryNameThatCannotBeClearedStopsTheJob) {
  // What cannot be removed stops the job with the reason, output untouched.
  WriteFile(File("in.txt"), "b\na\n");
  std::filesystem::create_directory(File("$Quarn0.tmp"));
  WriteFile(File("out.txt"), "old\r\n");
  RunResult r = Run({"/Q", "in.txt", "out.txt"});
  EXPECT_EQ(r.exitCode, 217);
  EXPECT_EQ(AfterBanner(r),
            "Unhandled exception (I/O error): Cannot create file \"$Quarn0.tmp\": "
            "cannot remove the file left at this name: " +
                SystemErrorText(SystemError::kIsADirectory) + "\n");
  EXPECT_EQ(ReadFile(File("out.txt")), "old\r\n");
}

TEST_F(SafeFiles, ClashingFileNamesAreRefusedBeforeReading) {
  std::filesystem::create_directory(File("t"));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {"duplicates file is the output",
       {"/S=1,1", "/D=out.txt", "in.txt", "out.txt"},
       "Duplicates file out.txt is the output file"},
      {"the same, spelt otherwise",
       {"/S=1,1", "/D=t/../out.txt", "in.txt", "out.txt"},
       "Duplicates file t/../out.txt is the output file"},
      {"duplicates file is the input",
       {"/D=./in.txt", "in.txt", "out.txt"},
       "Duplicates file ./in.txt is the input file"},
      {"duplicates file is the merged file",
       {"/D=$Quarn.tmp", "in.txt", "out.txt"},
       "Duplicates file $Quarn.tmp has the name of a temporary file"},
      {"duplicates file is a run in /T",
       {"/T=t", "/D=t/$Quarn2.tmp", "in.txt", "out.txt"},
       "Duplicates file t/$Quarn2.tmp has the name of a temporary file"},
      {"output is a run",
       {"in.txt", "$Quarn3.tmp"},
       "Output file $Quarn3.tmp has the name of a temporary file"},
      {"input is a run",
       {"/M=0", "$Quarn0.tmp", "out.txt"},
       "Input file $Quarn0.tmp has the name of a temporary file; rename or move it first"},
  };
  const std::string input = "b\na\nb\n";
  for (const Case& c : cases) {
    WriteFile(File("in.txt"), input);
    WriteFile(File("$Quarn0.tmp"), input);
    WriteFile(File("out.txt"), "old\r\n");
    RunResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.name;
    EXPECT_EQ(AfterBanner(r), "Error: " + c.message + "\n") << c.name;
    EXPECT_EQ(ReadFile(File("in.txt")), input) << c.name;
    EXPECT_EQ(ReadFile(File("$Quarn0.tmp")), input) << c.name;
    EXPECT_EQ(ReadFile(File("out.txt")), "old\r\n") << c.name;
  }
  // A run file's name outside the temporary directory is just a name: the
  // recovery step after a failed merge.
  std::filesystem::remove(File("out.txt"));
  RunResult r = Run({"/Q", "/T=t", "$Quarn0.tmp", "out.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFile(File("out.txt")), "a\r\nb\r\nb\r\n");
  EXPECT_EQ(ReadFile(File("$Quarn0.tmp")), input);
}

}  // namespace
