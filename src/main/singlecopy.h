// One copy of the program per user: a new copy makes the running one exit
// (with its whole shut-down) before it shows its own window.
//
// The running copy is found by a local socket named after the window class
// in the user's runtime folder, which only that user can reach; another
// user's copy is never touched.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace lirno {

// The socket's path for this user.
QString singleCopyName();

// Sends Exit to a copy listening on name and waits until that process has
// ended (its end closes the connection), at most timeoutMs. Returns true
// when a copy answered. A socket left by a crashed copy answers nothing.
// Events are handled while it waits (a signal to this copy), and the wait
// ends early once giveUp() holds.
bool exitRunningCopy(const QString& name, int timeoutMs = 15000,
                     const std::function<bool()>& giveUp = {});

// The running copy's side: receives Exit and runs it. Keep it alive until
// the process has released everything else: the new copy waits for the
// connection to close.
class SingleCopyServer : public QObject {
    Q_OBJECT
  public:
    explicit SingleCopyServer(std::function<void()> onExit, QObject* parent = nullptr);

    // Listens on name, replacing a socket left by a crashed copy (or by a
    // copy that did not answer in time).
    bool listen(const QString& name);
    // Stops being found, without closing a connection that waits for the end.
    // Removes the socket only while it is still this copy's: a newer copy
    // may have put its own in its place meanwhile.
    void stopListening();
    ~SingleCopyServer() override;

  private:
    void acceptConnection();

    std::function<void()> onExit_;
    QLocalServer server_;
    QString name_;             // where newer copies look
    std::uint64_t inode_ = 0;  // this copy's socket there
};

}  // namespace lirno
