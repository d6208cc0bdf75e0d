// lirno-midi info: the program's load of a file, reported as one JSON object.
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "device/engine/fluid_device.h"
#include "device/soundfont/discovery.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"

namespace lirno::cli {

namespace {

using json = nlohmann::ordered_json;

// Text from a file is bytes: each byte becomes the code point of its value.
std::string latin1ToUtf8(const char* text) {
    std::string out;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

json trackRecords(const MidiInfo& info, int analysed) {
    json tracks = json::array();
    for (int i = 0; i < std::min(analysed, kMaxTracks); ++i) {
        const TrackInfo& t = info.track[static_cast<std::size_t>(i)];
        tracks.push_back({{"size", t.size},
                          {"name", latin1ToUtf8(t.name)},
                          {"program", t.program},
                          {"volume", t.volume},
                          {"balance", t.balance},
                          {"channel", t.channel}});
    }
    return tracks;
}

json rowRecords(const MidiInfo& info) {
    json rows = json::array();
    for (int n = 0; n < getnumtracks(info); ++n)
        rows.push_back({{"name", latin1ToUtf8(gettrackname(info, n))},
                        {"instr", getinstr(info, n)},
                        {"vol", getvol(info, n)},
                        {"bal", getbal(info, n)},
                        {"size", gettracksize(info, n)}});
    return rows;
}

}  // namespace

int runInfo(const std::string& file) {
    json messages = json::array();
    const auto previous = setMessageBoxHandler([&](const Message& m) {
        messages.push_back({{"caption", m.caption}, {"text", m.text}});
    });
    PlayFile playFile;
    std::string name = file;
    LoadDetails details;
    const int loadedOk = mcimidiSelectFile(name, &details);
    // The length probe of the player's Open: the device measures the play file.
    json length = nullptr;
    if (loadedOk) {
        device::DeviceSettings silent;
        silent.audioDriver = device::kAudioNone;  // measuring needs no sound
        device::FluidDevice device(silent);
        const SequencerInstall link(&device);
        if (const std::uint32_t id = mcimidiOpen(playback.sTmpName)) {
            length = playback.dwFileSize;
            mcimidiClose(id);
        }
    }
    setMessageBoxHandler(previous);

    const MidiInfo& info = loaded.MidiInfo;
    json out;
    out["result"] = loadedOk ? details.analysis : 0;
    out["format"] = info.format;
    out["nTracks"] = info.nTracks;
    out["division"] = info.division;
    out["nViewTracks"] = info.nViewTracks;
    const char* formatText = getmidiformat(info);
    out["formatText"] = formatText ? json(formatText) : json(nullptr);
    json index = json::array();
    for (int n = 0; n < info.nViewTracks; ++n) index.push_back(info.trackIndex[std::size_t(n)]);
    out["trackIndex"] = index;
    out["track"] = trackRecords(info, loadedOk ? details.analysedTracks : 0);
    out["rows"] = rowRecords(info);
    out["imageSize"] = loaded.image.dwFileBufSize;
    out["length"] = length;
    out["messages"] = messages;
    // The SoundFonts a play would use, the first winning.
    out["soundFont"] = soundFontList();
    std::cout << out.dump(-1, ' ', true) << '\n';
    return loadedOk ? 0 : 1;
}

}  // namespace lirno::cli
