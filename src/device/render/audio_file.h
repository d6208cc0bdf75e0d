// Audio files for offline renders: the format an output's name asks for, and
// a writer that puts the file in place only once it is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/engine/sample_rates.h"
#include "device/files.h"

typedef struct sf_private_tag SNDFILE;

namespace lirno::device {

struct AudioFormat {
    std::string extension;  // lower case, without the dot
    int sfFormat = 0;       // libsndfile's major format | subtype
    std::uint32_t defaultRate = kDefaultRenderRate;
};

// The format for an extension ("flac", ".flac" or a file name ending in it),
// if this program writes it and the installed libsndfile can; otherwise
// false with a message that says why and names the formats that work.
bool audioFormatFor(const std::string& nameOrExtension, AudioFormat& format, std::string& error);

// Whether `rate` can be written in `format`; otherwise false with a message.
bool rateFits(const AudioFormat& format, std::uint32_t rate, std::string& error);

// The extensions that work here, as "wav, flac, ogg, ...".
std::string writableExtensions();

// Writes stereo float frames to a new file beside the target (see
// FileBeside); commit() puts it in place. A writer destroyed without a
// successful commit leaves nothing behind, nor does a killed process where
// the file system allows.
class AudioFileWriter {
    struct Made {};  // only create() makes one

  public:
    // Null on failure, with `error` saying what went wrong.
    static std::unique_ptr<AudioFileWriter> create(const std::string& target,
                                                   const AudioFormat& format, std::uint32_t rate,
                                                   std::string& error);
    AudioFileWriter(Made, const std::string& target);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // Interleaved left/right samples, full scale at +-1 (clipped beyond).
    bool write(const float* frames, std::size_t count);
    // Finishes the file and renames it over the target; false with `error` set.
    bool commit(std::string& error);
    const std::string& target() const { return target_; }

  private:
    std::string target_;
    FileBeside file_;
    SNDFILE* sound_ = nullptr;  // writes to file_
    bool pcm16_ = false;
    std::vector<short> shorts_;
};

}  // namespace lirno::device
