// Ending the program by SIGINT, SIGTERM or SIGHUP the same way as Exit, so
// that the play file never stays behind.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace lirno {

// While it exists, those signals run onSignal on the GUI thread (through a
// self-pipe; the signal handler itself only writes one byte).
class QuitOnSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitOnSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    void readSignal();

    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace lirno
