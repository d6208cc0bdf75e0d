// Test helpers: a message-box recorder, a scratch folder, and images built
// from bytes.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/smfwrite.h"
#include "mmio/message.h"
#include "mmio/midiinfo.h"
#include "mmio/playback.h"

namespace lirno::test {

// Records every message box for the life of the object; starts from a fresh
// process state.
class Recorder {
public:
    Recorder()
    {
        resetGlobals();
        previous_ = setMessageBoxHandler([this](const Message& m) { messages.push_back(m); });
    }
    ~Recorder() { setMessageBoxHandler(previous_); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<std::string> texts() const
    {
        std::vector<std::string> t;
        for (const auto& m : messages) t.push_back(m.text);
        return t;
    }

    std::vector<Message> messages;

private:
    MessageBoxHandler previous_;
};

// A folder removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "lirno-test-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The image's bytes in use.
inline std::vector<std::uint8_t> bytesOf(const FileImage& image)
{
    return {image.data(), image.data() + image.dwFileBufSize};
}

}  // namespace lirno::test
