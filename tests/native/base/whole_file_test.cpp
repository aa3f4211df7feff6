#include "base/whole_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <string>
#include <vector>

namespace vornex {
namespace {

std::vector<std::byte> text_bytes(const std::string& text) {
    std::vector<std::byte> out(text.size());
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<std::byte>(text[i]);
    return out;
}

std::string text_of(const std::string& path) {
    auto bytes = read_whole_file(path);
    EXPECT_TRUE(bytes.ok()) << path;
    if (!bytes.ok()) return {};
    return std::string(reinterpret_cast<const char*>(bytes.value().data()), bytes.value().size());
}

// A private folder, so that leftover temporary files can be counted.
class WholeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = ::testing::TempDir() + "vornex_whole_file_" + std::to_string(::getpid());
        ::mkdir(folder_.c_str(), 0700);
    }
    void TearDown() override {
        for (const std::string& name : entries()) std::remove((folder_ + "/" + name).c_str());
        ::rmdir(folder_.c_str());
    }
    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder_.c_str())) {
            while (const dirent* e = ::readdir(dir))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            ::closedir(dir);
        }
        return names;
    }

    std::string folder_;
};

TEST_F(WholeFileTest, ReplacesInPlaceKeepingModeAndLeavingNoTemporary) {
    const std::string p = path("w");
    ASSERT_TRUE(replace_file(p, text_bytes("first")).ok());
    EXPECT_EQ(text_of(p), "first");
    ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    ASSERT_TRUE(replace_file(p, text_bytes("second, longer")).ok());
    EXPECT_EQ(text_of(p), "second, longer");
    struct stat after {};
    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file took the name; readers of the old one keep it whole
    EXPECT_EQ(entries(), std::vector<std::string>{"w"});
    ASSERT_TRUE(replace_file(p, {}).ok());
    EXPECT_EQ(text_of(p), "");
}

// A special file (here a pipe, standing in for /dev/null or a terminal) is
// written through, never replaced by a regular file of the same name.
TEST_F(WholeFileTest, WritesThroughSpecialFilesInsteadOfReplacingThem) {
    const std::string p = path("pipe");
    ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        const int fd = ::open(p.c_str(), O_RDONLY);
        char buffer[64];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) received.append(buffer, size_t(n));
        if (fd >= 0) ::close(fd);
    });
    const bool written = replace_file(p, text_bytes("through the pipe")).ok();
    reader.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(received, "through the pipe");
    struct stat st {};
    ASSERT_EQ(::lstat(p.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(entries(), std::vector<std::string>{"pipe"});
}

TEST_F(WholeFileTest, WritesThroughASymbolicLink) {
    ASSERT_TRUE(replace_file(path("target"), text_bytes("old")).ok());
    ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
    ASSERT_TRUE(replace_file(path("link"), text_bytes("new")).ok());
    struct stat st {};
    ASSERT_EQ(::lstat(path("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(text_of(path("target")), "new");
}

TEST_F(WholeFileTest, FailedReplacementLeavesTheFolderAsItWas) {
    ASSERT_EQ(::mkdir(path("sub").c_str(), 0700), 0);
    auto status = replace_file(path("sub"), text_bytes("x"));
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Runtime);
    EXPECT_EQ(status.error().message, "IO error: Is a directory");
    EXPECT_EQ(entries(), std::vector<std::string>{"sub"});
    EXPECT_EQ(replace_file(path("missing/x"), text_bytes("x")).error().message, "IO error: No such file or directory");
    EXPECT_EQ(replace_file(path("w") + std::string(1, '\0'), text_bytes("x")).error().message,
              "IO error: Invalid argument");
    EXPECT_EQ(entries(), std::vector<std::string>{"sub"});
    ::rmdir(path("sub").c_str());
}

TEST_F(WholeFileTest, ReadsOnlyWhatRegularFilesHold) {
    EXPECT_EQ(read_whole_file(path("absent")).error().message, "IO error: No such file or directory");
    EXPECT_EQ(read_whole_file(folder_).error().message, "IO error: Is a directory");
    // A device has no size: it reads as empty instead of forever.
    auto device = read_whole_file("/dev/zero");
    ASSERT_TRUE(device.ok());
    EXPECT_TRUE(device.value().empty());
}

}  // namespace
}  // namespace vornex
