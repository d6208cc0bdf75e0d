// The conversions between positions, slider steps and clock texts.
#include <QTest>
#include <limits>

#include "main/timeconv.h"

using namespace lirno;

class TimeConvTest : public QObject {
    Q_OBJECT
private slots:
    void readoutCountsEightUnitsASecond_data();
    void readoutCountsEightUnitsASecond();
    void tenthsNeverShowFourOrNine();
    void scaleLabelsAreFifthsOfTheLength();
    void scaleOfAnEmptySongReadsZero();
    void sliderEndsMapToTheSongsEnds();
    void timerStepLeadsByOneAndStopsAtTheEnd();
    void nothingOverflowsNearTheLargestLengths();
};

void TimeConvTest::readoutCountsEightUnitsASecond_data()
{
    QTest::addColumn<quint32>("pos");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0u << "0:00.0";
    QTest::newRow("half a second") << 4u << "0:00.5";
    QTest::newRow("last unit of the first second") << 7u << "0:00.8";
    QTest::newRow("one second") << 8u << "0:01.0";
    QTest::newRow("just under a minute") << 479u << "0:59.8";
    QTest::newRow("one minute") << 480u << "1:00.0";
    QTest::newRow("ten minutes, not wrapped into hours") << 4800u << "10:00.0";
    QTest::newRow("two hours stay minutes") << 57600u << "120:00.0";
}

void TimeConvTest::readoutCountsEightUnitsASecond()
{
    QFETCH(quint32, pos);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(formatReadout(pos)), text);
}

void TimeConvTest::tenthsNeverShowFourOrNine()
{
    for (std::uint32_t p = 0; p < 100; ++p) {
        const std::string t = formatReadout(p);
        QVERIFY2(t.back() != '4' && t.back() != '9', t.c_str());
    }
}

void TimeConvTest::scaleLabelsAreFifthsOfTheLength()
{
    const char* expected[] = {"0:00", "1:00", "2:00", "3:00", "4:00", "5:00"};
    for (int i = 0; i < 6; ++i) QCOMPARE(scaleLabel(i, 6, 2400), std::string(expected[i]));
    // 100 s: fifths are 20 s each, the last label the whole length.
    QCOMPARE(scaleLabel(1, 6, 800), std::string("0:20"));
    QCOMPARE(scaleLabel(5, 6, 800), std::string("1:40"));
}

void TimeConvTest::scaleOfAnEmptySongReadsZero()
{
    for (int i = 0; i < 6; ++i) QCOMPARE(scaleLabel(i, 6, 0), std::string("0:00"));
    // A slider without inner ticks has no labels at all (no division by n - 2).
    QCOMPARE(scaleLabel(1, 2, 2400), std::string());
}

void TimeConvTest::sliderEndsMapToTheSongsEnds()
{
    QCOMPARE(sliderToPos(0, 2400), 0u);
    QCOMPARE(sliderToPos(200, 2400), 2400u);
    QCOMPARE(sliderToPos(200, 2399), 2399u);
    QCOMPARE(sliderToPos(1, 2399), 11u);  // 2399 / 200, truncated
    QCOMPARE(sliderToPos(137, 0), 0u);
}

void TimeConvTest::timerStepLeadsByOneAndStopsAtTheEnd()
{
    QCOMPARE(posToSlider(0, 2400), 1);
    QCOMPARE(posToSlider(1200, 2400), 101);
    QCOMPARE(posToSlider(2388, 2400), 200);  // 199 + 1
    QCOMPARE(posToSlider(2400, 2400), 200);  // 201, held at the end
    QCOMPARE(posToSlider(9999, 2400), 200);  // a device running past the end
}

void TimeConvTest::nothingOverflowsNearTheLargestLengths()
{
    constexpr std::uint32_t big = std::numeric_limits<std::uint32_t>::max();
    QCOMPARE(sliderToPos(200, big), big);
    QCOMPARE(sliderToPos(100, big), big / 2);
    QCOMPARE(posToSlider(big / 2, big), 100);
    QCOMPARE(scaleLabel(5, 6, big), std::string("8947848:31"));  // big / 8 seconds
    // 4 000 000 000 units: 500 000 000 s = 8 333 333 min 20 s; the tenth
    // needs p x 5, far beyond 32 bits.
    QCOMPARE(formatReadout(4000000000u), std::string("8333333:20.0"));
    QCOMPARE(formatReadout(4000000003u), std::string("8333333:20.3"));
}

QTEST_APPLESS_MAIN(TimeConvTest)
#include "timeconv_test.moc"
