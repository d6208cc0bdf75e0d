#include "main/statedump.h"

#include <QApplication>
#include <QFile>
#include <QSaveFile>

#include "ctrl/trackview.h"
#include "main/lyricspane.h"
#include "main/mainwnd.h"
#include "main/portchoice.h"
#include "main/soundchoice.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"
#include "res/resource.h"

namespace lirno {

namespace {

constexpr int kDumpPeriodMs = 50;

// Where the device is now (while playing), else where the next play starts.
std::uint32_t currentPosition() {
    if (playback.nMode != kModePlaying || playback.wOutDeviceID == 0) return playback.dwPlayPos;
    return mcimidiPosition(playback.wOutDeviceID).value_or(playback.dwPlayPos);
}

QString soundText(const device::SoundSettings& sound) {
    const auto onOff = [](bool on) { return QLatin1String(on ? "on " : "off "); };
    QStringList fonts;
    for (const std::string& f : sound.soundFonts) fonts << QFile::decodeName(f.c_str());
    return "soundfonts " + fonts.join(':') + "\nreverb " + onOff(sound.reverb.on) +
           QString::number(sound.reverb.room) + ' ' + QString::number(sound.reverb.level) +
           "\nchorus " + onOff(sound.chorus.on) + QString::number(sound.chorus.level) + '\n';
}

}  // namespace

QString stateText(const MainWndProc& w) {
    const auto line = [](const char* key, const QString& value) {
        return QLatin1String(key) + QLatin1Char(' ') + value + QLatin1Char('\n');
    };
    const auto num = [](auto v) { return QString::number(v); };
    QString s;
    s += line("mode", num(playback.nMode));
    s += line("pos", num(currentPosition()));
    s += line("length", num(playback.dwFileSize));
    s += line("device", num(playback.wOutDeviceID));
    s += line("loaded", num(int(playback.fFileLoaded)));
    s += line("change", num(int(playback.fMidiChange)));
    s += line("rows", num(w.trackView() ? w.trackView()->items() : 0));
    s += line("readout", w.timeReadout() ? w.timeReadout()->text() : QString());
    s += line("slider", num(w.timeTrack() ? w.timeTrack()->value() : 0));
    s += line("play", num(int(w.toolbar()->isButtonChecked(res::IDM_PLAY))));
    s += line("pause", num(int(w.toolbar()->isButtonChecked(res::IDM_PAUSE))));
    s += line("size", num(w.width()) + QLatin1Char('x') + num(w.height()));
    s += line("caption", w.windowTitle());
    const QWidget* modal = QApplication::activeModalWidget();
    s += line("modal", modal ? modal->windowTitle() : QString());
    s += line("speed", num(playback.playSettings.speed));
    s += line("key", num(playback.playSettings.transpose));
    const auto passage = w.passageUnits();
    s += line("section",
              passage ? num(passage->first) + QLatin1Char(' ') + num(passage->second) : QString());
    s += line("lyrics", num(int(w.lyricsPane() && w.lyricsPane()->isVisible())));
    s += line("recording", num(int(w.recording())));
    s += line("outputPort", QString::fromStdString(w.ports().port()));
    s += line("inputConnected", num(int(w.device() && w.device()->inputConnected())));
    return s + soundText(w.sound().settings());
}

StateDump::StateDump(const MainWndProc* window, QString path)
    : window_(window), path_(std::move(path)) {
    connect(&timer_, &QTimer::timeout, this, &StateDump::write);
    timer_.start(kDumpPeriodMs);
}

void StateDump::write() {
    const QString text = stateText(*window_);
    if (text == last_) return;
    // Whole or not at all: a reader never sees half a state.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(text.toUtf8());
    if (file.commit()) last_ = text;
}

}  // namespace lirno
