// Ctrl-C and SIGTERM for the commands that run for a while (play, render).
#pragma once

#include <atomic>

namespace lirno::cli {

// From now on SIGINT and SIGTERM only raise the returned flag, so that the
// command can stop cleanly: silence the device, remove its partial files.
const std::atomic<bool>& catchInterrupts();

}  // namespace lirno::cli
