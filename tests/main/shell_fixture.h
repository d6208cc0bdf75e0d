// What every window test starts from: fresh globals, message boxes recorded
// instead of shown, the compiled-in resources, a private temporary folder.
#pragma once

#include <QTemporaryDir>
#include <memory>

#include "main/mainwnd.h"
#include "main/resload.h"
#include "main/shell.h"
#include "support/recorder.h"

namespace lirno::test {

class ShellFixture {
public:
    ShellFixture()
    {
        initResources();
        resetShell();
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
    }

    // A main window as start-up makes it, on the given device.
    std::unique_ptr<MainWndProc> makeWindow(device::Device* device = nullptr)
    {
        auto w = std::make_unique<MainWndProc>(device);
        shell.hWndMain = w.get();
        return w;
    }

    Recorder boxes;  // resets the model's globals and records boxes
    QTemporaryDir tmp;
};

}  // namespace lirno::test
