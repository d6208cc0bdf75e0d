// lirno-player: start-up in order, then the event loop.
#include <QApplication>
#include <memory>

#include "device/fluid_device.h"
#include "main/filedialogs.h"
#include "main/mainwnd.h"
#include "main/messagebox_qt.h"
#include "main/mpris.h"
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
    ~PlayFileGuard()
    {
        lirno::deltmp(lirno::playback.sTmpName);
        lirno::playback.sTmpName.clear();
    }
};

int runPlayer(int argc, char** argv)
{
    using namespace lirno;
    QApplication app(argc, argv);
    // The desktop matches the window to the menu entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    QPointer<MainWndProc> window;
    // A signal that arrives before the window exists waits in its pipe and
    // ends the window as soon as the event loop runs.
    QuitOnSignals quitOnSignals([&window] {
        if (window) window->close();
        else QCoreApplication::quit();
    });
    SingleCopyServer server([&window] { if (window) window->command(res::IDM_EXIT); });

    const QString copyName = singleCopyName();
    exitRunningCopy(copyName);
    initResources();
    setMessageBoxHandler(qtMessageBoxes());
    setFileDialogs(qtFileDialogs());
    shell.szFileName = commandLineFileName(argc, argv);
    playback.sTmpName = gettmpname();
    PlayFileGuard playFile;

    const std::unique_ptr<device::Device> device = device::makeDevice();
    MainWndProc mainWindow(device.get());
    window = &mainWindow;
    shell.hWndMain = &mainWindow;
    QObject::connect(&mainWindow, &MainWndProc::windowDestroyed, &server, &SingleCopyServer::stopListening);
    QObject::connect(&mainWindow, &MainWndProc::windowDestroyed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    server.listen(copyName);
    publishOnSessionBus(mainWindow);
    std::unique_ptr<StateDump> dump;
    if (const QString path = qEnvironmentVariable("LIRNO_STATE_FILE"); !path.isEmpty())
        dump = std::make_unique<StateDump>(&mainWindow, path);
    mainWindow.show();
    if (!shell.szFileName.empty()) mainWindow.command(res::IDM_OPEN, OPEN_AND_PLAY);
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) { return runPlayer(argc, argv); }
