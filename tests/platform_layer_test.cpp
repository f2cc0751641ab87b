#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/test_support.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::WriteFile;

class PlatformTest : public ::testing::Test {
 protected:
  testing_support::TempDir dir_;
  std::string a_ = dir_.File("a.txt");
  std::string b_ = dir_.File("b.txt");
};

TEST_F(PlatformTest, FileExistsCountsFilesOnly) {
  WriteFile(a_, "x");
  EXPECT_TRUE(platform::FileExists(a_));
  EXPECT_FALSE(platform::FileExists(b_));
  EXPECT_FALSE(platform::FileExists(dir_.Path().string()));
  EXPECT_TRUE(platform::DirectoryExists(dir_.Path().string()));
  EXPECT_FALSE(platform::DirectoryExists(a_));
  EXPECT_FALSE(platform::DirectoryExists(""));
  EXPECT_TRUE(platform::DeleteFile(a_));
  EXPECT_FALSE(platform::FileExists(a_));
  EXPECT_FALSE(platform::DeleteFile(a_));
}

TEST_F(PlatformTest, RenameNoReplaceNeverReplacesTheTarget) {
  WriteFile(a_, "source");
  WriteFile(b_, "target");
  EXPECT_FALSE(platform::RenameNoReplace(a_, b_));
  EXPECT_EQ(ReadFile(a_), "source");
  EXPECT_EQ(ReadFile(b_), "target");

  ASSERT_TRUE(platform::DeleteFile(b_));
  EXPECT_TRUE(platform::RenameNoReplace(a_, b_));
  EXPECT_FALSE(Exists(a_));
  EXPECT_EQ(ReadFile(b_), "source");

  EXPECT_FALSE(platform::RenameNoReplace(a_, dir_.File("c.txt")));
  EXPECT_FALSE(Exists(dir_.File("c.txt")));
}

TEST_F(PlatformTest, CopyFileReplaceReplacesTheTarget) {
  // Larger than one copy chunk, so the copy loop turns more than once.
  std::string data(2500000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
  WriteFile(a_, data);
  WriteFile(b_, std::string(3000000, 'o'));
  EXPECT_TRUE(platform::CopyFileReplace(a_, b_));
  EXPECT_TRUE(ReadFile(b_) == data);
  EXPECT_TRUE(ReadFile(a_) == data);

  const std::string fresh = dir_.File("fresh.txt");
  EXPECT_TRUE(platform::CopyFileReplace(a_, fresh));
  EXPECT_TRUE(ReadFile(fresh) == data);

  EXPECT_FALSE(platform::CopyFileReplace(dir_.File("missing.txt"), b_));
  EXPECT_TRUE(ReadFile(b_) == data);
  // Onto itself: refused, and the file keeps its bytes.
  EXPECT_FALSE(platform::CopyFileReplace(a_, a_));
  EXPECT_TRUE(ReadFile(a_) == data);
}

TEST_F(PlatformTest, FileReadsWritesAndSeeks) {
  platform::File file;
  EXPECT_FALSE(file.OpenRead(a_));
  EXPECT_EQ(file.Error(), std::strerror(ENOENT));
  EXPECT_FALSE(file.OpenRead(dir_.Path().string()));
  EXPECT_FALSE(file.IsOpen());

  ASSERT_TRUE(file.Create(a_));
  EXPECT_TRUE(file.Write("0123456789", 10));
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.Close());

  ASSERT_TRUE(file.OpenRead(a_));
  EXPECT_EQ(file.Size(), 10);
  char buf[16] = {};
  EXPECT_EQ(file.Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(file.Position(), 4);
  EXPECT_TRUE(file.Seek(7));
  EXPECT_EQ(file.Read(buf, 16), 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(file.Read(buf, 16), 0);
  EXPECT_TRUE(file.Close());

  // Create empties an existing file.
  ASSERT_TRUE(file.Create(a_));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadFile(a_), "");
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
    EXPECT_EQ(platform::TempDirectory(), c.expected) << "TMPDIR=" << (c.tmpdir ? c.tmpdir : "(unset)");
  }
}
#endif

}  // namespace
