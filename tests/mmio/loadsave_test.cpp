// Loading a file into the image and saving the edited file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "../support/recorder.h"
#include "mmio/loadsave.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno {
namespace {

using smf::Bytes;
using smf::Track;
using test::Recorder;
using test::ScratchDir;

// A kernel file whose size says a page while it reads a few bytes.
const char* const kShortRead = "/sys/devices/system/cpu/online";

struct NoRows : RowSource {
    bool isOnEnabled(int) const override { return true; }
    bool isOnChecked(int) const override { return true; }
    std::string nameText(int) const override { return "Row"; }
};

class Load : public ::testing::Test {
  protected:
    void SetUp() override {
        playback.sTmpName = dir.file("lqplay.tmp");
        test::writeFile(playback.sTmpName, {});
    }
    void TearDown() override { setFileDialogs({}); }

    Bytes song(int channel = 0) {
        const auto on = static_cast<std::uint8_t>(0x90 | channel);
        Track t;
        t.name("T").ev(0, {on, 60, 100}).ev(10, {on, 60, 0}).end();
        return smf::file(0, 96, {t});
    }

    Recorder rec;  // first: it resets the process state
    ScratchDir dir;
};

TEST_F(Load, ANamedFileLoadsWithoutADialog) {
    bool asked = false;
    setFileDialogs({[&] {
                        asked = true;
                        return std::optional<std::string>();
                    },
                    {}});
    const std::string path = dir.file("a.mid");
    test::writeFile(path, song());
    std::string name = path;
    playback.dwPlayPos = 77;
    EXPECT_EQ(mcimidiSelectFile(name), 1);
    EXPECT_FALSE(asked);
    EXPECT_EQ(name, path);
    EXPECT_EQ(getnumtracks(loaded.MidiInfo), 1);
    EXPECT_EQ(loaded.image.dwFileBufSize, song().size() + 8);
    EXPECT_EQ(loaded.image.pFileBuf.size(), song().size() + kSpareBytes);
    EXPECT_EQ(test::readFile(playback.sTmpName), test::bytesOf(loaded.image));
    EXPECT_EQ(playback.dwPlayPos, 0u);
    EXPECT_TRUE(rec.messages.empty());
}

TEST_F(Load, TheDialogChoosesOrCancels) {
    const std::string path = dir.file("b.mid");
    test::writeFile(path, song(3));
    std::optional<std::string> answer;
    setFileDialogs({[&] { return answer; }, {}});

    std::string name;
    EXPECT_EQ(mcimidiSelectFile(name), 0);
    EXPECT_EQ(name, "");
    EXPECT_EQ(loaded.image.dwFileBufSize, 0u);

    answer = path;
    EXPECT_EQ(mcimidiSelectFile(name), 1);
    EXPECT_EQ(name, path);
    EXPECT_EQ(loaded.MidiInfo.track[0].channel, 3);
}

TEST_F(Load, FailuresLeaveNothingToEditOrPlay) {
    const std::string good = dir.file("good.mid");
    test::writeFile(good, song());
    std::string name = good;
    ASSERT_EQ(mcimidiSelectFile(name), 1);
    const Bytes playFile = test::readFile(playback.sTmpName);

    name = dir.file("missing.mid");
    EXPECT_EQ(mcimidiSelectFile(name), 0);
    EXPECT_EQ(getnumtracks(loaded.MidiInfo), 1);  // nothing was touched

    // Neither a folder nor a FIFO is opened: nothing waits for a writer.
    const std::string fifo = dir.file("pipe.mid");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& bad : {dir.path().string(), fifo}) {
        name = bad;
        EXPECT_EQ(mcimidiSelectFile(name), 0);
    }
    EXPECT_EQ(rec.texts(), (std::vector<std::string>(3, "File open failed.")));
    EXPECT_EQ(getnumtracks(loaded.MidiInfo), 1);
    EXPECT_EQ(test::readFile(playback.sTmpName), playFile);

    // A kernel file claims a page and reads short, as a file that shrinks
    // under the load would: the image is gone.
    name = kShortRead;
    if (!std::filesystem::exists(name)) GTEST_SKIP() << "no " << name;
    EXPECT_EQ(mcimidiSelectFile(name), 0);
    EXPECT_EQ(rec.texts().back(), "Zero bytes read.");
    EXPECT_EQ(rec.messages.back().caption, "");
    EXPECT_EQ(loaded.image.dwFileBufSize, 0u);
    EXPECT_EQ(loaded.MidiInfo.nTracks, 0);
    EXPECT_EQ(getnumtracks(loaded.MidiInfo), 0);
    EXPECT_EQ(test::readFile(playback.sTmpName), playFile);  // the old play file stays
}

TEST_F(Load, ARejectedFileLoadsForPlayingOnly) {
    Bytes f = song();
    f[9] = 7;  // no such format
    const std::string path = dir.file("odd.mid");
    test::writeFile(path, f);
    std::string name = path;
    EXPECT_EQ(mcimidiSelectFile(name), 1);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0],
              (Message{Owner::Main, "This format is not supported! (Try Play only)", "Attention",
                       Icon::Exclamation}));
    EXPECT_EQ(loaded.MidiInfo.nTracks, 0);
    EXPECT_EQ(loaded.MidiInfo.nViewTracks, 0);
    EXPECT_EQ(test::readFile(playback.sTmpName), f);

    // An empty file passes the read and is rejected by the analysis the same way.
    test::writeFile(path, {});
    EXPECT_EQ(mcimidiSelectFile(name), 1);
    EXPECT_EQ(rec.messages.size(), 2u);
    EXPECT_EQ(loaded.image.pFileBuf.size(), kSpareBytes);
}

TEST_F(Load, ASecondLoadReplacesTheFirstInThePlayFile) {
    const std::string a = dir.file("a.mid"), b = dir.file("b.mid");
    Bytes big = song();
    big.resize(big.size() + 500, 0);  // trailing bytes make the first play file longer
    test::writeFile(a, big);
    test::writeFile(b, song(5));
    std::string name = a;
    mcimidiSelectFile(name);
    const std::string playName = playback.sTmpName;
    name = b;
    mcimidiSelectFile(name);
    EXPECT_EQ(playback.sTmpName, playName);
    EXPECT_EQ(test::readFile(playName), test::bytesOf(loaded.image));
    EXPECT_EQ(loaded.MidiInfo.track[0].channel, 5);
}

TEST_F(Load, WithoutAPlayFileEveryLoadReportsAndStillSucceeds) {
    playback.sTmpName.clear();
    const std::string path = dir.file("a.mid");
    test::writeFile(path, song());
    std::string name = path;
    EXPECT_EQ(mcimidiSelectFile(name), 1);
    EXPECT_EQ(rec.texts(), (std::vector<std::string>{"Tmp File create failed."}));
    EXPECT_EQ(getnumtracks(loaded.MidiInfo), 1);
}

TEST_F(Load, SaveAsWithoutAnImageNeverTouchesTheChosenFile) {
    const std::string precious = dir.file("precious.mid");
    test::writeFile(precious, song());
    setFileDialogs({{}, [&](const std::string&) { return std::optional<std::string>(precious); }});
    std::string name;
    EXPECT_EQ(mcimidiSaveFile(name, NoRows()), 0);  // nothing loaded yet

    std::string shortRead = kShortRead;  // a load that fails after opening
    if (!std::filesystem::exists(shortRead)) GTEST_SKIP() << "no " << shortRead;
    EXPECT_EQ(mcimidiSelectFile(shortRead), 0);
    EXPECT_EQ(mcimidiSaveFile(name, NoRows()), 0);
    EXPECT_EQ(test::readFile(precious), song());
    EXPECT_EQ(rec.texts(),
              (std::vector<std::string>{"Error save file", "Zero bytes read.", "Error save file"}));
}

TEST_F(Load, SaveAsWritesUnderTheChosenNameOrReports) {
    const std::string path = dir.file("a.mid");
    test::writeFile(path, song());
    std::string name = path;
    ASSERT_EQ(mcimidiSelectFile(name), 1);

    std::string offered;
    std::optional<std::string> answer;
    setFileDialogs({{}, [&](const std::string& current) {
                        offered = current;
                        return answer;
                    }});
    EXPECT_EQ(mcimidiSaveFile(name, NoRows()), 0);  // cancelled
    EXPECT_EQ(offered, path);

    answer = dir.file("typed without extension");
    EXPECT_EQ(mcimidiSaveFile(name, NoRows()), 1);
    EXPECT_EQ(name, *answer);
    EXPECT_TRUE(std::filesystem::exists(*answer));

    answer = dir.file("no/such/dir.mid");
    EXPECT_EQ(mcimidiSaveFile(name, NoRows()), 0);
    EXPECT_EQ(name, dir.file("typed without extension"));
    EXPECT_EQ(rec.texts(),
              (std::vector<std::string>{"Tmp File create failed.", "Error save file"}));
    EXPECT_EQ(rec.messages[1].caption, "Attention");
    EXPECT_EQ(rec.messages[1].owner, Owner::Main);
}

}  // namespace
}  // namespace lirno
