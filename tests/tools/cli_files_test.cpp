// lirno-midi on files nobody here wrote byte by byte: the demo song and the
// shared real and damaged files (skipped when that folder is absent).
#include <algorithm>

#include "cli_support.h"

namespace clitest {
namespace {

// What a row shows, without its size (names can change a saved track's size).
Json rowView(const Json& info) {
    Json rows = Json::array();
    for (const Json& r : info["rows"]) rows.push_back({r["name"], r["instr"], r["vol"], r["bal"]});
    return rows;
}

class CliFiles : public CliTest {
  protected:
    // info must not crash; mix -o keeps the rows, and a second mix changes nothing.
    void roundTrip(const fs::path& file) const {
        SCOPED_TRACE(file.filename().string());
        const RunResult r = run({"info", file.string()});
        ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << r.err;
        Json j;
        ASSERT_NO_THROW(j = Json::parse(r.out)) << r.out;
        ASSERT_TRUE(j["result"] == 0 || j["result"] == 1);
        if (r.exitCode != 0) return;
        if (j["result"] == 1) {
            // The image grew by exactly the inserted pan and volume events.
            std::size_t inserted = 0;
            for (const Json& t : j["track"])
                if (t["channel"] < 16)
                    inserted += (t["balance"] == 240 ? 4 : 0) + (t["volume"] == 240 ? 4 : 0);
            EXPECT_EQ(j["imageSize"], fs::file_size(file) + inserted);
        }
        const fs::path once = path("once.mid"), twice = path("twice.mid");
        ASSERT_NO_FATAL_FAILURE(mixOk(file, {"-o", once.string()}));
        EXPECT_EQ(rowView(info(once)), rowView(j));
        ASSERT_NO_FATAL_FAILURE(mixOk(once, {"-o", twice.string()}));
        EXPECT_EQ(readBytes(twice), readBytes(once));
    }

    void roundTripFolder(const std::string& sub) const {
        const fs::path folder = fs::path(LIRNO_SHARED_MIDI) / sub;
        if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is absent";
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        ASSERT_FALSE(files.empty());
        for (const fs::path& f : files) roundTrip(f);
    }
};

// Raw chunk lengths of a file, read straight from its chunk headers.
std::vector<std::uint32_t> chunkLengths(const Bytes& b) {
    std::vector<std::uint32_t> out;
    for (std::size_t pos = 14; pos + 8 <= b.size();) {
        const std::uint32_t len = (std::uint32_t{b[pos + 4]} << 24) |
                                  (std::uint32_t{b[pos + 5]} << 16) |
                                  (std::uint32_t{b[pos + 6]} << 8) | b[pos + 7];
        out.push_back(len);
        pos += 8 + len;
    }
    return out;
}

TEST_F(CliFiles, DemoSong) {
    const fs::path demo = LIRNO_DEMO_SONG;
    ASSERT_TRUE(fs::exists(demo)) << demo;
    const Bytes bytes = readBytes(demo);
    const std::vector<std::uint32_t> len = chunkLengths(bytes);
    ASSERT_EQ(len.size(), 5u);

    const Json j = info(demo);
    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["nTracks"], 5);
    EXPECT_EQ(j["track"][0]["name"], "Ode to Joy");
    EXPECT_EQ(j["trackIndex"], Json({1, 2, 3, 4}));
    auto row = [](const char* name, int instr, int vol, int bal, std::uint32_t size) {
        return Json{{"name", name}, {"instr", instr}, {"vol", vol}, {"bal", bal}, {"size", size}};
    };
    // Melody and Drums get pan and volume, Piano only pan, Bass only volume.
    EXPECT_EQ(j["rows"],
              Json({row("Melody", 73, 127, 64, len[1] + 8), row("Piano", 0, 90, 64, len[2] + 4),
                    row("Bass", 32, 127, 54, len[3] + 4), row("Drums", 242, 127, 64, len[4] + 8)}));
    EXPECT_EQ(j["imageSize"], bytes.size() + 24);
    EXPECT_EQ(j["messages"], Json::array());
    roundTrip(demo);
}

TEST_F(CliFiles, SharedRealFilesRoundTrip) {
    roundTripFolder("real");
}

TEST_F(CliFiles, SharedEdgeFilesRoundTrip) {
    roundTripFolder("edge");
}

}  // namespace
}  // namespace clitest
