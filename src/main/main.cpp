// lirno-player: start-up in order, then the event loop.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "device/engine/fluid_device.h"
#include "device/ports/midi_ports.h"
#include "main/filedialogs.h"
#include "main/mainwnd.h"
#include "main/messagebox_qt.h"
#include "main/mpris.h"
#include "main/portchoice.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/signals.h"
#include "main/singlecopy.h"
#include "main/statedump.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "res/resource.h"

namespace {

// Whatever way start-up ends, the play file does not stay behind (the
// window's shut-down deletes it first when the window got that far).
struct PlayFileGuard {
    ~PlayFileGuard() {
        lirno::deltmp(lirno::playback.sTmpName);
        lirno::playback.sTmpName.clear();
    }
};

// Qt ends the program (abort) when it finds no display to show windows on.
// While the application object is made, its fatal message becomes one line
// that names the command-line player, and exit code 1; other messages wait
// and are passed on once it stands.
class DisplayCheck {
  public:
    DisplayCheck() { previous_ = qInstallMessageHandler(&DisplayCheck::onMessage); }
    ~DisplayCheck() {
        qInstallMessageHandler(previous_);
        for (const auto& [type, text] : held()) qt_message_output(type, QMessageLogContext(), text);
        held().clear();
    }
    DisplayCheck(const DisplayCheck&) = delete;
    DisplayCheck& operator=(const DisplayCheck&) = delete;

  private:
    static std::vector<std::pair<QtMsgType, QString>>& held() {
        static std::vector<std::pair<QtMsgType, QString>> messages;
        return messages;
    }
    static void onMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtFatalMsg) {
            held().emplace_back(type, text);
            return;
        }
        std::fputs(
            "lirno-player: no display to open the window on (is DISPLAY or WAYLAND_DISPLAY "
            "set?); to play a file without a window: lirno-midi play FILE\n",
            stderr);
        std::_Exit(1);
    }

    QtMessageHandler previous_ = nullptr;
};

int runPlayer(int argc, char** argv) {
    using namespace lirno;
    std::optional<DisplayCheck> displayCheck(std::in_place);
    QApplication app(argc, argv);
    displayCheck.reset();
    // The desktop matches the window to the menu entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    // A signal or a newer copy ends the program at once, without a box; the
    // window's shut-down runs as runPlayer unwinds. A signal that arrives
    // before the event loop runs waits in its pipe until it does.
    QuitOnSignals quitOnSignals(endProgram);
    SingleCopyServer server(endProgram);

    const QString copyName = singleCopyName();
    exitRunningCopy(copyName, 15000, [] { return shell.fEnding; });
    if (shell.fEnding) return 0;  // a signal while the old copy was ending
    initResources();
    setMessageBoxHandler(qtMessageBoxes());
    setFileDialogs(qtFileDialogs());
    shell.szFileName = commandLineFileName(argc, argv);
    playback.sTmpName = gettmpname();
    PlayFileGuard playFile;

    // One MIDI client for the device and the list of ports it may play to,
    // so that the list leaves out our own ports.
    device::DeviceSettings deviceSettings = device::settingsFromEnvironment();
    deviceSettings.midiOut.clear();  // the window's port choice applies LIRNO_MIDI_OUT
    const std::shared_ptr<device::MidiPorts> ports = deviceSettings.ports;
    const std::unique_ptr<device::Device> device =
        std::make_unique<device::FluidDevice>(std::move(deviceSettings));
    MainWndProc mainWindow(device.get());
    mainWindow.ports().setLister([ports] { return ports->destinations(); });
    shell.hWndMain = &mainWindow;
    QObject::connect(&mainWindow, &MainWndProc::windowDestroyed, &server,
                     &SingleCopyServer::stopListening);
    QObject::connect(&mainWindow, &MainWndProc::windowDestroyed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    server.listen(copyName);
    publishOnSessionBus(mainWindow);
    std::unique_ptr<StateDump> dump;
    if (const QString path = qEnvironmentVariable("LIRNO_STATE_FILE"); !path.isEmpty())
        dump = std::make_unique<StateDump>(&mainWindow, path);
    mainWindow.show();
    if (!shell.szFileName.empty()) mainWindow.command(res::IDM_OPEN, OPEN_AND_PLAY);
    // (ended already while a box of that open was shown)
    return shell.fEnding ? 0 : app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    return runPlayer(argc, argv);
}
