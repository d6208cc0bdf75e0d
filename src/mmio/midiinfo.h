// What the analysis knows about the loaded file, and the file image itself.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace lirno {

inline constexpr int kMaxTracks = 100;
// Normalisation inserts at most two 4-byte controller events per track.
inline constexpr std::uint32_t kSpareBytes = 8 * kMaxTracks;

inline constexpr std::uint8_t NOT_SEEN = 240;  // no such event in the track
inline constexpr std::uint8_t MIXED = 255;     // the track's events disagree

// Instrument codes from getinstr besides the programs 0..127.
inline constexpr int kInstrBadProgram = 240;
inline constexpr int kInstrNoProgram = 241;
inline constexpr int kInstrDrums = 242;
inline constexpr int kInstrMixed = 255;

struct TrackInfo {
    std::uint32_t size = 0;  // data length in the normalised image
    char name[260] = {};     // the last name event's text
    std::uint8_t program = 0;
    std::uint8_t volume = 0;
    std::uint8_t balance = 0;
    std::uint8_t channel = 0;
};

struct MidiInfo {
    std::uint16_t format = 0;
    std::uint16_t nTracks = 0;
    std::uint16_t division = 0;
    std::uint16_t nViewTracks = 0;
    std::array<std::int32_t, kMaxTracks> trackIndex{};  // listed track -> file track
    std::array<TrackInfo, kMaxTracks> track{};          // by file track
};

// The file image: the file's bytes, normalised by the analysis, in one owned
// block that holds kSpareBytes more than the file so the analysis can grow the
// image without moving it.
struct FileImage {
    std::vector<std::uint8_t> pFileBuf;  // the block; empty when there is none
    std::uint32_t dwFileBufSize = 0;     // bytes of the image in use

    std::uint8_t* data() { return pFileBuf.data(); }
    const std::uint8_t* data() const { return pFileBuf.data(); }
    // The image's end: nothing beyond it is ever read.
    const std::uint8_t* end() const { return pFileBuf.data() + dwFileBufSize; }
    // A block holding bytes followed by the spare bytes.
    static FileImage fromBytes(const std::vector<std::uint8_t>& bytes);
};

// Checks the header, walks every track, fills info, zeroes Note-Off
// velocities and inserts missing pan and volume events. Returns 1 when the
// file was analysed and normalised, 0 when it is not supported.
int readmidiinfo(FileImage& image, MidiInfo& info);

// Accessors by listed-track number n (0 <= n < nViewTracks).
const char* getmidiformat(const MidiInfo& info);
int getnumtracks(const MidiInfo& info);
int getticks(const MidiInfo& info);
std::uint32_t gettracksize(const MidiInfo& info, int n);
int getvol(const MidiInfo& info, int n);
int getbal(const MidiInfo& info, int n);
const char* gettrackname(const MidiInfo& info, int n);
int getinstr(const MidiInfo& info, int n);

}  // namespace lirno
