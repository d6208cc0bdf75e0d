// lirno-midi play: the edited song through the audio output or to a MIDI
// port, for machines without a window system. Ctrl-C stops it cleanly.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "commands.h"
#include "device/engine/fluid_device.h"
#include "interrupts.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "mmio/timeconv.h"
#include "playing.h"

namespace lirno::cli {

namespace {

class PositionLine {
  public:
    explicit PositionLine(std::uint32_t length)
        : terminal_(::isatty(STDOUT_FILENO) == 1), length_(formatReadout(length)) {}
    void show(std::uint32_t pos) {
        const std::string text = formatReadout(pos) + " / " + length_;
        if (terminal_) {
            std::printf("\r%s ", text.c_str());
            std::fflush(stdout);
        } else if (pos / 8 != lastSecond_) {
            lastSecond_ = pos / 8;
            std::printf("%s\n", text.c_str());
        }
    }
    void end(const char* why) {
        if (terminal_) std::printf("\n");
        std::printf("%s\n", why);
    }

  private:
    bool terminal_;
    std::string length_;
    std::uint32_t lastSecond_ = ~0u;
};

// Plays until the end (each end with --loop), a failure or Ctrl-C; the exit code.
int playThrough(bool loop, std::uint32_t from, EndOfSong& end, const device::Notifier& notify,
                const device::Device& dev) {
    const std::atomic<bool>& interrupted = catchInterrupts();
    if (!start(notify, from)) return 1;
    PositionLine line(playback.dwFileSize);
    for (;;) {
        const int ended = end.wait(std::chrono::milliseconds(100));
        if (ended == device::kNotifyFailure) {
            // No output, or it was lost: the device's own words, and a failure.
            line.end("Failed.");
            mcimidiError(dev.failure(playback.wOutDeviceID));
            return 1;
        }
        if (interrupted.load()) {
            line.end("Stopped.");
            return 130;
        }
        if (ended != 0 && !loop) {
            line.show(playback.dwFileSize);
            line.end("Played to the end.");
            return 0;
        }
        if (ended != 0) {  // the player's loop: a newly opened device, from the start
            finish();
            if (!start(notify, from)) return 1;
        }
        if (const auto pos = mcimidiPosition(playback.wOutDeviceID)) line.show(*pos);
    }
}

}  // namespace

int runPlay(const PlayOptions& options) {
    EditedSong song(EditedSong::PlayFileUse::Edited);
    if (const int code = song.load(options.file, options.edits)) return code;
    device::PlaybackSettings settings;
    std::uint32_t from = 0;
    if (const int code = practiceSettings({loaded.image.data(), loaded.image.dwFileBufSize},
                                          options.practice, settings, from))
        return code;

    EndOfSong end;  // outlives the device, which may still call it while closing
    const device::Notifier notify = [&end](device::DeviceId, int code) { end.notice(code); };
    const auto dev = device::makeDevice();
    const SequencerInstall link(dev.get(), notify);
    if (!options.port.empty()) {
        if (const int code = dev->setOutputPort(options.port)) {
            mcimidiError(code);
            return 1;
        }
    }
    if (const int code = dev->setPlayback(settings)) {
        mcimidiError(code);
        return 1;
    }
    const device::SoundSettings sound = soundFor(options.sound);
    if (sound != device::SoundSettings{}) {
        if (const int code = dev->setSound(sound)) {
            mcimidiError(code);
            return 1;
        }
    }
    // A passage plays over and over whether or not --loop asks, until Ctrl-C.
    const int code = playThrough(options.loop, from, end, notify, *dev);
    finish();
    return code;
}

}  // namespace lirno::cli
