#include "cli_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace clitest {

namespace {

constexpr auto kTimeout = std::chrono::seconds(20);

}  // namespace

RunResult runTool(const std::vector<std::string>& args, const fs::path& tmpDir,
                  std::optional<rlim_t> fileSizeLimit) {
    std::vector<std::string> argv = {LIRNO_MIDI_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const std::string tmpEnv = "TMPDIR=" + tmpDir.string();

    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::setenv("TMPDIR", tmpDir.c_str(), 1);
        if (fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across exec
            const rlimit lim{*fileSizeLimit, *fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    RunResult r;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[k]->append(buf, static_cast<std::size_t>(n));
            } else {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Bytes readBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes mtrk(const Bytes& data) {
    Bytes out = {'M', 'T', 'r', 'k'};
    lirno::smf::put32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes smfHeader(int format, int nTracks, int division) {
    return lirno::smf::file(format, division, {}, nTracks);
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes panEvent(int channel, int value) {
    return {0x00, static_cast<std::uint8_t>(0xB0 | channel), 0x0A,
            static_cast<std::uint8_t>(value)};
}

Bytes volEvent(int channel, int value) {
    return {0x00, static_cast<std::uint8_t>(0xB0 | channel), 0x07,
            static_cast<std::uint8_t>(value)};
}

void CliTest::SetUp() {
    std::string templ = (fs::temp_directory_path() / "lirno-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    tmp_ = dir_ / "playtmp";
    fs::create_directory(tmp_);
    // The player's saved settings are the test's own, never the user's.
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
}

void CliTest::TearDown() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

fs::path CliTest::put(const std::string& name, const Bytes& bytes) const {
    writeBytes(path(name), bytes);
    return path(name);
}

RunResult CliTest::run(const std::vector<std::string>& args, std::optional<rlim_t> limit) const {
    RunResult r = runTool(args, tmp_, limit);
    EXPECT_FALSE(r.timedOut) << "lirno-midi did not finish";
    return r;
}

Json CliTest::info(const fs::path& file, int expectedExit) const {
    const RunResult r = run({"info", file.string()});
    EXPECT_EQ(r.exitCode, expectedExit) << r.err;
    try {
        return Json::parse(r.out);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "info printed no JSON: " << e.what() << "\n" << r.out;
        return Json::object();
    }
}

Json CliTest::infoOf(const Bytes& bytes, int expectedExit) const {
    return info(put("in.mid", bytes), expectedExit);
}

void CliTest::mixOk(const fs::path& file, std::vector<std::string> args) const {
    args.insert(args.begin(), {"mix", file.string()});
    const RunResult r = run(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// --- the band ---------------------------------------------------------------

namespace {

std::uint8_t u8(int v) {
    return static_cast<std::uint8_t>(v);
}

// A note status byte of channel ch, on or off, as a muted track holds it.
std::uint8_t noteStatus(bool on, int ch, bool muted) {
    return u8(((on != muted) ? 0x90 : 0x80) | ch);
}

}  // namespace

Track Band::tempo() const {
    Track t;
    t.name("Band").tempo(0, 500000);
    return t.end();
}

Track Band::lead(bool normalised) const {
    const bool m = muted[0] && normalised;
    const int off = normalised ? 0 : 0x40;  // Note-Off velocities
    Track t;
    if (normalised) t.raw(panEvent(0, leadPan)).raw(volEvent(0, leadVol));
    const int prog = leadProgram;
    t.name(names[0])
        .ev(0, {0xC0, u8(prog)})
        .ev(0, {noteStatus(true, 0, m), 0x3C, 0x64})
        .ev(0, {0x3E, 0x64})  // running status
        .ev(0x60, {noteStatus(false, 0, m), 0x3C, u8(off)})
        .ev(0, {0x3E, u8(off)})  // running status
        .ev(0, {0xC0, u8(prog)})
        .ev(0, {u8(prog)})  // a program change under running status
        .ev(0, {noteStatus(true, 0, m), 0x40, 0x50})
        .ev(0x60, {noteStatus(false, 0, m), 0x40, u8(off)});
    return t.end();
}

Track Band::piano(bool normalised) const {
    const bool m = muted[1] && normalised;
    const int vol = pianoVol;
    Track t;
    if (normalised) t.raw(panEvent(1, pianoPan));
    t.name(names[1])
        .ev(0, {0xC1, 0x00})
        .ev(0, {0xB1, 0x07, u8(vol)})
        .ev(0, {0x0B, 0x5A})  // expression, under running status: never a volume
        .ev(0, {noteStatus(true, 1, m), 0x30, 0x46})
        .ev(0x60, {noteStatus(false, 1, m), 0x30, u8(normalised ? 0 : 0x22)})
        .ev(0, {0xB1, 0x07, u8(vol)})
        .ev(0, {0x07, u8(vol)});  // running status
    return t.end();
}

Track Band::control() const {
    Track t;
    t.name("Ctl").ev(0, {0xB2, 0x07, 0x64});
    return t.end();
}

Track Band::bass(bool normalised) const {
    const bool m = muted[2] && normalised;
    const int pan = bassPan;
    Track t;
    if (normalised) t.raw(volEvent(2, bassVol));
    t.name(names[2])
        .ev(0, {0xC2, 0x20})
        .ev(0, {0xB2, 0x0A, u8(pan)})
        .ev(0, {0x0A, u8(pan)})  // running status
        .ev(0, {noteStatus(true, 2, m), 0x24, 0x50})
        .ev(0x60, {noteStatus(false, 2, m), 0x24, 0x00});
    return t.end();
}

Track Band::drums(bool normalised) const {
    const bool m = muted[3] && normalised;
    Track t;
    if (normalised) t.raw(panEvent(9)).raw(volEvent(9, drumsVol));
    t.name(names[3])
        .ev(0, {noteStatus(true, 9, m), 0x24, 0x64})
        .ev(0, {0x26, 0x64})  // running status
        .ev(0x30, {noteStatus(false, 9, m), 0x24, u8(normalised ? 0 : 0x7F)})
        .ev(0, {noteStatus(false, 9, m), 0x26, 0x00});
    return t.end();
}

std::vector<Bytes> Band::fileTracks() const {
    const Band original;  // names and values as on disk, nothing muted
    return {original.tempo().data,   original.lead(false).data, original.piano(false).data,
            original.control().data, original.bass(false).data, original.drums(false).data};
}

Bytes Band::file() const {
    Bytes out = smfHeader(1, kFileTracks, kDivision);
    for (const Bytes& t : fileTracks()) out = cat({out, mtrk(t)});
    return out;
}

Bytes Band::image() const {
    return cat({smfHeader(1, kFileTracks, kDivision), mtrk(tempo().data), mtrk(lead(true).data),
                mtrk(piano(true).data), mtrk(control().data), mtrk(bass(true).data),
                mtrk(drums(true).data)});
}

}  // namespace clitest
