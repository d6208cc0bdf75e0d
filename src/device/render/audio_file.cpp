#include "device/render/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace lirno::device {
namespace {

struct Known {
    const char* extension;
    int major;
    int subtype;
    std::uint32_t defaultRate;
    const char* what;
};

// 16-bit PCM where the format is lossless, so a WAV and a FLAC of one
// render decode to the same samples.
constexpr std::array<Known, 5> kKnown{{
    {"wav", SF_FORMAT_WAV, SF_FORMAT_PCM_16, kDefaultRenderRate, "WAV"},
    {"flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_16, kDefaultRenderRate, "FLAC"},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS, kDefaultRenderRate, "Ogg Vorbis"},
    {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III, kDefaultRenderRate, "MP3"},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS, 48000, "Opus"},
}};

// Whether the linked libsndfile was built with this major format and subtype.
bool libraryHas(int major, int subtype) {
    auto listed = [](int countCommand, int infoCommand, int wanted) {
        int count = 0;
        sf_command(nullptr, countCommand, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sf_command(nullptr, infoCommand, &info, sizeof info) == 0 &&
                info.format == wanted) {
                return true;
            }
        }
        return false;
    };
    return listed(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR, major) &&
           listed(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE, subtype);
}

std::string lowerExtension(const std::string& nameOrExtension) {
    std::string ext = nameOrExtension;
    if (const auto dot = ext.rfind('.'); dot != std::string::npos) ext = ext.substr(dot + 1);
    if (ext.find('/') != std::string::npos) ext.clear();  // a dot in a folder name only
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

std::string writableExtensions() {
    std::string out;
    for (const Known& k : kKnown) {
        if (!libraryHas(k.major, k.subtype)) continue;
        if (!out.empty()) out += ", ";
        out += k.extension;
    }
    return out;
}

bool audioFormatFor(const std::string& nameOrExtension, AudioFormat& format, std::string& error) {
    const std::string ext = lowerExtension(nameOrExtension);
    const auto k = std::find_if(kKnown.begin(), kKnown.end(),
                                [&](const Known& k) { return ext == k.extension; });
    if (k == kKnown.end()) {
        error = (ext.empty() ? std::string("no audio format given")
                             : "'." + ext +
                                   "' is not an audio format "
                                   "this program writes") +
                " (it writes " + writableExtensions() + ")";
        return false;
    }
    if (!libraryHas(k->major, k->subtype)) {
        error = std::string("the installed libsndfile cannot write ") + k->what +
                " files (it writes " + writableExtensions() + ")";
        return false;
    }
    format = {k->extension, k->major | k->subtype, k->defaultRate};
    return true;
}

bool rateFits(const AudioFormat& format, std::uint32_t rate, std::string& error) {
    if (rate < kMinRenderRate || rate > kMaxRenderRate) {
        error = "the sample rate must be between " + std::to_string(kMinRenderRate) + " and " +
                std::to_string(kMaxRenderRate) + " Hz";
        return false;
    }
    const int subtype = format.sfFormat & SF_FORMAT_SUBMASK;
    if (subtype == SF_FORMAT_OPUS && rate != 24000 && rate != 48000) {
        error = "Opus files hold 24000 or 48000 Hz only";
        return false;
    }
    if (subtype == SF_FORMAT_MPEG_LAYER_III && rate > 48000) {
        error = "MP3 files hold at most 48000 Hz";
        return false;
    }
    return true;
}

std::unique_ptr<AudioFileWriter> AudioFileWriter::create(const std::string& target,
                                                         const AudioFormat& format,
                                                         std::uint32_t rate, std::string& error) {
    if (std::error_code ec; std::filesystem::is_directory(target, ec)) {
        error = "cannot write " + target + ": it is a folder";
        return nullptr;
    }
    auto writer = std::make_unique<AudioFileWriter>(Made{}, target);
    if (writer->file_.fd() < 0) {
        error = "cannot create a file in " + writer->file_.folder().string() + ": " +
                std::strerror(errno);
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 2;
    info.format = format.sfFormat;
    // The descriptor stays open after sf_close(), to be put in place.
    writer->sound_ = sf_open_fd(writer->file_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (writer->sound_ == nullptr) {
        error = std::string("cannot write ") + target + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    // Samples at full scale must not wrap round to the other extreme.
    sf_command(writer->sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    writer->pcm16_ = (format.sfFormat & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    return writer;
}

AudioFileWriter::AudioFileWriter(Made, const std::string& target)
    : target_(target), file_(target, FileBeside::Use::Replacement) {}

AudioFileWriter::~AudioFileWriter() {
    if (sound_ != nullptr) sf_close(sound_);
}

bool AudioFileWriter::write(const float* frames, std::size_t count) {
    if (sound_ == nullptr) return false;
    const auto n = static_cast<sf_count_t>(count);
    if (!pcm16_) return sf_writef_float(sound_, frames, n) == n;
    // libsndfile scales floats differently per format; rounding here makes a
    // WAV and a FLAC of one render hold the very same samples.
    shorts_.resize(2 * count);
    for (std::size_t i = 0; i < 2 * count; ++i)
        shorts_[i] = static_cast<short>(std::lround(std::clamp(frames[i], -1.0f, 1.0f) * 32767.0f));
    return sf_writef_short(sound_, shorts_.data(), n) == n;
}

bool AudioFileWriter::commit(std::string& error) {
    if (sound_ == nullptr) {
        error = "cannot write " + target_;
        return false;
    }
    const int closed = sf_close(sound_);
    sound_ = nullptr;
    if (closed != 0) {
        error = "cannot write " + target_ + ": " + sf_error_number(closed);
        return false;
    }
    if (!file_.replaceTarget()) {
        error = "cannot put " + target_ + " in place: " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace lirno::device
