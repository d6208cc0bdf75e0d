// The play file and whole-file writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cstdlib>
#include <filesystem>

#include "../support/env_guard.h"
#include "../support/recorder.h"
#include "mmio/playfile.h"

namespace lirno {
namespace {

using smf::Bytes;
using test::EnvGuard;
using test::Recorder;
using test::ScratchDir;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PlayFile, ANewNameIsAnEmptyPrivateFileInTheTemporaryFolder) {
    ScratchDir dir;
    std::string a, b;
    {
        const EnvGuard tmpdir("TMPDIR", dir.path());
        a = gettmpname();
        b = gettmpname();
    }

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

// Runs check in a child process and returns its exit code (-signal when
// killed). With asNobody, a root parent's child first becomes nobody, so
// that folders refuse it as they refuse any user.
template <typename Check>
int inChild(Check check, bool asNobody = false) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(PlayFile, AStartRemovesThisUsersPlayFilesWhoseProgramIsGone) {
    ScratchDir dir;
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string stale = dir.file("lq" + std::to_string(gone) + "-abcdef.tmp");
    const std::string live = dir.file("lq" + std::to_string(::getppid()) + "-abcdef.tmp");
    const std::string other = dir.file("lqabcdef.tmp");
    for (const auto& f : {stale, live, other}) test::writeFile(f, {1});

    std::string mine;
    {
        const EnvGuard tmpdir("TMPDIR", dir.path());
        mine = gettmpname();
    }

    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live));
    EXPECT_TRUE(std::filesystem::exists(other));  // not a name this program makes
    EXPECT_NE(mine.find("/lq" + std::to_string(::getpid()) + "-"), std::string::npos) << mine;
}

TEST(PlayFile, NoTemporaryFolderGivesNoName) {
    const EnvGuard tmpdir("TMPDIR", "/nonexistent/lirno");
    EXPECT_EQ(gettmpname(), "");
}

TEST(WriteFile, ReplacesWholeAndKeepsPermissions) {
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

TEST(WriteFile, ANewFileGetsTheUsualPermissions) {
    Recorder rec;
    ScratchDir dir;
    const mode_t mask = ::umask(022);
    const Bytes b = {1};
    EXPECT_EQ(settmp(dir.file("new.mid"), b.data(), b.size()), 1);
    ::umask(mask);
    EXPECT_EQ(modeOf(dir.file("new.mid")), 0644u);
}

TEST(WriteFile, LinksAreWrittenThroughAndOwnersKept) {
    Recorder rec;
    ScratchDir dir;
    const Bytes b = {4, 5, 6};
    // A link to a file beside it: the file gets the bytes, the link stays.
    test::writeFile(dir.file("real.mid"), {1});
    std::filesystem::create_symlink("real.mid", dir.file("link.mid"));
    EXPECT_EQ(settmp(dir.file("link.mid"), b.data(), b.size()), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.mid")));
    EXPECT_EQ(test::readFile(dir.file("real.mid")), b);
    // A link to a file not yet there makes that file.
    std::filesystem::create_symlink(dir.file("later.mid"), dir.file("dangling.mid"));
    EXPECT_EQ(settmp(dir.file("dangling.mid"), b.data(), b.size()), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling.mid")));
    EXPECT_EQ(test::readFile(dir.file("later.mid")), b);
    EXPECT_TRUE(rec.messages.empty());

    // Another user's file saved by root stays that user's.
    if (::geteuid() != 0) return;
    const std::string theirs = dir.file("theirs.mid");
    test::writeFile(theirs, {1});
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0600), 0);
    EXPECT_EQ(settmp(theirs, b.data(), b.size()), 1);
    struct stat st {};
    ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(WriteFile, AFolderThatTakesNoNewFileIsWrittenInPlace) {
    ScratchDir dir;
    const std::string f = dir.file("shared.mid");
    test::writeFile(f, Bytes(20, 9));
    ::chmod(f.c_str(), 0666);
    ::chmod(dir.path().c_str(), ::geteuid() == 0 ? 0755 : 0555);
    constexpr int kUnreachable = 77;
    const int code = inChild(
        [&] {
            if (::access(f.c_str(), W_OK) != 0) return kUnreachable;  // a folder above bars nobody
            const Bytes b = {1, 2, 3};
            std::vector<Message> seen;
            setMessageBoxHandler([&](const Message& m) { seen.push_back(m); });
            return settmp(f, b.data(), b.size()) == 1 && seen.empty() ? 0 : 1;
        },
        true);
    ::chmod(dir.path().c_str(), 0700);
    if (code == kUnreachable) GTEST_SKIP() << "the scratch folder is out of reach of another user";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(test::readFile(f), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WriteFile, FailuresAreReportedAndLeaveTheTargetAsItWas) {
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

TEST(WriteFile, AShortWriteIsReportedAndKeepsTheOldFile) {
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

    // Killed while writing (the size limit's signal, not ignored this time):
    // the target is as it was and nothing else is left beside it.
    const int code = inChild([&] {
        const rlimit limit{4, 4};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Bytes b(10, 1);
        settmp(f, b.data(), b.size());
        return 0;
    });
    EXPECT_EQ(code, -SIGXFSZ);
    EXPECT_EQ(test::readFile(f), (Bytes{9, 9}));
    // (only where the file system has unnamed files; elsewhere the hidden
    // file stays, as with any save by rename)
    const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) GTEST_SKIP() << "no unnamed files in " << dir.path();
    ::close(probe);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace lirno
