// Where a dump lands: symbolic links followed and kept, anything but a regular file
// left alone, a replaced file's mode and owner kept, one file never taken twice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "context/error_table.h"
#include "image_builder.h"
#include "operations/file_output.h"

namespace stb {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

bool IsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

mode_t TypeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// The names in a folder, so a test sees every leftover temporary file.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class OutputTargetTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  const std::vector<uint8_t> bytes_ = test::PatternBytes(3000, 4);
  std::string Sub(const std::string& name) {
    const std::string path = dir_.File(name);
    fs::create_directories(path);
    return path;
  }
};

TEST_F(OutputTargetTest, LinksAreFollowedAndKept) {
  // An absolute link into another folder, and a relative chain of two links.
  const std::string real = dir_.Write("real.bin", {1, 2, 3});
  const std::string links = Sub("links");
  ASSERT_EQ(::symlink(real.c_str(), (links + "/abs").c_str()), 0);
  ASSERT_EQ(::symlink("../real.bin", (links + "/rel1").c_str()), 0);
  ASSERT_EQ(::symlink("rel1", (links + "/rel2").c_str()), 0);

  for (const char* link : {"abs", "rel2"}) {
    const std::string path = links + "/" + link;
    std::string target;
    ASSERT_EQ(ResolveOutputTarget(path, target), 0);
    EXPECT_TRUE(fs::equivalent(target, real)) << link << " -> " << target;
    const auto fresh = test::PatternBytes(100, link[0]);
    ASSERT_EQ(WriteFileAtomically(path, fresh.data(), fresh.size()), 0) << link;
    EXPECT_TRUE(IsLink(path)) << link;
    EXPECT_EQ(test::ReadFileBytes(real), fresh) << link;
  }
  // The temporary files went beside the target and are gone.
  EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{"links", "real.bin"}));
  EXPECT_EQ(Names(links), (std::vector<std::string>{"abs", "rel1", "rel2"}));
}

TEST_F(OutputTargetTest, DanglingLinkWritesTheFileItNamesWhereItsFolderExists) {
  const std::string link = dir_.File("link");
  ASSERT_EQ(::symlink("out/dump.bin", link.c_str()), 0);
  // The folder the link names is missing: nothing can be written.
  EXPECT_EQ(WriteFileAtomically(link, bytes_.data(), bytes_.size()), err::kFileNotOpen);
  EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{"link"}));

  Sub("out");
  ASSERT_EQ(WriteFileAtomically(link, bytes_.data(), bytes_.size()), 0);
  EXPECT_TRUE(IsLink(link));
  EXPECT_EQ(test::ReadFileBytes(dir_.File("out/dump.bin")), bytes_);
  EXPECT_EQ(Names(dir_.File("out")), (std::vector<std::string>{"dump.bin"}));
}

TEST_F(OutputTargetTest, LinkLoopCannotBeWritten) {
  const std::string link = dir_.File("loop");
  ASSERT_EQ(::symlink("loop", link.c_str()), 0);
  std::string target;
  EXPECT_EQ(ResolveOutputTarget(link, target), ELOOP);
  EXPECT_EQ(WriteFileAtomically(link, bytes_.data(), bytes_.size()), err::kFileNotOpen);
  EXPECT_TRUE(IsLink(link));
}

TEST_F(OutputTargetTest, AnythingButARegularFileIsLeftAlone) {
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string folder = Sub("folder");
  const std::string toFifo = dir_.File("to-fifo");
  ASSERT_EQ(::symlink(fifo.c_str(), toFifo.c_str()), 0);
  std::vector<std::string> targets = {fifo, folder, toFifo};
  if (::geteuid() == 0) {
    // A null device of the test's own: the same kind of node as /dev/null.
    const std::string device = dir_.File("null");
    ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    targets.push_back(device);
  }
  for (const std::string& path : targets) {
    std::string target;
    ASSERT_EQ(ResolveOutputTarget(path, target), 0);
    EXPECT_EQ(CheckOutputTarget(target), err::kNotRegularFile) << path;
    const mode_t before = TypeOf(path);
    EXPECT_EQ(WriteFileAtomically(path, bytes_.data(), bytes_.size()), err::kNotRegularFile)
        << path;
    EXPECT_EQ(TypeOf(path), before) << path;
  }
  EXPECT_EQ(TypeOf(fifo), S_IFIFO);
  EXPECT_EQ(Names(folder), std::vector<std::string>{});
  // No temporary file was even made.
  const size_t expected = targets.size();
  EXPECT_EQ(Names(dir_.Path()).size(), expected);
}

TEST_F(OutputTargetTest, ReplacedFileKeepsItsModeAndOwner) {
  const std::string path = dir_.Write("dump.bin", {1});
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(WriteFileAtomically(path, bytes_.data(), bytes_.size()), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);
  }
  EXPECT_EQ(test::ReadFileBytes(path), bytes_);

  // A new file gets what the umask leaves of 0666, as any file the user makes.
  const mode_t mask = ::umask(027);
  const std::string fresh = dir_.File("fresh.bin");
  const int rc = WriteFileAtomically(fresh, bytes_.data(), bytes_.size());
  ::umask(mask);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(OutputTargetTest, SameOutputFileByInodeOrByNormalisedPath) {
  const std::string real = dir_.Write("real.bin", {1});
  const std::string other = dir_.Write("other.bin", {1});
  ASSERT_EQ(::link(real.c_str(), dir_.File("hard.bin").c_str()), 0);
  ASSERT_EQ(::symlink("real.bin", dir_.File("soft.bin").c_str()), 0);
  ASSERT_EQ(::symlink("new/x.bin", dir_.File("dangling").c_str()), 0);
  Sub("new");
  Sub("sub");
  const std::string cwd = fs::current_path();
  struct Case {
    std::string a, b;
    bool same;
  };
  const Case cases[] = {
      {real, real, true},
      {real, dir_.File("hard.bin"), true},
      {real, dir_.File("soft.bin"), true},
      {real, dir_.File("sub/../real.bin"), true},
      {real, other, false},
      // Files that do not exist yet: by their normalised absolute path.
      {dir_.File("none.bin"), dir_.File("./sub/../none.bin"), true},
      {dir_.File("none.bin"), dir_.File("none2.bin"), false},
      {dir_.File("dangling"), dir_.File("new/x.bin"), true},
      {dir_.File("none.bin"), real, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameOutputFile(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameOutputFile(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
  // A relative path is taken from the working folder.
  ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
  EXPECT_TRUE(SameOutputFile("none.bin", dir_.File("none.bin")));
  EXPECT_TRUE(SameOutputFile("./real.bin", real));
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
}

}  // namespace
}  // namespace stb
