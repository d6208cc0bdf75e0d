#include "main/soundchoice.h"

#include <QFile>
#include <QSettings>
#include <algorithm>
#include <optional>

#include "device/soundfont/discovery.h"
#include "main/songmemory.h"

namespace lirno {

namespace {

const QString kGroup = QStringLiteral("Sound");
const QString kFonts = QStringLiteral("soundFonts");
const QString kReverb = QStringLiteral("reverb");
const QString kRoom = QStringLiteral("reverbRoom");
const QString kReverbLevel = QStringLiteral("reverbLevel");
const QString kChorus = QStringLiteral("chorus");
const QString kChorusLevel = QStringLiteral("chorusLevel");

// The settings are plain strings so that a reader without Qt finds them.
std::vector<std::string> splitFonts(const QString& joined) {
    std::vector<std::string> fonts;
    for (const QString& f : joined.split(':', Qt::SkipEmptyParts))
        fonts.push_back(QFile::encodeName(f).toStdString());
    return fonts;
}

QString joinFonts(const std::vector<std::string>& fonts) {
    QStringList names;
    for (const std::string& f : fonts) names << QFile::decodeName(f.c_str());
    return names.join(':');
}

bool readOn(const QSettings& s, const QString& key, bool fallback) {
    const QString v = s.value(key).toString();
    return v == "on" ? true : v == "off" ? false : fallback;
}

double readNumber(const QSettings& s, const QString& key, double fallback, double top) {
    bool ok = false;
    const double v = s.value(key).toString().toDouble(&ok);
    return ok ? std::clamp(v, 0.0, top) : fallback;
}

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

device::SoundSettings readKept() {
    QSettings s = settingsFile();
    s.beginGroup(kGroup);
    const device::SoundSettings d;
    device::SoundSettings kept;
    kept.soundFonts = splitFonts(s.value(kFonts).toString());
    kept.reverb.on = readOn(s, kReverb, d.reverb.on);
    kept.reverb.room = readNumber(s, kRoom, d.reverb.room, 1.0);
    kept.reverb.level = readNumber(s, kReverbLevel, d.reverb.level, 1.0);
    kept.chorus.on = readOn(s, kChorus, d.chorus.on);
    kept.chorus.level = readNumber(s, kChorusLevel, d.chorus.level, 10.0);
    return kept;
}

// fonts: the list to keep, or nothing to leave it as it is; an empty one
// forgets it.
void keep(const device::SoundSettings& sound, const std::optional<QString>& fonts) {
    QSettings s = settingsFile();
    s.beginGroup(kGroup);
    if (fonts && fonts->isEmpty())
        s.remove(kFonts);
    else if (fonts)
        s.setValue(kFonts, *fonts);
    s.setValue(kReverb, onOff(sound.reverb.on));
    s.setValue(kRoom, QString::number(sound.reverb.room));
    s.setValue(kReverbLevel, QString::number(sound.reverb.level));
    s.setValue(kChorus, onOff(sound.chorus.on));
    s.setValue(kChorusLevel, QString::number(sound.chorus.level));
}

}  // namespace

std::vector<std::string> defaultSoundFonts() {
    std::vector<std::string> fonts = splitFonts(qEnvironmentVariable("LIRNO_SOUNDFONT"));
    if (fonts.empty())
        if (std::string found = device::findSoundFont(); !found.empty())
            fonts.push_back(std::move(found));
    return fonts;
}

SoundChoice::SoundChoice(device::Device* device) : device_(device), now_(readKept()) {
    fontsChosen_ = !now_.soundFonts.empty() && !qEnvironmentVariableIsSet("LIRNO_SOUNDFONT");
    if (!fontsChosen_) now_.soundFonts = defaultSoundFonts();
    // Nothing kept: the device's own sound is already this one, and a new
    // synthesizer would only slow the first play. A kept font since deleted:
    // the device keeps the sound it found itself.
    const bool kept = settingsFile().childGroups().contains(kGroup);
    if (kept && give(now_, fontsChosen_) != 0)
        qWarning("lirno-player: the chosen SoundFonts could not be read");
}

// Fonts nobody chose go to the device as none: it plays the ones it found
// itself (the same list, without loading them again).
int SoundChoice::give(const device::SoundSettings& settings, bool chosen) {
    device::SoundSettings given = settings;
    if (!chosen) given.soundFonts.clear();
    const int r = device_ ? device_->setSound(given) : 0;
    if (r == 0) {
        now_ = settings;
        fontsChosen_ = chosen;
    }
    return r;
}

int SoundChoice::change(const device::SoundSettings& settings) {
    const bool fontsChanged = settings.soundFonts != now_.soundFonts;
    device::SoundSettings s = settings;
    bool chosen = fontsChosen_ || fontsChanged;
    // Every font taken off: the ones found, as when nothing was chosen.
    if (s.soundFonts.empty()) {
        s.soundFonts = defaultSoundFonts();
        chosen = false;
    }
    const int r = give(s, chosen);
    if (r == 0)
        keep(now_, fontsChanged ? std::optional(chosen ? joinFonts(now_.soundFonts) : QString())
                                : std::nullopt);
    return r;
}

int SoundChoice::restoreDefaults() {
    device::SoundSettings defaults;
    defaults.soundFonts = defaultSoundFonts();
    const int r = give(defaults, false);
    if (r == 0) settingsFile().remove(kGroup);
    return r;
}

QString SoundChoice::errorText(int code) const {
    const std::optional<std::string> text = device_ ? device_->errorText(code) : std::nullopt;
    return text ? QString::fromStdString(*text) : QStringLiteral("Error %1").arg(code);
}

}  // namespace lirno
