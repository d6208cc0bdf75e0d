// Shows the track list with real songs loaded inside a window of the
// expanded size and saves what it looks like, for checking the layout by eye.
//
//   screenshot-trackview OUT_DIR MIDI_DIR
//
// Run under a display (Xvfb will do). MIDI_DIR holds the songs named below.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPixmap>
#include <QRadioButton>
#include <QScrollBar>

#include <cstdio>
#include <string>

#include "ctrl/trackview.h"
#include "mmio/loadsave.h"
#include "mmio/message.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace {

// What the view sees of the main window: a toolbar strip, then header and view.
constexpr int kToolbarHeight = 48;

class MainStandIn : public QWidget {
  public:
    MainStandIn() : view(lirno::CreateTrackView(this)) {
        toolbar->setGeometry(0, 0, 0, kToolbarHeight);
        toolbar->setAutoFillBackground(true);
        lirno::ShowTrack(this);
    }
    QWidget* toolbar = new QWidget(this);
    lirno::TrackViewWndProc* const view;

  protected:
    void resizeEvent(QResizeEvent*) override {
        toolbar->resize(width(), kToolbarHeight);
        lirno::ResizeTrackView(view, this, kToolbarHeight);
    }
};

bool load(MainStandIn& window, const QString& path) {
    std::string name = path.toStdString();
    if (!lirno::mcimidiSelectFile(name)) return false;
    lirno::InsertTrackViewItems(window.view);
    return true;
}

void save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    if (!window.grab().save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR MIDI_DIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QDir midi(QString::fromLocal8Bit(argv[2]));
    lirno::setMessageBoxHandler(
        [](const lirno::Message& m) { std::fprintf(stderr, "%s\n", m.text.c_str()); });
    lirno::playback.sTmpName = lirno::gettmpname();

    MainStandIn window;
    window.show();

    // Drums, a track on several channels and two with programs of their own.
    if (!load(window, midi.filePath("real/openmsx_be_sharp_bw_redfarn.mid"))) return 1;
    save(window, out.filePath("trackview-loaded.png"));
    window.view->controls().hwndOn[3]->click();
    window.view->controls().hwndOnly[2]->click();
    save(window, out.filePath("trackview-solo.png"));

    // A long orchestral list, scrolled down by a page.
    if (!load(window, midi.filePath("real/tonejs_bartok_concerto_for_orchestra_1.mid"))) return 1;
    window.view->controls().hwndOnly[20]->click();
    window.view->scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    save(window, out.filePath("trackview-scrolled.png"));

    lirno::deltmp(lirno::playback.sTmpName);
    return 0;
}
