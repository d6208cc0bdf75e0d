// What the commands that play a song share: the play file opened and played
// as the player's Play does, and the song's end as the device reports it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "device/device.h"

namespace lirno::cli {

// The song's end, as the device reports it from its own thread.
struct EndOfSong {
    std::mutex m;
    std::condition_variable cv;
    int ended = 0;  // the notice that ended the play, 0 while it goes on

    void notice(int code);
    // Waits up to one tick; the notice when the song ended, else 0.
    int wait(std::chrono::milliseconds tick);
};

// Opens the play file and plays it from `from`, as the player's Play does.
bool start(const device::Notifier& notify, std::uint32_t from);
// Stops and closes what start() opened.
void finish();

}  // namespace lirno::cli
