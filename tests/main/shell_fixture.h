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
        hadTmpDir_ = qEnvironmentVariableIsSet("TMPDIR");
        oldTmpDir_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
    }
    // The next fixture must not make its folder inside this one's, deleted by then.
    ~ShellFixture()
    {
        if (hadTmpDir_)
            qputenv("TMPDIR", oldTmpDir_);
        else
            qunsetenv("TMPDIR");
    }
    ShellFixture(const ShellFixture&) = delete;
    ShellFixture& operator=(const ShellFixture&) = delete;

    // A main window as start-up makes it, on the given device.
    std::unique_ptr<MainWndProc> makeWindow(device::Device* device = nullptr)
    {
        auto w = std::make_unique<MainWndProc>(device);
        shell.hWndMain = w.get();
        return w;
    }

    Recorder boxes;  // resets the model's globals and records boxes
    QTemporaryDir tmp;

private:
    bool hadTmpDir_ = false;
    QByteArray oldTmpDir_;
};

}  // namespace lirno::test
