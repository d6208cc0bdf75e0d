// One user's world for copies of the built program run as processes of their
// own: a private runtime folder (the single-copy socket, the state file the
// program writes when LIRNO_STATE_FILE names one) and a temporary folder (the
// play files, the program's settings). Needs LIRNO_PLAYER_PATH.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

#include "files.h"

namespace lirno::test {

class PlayerWorld {
  public:
    PlayerWorld() {
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString runtime() const { return QString::fromStdString(runtime_.path().string()); }
    QString tmp() const { return QString::fromStdString(tmp_.path().string()); }
    QString stateFile() const { return runtime() + "/state"; }
    QStringList playFiles() const {
        return QDir(tmp()).entryList({"lq*.tmp"}, QDir::Files, QDir::Name);
    }

    // A copy started silent and offscreen in this world.
    std::unique_ptr<QProcess> start(const QStringList& args = {}) const {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LIRNO_AUDIO", "none");
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("TMPDIR", tmp());
        env.insert("XDG_CONFIG_HOME", tmp() + "/config");
        env.insert("LIRNO_STATE_FILE", stateFile());
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(LIRNO_PLAYER_PATH, args);
        return p;
    }

  private:
    ScratchDir runtime_;
    ScratchDir tmp_;
};

}  // namespace lirno::test
