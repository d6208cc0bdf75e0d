#include "main/singlecopy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>

#include "res/resource.h"

namespace lirno {

namespace {
const QByteArray kExitRequest = QByteArray::number(res::IDM_EXIT) + '\n';
}  // namespace

QString singleCopyName() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/lirno-Player");
}

bool exitRunningCopy(const QString& name, int timeoutMs, const std::function<bool()>& giveUp) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(2000)) return false;
    socket.write(kExitRequest);
    socket.flush();
    // The old copy never answers in words: its connection closes when the
    // process has gone, after its shut-down.
    constexpr int kSliceMs = 50;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired()) {
        if (socket.waitForReadyRead(kSliceMs)) socket.readAll();
        QCoreApplication::processEvents();
        if (giveUp && giveUp()) break;
    }
    return true;
}

SingleCopyServer::SingleCopyServer(std::function<void()> onExit, QObject* parent)
    : QObject(parent), onExit_(std::move(onExit)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleCopyServer::acceptConnection);
}

namespace {

std::uint64_t inodeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

bool SingleCopyServer::listen(const QString& name) {
    // The socket is made under a name of this process's own and then renamed
    // into place: whatever stood there (a crashed copy's socket) is replaced
    // in one step, and the server's own clean-up later removes only the
    // private name, which by then is gone.
    const QString own = name + QLatin1Char('.') + QString::number(::getpid());
    QLocalServer::removeServer(own);
    if (!server_.listen(own)) return false;
    if (::rename(QFile::encodeName(own).constData(), QFile::encodeName(name).constData()) != 0) {
        server_.close();
        return false;
    }
    name_ = name;
    inode_ = inodeOf(name);
    return true;
}

void SingleCopyServer::stopListening() {
    server_.close();
    if (!name_.isEmpty() && inode_ != 0 && inodeOf(name_) == inode_)
        ::unlink(QFile::encodeName(name_).constData());
    name_.clear();
}

SingleCopyServer::~SingleCopyServer() {
    stopListening();
}

void SingleCopyServer::acceptConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == kExitRequest && onExit_) onExit_();
            }
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

}  // namespace lirno
