// The position slider's gestures, the timer that moves it, and the time
// scale under it.
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include "main/resload.h"
#include "main/timetrack.h"
#include "mmio/playback.h"
#include "mmio/timeconv.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"

using namespace lirno;
using lirno::test::FakeDevice;
using lirno::test::ShellFixture;

namespace {

constexpr device::DeviceId kOpenDevice = 7;

// A window with a song of `length` units loaded and the device in `mode`.
struct Loaded {
    ShellFixture f;
    FakeDevice device;
    std::unique_ptr<MainWndProc> w;
    TimeTrackWndProc* slider = nullptr;

    explicit Loaded(int mode, std::uint32_t length = 2400, int thumb = 0) {
        w = f.makeWindow(&device);
        w->show();
        slider = w->timeTrack();
        playback.fFileLoaded = true;
        playback.dwFileSize = length;
        playback.wOutDeviceID = mode == kModeStopped ? 0 : kOpenDevice;
        playback.nMode = mode;
        slider->setEnabled(true);
        slider->setValue(thumb);
    }
    QString readout() const { return w->timeReadout()->text(); }
};

// The point over the thumb's centre when it stands at `value`.
QPoint thumbAt(const TimeTrackWndProc* s, int value) {
    const QRect c = s->channelRect();
    const int first = c.left() + 5, last = c.right() - 5;
    return QPoint(first + (last - first) * value / s->maximum(), c.center().y());
}

void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void key(QWidget* w, QEvent::Type type, int k, bool autoRepeat = false) {
    QKeyEvent e(type, k, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(w, &e);
}

}  // namespace

class TimeTrackTest : public QObject {
    Q_OBJECT
  private slots:
    void dragInEachModeSetsThePosition_data();
    void dragInEachModeSetsThePosition();
    void duringADragTheTimerLeavesTheThumbAlone();
    void clickBesideTheThumbMovesAFifth();
    void keysInEachModeSetThePosition_data();
    void keysInEachModeSetThePosition();
    void heldKeySavesTheModeOnceAndAppliesOnce();
    void anyKeyReleaseAppliesTheThumb();
    void wheelTurnIsAWholeGesture();
    void releaseWithoutPressIsIgnored();
    void focusLeavingEndsAKeyGesture();
    void thumbAtTheEndGivesTheWholeLength();
    void emptySongAlwaysGivesZero();
    void timerFollowsThePlayingDevice();
    void timerChangesNothingWhenStoppedOrPaused();
    void timerWithoutLengthOrAnswerDividesNothing();
    void scaleLabelsStandUnderTheirTicks();
    void scaleLabelsNeverOverlapAtAnyLength();
    void scalePaintsLabelsOnlyOnceLoaded();
};

void TimeTrackTest::dragInEachModeSetsThePosition_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("stopped") << kModeStopped;
    QTest::newRow("playing") << kModePlaying;
    QTest::newRow("paused") << kModePaused;
}

void TimeTrackTest::dragInEachModeSetsThePosition() {
    QFETCH(int, mode);
    Loaded s(mode, 2400, 20);
    playback.dwPlayPos = 240;
    mouse(s.slider, QEvent::MouseButtonPress, thumbAt(s.slider, 20), Qt::LeftButton);
    QCOMPARE(playback.nMode, kModeSeeking);
    QCOMPARE(s.slider->pMode(), mode);
    mouse(s.slider, QEvent::MouseMove, thumbAt(s.slider, 100), Qt::LeftButton);
    mouse(s.slider, QEvent::MouseMove, thumbAt(s.slider, 150), Qt::LeftButton);
    mouse(s.slider, QEvent::MouseButtonRelease, thumbAt(s.slider, 150), Qt::NoButton);
    const int thumb = s.slider->value();
    QVERIFY2(thumb >= 145 && thumb <= 155, qPrintable(QString::number(thumb)));
    QCOMPARE(playback.dwPlayPos, sliderToPos(thumb, 2400));
    QCOMPARE(s.readout(), QString::fromStdString(formatReadout(playback.dwPlayPos)));
    QCOMPARE(playback.nMode, mode);
    if (mode == kModePlaying)
        QCOMPARE(s.device.plays,
                 (std::vector<FakeDevice::Play>{{kOpenDevice, playback.dwPlayPos}}));
    else
        QVERIFY(s.device.plays.empty());
    QVERIFY(s.f.boxes.messages.empty());
}

void TimeTrackTest::duringADragTheTimerLeavesTheThumbAlone() {
    Loaded s(kModePlaying, 2400, 40);
    playback.dwPlayPos = 480;  // where the current play started
    s.device.position_ = 1800;
    mouse(s.slider, QEvent::MouseButtonPress, thumbAt(s.slider, 40), Qt::LeftButton);
    mouse(s.slider, QEvent::MouseMove, thumbAt(s.slider, 120), Qt::LeftButton);
    const int held = s.slider->value();
    s.w->timer();
    QCOMPARE(s.slider->value(), held);
    QCOMPARE(s.readout(), QString("1:00.0"));
    mouse(s.slider, QEvent::MouseButtonRelease, thumbAt(s.slider, 120), Qt::NoButton);
    QCOMPARE(s.readout(), QString::fromStdString(formatReadout(sliderToPos(held, 2400))));
    // Playing again, the timer follows the device.
    s.w->timer();
    QCOMPARE(s.slider->value(), 1800 * 200 / 2400 + 1);
}

void TimeTrackTest::clickBesideTheThumbMovesAFifth() {
    Loaded s(kModePlaying, 2400, 0);
    mouse(s.slider, QEvent::MouseButtonPress, thumbAt(s.slider, 170), Qt::LeftButton);
    mouse(s.slider, QEvent::MouseButtonRelease, thumbAt(s.slider, 170), Qt::NoButton);
    QCOMPARE(s.slider->value(), 40);
    QCOMPARE(playback.dwPlayPos, 480u);
    QCOMPARE(s.device.plays, (std::vector<FakeDevice::Play>{{kOpenDevice, 480}}));
    QCOMPARE(playback.nMode, kModePlaying);
}

void TimeTrackTest::keysInEachModeSetThePosition_data() {
    dragInEachModeSetsThePosition_data();
}

void TimeTrackTest::keysInEachModeSetThePosition() {
    QFETCH(int, mode);
    Loaded s(mode, 2400, 100);
    key(s.slider, QEvent::KeyPress, Qt::Key_Right);
    QCOMPARE(playback.nMode, kModeSeeking);
    QCOMPARE(s.slider->value(), 101);
    key(s.slider, QEvent::KeyRelease, Qt::Key_Right);
    QCOMPARE(playback.dwPlayPos, 1212u);
    QCOMPARE(s.readout(), QString("2:31.5"));
    QCOMPARE(playback.nMode, mode);
    QCOMPARE(s.device.plays.size(), mode == kModePlaying ? 1u : 0u);
}

void TimeTrackTest::heldKeySavesTheModeOnceAndAppliesOnce() {
    Loaded s(kModePlaying, 2400, 10);
    key(s.slider, QEvent::KeyPress, Qt::Key_Left);
    for (int i = 0; i < 3; ++i) {
        key(s.slider, QEvent::KeyRelease, Qt::Key_Left, true);
        key(s.slider, QEvent::KeyPress, Qt::Key_Left, true);
        QCOMPARE(playback.nMode, kModeSeeking);
    }
    key(s.slider, QEvent::KeyRelease, Qt::Key_Left);
    QCOMPARE(s.slider->value(), 6);
    QCOMPARE(s.slider->pMode(), kModePlaying);
    QCOMPARE(s.device.plays, (std::vector<FakeDevice::Play>{{kOpenDevice, 72}}));
    QCOMPARE(playback.nMode, kModePlaying);
}

void TimeTrackTest::anyKeyReleaseAppliesTheThumb() {
    Loaded s(kModePlaying, 2400, 50);
    playback.dwPlayPos = 0;
    key(s.slider, QEvent::KeyPress, Qt::Key_Shift);
    key(s.slider, QEvent::KeyRelease, Qt::Key_Shift);
    QCOMPARE(s.slider->value(), 50);
    QCOMPARE(s.device.plays, (std::vector<FakeDevice::Play>{{kOpenDevice, 600}}));
}

void TimeTrackTest::wheelTurnIsAWholeGesture() {
    Loaded s(kModePlaying, 2400, 50);
    const QPoint at = thumbAt(s.slider, 50);
    QWheelEvent wheel(at, s.slider->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(s.slider, &wheel);
    const int thumb = s.slider->value();
    QVERIFY(thumb != 50);
    QCOMPARE(playback.dwPlayPos, sliderToPos(thumb, 2400));
    QCOMPARE(s.device.plays, (std::vector<FakeDevice::Play>{{kOpenDevice, playback.dwPlayPos}}));
    QCOMPARE(playback.nMode, kModePlaying);
}

void TimeTrackTest::releaseWithoutPressIsIgnored() {
    Loaded s(kModePlaying, 2400, 50);
    playback.dwPlayPos = 33;
    key(s.slider, QEvent::KeyRelease, Qt::Key_Right);
    mouse(s.slider, QEvent::MouseButtonRelease, thumbAt(s.slider, 50), Qt::NoButton);
    QCOMPARE(playback.dwPlayPos, 33u);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.device.plays.empty());
}

void TimeTrackTest::focusLeavingEndsAKeyGesture() {
    Loaded s(kModePlaying, 2400, 50);
    s.w->activateWindow();
    s.slider->setFocus();
    QTRY_VERIFY(s.slider->hasFocus());
    key(s.slider, QEvent::KeyPress, Qt::Key_Up);
    QCOMPARE(playback.nMode, kModeSeeking);
    s.w->logo()->setFocus();
    QTRY_COMPARE(playback.nMode, kModePlaying);
    QCOMPARE(s.device.plays.size(), 1u);
}

void TimeTrackTest::thumbAtTheEndGivesTheWholeLength() {
    Loaded s(kModeStopped, 2399, 10);
    key(s.slider, QEvent::KeyPress, Qt::Key_End);
    key(s.slider, QEvent::KeyRelease, Qt::Key_End);
    QCOMPARE(s.slider->value(), 200);
    QCOMPARE(playback.dwPlayPos, 2399u);
    QCOMPARE(s.readout(), QString("4:59.8"));
}

void TimeTrackTest::emptySongAlwaysGivesZero() {
    Loaded s(kModePaused, 0, 10);
    key(s.slider, QEvent::KeyPress, Qt::Key_End);
    key(s.slider, QEvent::KeyRelease, Qt::Key_End);
    QCOMPARE(playback.dwPlayPos, 0u);
    QCOMPARE(s.readout(), QString("0:00.0"));
    for (const auto& label : s.w->timeCoord()->labels()) QCOMPARE(label.text, QString("0:00"));
}

void TimeTrackTest::timerFollowsThePlayingDevice() {
    Loaded s(kModePlaying, 2400);
    s.device.position_ = 1200;
    s.w->timer();
    QCOMPARE(s.slider->value(), 101);
    QCOMPARE(s.readout(), QString("2:30.0"));
    QCOMPARE(playback.dwPlayPos, 0u);  // the timer never moves the start
    s.device.position_ = 2400;
    s.w->timer();
    QCOMPARE(s.slider->value(), 200);
    QCOMPARE(s.readout(), QString("5:00.0"));
    // Seeking: the readout shows where the next play starts.
    playback.nMode = kModeSeeking;
    playback.dwPlayPos = 4;
    s.w->timer();
    QCOMPARE(s.readout(), QString("0:00.5"));
    QCOMPARE(s.slider->value(), 200);
}

void TimeTrackTest::timerChangesNothingWhenStoppedOrPaused() {
    for (int mode : {kModeStopped, kModePaused}) {
        Loaded s(mode, 2400, 77);
        s.w->setReadout("1:11.1");
        s.device.position_ = 1200;
        playback.dwPlayPos = 600;
        s.w->timer();
        QCOMPARE(s.slider->value(), 77);
        QCOMPARE(s.readout(), QString("1:11.1"));
    }
}

void TimeTrackTest::timerWithoutLengthOrAnswerDividesNothing() {
    Loaded s(kModePlaying, 0, 33);
    s.device.position_ = 16;
    s.w->timer();  // no length: the thumb stays, the time still shows
    QCOMPARE(s.slider->value(), 33);
    QCOMPARE(s.readout(), QString("0:02.0"));
    playback.dwFileSize = 2400;
    s.device.positionError = 5;
    s.w->timer();  // no answer: nothing changes
    QCOMPARE(s.slider->value(), 33);
    QCOMPARE(s.readout(), QString("0:02.0"));
    QVERIFY(s.f.boxes.messages.empty());
}

void TimeTrackTest::scaleLabelsStandUnderTheirTicks() {
    Loaded s(kModeStopped, 2400);
    const auto labels = s.w->timeCoord()->labels();
    QCOMPARE(labels.size(), 6u);
    const QString expected[] = {"0:00", "1:00", "2:00", "3:00", "4:00", "5:00"};
    for (int i = 0; i < 6; ++i) QCOMPARE(labels[i].text, expected[i]);
    QCOMPARE(s.w->timeCoord()->layout().font, hfont());  // short labels keep the shared font
}

// At every length the labels keep their texts and places, stay whole inside
// the scale and never overlap: long texts get a smaller font, and past the
// smallest one the labels between the ends give way.
void TimeTrackTest::scaleLabelsNeverOverlapAtAnyLength() {
    Loaded s(kModeStopped);
    const TimeCoordWndProc* scale = s.w->timeCoord();
    std::vector<std::uint32_t> lengths = {0, 2400, 83 * 60 * 8, 4294967295u};
    for (std::uint32_t l = 7; l < 4294967295u / 3; l = l * 3 + 1) lengths.push_back(l);
    for (const std::uint32_t length : lengths) {
        const QString what = QString::number(length);
        playback.dwFileSize = length;
        const TimeCoordWndProc::Layout layout = scale->layout();
        const QFontMetrics fm(layout.font);
        QVERIFY2(QFontInfo(layout.font).pixelSize() >= TimeCoordWndProc::kMinLabelPixels,
                 qPrintable(what));
        QVERIFY2(layout.labels.size() >= 2, qPrintable(what));
        QCOMPARE(layout.labels.front().index, 0);
        QCOMPARE(layout.labels.back().index, 5);
        int previousRight = -1;
        for (const auto& label : layout.labels) {
            QCOMPARE(label.text, QString::fromStdString(scaleLabel(label.index, 6, length)));
            const int left = label.right - fm.horizontalAdvance(label.text);
            QVERIFY2(left > previousRight, qPrintable(what + " " + label.text));
            QVERIFY2(left >= 0 && label.right <= scale->width(),
                     qPrintable(what + " " + label.text));
            // The scale and the slider share their left edge: the tick lies under the label.
            const int tick = thumbAt(s.slider, label.index * 40).x();
            QVERIFY2(tick >= left && tick <= label.right, qPrintable(what + " " + label.text));
            previousRight = label.right;
        }
    }
    // An 83-minute song keeps all six labels.
    playback.dwFileSize = 83 * 60 * 8;
    QCOMPARE(scale->labels().size(), 6u);
}

namespace {
bool hasDarkPixel(const QImage& img, int left, int right) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = std::max(left, 0); x < std::min(right, img.width()); ++x)
            if (qGray(img.pixel(x, y)) < 96) return true;
    return false;
}
}  // namespace

void TimeTrackTest::scalePaintsLabelsOnlyOnceLoaded() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    const QImage before = w->timeCoord()->grab().toImage();
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            QCOMPARE(before.pixelColor(x, y), QColor(192, 192, 192));
    playback.fFileLoaded = true;
    playback.dwFileSize = 2400;
    const QImage after = w->timeCoord()->grab().toImage();
    QCOMPARE(after.pixelColor(0, after.height() - 1), QColor(192, 192, 192));
    const QFontMetrics fm(w->timeCoord()->layout().font);
    for (const auto& label : w->timeCoord()->labels())
        QVERIFY2(hasDarkPixel(after, label.right - fm.horizontalAdvance(label.text), label.right),
                 qPrintable(label.text));
}

QTEST_MAIN(TimeTrackTest)
#include "timetrack_test.moc"
