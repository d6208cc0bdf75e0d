// Scrolling the track view in whole rows, the scroll range, and the main
// window's two sizes.
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include "support.h"

namespace lirno::test {

class ScrollTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixture> fx;
    QScrollBar* bar() const { return fx->view()->scrollBar(); }
    const TrackScroll& scroll() const { return fx->view()->scroll(); }
    int rowsThatFit() const { return fx->view()->client()->height() / 21; }

    // Gives the view's client area room for exactly `rows` rows (and a bit).
    void fitRows(int rows) {
        const int frame = fx->view()->height() - fx->view()->client()->height();
        fx->main->resize(fx->main->width(), kToolbarHeight + 20 + frame + 21 * rows + 10);
        QCOMPARE(rowsThatFit(), rows);
    }

    // Every row control has moved by dy from where it was.
    void expectMovedBy(const std::vector<int>& before, int dy) {
        const std::vector<int> now = controlTops(fx->view());
        QCOMPARE(now.size(), before.size());
        for (std::size_t k = 0; k < now.size(); ++k) QCOMPARE(now[k], before[k] + dy);
    }

    void wheel(QWidget* over, int angle) {
        const QPointF at = over->rect().center();
        QWheelEvent event(at, over->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(over, &event);
    }

    QRect thumbRect() const {
        QStyleOptionSlider opt;
        opt.initFrom(bar());
        opt.orientation = Qt::Vertical;
        opt.minimum = bar()->minimum();
        opt.maximum = bar()->maximum();
        opt.sliderPosition = bar()->sliderPosition();
        opt.sliderValue = bar()->value();
        opt.pageStep = bar()->pageStep();
        opt.singleStep = bar()->singleStep();
        return bar()->style()->subControlRect(QStyle::CC_ScrollBar, &opt,
                                              QStyle::SC_ScrollBarSlider, bar());
    }

  private slots:
    void init() {
        fx = std::make_unique<Fixture>();
        load(fx->view(), songWithRows(20));
        fitRows(8);
    }
    void cleanup() { fx.reset(); }

    void threeRowsDownMoveEveryRowControl63PixelsUp() {
        const std::vector<int> before = controlTops(fx->view());
        const QRect header = fx->view()->header()->geometry();
        for (int k = 0; k < 3; ++k) QTest::keyClick(bar(), Qt::Key_Down);
        QCOMPARE(scroll().nScrollPos, 3);
        QCOMPARE(scroll().nScroll, -1);
        QCOMPARE(bar()->value(), 3);
        expectMovedBy(before, -63);
        QCOMPARE(fx->controls().hwndOn[3]->y(), 2);          // row 3 is now at the top
        QCOMPARE(fx->view()->header()->geometry(), header);  // the titles stay put

        QTest::keyClick(bar(), Qt::Key_Up);
        expectMovedBy(before, -42);
    }

    void pagesTopBottomAndClamping() {
        const std::vector<int> before = controlTops(fx->view());
        QTest::keyClick(bar(), Qt::Key_PageDown);
        QCOMPARE(scroll().nScrollPos, 8);
        QTest::keyClick(bar(), Qt::Key_End);
        QCOMPARE(scroll().nScrollPos, 19);  // the last row can reach the top
        QTest::keyClick(bar(), Qt::Key_Down);
        QCOMPARE(scroll().nScrollPos, 19);
        QTest::keyClick(bar(), Qt::Key_PageDown);
        QCOMPARE(scroll().nScrollPos, 19);
        expectMovedBy(before, -19 * 21);
        QTest::keyClick(bar(), Qt::Key_PageUp);
        QCOMPARE(scroll().nScrollPos, 11);
        QTest::keyClick(bar(), Qt::Key_Home);
        QCOMPARE(scroll().nScrollPos, 0);
        QTest::keyClick(bar(), Qt::Key_Up);
        QCOMPARE(scroll().nScrollPos, 0);
        expectMovedBy(before, 0);
    }

    void aPositionSetOnTheBarMovesTheRows() {
        const std::vector<int> before = controlTops(fx->view());
        bar()->setValue(5);  // as its "Scroll here" menu entry does
        QCOMPARE(scroll().nScrollPos, 5);
        expectMovedBy(before, -105);
        QTest::keyClick(bar(), Qt::Key_Down);
        expectMovedBy(before, -126);
    }

    void theThumbMovesNothingUntilLetGo() {
        const std::vector<int> before = controlTops(fx->view());
        const QPoint grip = thumbRect().center();
        QTest::mousePress(bar(), Qt::LeftButton, {}, grip);
        QTest::mouseMove(bar(), grip + QPoint(0, 40));
        QTest::mouseMove(bar(), grip + QPoint(0, 60));
        QVERIFY(bar()->sliderPosition() > 0);
        QCOMPARE(scroll().nScrollPos, 0);
        expectMovedBy(before, 0);

        QTest::mouseRelease(bar(), Qt::LeftButton, {}, grip + QPoint(0, 60));
        const int pos = scroll().nScrollPos;
        QVERIFY(pos > 0);
        QCOMPARE(bar()->value(), pos);
        expectMovedBy(before, -21 * pos);
    }

    void pagesMoveNothingWhileNoWholeRowFits() {
        fitRows(0);
        QTest::keyClick(bar(), Qt::Key_PageDown);
        QCOMPARE(scroll().nScrollPos, 0);
        QTest::keyClick(bar(), Qt::Key_Down);
        QCOMPARE(scroll().nScrollPos, 1);
    }

    void theWheelScrollsByRowsAlsoOverASlider() {
        const std::vector<int> before = controlTops(fx->view());
        const int lines = QApplication::wheelScrollLines();
        wheel(fx->view(), -120);
        QCOMPARE(scroll().nScrollPos, lines);
        expectMovedBy(before, -21 * lines);

        QSlider* vol = fx->controls().hwndVol[5];
        wheel(vol, 120);
        QCOMPARE(scroll().nScrollPos, 0);
        QCOMPARE(vol->value(), 127);
        QVERIFY(!playback.fMidiChange);
        expectMovedBy(before, 0);
    }

    void rangeFollowsTheRowsThatFit_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("range");
        QTest::newRow("fewer rows than fit") << 7 << 0;
        QTest::newRow("exactly as many as fit") << 8 << 7;
        QTest::newRow("more than fit") << 11 << 10;
        QTest::newRow("one row") << 1 << 0;
        QTest::newRow("no rows") << 0 << 0;
        QTest::newRow("a hundred") << 100 << 99;
    }
    void rangeFollowsTheRowsThatFit() {
        QFETCH(int, rows);
        QFETCH(int, range);
        load(fx->view(), songWithRows(rows));
        QCOMPARE(fx->view()->items(), rows);
        QCOMPARE(scroll().nRange, range);
        QCOMPARE(bar()->maximum(), range);
        QTest::keyClick(bar(), Qt::Key_End);
        QCOMPARE(scroll().nScrollPos, range);
    }

    void aHundredRowsCarryTheirIdsToTheEnd() {
        load(fx->view(), songWithRows(100));
        const RowControls& c = fx->controls();
        for (int col = 0; col < 6; ++col) {
            QCOMPARE(c.byId(100 * col)->objectName(), QString::number(100 * col));
            QCOMPARE(c.byId(100 * col + 99)->objectName(), QString::number(100 * col + 99));
        }
        QCOMPARE(c.hwndVol[99]->y(), 2079);
        QCOMPARE(c.hwndName[99]->text(), QString("Track 99"));
        QCOMPARE(c.hwndName[99]->accessibleName(), QString("Track name 100"));
    }

    void resizingKeepsTheRangeOnlyWhileScrolled() {
        QCOMPARE(scroll().nRange, 19);
        QTest::keyClick(bar(), Qt::Key_Down);
        fitRows(30);
        QCOMPARE(scroll().nRange, 19);  // scrolled: left alone
        QCOMPARE(scroll().nScrollPos, 1);

        QTest::keyClick(bar(), Qt::Key_Home);
        fitRows(25);
        QCOMPARE(scroll().nRange, 0);  // unscrolled: 20 rows now fit
        QCOMPARE(bar()->maximum(), 0);
        fitRows(4);
        QCOMPARE(scroll().nRange, 19);
    }

    void showAndHideTrackKeepTheTopLeftCorner() {
        fx->main->move(40, 30);
        const QPoint corner = fx->main->pos();
        QCOMPARE(HideTrack(fx->main.get()), 1);
        QCOMPARE(fx->main->size(), QSize(445, 95));
        QCOMPARE(fx->main->pos(), corner);
        QCOMPARE(fx->view()->height(), fx->main->height() - kToolbarHeight - 20);
        QCOMPARE(ShowTrack(fx->main.get()), 1);
        QCOMPARE(fx->main->size(), QSize(585, 417));
        QCOMPARE(fx->main->pos(), corner);
        QCOMPARE(fx->view()->height(), fx->main->height() - kToolbarHeight - 20);
    }
};

}  // namespace lirno::test

QTEST_MAIN(lirno::test::ScrollTest)
#include "scroll_test.moc"
