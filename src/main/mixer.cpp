#include "main/mixer.h"

#include <QProcess>
#include <QStandardPaths>

namespace lirno {

QStringList mixerPrograms() {
    return {QStringLiteral("pavucontrol"), QStringLiteral("pwvucontrol"),
            QStringLiteral("pavucontrol-qt"), QStringLiteral("mate-volume-control"),
            QStringLiteral("kmix")};
}

QString startMixer() {
    for (const QString& name : mixerPrograms()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty()) continue;
        return QProcess::startDetached(path, {}) ? path : QString();
    }
    return {};
}

}  // namespace lirno
