#include "main/singlecopy.h"

#include <QLocalSocket>
#include <QStandardPaths>

#include "res/resource.h"

namespace lirno {

namespace {
const QByteArray kExitRequest = QByteArray::number(res::IDM_EXIT) + '\n';
}  // namespace

QString singleCopyName()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/lirno-Player");
}

bool exitRunningCopy(const QString& name, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(2000)) return false;
    socket.write(kExitRequest);
    socket.flush();
    // The old copy never answers in words: its connection closes when the
    // process has gone, after its shut-down.
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(timeoutMs))
        socket.readAll();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}

SingleCopyServer::SingleCopyServer(std::function<void()> onExit, QObject* parent)
    : QObject(parent), onExit_(std::move(onExit))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleCopyServer::acceptConnection);
}

bool SingleCopyServer::listen(const QString& name)
{
    if (server_.listen(name)) return true;
    // Nobody answered on it a moment ago: a crashed copy's socket.
    if (server_.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(name);
        return server_.listen(name);
    }
    return false;
}

void SingleCopyServer::stopListening() { server_.close(); }

void SingleCopyServer::acceptConnection()
{
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

