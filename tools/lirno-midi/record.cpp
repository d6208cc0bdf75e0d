// lirno-midi record: plays the song and records what comes in on the
// player's MIDI input into a new track, as Record Track does, then writes
// the song with that track. Ctrl-C ends the recording as the song's end would.
#include <chrono>
#include <cstdio>
#include <thread>

#include "commands.h"
#include "device/engine/fluid_device.h"
#include "interrupts.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "mmio/recordtrack.h"
#include "mmio/sequencer.h"
#include "playing.h"

namespace lirno::cli {

namespace {

using namespace std::chrono_literals;

// Waits a moment for a keyboard to connect (hardware connects by itself).
void warnIfNothingConnected(const device::Device& dev) {
    for (int i = 0; i < 10 && !dev.inputConnected(); ++i) std::this_thread::sleep_for(50ms);
    if (!dev.inputConnected()) {
        std::fprintf(
            stderr, "lirno-midi: nothing is connected to \"Lirno Player\" yet; recording anyway\n");
    }
}

// Plays from the start until the end, `seconds`, a failure or Ctrl-C; true
// unless the play failed.
bool playWhileRecording(const std::optional<double>& seconds, EndOfSong& end,
                        const device::Notifier& notify, const device::Device& dev) {
    const std::atomic<bool>& interrupted = catchInterrupts();
    if (!start(notify, 0)) return false;
    const auto until = seconds ? std::chrono::steady_clock::now() +
                                     std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::duration<double>(*seconds))
                               : std::chrono::steady_clock::time_point::max();
    for (;;) {
        const int ended = end.wait(50ms);
        if (ended == device::kNotifyFailure) {
            mcimidiError(dev.failure(playback.wOutDeviceID));
            return false;
        }
        if (ended != 0 || interrupted.load() || std::chrono::steady_clock::now() >= until) {
            return true;
        }
    }
}

// The device set up for the recording: channel, port. 0 or the exit code.
int prepare(device::Device& dev, const RecordOptions& options, int channel) {
    if (!options.port.empty()) {
        if (const int code = dev.setOutputPort(options.port)) {
            mcimidiError(code);
            return 1;
        }
    }
    dev.setInputChannel(channel);
    warnIfNothingConnected(dev);
    return 0;
}

// Writes OUT with the recorded events in `track`, the other tracks as the
// file has them (`rows`: no edits); the exit code.
int save(const RecordOptions& options, const RowSource& rows, int track, int channel,
         const std::vector<device::RecordedEvent>& events) {
    if (events.empty()) {
        std::printf("Nothing was played: %s not written.\n", options.out.c_str());
        return 1;
    }
    if (!fillrecordtrack(loaded.image, loaded.MidiInfo, track, events) ||
        !writemidiinfo(options.out, loaded.image, loaded.MidiInfo, rows)) {
        std::fprintf(stderr, "lirno-midi: %s could not be written\n", options.out.c_str());
        return 1;
    }
    std::printf("recorded %zu events on channel %d into track %d\n", events.size(), channel + 1,
                track);
    return 0;
}

}  // namespace

int runRecord(const RecordOptions& options) {
    EditedSong song(EditedSong::PlayFileUse::Edited);
    if (const int code = song.load(options.file, {})) return code;
    MidiInfo& info = loaded.MidiInfo;
    const int channel = recordChannel(info);
    const int track = addrecordtrack(loaded.image, info, nextRecordedName(info), channel);
    if (track < 0) {
        if (info.nTracks >= kMaxTracks) {
            std::fprintf(stderr,
                         "lirno-midi: the song is full (%d tracks): nothing to record into\n",
                         kMaxTracks);
        } else {
            std::fprintf(stderr, "lirno-midi: this song cannot take a new track\n");
        }
        return 1;
    }
    // The play file holds the song with its new, empty track, as the player's does.
    if (!settmp(playback.sTmpName, loaded.image.data(), loaded.image.dwFileBufSize)) return 1;

    catchInterrupts();  // Ctrl-C while it waits for a connection ends it cleanly too
    EndOfSong end;      // outlives the device, which may still call it while closing
    const device::Notifier notify = [&end](device::DeviceId, int code) { end.notice(code); };
    const auto dev = device::makeDevice();
    const SequencerInstall link(dev.get(), notify);
    if (const int code = prepare(*dev, options, channel)) return code;
    if (const int code = dev->startRecording()) {
        mcimidiError(code);
        return 1;
    }
    const bool played = playWhileRecording(options.seconds, end, notify, *dev);
    const std::vector<device::RecordedEvent> events = dev->stopRecording();
    finish();
    if (!played) return 1;
    return save(options, song.rows(), track, channel, events);
}

}  // namespace lirno::cli
