// What every window test starts from: fresh globals, message boxes recorded
// instead of shown, the compiled-in resources, a private temporary folder
// that holds the program's settings too (never the user's own).
#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <string>

#include "common/smfwrite.h"
#include "env_guard.h"
#include "fake_device.h"
#include "files.h"
#include "main/mainwnd.h"
#include "main/resload.h"
#include "main/shell.h"
#include "mmio/loadsave.h"
#include "mmio/playfile.h"
#include "recorder.h"
#include "res/resource.h"

namespace lirno::test {

class ShellFixture {
  public:
    ShellFixture() {
        initResources();
        tmpdir_.set(tmp.path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configFolder());
    }
    ShellFixture(const ShellFixture&) = delete;
    ShellFixture& operator=(const ShellFixture&) = delete;

    // A main window as start-up makes it, on the given device.
    std::unique_ptr<MainWndProc> makeWindow(device::Device* device = nullptr) {
        auto w = std::make_unique<MainWndProc>(device);
        shell.hWndMain = w.get();
        return w;
    }
    // A file in the temporary folder with these bytes; returns its path.
    std::string file(const std::string& name, const smf::Bytes& bytes) const {
        const std::string path = tmp.file(name);
        writeFile(path, bytes);
        return path;
    }
    QString folder() const { return QString::fromStdString(tmp.path().string()); }
    QString configFolder() const { return folder() + "/config"; }

    Recorder boxes;  // first: it resets the model's globals and records boxes
    ScratchDir tmp;  // TMPDIR while the fixture lives

  private:
    // The next fixture must not make its folder inside this one's, deleted by then.
    EnvGuard tmpdir_{"TMPDIR"};
};

// A main window on a fake device, made again as start-up makes it, so that
// a second window reads what the first left: for the tests of what the
// window keeps between runs. init() and cleanup() of the test class call
// setUpWindow() and tearDownWindow().
class FakeDeviceWindow {
  protected:
    void setUpWindow() {
        f_ = std::make_unique<ShellFixture>();
        device_ = FakeDevice{};
        device_.length = 32;  // the songs' length in units
        newWindow();
    }
    void tearDownWindow() {
        w_.reset();
        f_.reset();
    }
    void newWindow() {
        w_.reset();  // deletes the play file, as the program's end does
        playback.sTmpName = gettmpname();
        w_ = f_->makeWindow(&device_);
    }
    // Open through the dialog, answered with path.
    void open(const std::string& path) {
        setFileDialogs({[path] { return std::optional<std::string>(path); }, {}});
        w_->command(res::IDM_OPEN);
    }

    std::unique_ptr<ShellFixture> f_;
    FakeDevice device_;
    std::unique_ptr<MainWndProc> w_;
};

}  // namespace lirno::test
