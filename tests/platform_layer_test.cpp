#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "tests/os_support.h"
#include "tests/test_support.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::SystemError;
using testing_support::SystemErrorText;
using testing_support::WriteFile;

class PlatformTest : public ::testing::Test {
 protected:
  testing_support::TempDir dir_;
  std::string a_ = dir_.File("a.txt");
  std::string b_ = dir_.File("b.txt");
  platform::Env& env_ = platform::DefaultEnv();
};

TEST_F(PlatformTest, FileExistsCountsFilesOnly) {
  WriteFile(a_, "x");
  EXPECT_TRUE(platform::FileExists(a_));
  EXPECT_FALSE(platform::FileExists(b_));
  EXPECT_FALSE(platform::FileExists(dir_.Path().string()));
  EXPECT_TRUE(platform::DirectoryExists(dir_.Path().string()));
  EXPECT_FALSE(platform::DirectoryExists(a_));
  EXPECT_FALSE(platform::DirectoryExists(""));
}

TEST_F(PlatformTest, FailuresNameTheFileAndTheSystemsReason) {
  WriteFile(a_, "x");
  EXPECT_TRUE(env_.RemoveFile(a_).Ok());
  EXPECT_FALSE(Exists(a_));
  const platform::Status removed = env_.RemoveFile(a_);
  EXPECT_FALSE(removed.Ok());
  EXPECT_EQ(removed.Message(),
            "Cannot delete file \"" + a_ + "\": " + SystemErrorText(SystemError::kNoSuchFile));
  const platform::Status renamed = env_.RenameReplacing(a_, b_);
  EXPECT_EQ(renamed.Message(), "Cannot rename file \"" + a_ + "\" to \"" + b_ +
                                   "\": " + SystemErrorText(SystemError::kNoSuchFile));
}

TEST_F(PlatformTest, RenameNoReplaceNeverReplacesTheTarget) {
  WriteFile(a_, "source");
  WriteFile(b_, "target");
  EXPECT_FALSE(env_.RenameNoReplace(a_, b_).Ok());
  EXPECT_EQ(ReadFile(a_), "source");
  EXPECT_EQ(ReadFile(b_), "target");

  ASSERT_TRUE(env_.RemoveFile(b_).Ok());
  EXPECT_TRUE(env_.RenameNoReplace(a_, b_).Ok());
  EXPECT_FALSE(Exists(a_));
  EXPECT_EQ(ReadFile(b_), "source");

  EXPECT_FALSE(env_.RenameNoReplace(a_, dir_.File("c.txt")).Ok());
  EXPECT_FALSE(Exists(dir_.File("c.txt")));
}

TEST_F(PlatformTest, RenameReplacingReplacesTheTarget) {
  WriteFile(a_, "new");
  WriteFile(b_, "old");
  EXPECT_TRUE(env_.RenameReplacing(a_, b_).Ok());
  EXPECT_FALSE(Exists(a_));
  EXPECT_EQ(ReadFile(b_), "new");
}

TEST_F(PlatformTest, FileReadsWritesAndSeeks) {
  std::string error;
  EXPECT_EQ(env_.OpenRead(a_, error), nullptr);
  EXPECT_EQ(error, SystemErrorText(SystemError::kNoSuchFile));
  EXPECT_EQ(env_.OpenRead(dir_.Path().string(), error), nullptr);
  EXPECT_EQ(error, SystemErrorText(SystemError::kIsADirectory));

  std::unique_ptr<platform::File> file = env_.Create(a_, platform::CreateMode::kReplace, error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Name(), a_);
  EXPECT_TRUE(file->Write("0123456789", 10));
  EXPECT_TRUE(file->Close());
  EXPECT_FALSE(file->IsOpen());
  EXPECT_FALSE(file->Close());

  file = env_.OpenRead(a_, error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 10);
  char buf[16] = {};
  EXPECT_EQ(file->Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(file->Position(), 4);
  EXPECT_TRUE(file->Seek(7));
  EXPECT_EQ(file->Read(buf, 16), 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(file->Read(buf, 16), 0);
  EXPECT_TRUE(file->Close());

  // kReplace empties an existing file.
  file = env_.Create(a_, platform::CreateMode::kReplace, error);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(ReadFile(a_), "");
}

TEST_F(PlatformTest, FreshFilesAreNeverWrittenThroughALeftoverLink) {
  if (!testing_support::SymlinksSupported()) GTEST_SKIP() << "no symbolic links here";
  const std::string victim = dir_.File("victim.txt");
  WriteFile(victim, "precious");
  std::filesystem::create_symlink(victim, a_);
  std::string error;
  std::unique_ptr<platform::File> file = env_.Create(a_, platform::CreateMode::kFresh, error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_TRUE(file->Write("run", 3));
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(a_));
  EXPECT_EQ(ReadFile(a_), "run");
}

TEST_F(PlatformTest, FreshFilesReplaceALeftoverFileAndStopAtWhatCannotBeRemoved) {
  WriteFile(a_, "left over");
  std::string error;
  std::unique_ptr<platform::File> file = env_.Create(a_, platform::CreateMode::kFresh, error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(ReadFile(a_), "");
  std::filesystem::create_directory(b_);
  EXPECT_EQ(env_.Create(b_, platform::CreateMode::kFresh, error), nullptr);
  EXPECT_EQ(error, "cannot remove the file left at this name: " +
                       SystemErrorText(SystemError::kIsADirectory));
}

TEST_F(PlatformTest, UniqueSiblingsAreNewFilesBesideTheName) {
  WriteFile(a_, "keep");
  std::string error;
  std::unique_ptr<platform::File> first =
      env_.Create(a_, platform::CreateMode::kUniqueSibling, error);
  std::unique_ptr<platform::File> second =
      env_.Create(a_, platform::CreateMode::kUniqueSibling, error);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->Name(), second->Name());
  for (const auto* made : {first.get(), second.get()}) {
    EXPECT_EQ(std::filesystem::path(made->Name()).parent_path(), dir_.Path());
    EXPECT_TRUE(Exists(made->Name()));
  }
  EXPECT_EQ(ReadFile(a_), "keep");
  EXPECT_EQ(env_.Create(dir_.File("no/such"), platform::CreateMode::kUniqueSibling, error),
            nullptr);
  EXPECT_EQ(error, SystemErrorText(SystemError::kNoSuchDirectory));
}

TEST_F(PlatformTest, InspectAndSameFileCompareIdentities) {
  WriteFile(a_, "x");
  EXPECT_EQ(env_.Inspect(a_).kind, platform::FileKind::kRegular);
  EXPECT_EQ(env_.Inspect(b_).kind, platform::FileKind::kMissing);
  EXPECT_EQ(env_.Inspect(dir_.Path().string()).kind, platform::FileKind::kDirectory);
#ifndef _WIN32
  EXPECT_EQ(env_.Inspect("/dev/null").kind, platform::FileKind::kOther);
  const std::string hard = dir_.File("hard.txt");
  std::filesystem::create_hard_link(a_, hard);
  const std::string soft = dir_.File("soft.txt");
  std::filesystem::create_symlink(a_, soft);
  EXPECT_TRUE(platform::SameFile(env_, a_, hard));
  EXPECT_TRUE(platform::SameFile(env_, a_, soft));
#endif
  std::filesystem::create_directory(dir_.File("sub"));
  EXPECT_TRUE(platform::SameFile(env_, a_, dir_.File("sub/../a.txt")));
  EXPECT_FALSE(platform::SameFile(env_, a_, b_));
  // Files not made yet are compared by their full names.
  EXPECT_TRUE(platform::SameFile(env_, b_, dir_.File("sub/../b.txt")));
  EXPECT_FALSE(platform::SameFile(env_, b_, dir_.File("sub/b.txt")));
}

TEST_F(PlatformTest, DirectoryLockMakesTheNextHolderWait) {
  std::string error;
  auto first = env_.LockDirectory(
      dir_.Path().string(), [] {}, error);
  ASSERT_NE(first, nullptr) << error;
  std::atomic<bool> waited{false};
  std::atomic<bool> locked{false};
  std::thread second([&] {
    std::string e;
    auto lock = env_.LockDirectory(
        dir_.Path().string(), [&] { waited = true; }, e);
    locked = lock != nullptr;
  });
  while (!waited) std::this_thread::yield();
  EXPECT_FALSE(locked);
  first.reset();
  second.join();
  EXPECT_TRUE(locked);
  // Another directory is not affected.
  testing_support::TempDir other;
  bool otherWaited = false;
  auto lock = env_.LockDirectory(
      other.Path().string(), [&] { otherWaited = true; }, error);
  EXPECT_NE(lock, nullptr);
  EXPECT_FALSE(otherWaited);
}

#ifndef _WIN32
// Restores TMPDIR as it was.
class TmpdirGuard {
 public:
  TmpdirGuard() {
    if (const char* v = std::getenv("TMPDIR")) saved_ = v;
  }
  ~TmpdirGuard() {
    if (saved_)
      setenv("TMPDIR", saved_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(PlatformTempDirectory, HonoursTmpdirAndEndsInTheSeparator) {
  TmpdirGuard guard;
  const struct {
    const char* tmpdir;  // nullptr: unset
    const char* expected;
  } cases[] = {
      {"/var/spool/x", "/var/spool/x/"},
      {"/var/spool/x/", "/var/spool/x/"},
      {"rel", "rel/"},
      {"", "/tmp/"},
      {nullptr, "/tmp/"},
  };
  for (const auto& c : cases) {
    if (c.tmpdir)
      setenv("TMPDIR", c.tmpdir, 1);
    else
      unsetenv("TMPDIR");
    EXPECT_EQ(platform::TempDirectory(), c.expected)
        << "TMPDIR=" << (c.tmpdir ? c.tmpdir : "(unset)");
  }
}
#else
TEST(PlatformTempDirectory, IsAnExistingDirectoryEndingInTheSeparator) {
  const std::string path = platform::TempDirectory();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '\\');
  EXPECT_TRUE(platform::DirectoryExists(path));
}

TEST_F(PlatformTest, DeviceNamesAreDevicesWherever) {
  const std::string inDirectory = dir_.File("nul");
  for (const std::string& name : {std::string("NUL"), std::string("con"), std::string("Nul.txt"),
                                  std::string("\\\\.\\NUL"), inDirectory})
    EXPECT_EQ(env_.Inspect(name).kind, platform::FileKind::kOther) << name;
  std::string error;
  std::unique_ptr<platform::File> device =
      env_.Create("NUL", platform::CreateMode::kReplace, error);
  ASSERT_NE(device, nullptr) << error;
  EXPECT_TRUE(device->Write("gone", 4));
  EXPECT_TRUE(device->Close());
}

TEST_F(PlatformTest, OneFileUnderOtherNames) {
  WriteFile(a_, "x");
  const std::string hard = dir_.File("hard.txt");
  std::filesystem::create_hard_link(a_, hard);
  EXPECT_TRUE(platform::SameFile(env_, a_, hard));
  // File names do not tell case apart.
  EXPECT_TRUE(platform::SameFile(env_, a_, dir_.File("A.TXT")));
  EXPECT_FALSE(platform::SameFile(env_, a_, dir_.File("sub")));
}
#endif

TEST(PlatformUpperCase, LettersOfTheAsciiRangeAndByteZero) {
  unsigned char table[256];
  platform::BuildUpperCaseTable(table);
  EXPECT_EQ(table[0], 0);
  for (int b = 1; b < 128; ++b) {
    const int expected = b >= 'a' && b <= 'z' ? b - 32 : b;
    EXPECT_EQ(table[b], expected) << "byte " << b;
  }
}

}  // namespace
