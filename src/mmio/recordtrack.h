// A recorded track: a new track chunk at the end of the image holding what
// was played on a MIDI keyboard, mixable and saved like any other track.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/device.h"
#include "mmio/midiinfo.h"

namespace lirno {

// The channel a recording goes on: the first that no track uses, else the
// last one (0-based, 0..15). The drum channel is never taken (it would play
// the row's instrument as drums), and a track on several channels (MIXED)
// may use any of them: the last one then.
int recordChannel(const MidiInfo& info);

// "Recorded 1", "Recorded 2", ...: one more than the highest such name among
// the song's tracks.
std::string nextRecordedName(const MidiInfo& info);

// Appends an empty track chunk named `name` on `channel` with Acoustic Grand
// Piano and the volume and balance every analysed track has, and analyses
// the image again. A song of format 0 becomes format 1, its one track first.
// Returns the new file track's number, or -1 when the song already has
// kMaxTracks tracks, is of format 2 (its tracks play one after another) or
// its image was not analysed (nothing changes then). What the analysis
// finds wrong with the song is not said again.
int addrecordtrack(FileImage& image, MidiInfo& info, const std::string& name, int channel);

// Puts the recorded events (in time order, ticks from the song's start) into
// that track, after its leading events as they now stand (the name, program,
// volume and balance, edited or not), and analyses the image again.
// Returns 1, or 0 when fileTrack is not the image's last track chunk.
int fillrecordtrack(FileImage& image, MidiInfo& info, int fileTrack,
                    std::span<const device::RecordedEvent> events);

// Takes an empty recorded track away again (nothing was played): the image
// is as it was before addrecordtrack, its format `formatBefore`. Returns 1,
// or 0 when fileTrack is not the image's last track chunk.
int droprecordtrack(FileImage& image, MidiInfo& info, int fileTrack, std::uint16_t formatBefore);

}  // namespace lirno
