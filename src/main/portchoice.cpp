#include "main/portchoice.h"

#include <QSettings>
#include <cstdio>

#include "main/songmemory.h"

namespace lirno {

namespace {

const QString kGroup = QStringLiteral("Ports");
const QString kOutput = QStringLiteral("output");

std::string keptOutput() {
    QSettings s = settingsFile();
    s.beginGroup(kGroup);
    return s.value(kOutput).toString().toStdString();
}

}  // namespace

PortChoice::PortChoice(device::Device* device) : device_(device) {
    const bool forRun = qEnvironmentVariableIsSet("LIRNO_MIDI_OUT");
    const std::string wanted =
        forRun ? qEnvironmentVariable("LIRNO_MIDI_OUT").toStdString() : keptOutput();
    if (wanted.empty() || !device_) return;
    // A synthesizer that was switched off, a server not running: the song
    // still sounds, from the synthesizer.
    if (device_->setOutputPort(wanted) == 0)
        port_ = wanted;
    else
        std::fprintf(stderr,
                     "lirno-player: the MIDI output %s cannot be opened; playing to the "
                     "synthesizer\n",
                     wanted.c_str());
}

std::vector<device::PortInfo> PortChoice::destinations() const {
    return lister_ ? lister_() : std::vector<device::PortInfo>{};
}

std::string PortChoice::port() const {
    return device_ ? device_->outputPort() : port_;
}

int PortChoice::change(const std::string& port) {
    const int r =
        device_ ? device_->setOutputPort(port) : (port.empty() ? 0 : device::kErrMidiPort);
    if (r != 0) return r;
    port_ = port;
    QSettings s = settingsFile();
    s.beginGroup(kGroup);
    s.setValue(kOutput, QString::fromStdString(port));
    return 0;
}

QString PortChoice::errorText(int code) const {
    const std::optional<std::string> text = device_ ? device_->errorText(code) : std::nullopt;
    return text ? QString::fromStdString(*text) : QStringLiteral("Error %1").arg(code);
}

}  // namespace lirno
