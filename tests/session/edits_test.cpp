// Row edits while a song plays, and Save As: what reaches the device, the
// play file and the saved file.
#include <QLineEdit>

#include "session.h"

using namespace lirno;
using namespace lirno::res;
using namespace lirno::test;

class EditsTest : public QObject {
    Q_OBJECT
  private slots:
    void editWhilePlayingRestartsWhereTheSongWas();
    void editWhilePausedWaitsForTheResume();
    void saveAsWritesEveryNoteAndTheRowsNames();
    void saveAsCancelledOrFailedKeepsTheName();
    void saveAsAfterARejectedFileWritesTheImageWhole();
};

namespace {

void typeName(QLineEdit* box, const QString& text) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
}

}  // namespace

void EditsTest::editWhilePlayingRestartsWhereTheSongWas() {
    Session s;
    s.open(s.file("song.mid", song(8, {0, 1, 2})));
    s.command(IDM_PLAY);
    const std::uint32_t first = playback.wOutDeviceID;
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(6), kWaitMs);
    const std::uint32_t before = *s.position();
    s.device.since();

    click(s.view()->controls().hwndOn[1]);  // mute the second part

    // Stopped, closed, the play file rewritten, reopened, played on from
    // where the song had got to.
    const std::vector<std::string> calls = s.device.since();
    QCOMPARE(calls.size(), std::size_t(4));
    QCOMPARE(calls[0], call("stop", first));
    QCOMPARE(calls[1], call("close", first));
    const std::uint32_t second = playback.wOutDeviceID;
    QVERIFY(second != first);
    QCOMPARE(calls[2], call("open", second, 64));
    QVERIFY(calls[3].starts_with(call("play", second) + ' '));
    const std::uint32_t from = std::stoul(calls[3].substr(calls[3].rfind(' ') + 1));
    QVERIFY2(from >= before && from < before + 8, calls[3].c_str());
    QCOMPARE(playback.dwPlayPos, from);
    QVERIFY(!playback.fMidiChange);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.checked(IDM_PLAY));
    // What the device now plays is the edited image: the second part silent.
    QCOMPARE(readFile(playback.sTmpName), bytesOf(loaded.image));
    QCOMPARE(soundingNotes(playback.sTmpName), (std::vector<int>{0, 16, 0, 16}));
    // The timer keeps following the new device.
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(from + 2), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(s.readout() != "0:00.0", kWaitMs);
    QVERIFY(s.boxes.messages.empty());
}

void EditsTest::editWhilePausedWaitsForTheResume() {
    Session s;
    s.open(s.file("song.mid", song(8, {0, 1})));
    s.command(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(3), kWaitMs);
    s.command(IDM_PAUSE);
    const std::uint32_t pausedAt = playback.dwPlayPos;
    const std::uint32_t id = playback.wOutDeviceID;
    s.device.since();

    click(s.view()->controls().hwndOnly[0]);  // solo the first part
    QVERIFY(playback.fMidiChange);
    QVERIFY(s.device.since().empty());

    s.command(IDM_PAUSE);  // resume: the change is applied first
    const std::vector<std::string> calls = s.device.since();
    QCOMPARE(calls.size(), std::size_t(4));
    QCOMPARE(calls[0], call("stop", id));
    QCOMPARE(calls[3], call("play", playback.wOutDeviceID, pausedAt));
    QVERIFY(!playback.fMidiChange);
    QCOMPARE(soundingNotes(playback.sTmpName), (std::vector<int>{0, 16, 0}));
}

void EditsTest::saveAsWritesEveryNoteAndTheRowsNames() {
    Session s;
    const std::string path = s.file("band.mid", song(2, {0, 1, 2}));
    s.open(path);
    const RowControls& c = s.view()->controls();
    typeName(c.hwndName[1], QStringLiteral("Strings"));
    typeName(c.hwndName[2], QStringLiteral("Lead voice"));
    click(c.hwndOn[0]);    // muted
    click(c.hwndOnly[2]);  // solo: the other rows are silenced too
    const Bytes editedImage = bytesOf(loaded.image);
    s.command(IDM_PLAY);
    QCOMPARE(soundingNotes(playback.sTmpName), (std::vector<int>{0, 0, 0, 4}));

    // Typed without an extension: saved under exactly that name.
    const std::string target = s.tmp.file("mixdown");
    s.seam.saveAnswers.push_back(target);
    s.clickButton(IDM_SAVEAS);
    QCOMPARE(s.seam.savePreloads, std::vector<std::string>{path});
    QVERIFY(QFile::exists(QString::fromStdString(target)));
    QCOMPARE(soundingNotes(target), (std::vector<int>{0, 4, 4, 4}));
    MidiInfo saved;
    FileImage savedImage = FileImage::fromBytes(readFile(target));
    QCOMPARE(readmidiinfo(savedImage, saved), 1);
    QCOMPARE(std::string(gettrackname(saved, 0)), std::string("Part 1"));
    QCOMPARE(std::string(gettrackname(saved, 1)), std::string("Strings"));
    QCOMPARE(std::string(gettrackname(saved, 2)), std::string("Lead voice"));
    // The image keeps its mutes, the song plays on, the caption follows.
    QCOMPARE(bytesOf(loaded.image), editedImage);
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(shell.szFileName, target);
    QCOMPARE(s.window->windowTitle(), QString::fromStdString("Lirno Player - " + target));
    QVERIFY(s.boxes.messages.empty());

    // The next Save As starts from the new name.
    s.command(IDM_SAVEAS);
    QCOMPARE(s.seam.savePreloads.back(), target);
}

void EditsTest::saveAsCancelledOrFailedKeepsTheName() {
    Session s;
    const std::string path = s.file("song.mid", song(1, {0}));
    s.open(path);
    const QString caption = s.window->windowTitle();
    s.command(IDM_SAVEAS);  // cancelled
    QCOMPARE(s.window->windowTitle(), caption);
    QVERIFY(s.boxes.messages.empty());

    s.seam.saveAnswers.push_back(s.tmp.file("no such folder/out.mid"));
    s.command(IDM_SAVEAS);
    QVERIFY(!s.boxes.messages.empty());
    const Message& last = s.boxes.messages.back();
    QCOMPARE(last, (Message{Owner::Main, "Error save file", "Attention", Icon::Exclamation}));
    QCOMPARE(shell.szFileName, path);
    QCOMPARE(s.window->windowTitle(), caption);
}

void EditsTest::saveAsAfterARejectedFileWritesTheImageWhole() {
    Session s;
    // An unknown chunk before the tracks: the analysis refuses the file.
    Bytes bytes = song(1, {0});
    const Bytes extra = {'X', 'T', 'R', 'A', 0, 0, 0, 2, 1, 2};
    bytes.insert(bytes.begin() + 14, extra.begin(), extra.end());
    s.open(s.file("odd.mid", bytes));
    QCOMPARE(s.boxes.messages.size(), std::size_t(1));
    const std::string target = s.tmp.file("copy.mid");
    s.seam.saveAnswers.push_back(target);
    s.command(IDM_SAVEAS);
    QCOMPARE(readFile(target), bytes);
    QCOMPARE(s.boxes.messages.size(), std::size_t(1));
}

QTEST_MAIN(EditsTest)
#include "edits_test.moc"
