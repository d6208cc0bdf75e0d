#include "device/soundfont/font_cut.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "device/soundfont/little_endian.h"

namespace lirno::device {

namespace {

// A cut-down font as FluidSynth reads it: the file up to its directory (the
// RIFF size made right), then the cut's own directory.
struct CutImage {
    std::string path;
    std::uint64_t prefix = 0;
    std::vector<std::uint8_t> directory;
    std::uint64_t size() const { return prefix + directory.size(); }
};

// FluidSynth's file callbacks get only a name: the cut being loaded is
// handed to them through the loading thread. Every other open (and the
// reads of samples, which lie before the directory and are the same in the
// file and in any cut of it) reads the file itself.
thread_local const CutImage* tLoading = nullptr;

class LoadingCut {
  public:
    explicit LoadingCut(const CutImage& image) { tLoading = &image; }
    ~LoadingCut() { tLoading = nullptr; }
    LoadingCut(const LoadingCut&) = delete;
    LoadingCut& operator=(const LoadingCut&) = delete;
};

struct FontFile {
    int fd = -1;
    const CutImage* image = nullptr;
    std::int64_t size = 0;
    std::int64_t pos = 0;
    FontFile() = default;
    FontFile(const FontFile&) = delete;
    FontFile& operator=(const FontFile&) = delete;
    ~FontFile() {
        if (fd >= 0) ::close(fd);
    }
};

void* openFont(const char* name) {
    auto f = std::make_unique<FontFile>();
    f->fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (f->fd < 0) return nullptr;
    if (tLoading != nullptr && tLoading->path == name) {
        f->image = tLoading;
        f->size = static_cast<std::int64_t>(tLoading->size());
    } else {
        f->size = ::lseek(f->fd, 0, SEEK_END);
        if (f->size < 0) return nullptr;
    }
    return f.release();  // FluidSynth hands it back to closeFont
}

bool readFile(int fd, std::uint8_t* to, std::int64_t count, std::int64_t at) {
    while (count > 0) {
        const ssize_t n = ::pread(fd, to, static_cast<std::size_t>(count), at);
        if (n <= 0) return false;
        to += n;
        at += n;
        count -= n;
    }
    return true;
}

int readFont(void* buf, fluid_long_long_t count, void* handle) {
    auto* f = static_cast<FontFile*>(handle);
    if (count < 0 || count > f->size - f->pos) return FLUID_FAILED;
    auto* to = static_cast<std::uint8_t*>(buf);
    std::int64_t pos = f->pos;
    std::int64_t left = count;
    if (f->image != nullptr) {
        const auto prefix = static_cast<std::int64_t>(f->image->prefix);
        std::uint8_t header[8] = {'R', 'I', 'F', 'F'};
        writeLE32(header + 4, static_cast<std::uint32_t>(f->image->size() - 8));
        for (; left > 0 && pos < 8; --left) *to++ = header[pos++];
        const std::int64_t fromFile = std::min(left, std::max<std::int64_t>(prefix - pos, 0));
        if (!readFile(f->fd, to, fromFile, pos)) return FLUID_FAILED;
        to += fromFile;
        pos += fromFile;
        left -= fromFile;
        if (left > 0)
            std::memcpy(to, f->image->directory.data() + (pos - prefix),
                        static_cast<std::size_t>(left));
    } else if (!readFile(f->fd, to, left, pos)) {
        return FLUID_FAILED;
    }
    f->pos += count;
    return FLUID_OK;
}

int seekFont(void* handle, fluid_long_long_t offset, int origin) {
    auto* f = static_cast<FontFile*>(handle);
    const std::int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? f->pos : f->size;
    if (base + offset < 0) return FLUID_FAILED;
    f->pos = base + offset;
    return FLUID_OK;
}

fluid_long_long_t tellFont(void* handle) {
    return static_cast<FontFile*>(handle)->pos;
}

int closeFont(void* handle) {
    const std::unique_ptr<FontFile> f(static_cast<FontFile*>(handle));
    return FLUID_OK;
}

// Voices the last play left fading out still hold the old cut's samples:
// ended here, they let the old cut and its samples go at once, on this
// thread, rather than on the audio thread when the voices end there (and
// FluidSynth's timer thread for the font). Nothing is heard meanwhile.
void finishVoices(fluid_synth_t* synth) {
    if (fluid_synth_get_active_voice_count(synth) == 0) return;
    fluid_synth_all_sounds_off(synth, -1);
    std::array<float, 64> left{}, right{};
    for (int block = 0; block < 1000 && fluid_synth_get_active_voice_count(synth) > 0; ++block) {
        fluid_synth_write_float(synth, static_cast<int>(left.size()), left.data(), 0, 1,
                                right.data(), 0, 1);
    }
}

}  // namespace

bool SubsetFont::addLoader(fluid_synth_t* synth, fluid_settings_t* settings) {
    fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
    if (loader == nullptr) return false;
    fluid_sfloader_set_callbacks(loader, &openFont, &readFont, &seekFont, &tellFont, &closeFont);
    fluid_synth_add_sfloader(synth, loader);  // the synth owns it from here
    return true;
}

bool SubsetFont::attach(fluid_synth_t* synth) {
    return load(synth, {});
}

PresetNotes SubsetFont::selected(const PresetNotes& played) const {
    return notesSelected(played, [this](PresetRef p) { return index_.has(p); });
}

bool SubsetFont::holds(const PresetNotes& played) const {
    return covers(loaded_, selected(played));
}

bool SubsetFont::cover(fluid_synth_t* synth, const PresetNotes& played) {
    return coverExactly(synth, selected(played));
}

bool SubsetFont::coverExactly(fluid_synth_t* synth, const PresetNotes& wanted) {
    if (covers(loaded_, wanted)) return true;
    return load(synth, wanted);
}

bool SubsetFont::load(fluid_synth_t* synth, const PresetNotes& selected) {
    const CutImage image{index_.path(), index_.directoryOffset(), index_.subset(selected)};
    int id = FLUID_FAILED;
    {
        LoadingCut loading(image);
        id = fluid_synth_sfload(synth, image.path.c_str(), 0);
    }
    if (id == FLUID_FAILED) return false;
    // The new cut's samples are read (or found in FluidSynth's sample cache,
    // where the old cut keeps those both share) before the old cut goes.
    for (const auto& [p, notes] : selected) fluid_synth_pin_preset(synth, id, p.bank, p.program);
    if (fontId_ >= 0) {
        finishVoices(synth);
        fluid_synth_sfunload(synth, fontId_, 0);
    }
    fontId_ = id;
    loaded_ = selected;
    return true;
}

}  // namespace lirno::device
