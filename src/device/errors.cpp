#include "device/errors.h"

namespace lirno::device {

std::optional<std::string> errorTextFor(int code) {
    switch (code) {
        case kErrUnknownId:
            return "No song is open under this device id.";
        case kErrFileRead:
            return "The MIDI file could not be read.";
        case kErrNotMidi:
            return "This is not a MIDI file: it has no MThd header.";
        case kErrShortHeader:
            return "The MIDI file's header is cut short.";
        case kErrBadDivision:
            return "The MIDI file's time division is zero, so its timing cannot be known.";
        case kErrOutOfRange:
            return "The position is beyond the end of the song.";
        case kErrNoSoundFont:
            return "No SoundFont was found: set LIRNO_SOUNDFONT to an .sf2 or .sf3 file, or "
                   "install a General MIDI SoundFont (fluid-soundfont-gm) or put one in "
                   "~/.local/share/soundfonts.";
        case kErrSoundFontLoad:
            return "The SoundFont could not be loaded.";
        case kErrAudioOutput:
            return "No audio output could be opened (set LIRNO_AUDIO to a working driver, "
                   "or to none to play silently).";
        case kErrFileTooLarge:
            return "The MIDI file is too large to play.";
        case kErrAudioWrite:
            return "The audio file could not be written.";
        case kErrCancelled:
            return "The render was interrupted; nothing was written.";
        case kErrAudioLost:
            return "The audio output stopped working while the song played.";
        case kErrMidiPort:
            return "The MIDI port could not be opened: see lirno-midi ports for the ports there "
                   "are.";
        case kErrMidiPortLost:
            return "The MIDI port went away while the song played.";
        case kErrNoMidiInput:
            return "No MIDI keyboard is connected to Lirno Player's input.";
        default:
            return std::nullopt;
    }
}

}  // namespace lirno::device
