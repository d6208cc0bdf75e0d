// What FluidSynth and ALSA print: errors to stderr, except from the audio
// side (which must never block on a stream) and from attempts kept quiet.
#pragma once

namespace lirno::device {

// Installs the log handlers of FluidSynth and ALSA (once per process):
// FluidSynth's chatter is off from then on; errors reach stderr.
void routeEngineLogs();

// While one lives on a thread, FluidSynth's and ALSA's error messages from
// that thread are kept instead of printed: an attempt that a later one makes
// good is nobody's business.
bool attemptsQuiet() noexcept;

class QuietAttempts {
  public:
    QuietAttempts();
    ~QuietAttempts();
    QuietAttempts(const QuietAttempts&) = delete;
    QuietAttempts& operator=(const QuietAttempts&) = delete;
};

}  // namespace lirno::device
