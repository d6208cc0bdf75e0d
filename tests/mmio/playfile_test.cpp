// The play file and whole-file writes.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "../support/recorder.h"
#include "mmio/playfile.h"

namespace lirno {
namespace {

using smf::Bytes;
using test::Recorder;
using test::ScratchDir;

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PlayFile, ANewNameIsAnEmptyPrivateFileInTheTemporaryFolder)
{
    ScratchDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string a = gettmpname();
    const std::string b = gettmpname();
    old ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");

    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    const auto name = std::filesystem::path(a).filename().string();
    EXPECT_EQ(name.substr(0, 2), "lq");
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    EXPECT_EQ(std::filesystem::path(a).parent_path(), dir.path());
    EXPECT_EQ(std::filesystem::file_size(a), 0u);
    EXPECT_EQ(modeOf(a), 0600u);

    EXPECT_EQ(deltmp(a), 1);
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(deltmp(a), 0);  // already gone
    EXPECT_EQ(deltmp(""), 0);
}

TEST(PlayFile, NoTemporaryFolderGivesNoName)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/nonexistent/lirno", 1);
    EXPECT_EQ(gettmpname(), "");
    old ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
}

TEST(WriteFile, ReplacesWholeAndKeepsPermissions)
{
    Recorder rec;
    ScratchDir dir;
    const std::string f = dir.file("song.mid");
    test::writeFile(f, Bytes(100, 0xAA));
    ::chmod(f.c_str(), 0640);

    const Bytes shorter = {1, 2, 3};
    EXPECT_EQ(settmp(f, shorter.data(), shorter.size()), 1);
    EXPECT_EQ(test::readFile(f), shorter);  // no trailing bytes of the old content
    EXPECT_EQ(modeOf(f), 0640u);

    EXPECT_EQ(settmp(f, nullptr, 0), 1);
    EXPECT_EQ(std::filesystem::file_size(f), 0u);

    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_TRUE(rec.messages.empty());
}

TEST(WriteFile, ANewFileGetsTheUsualPermissions)
{
    Recorder rec;
    ScratchDir dir;
    const mode_t mask = ::umask(022);
    const Bytes b = {1};
    EXPECT_EQ(settmp(dir.file("new.mid"), b.data(), b.size()), 1);
    ::umask(mask);
    EXPECT_EQ(modeOf(dir.file("new.mid")), 0644u);
}

TEST(WriteFile, FailuresAreReportedAndLeaveTheTargetAsItWas)
{
    Recorder rec;
    ScratchDir dir;
    const Bytes b = {1, 2, 3};
    EXPECT_EQ(settmp(dir.file("no/such/folder.mid"), b.data(), b.size()), 0);
    EXPECT_EQ(settmp("", b.data(), b.size()), 0);
    EXPECT_EQ(settmp(dir.path().string(), b.data(), b.size()), 0);  // a folder
    EXPECT_EQ(rec.texts(), (std::vector<std::string>(3, "Tmp File create failed.")));
    EXPECT_EQ(rec.messages[0].caption, "");
    EXPECT_EQ(rec.messages[0].owner, Owner::None);

}

TEST(WriteFile, AShortWriteIsReportedAndKeepsTheOldFile)
{
    ScratchDir dir;
    const std::string f = dir.file("keep.mid");
    test::writeFile(f, {9, 9});
    // A child process whose files may not grow beyond 4 bytes: the write comes up short.
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::vector<Message> seen;
        setMessageBoxHandler([&](const Message& m) { seen.push_back(m); });
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4, 4};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Bytes b(10, 1);
        const int r = settmp(f, b.data(), b.size());
        const bool reported = seen.size() == 1 && seen[0].text == "TMP bytes no write.";
        ::_exit(r == 0 && reported ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readFile(f), (Bytes{9, 9}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace lirno
