// The player's sound (a stack of SoundFonts, reverb, chorus): read once at
// start-up, given to the device before the first play, kept between runs
// in the settings' "Sound" group, which lirno-midi reads too.
#pragma once

#include <QString>
#include <QStringList>

#include "device/device.h"

namespace lirno {

// The fonts when nothing was chosen: those LIRNO_SOUNDFONT names (several
// separated by ':'), else the one discovery finds, else none.
std::vector<std::string> defaultSoundFonts();

class SoundChoice {
  public:
    // Reads the kept choice (LIRNO_SOUNDFONT's list wins for this run) and
    // gives it to device, which may be nullptr.
    explicit SoundChoice(device::Device* device);

    const device::SoundSettings& settings() const { return now_; }
    // The device sounds so from now on (a song under way too) and the
    // choice is kept; the list only when it differs from the one shown, so
    // a list from LIRNO_SOUNDFONT or discovery stays unsaved until changed;
    // an empty list goes back to defaultSoundFonts(), none kept. 0, or the
    // device's error: then nothing changes.
    int change(const device::SoundSettings& settings);
    // FluidSynth's effects and the fonts of defaultSoundFonts(); nothing is
    // kept any more. 0, or the device's error as for change().
    int restoreDefaults();
    // What the device says of an error code.
    QString errorText(int code) const;

  private:
    int give(const device::SoundSettings& settings, bool chosen);

    device::Device* device_;
    device::SoundSettings now_;
    bool fontsChosen_ = false;  // the list is the user's, not LIRNO_SOUNDFONT's or discovery's
};

}  // namespace lirno
