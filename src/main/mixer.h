// Volume Control: the desktop's own mixer program.
#pragma once

#include <QString>
#include <QStringList>

namespace lirno {

// The mixers tried, first to last.
QStringList mixerPrograms();
// Starts the first mixer found on the PATH, detached; returns its path, or
// an empty string when none exists or it would not start (never reported).
QString startMixer();

}  // namespace lirno
