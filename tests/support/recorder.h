// Test helpers: a message-box recorder and images built from bytes; the
// scratch folder and file helpers come along for the tests that use both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/smfwrite.h"
#include "files.h"
#include "mmio/message.h"
#include "mmio/midiinfo.h"
#include "mmio/playback.h"

namespace lirno::test {

// Records every message box for the life of the object; starts from a fresh
// process state.
class Recorder {
  public:
    Recorder() {
        resetGlobals();
        previous_ = setMessageBoxHandler([this](const Message& m) { messages.push_back(m); });
    }
    ~Recorder() { setMessageBoxHandler(previous_); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& m : messages) t.push_back(m.text);
        return t;
    }

    std::vector<Message> messages;

  private:
    MessageBoxHandler previous_;
};

// The image's bytes in use.
inline std::vector<std::uint8_t> bytesOf(const FileImage& image) {
    return {image.data(), image.data() + image.dwFileBufSize};
}

}  // namespace lirno::test
