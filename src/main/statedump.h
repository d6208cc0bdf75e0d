// The player's state, written to a file as it changes, so that scripts and
// tests can watch a running program from outside (LIRNO_STATE_FILE names the
// file; without it nothing is written).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace lirno {

class MainWndProc;

// One "key value" line each: mode, pos, length, device, loaded, change,
// rows, readout, slider, play, pause, size, caption, modal (the title of
// the box or dialog shown, if any), speed (percent), key (semitones),
// section (the passage's two positions in units, or nothing), soundfonts
// (the stack, first first, separated by ':'), reverb ("on" or "off", room,
// level), chorus ("on" or "off", level), recording (1 while Record Track
// records), outputPort (where songs play, empty for the synthesizer),
// inputConnected (1 while a keyboard is connected).
QString stateText(const MainWndProc& window);

class StateDump : public QObject {
  public:
    StateDump(const MainWndProc* window, QString path);

  private:
    void write();

    const MainWndProc* window_;
    QString path_;
    QString last_;
    QTimer timer_;
};

}  // namespace lirno
