// Running lirno-midi from the tests, and the files they feed it.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/smfwrite.h"

namespace clitest {

using Bytes = lirno::smf::Bytes;
using Track = lirno::smf::Track;
using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;  // -1 when killed by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs lirno-midi with args; fileSizeLimit caps the size of any file it
// writes (RLIMIT_FSIZE, with SIGXFSZ ignored so a write fails instead).
RunResult runTool(const std::vector<std::string>& args, const fs::path& tmpDir,
                  std::optional<rlim_t> fileSizeLimit = std::nullopt);

Bytes readBytes(const fs::path& p);
void writeBytes(const fs::path& p, const Bytes& b);

Bytes cat(std::initializer_list<Bytes> parts);
Bytes mtrk(const Bytes& data);
Bytes smfHeader(int format, int nTracks, int division);
Bytes text(std::string_view s);

// The two events the analysis puts at the start of a single-channel track.
Bytes panEvent(int channel, int value = 0x40);
Bytes volEvent(int channel, int value = 0x7F);

// Each test gets its own folder (files in, files out, the play files' TMPDIR).
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    fs::path path(const std::string& name) const { return dir_ / name; }
    fs::path put(const std::string& name, const Bytes& bytes) const;
    RunResult run(const std::vector<std::string>& args,
                  std::optional<rlim_t> fileSizeLimit = std::nullopt) const;
    // info on a file (exit code checked by the caller through last()).
    Json info(const fs::path& file, int expectedExit = 0) const;
    Json infoOf(const Bytes& bytes, int expectedExit = 0) const;
    // mix FILE ARGS..., expecting exit 0.
    void mixOk(const fs::path& file, std::vector<std::string> args) const;

    fs::path dir_;
    fs::path tmp_;
};

// Quick and silent: the small SoundFont, no sound card.
class CliSilentTest : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        ::setenv("LIRNO_AUDIO", "none", 1);
        if (fs::exists("/usr/share/sounds/sf2/TimGM6mb.sf2"))
            ::setenv("LIRNO_SOUNDFONT", "/usr/share/sounds/sf2/TimGM6mb.sf2", 1);
    }
};

// A format-1 file with a tempo track, four listed tracks and a track of
// controllers only, built both as stored on disk and as the analysis must
// leave it in the image (Note-Off velocities zeroed, default pan/volume
// events inserted), with any of the listed tracks muted.
//
// file track : 0 tempo "Band", 1 "Lead" ch0, 2 "Piano" ch1, 3 "Ctl" (not
//              listed), 4 "Bass" ch2, 5 "Drums" ch9
// listed rows: 0 Lead, 1 Piano, 2 Bass, 3 Drums
struct Band {
    std::array<bool, 4> muted{};
    std::array<std::string, 4> names{"Lead", "Piano", "Bass", "Drums"};
    int leadProgram = 5;
    int leadPan = 0x40;   // inserted
    int leadVol = 0x7F;   // inserted
    int pianoVol = 90;    // from the file, three events
    int pianoPan = 0x40;  // inserted
    int bassPan = 54;     // from the file, two events
    int bassVol = 0x7F;   // inserted
    int drumsVol = 0x7F;  // inserted

    static constexpr int kDivision = 96;
    static constexpr int kFileTracks = 6;

    Track tempo() const;
    // normalised: as in the image; otherwise as on disk (before any edit)
    Track lead(bool normalised) const;
    Track piano(bool normalised) const;
    Track control() const;
    Track bass(bool normalised) const;
    Track drums(bool normalised) const;

    Bytes file() const;
    Bytes image() const;
    // The track data as stored in the file, by file track.
    std::vector<Bytes> fileTracks() const;
};

}  // namespace clitest
