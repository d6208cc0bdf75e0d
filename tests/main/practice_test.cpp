// Practice settings in the window: the Music menu's speed, key and passage
// commands as the device receives them and the state file shows them, and
// what the program remembers between runs (each song's settings by its
// content, the recent songs, the sound), through settings in the fixture's
// folder.
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>

#include "ctrl/trackview.h"
#include "main/lyricspane.h"
#include "main/soundchoice.h"
#include "main/sounddialog.h"
#include "main/statedump.h"
#include "main/timetrack.h"
#include "mmio/loadsave.h"
#include "mmio/playfile.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"

using namespace lirno;
using namespace lirno::res;
using lirno::test::EnvGuard;
using lirno::test::FakeDevice;
using lirno::test::FakeDeviceWindow;
using lirno::test::ShellFixture;

namespace {

// Sixteen beats at 120 a minute in 4/4, 96 ticks a beat: a beat is four
// units (half a second). `pitch` tells songs apart.
smf::Bytes beats(int pitch = 60) {
    smf::Track t;
    t.name("Lead").tempo(0, 500000).ev(0, {0xC0, 0});
    for (int beat = 0; beat < 16; ++beat)
        t.ev(0, {0x90, std::uint8_t(pitch), 100}).ev(96, {0x80, std::uint8_t(pitch), 64});
    t.end();
    return smf::file(0, 96, {t});
}

// Words on beats: "Hel" "lo " "world" on beats 0 to 2, "Next " "line" on
// beats 4 and 5, over the notes of beats().
smf::Bytes sung() {
    smf::Track words;
    words.tempo(0, 500000).meta(0, 0x05, "Hel").meta(96, 0x05, "lo ").meta(96, 0x05, "world\r");
    words.meta(192, 0x05, "Next ").meta(96, 0x05, "line\r").end();
    smf::Track notes;
    notes.name("Lead").ev(0, {0xC0, 0});
    for (int beat = 0; beat < 16; ++beat) notes.ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 64});
    notes.end();
    return smf::file(1, 96, {words, notes});
}

// The key of a state line, from the state file's text.
QString stateLine(const MainWndProc& w, const QString& key) {
    for (const QString& line : stateText(w).split('\n'))
        if (line.startsWith(key + ' ')) return line.mid(key.size() + 1);
    return QStringLiteral("(none)");
}

QStringList recentTexts(const MainWndProc& w) {
    QStringList texts;
    for (QAction* a : w.recentMenu()->actions()) texts << (a->isSeparator() ? "-" : a->text());
    return texts;
}

QStringList listed(const SoundDialog& d) {
    QStringList texts;
    for (int i = 0; i < d.fontList()->count(); ++i) texts << d.fontList()->item(i)->text();
    return texts;
}

std::vector<std::string> paths(const QStringList& names) {
    std::vector<std::string> out;
    for (const QString& n : names) out.push_back(n.toStdString());
    return out;
}

// The kept sound as lirno-midi reads it: the group's keys and their strings.
QStringList keptSound() {
    QSettings s("lirno", "Lirno Player");
    s.beginGroup("Sound");
    QStringList lines;
    for (const QString& key : s.childKeys()) lines << key + "=" + s.value(key).toString();
    return lines;
}

}  // namespace

class PracticeTest : public QObject, private FakeDeviceWindow {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void commandsStepWithinTheirRangesAndPassagesSnapToBeats();
    void settingsFollowTheSongsContent();
    void recentSongsKeepTheLastTenNewestFirst();
    void aSongThatIsGoneIsReportedOnceAndTakenOff();
    void lyricsFollowThePositionAndOpenOnceAsked();
    void soundIsKeptAndTheEnvironmentWinsForARun();
    void soundDialogRefusesAFontAndRestoresDefaults();

  private:
    void commandTimes(int id, int times) {
        for (int i = 0; i < times; ++i) w_->command(id);
    }
};

void PracticeTest::init() {
    setUpWindow();
}

void PracticeTest::cleanup() {
    tearDownWindow();
}

void PracticeTest::commandsStepWithinTheirRangesAndPassagesSnapToBeats() {
    // No song: the items are gray and a command does nothing.
    QVERIFY(!w_->menuAction(IDM_SLOWER)->isEnabled());
    w_->command(IDM_SLOWER);
    QCOMPARE(device_.playback, device::PlaybackSettings{});
    QCOMPARE(stateLine(*w_, "speed"), QString("100"));
    QCOMPARE(stateLine(*w_, "key"), QString("0"));
    QCOMPARE(stateLine(*w_, "section"), QString());
    QVERIFY(w_->practiceBadge()->isHidden());

    open(f_->file("song.mid", beats()));
    for (int id = IDM_FASTER; id <= IDM_CLEARPASSAGE; ++id)
        QVERIFY(w_->menuAction(id)->isEnabled());
    commandTimes(IDM_SLOWER, 8);
    QCOMPARE(device_.playback.speed, 60);
    commandTimes(IDM_SLOWER, 20);
    QCOMPARE(device_.playback.speed, 25);
    commandTimes(IDM_FASTER, 40);
    QCOMPARE(device_.playback.speed, 200);
    w_->command(IDM_NORMALSPEED);
    QCOMPARE(device_.playback.speed, 100);
    commandTimes(IDM_KEYUP, 13);
    QCOMPARE(device_.playback.transpose, 12);
    commandTimes(IDM_KEYDOWN, 26);
    QCOMPARE(device_.playback.transpose, -12);
    w_->command(IDM_ORIGINALKEY);
    commandTimes(IDM_KEYDOWN, 2);
    commandTimes(IDM_SLOWER, 8);
    QCOMPARE(w_->practiceBadge()->text(), QString::fromUtf8("60%\n\u22122"));
    QVERIFY(!w_->practiceBadge()->isHidden());

    // 2.125 s is beat 4.25: the passage starts on beat 4 (tick 384) and runs
    // to the song's end until an end is set; 4.125 s ends it on beat 8.
    const auto passageAt = [this](int id, std::uint32_t units) {
        playback.dwPlayPos = units;
        w_->command(id);
        return device_.playback.passage;
    };
    QCOMPARE(passageAt(IDM_PASSAGESTART, 17), (device::Passage{384, 1536}));
    QCOMPARE(passageAt(IDM_PASSAGEEND, 33), (device::Passage{384, 768}));
    // An end before the start, or a start after the end, lets the other go.
    QCOMPARE(passageAt(IDM_PASSAGEEND, 9), (device::Passage{0, 192}));
    QCOMPARE(passageAt(IDM_PASSAGESTART, 17), (device::Passage{384, 1536}));
    QCOMPARE(passageAt(IDM_PASSAGEEND, 33), (device::Passage{384, 768}));
    QCOMPARE(stateLine(*w_, "speed"), QString("60"));
    QCOMPARE(stateLine(*w_, "key"), QString("-2"));
    QCOMPARE(stateLine(*w_, "section"), QString("16 32"));
    QVERIFY(w_->timeCoord()->passageMarks().has_value());

    // A play from outside the passage starts at its start.
    playback.dwPlayPos = 2;
    w_->command(IDM_PLAY);
    QCOMPARE(device_.plays.back().from, 16u);
    w_->command(IDM_STOP);
    w_->command(IDM_CLEARPASSAGE);
    QCOMPARE(device_.playback.passage, std::nullopt);
    QCOMPARE(stateLine(*w_, "section"), QString());
    QVERIFY(!w_->timeCoord()->passageMarks());
    QVERIFY(f_->boxes.messages.empty());
}

void PracticeTest::settingsFollowTheSongsContent() {
    const std::string first = f_->file("first.mid", beats());
    open(first);
    commandTimes(IDM_SLOWER, 8);
    commandTimes(IDM_KEYDOWN, 2);
    playback.dwPlayPos = 16;
    w_->command(IDM_PASSAGESTART);
    playback.dwPlayPos = 32;
    w_->command(IDM_PASSAGEEND);
    const device::PlaybackSettings practised = device_.playback;
    QCOMPARE(practised.passage, (device::Passage{384, 768}));

    // Another song plays as it is.
    open(f_->file("other.mid", beats(62)));
    QCOMPARE(device_.playback, device::PlaybackSettings{});

    // The next run, with the song moved and renamed: all of it is back.
    newWindow();
    const std::string moved = f_->tmp.file("moved.mid");
    QVERIFY(QFile::rename(QString::fromStdString(first), QString::fromStdString(moved)));
    open(moved);
    QCOMPARE(device_.playback, practised);
    QCOMPARE(stateLine(*w_, "section"), QString("16 32"));

    // An edited copy is a song of its own; the original keeps its settings.
    w_->trackView()->rows().typeName(0, "Lead sheet");
    const std::string edited = f_->tmp.file("edited.mid");
    setFileDialogs({{}, [edited](const std::string&) { return std::optional(edited); }});
    w_->command(IDM_SAVEAS);
    open(edited);
    QCOMPARE(device_.playback, device::PlaybackSettings{});
    w_->command(IDM_FASTER);
    open(f_->file("edited-again.mid", test::readFile(edited)));  // the same bytes: the same song
    QCOMPARE(device_.playback.speed, 105);
    open(moved);
    QCOMPARE(device_.playback, practised);
    // Back to normal leaves nothing behind.
    w_->command(IDM_NORMALSPEED);
    w_->command(IDM_ORIGINALKEY);
    w_->command(IDM_CLEARPASSAGE);
    newWindow();
    open(moved);
    QCOMPARE(device_.playback, device::PlaybackSettings{});
    QVERIFY(f_->boxes.messages.empty());
}

void PracticeTest::recentSongsKeepTheLastTenNewestFirst() {
    QVERIFY(!w_->recentMenu()->isEnabled());
    std::vector<std::string> songs;
    for (int i = 0; i < 12; ++i) {
        songs.push_back(f_->file("song" + std::to_string(i) + ".mid", beats(40 + i)));
        open(songs.back());
    }
    open(songs[5]);  // again: to the top, not twice
    QStringList expected;
    for (int i : {5, 11, 10, 9, 8, 7, 6, 4, 3, 2}) expected << QString::fromStdString(songs[i]);
    QCOMPARE(w_->recentSongs().files(), expected);

    // The next run reads the same list, numbered, with Clear List last.
    newWindow();
    QCOMPARE(w_->recentSongs().files(), expected);
    const QStringList texts = recentTexts(*w_);
    QCOMPARE(texts.size(), 12);
    QCOMPARE(texts[0], "&1 " + expected[0]);
    QCOMPARE(texts[9], "1&0 " + expected[9]);
    QCOMPARE(texts.mid(10), (QStringList{"-", "&Clear List"}));

    // Choosing one opens and plays it.
    w_->recentMenu()->actions()[2]->trigger();
    QCOMPARE(QString::fromStdString(shell.szFileName), expected[2]);
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(w_->recentSongs().files().front(), expected[2]);

    w_->menuAction(IDM_CLEARRECENT)->trigger();
    QVERIFY(w_->recentSongs().files().isEmpty());
    QCOMPARE(recentTexts(*w_), (QStringList{"-", "&Clear List"}));
    QVERIFY(!w_->recentMenu()->isEnabled());
    newWindow();
    QVERIFY(w_->recentSongs().files().isEmpty());
}

void PracticeTest::aSongThatIsGoneIsReportedOnceAndTakenOff() {
    const std::string gone = f_->file("gone.mid", beats());
    const std::string kept = f_->file("kept.mid", beats(62));
    open(gone);
    open(kept);
    QVERIFY(QFile::remove(QString::fromStdString(gone)));
    w_->recentMenu()->actions()[1]->trigger();
    QCOMPARE(f_->boxes.messages.size(), std::size_t(1));
    QVERIFY(QString::fromStdString(f_->boxes.messages[0].text)
                .startsWith(QString::fromStdString(gone)));
    QCOMPARE(w_->recentSongs().files(), QStringList{QString::fromStdString(kept)});
    QCOMPARE(recentTexts(*w_).size(), 3);
    // The song that was loaded stays loaded; the next run has not heard of the other.
    QVERIFY(shell.szFileName == kept);
    QVERIFY(playback.fFileLoaded);
    newWindow();
    QCOMPARE(w_->recentSongs().files(), QStringList{QString::fromStdString(kept)});
}

void PracticeTest::lyricsFollowThePositionAndOpenOnceAsked() {
    QAction* item = w_->menuAction(IDM_LYRICS);
    QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    const std::string song = f_->file("sung.mid", sung());
    open(song);
    QVERIFY(w_->lyricsPane()->isHidden());  // words, but never asked for
    QCOMPARE(stateLine(*w_, "lyrics"), QString("0"));
    w_->command(IDM_LYRICS);
    LyricsPane* pane = w_->lyricsPane();
    QVERIFY(pane->isVisible() && item->isChecked());
    QCOMPARE(stateLine(*w_, "lyrics"), QString("1"));
    QCOMPARE(pane->words().lines.size(), std::size_t(2));

    // Song time whatever the speed: units 5 and 17 lie a quarter beat past
    // beats 1 and 4.
    commandTimes(IDM_SLOWER, 10);
    w_->command(IDM_PLAY);
    device_.position_ = 5;
    w_->timer();
    QCOMPARE(pane->place(), (LyricsPlace{0, 1}));
    QCOMPARE(pane->currentLine()->text(),
             QString("<span style=\"color:#1f4fbf\">Hel</span><b style=\"color:#c02020\">lo "
                     "</b>world"));
    QCOMPARE(pane->nextLine()->text(), QString("Next line"));
    QVERIFY(!w_->trackView()->activityLevels().empty());
    QVERIFY(w_->trackView()->activityLevels()[0] > 0.0F);  // beat 1's note, 1/8 s ago
    device_.position_ = 17;
    w_->timer();
    QCOMPARE(pane->place(), (LyricsPlace{1, 0}));
    QCOMPARE(pane->nextLine()->text(), QString());
    QVERIFY(w_->timeTrack()->seekTo(0));  // back to the start, heard at once
    QCOMPARE(pane->place(), (LyricsPlace{0, 0}));
    w_->command(IDM_STOP);
    QVERIFY(w_->trackView()->activityLevels().empty());  // stopped: dark

    // Asked for once: the next run opens it for a song with words.
    newWindow();
    QVERIFY(w_->lyricsPane()->isHidden());
    open(song);
    QVERIFY(w_->lyricsPane()->isVisible());
    QVERIFY(w_->menuAction(IDM_LYRICS)->isChecked());
    w_->lyricsPane()->close();  // the close box takes the wish back
    QVERIFY(!w_->menuAction(IDM_LYRICS)->isChecked());
    newWindow();
    open(song);
    QVERIFY(w_->lyricsPane()->isHidden());
}

void PracticeTest::soundIsKeptAndTheEnvironmentWinsForARun() {
    const QString a = f_->folder() + "/a.sf2", b = f_->folder() + "/b.sf3",
                  c = f_->folder() + "/c.sf2";
    EnvGuard env("LIRNO_SOUNDFONT", (a + ":" + b).toStdString());
    newWindow();
    // Nothing kept: the device plays the fonts it found itself (the same).
    QCOMPARE(device_.sound, device::SoundSettings{});
    {
        SoundDialog d(w_->sound(), w_.get());
        QCOMPARE(listed(d), (QStringList{a, b}));

        // Reverb down and chorus off: heard at once, kept; the list from the
        // environment is not kept.
        d.roomSlider()->setValue(50);
        d.reverbLevelSlider()->setValue(30);
        d.chorusBox()->setChecked(false);
        QCOMPARE(device_.sound, (device::SoundSettings{{}, {true, 0.5, 0.3}, {false, 2.0}}));
        QCOMPARE(stateLine(*w_, "reverb"), QString("on 0.5 0.3"));
        QCOMPARE(stateLine(*w_, "chorus"), QString("off 2"));
        QCOMPARE(keptSound(), (QStringList{"chorus=off", "chorusLevel=2", "reverb=on",
                                           "reverbLevel=0.3", "reverbRoom=0.5"}));

        // A font added last, moved up, the first removed: the list is the user's now.
        d.chooseFonts = [c] { return QStringList{c}; };
        d.addButton()->click();
        QCOMPARE(device_.sound.soundFonts, paths({a, b, c}));
        QCOMPARE(d.fontList()->currentRow(), 2);
        QVERIFY(!d.downButton()->isEnabled());
        d.upButton()->click();
        QCOMPARE(device_.sound.soundFonts, paths({a, c, b}));
        d.fontList()->setCurrentRow(0);
        QVERIFY(!d.upButton()->isEnabled());
        d.removeButton()->click();
        QCOMPARE(listed(d), (QStringList{c, b}));
        QCOMPARE(device_.sound.soundFonts, paths({c, b}));
        QCOMPARE(stateLine(*w_, "soundfonts"), c + ":" + b);
        QVERIFY(keptSound().contains("soundFonts=" + c + ":" + b));
    }

    // The next run, before any play: the environment wins for the run and
    // nothing is lost.
    device_.sound = {};
    newWindow();
    QCOMPARE(device_.sound, (device::SoundSettings{{}, {true, 0.5, 0.3}, {false, 2.0}}));
    QCOMPARE(stateLine(*w_, "soundfonts"), a + ":" + b);
    QVERIFY(keptSound().contains("soundFonts=" + c + ":" + b));
    ::unsetenv("LIRNO_SOUNDFONT");
    device_.sound = {};
    newWindow();
    QCOMPARE(w_->sound().settings(), device_.sound);
    QCOMPARE(device_.sound.soundFonts, paths({c, b}));
    QCOMPARE(device_.sound.reverb, (device::Reverb{true, 0.5, 0.3}));
    QCOMPARE(device_.sound.chorus, (device::Chorus{false, 2.0}));
    QVERIFY(f_->boxes.messages.empty());
}

void PracticeTest::soundDialogRefusesAFontAndRestoresDefaults() {
    const QString a = f_->folder() + "/a.sf2", b = f_->folder() + "/b.sf2",
                  bad = f_->folder() + "/broken.sf2";
    EnvGuard env("LIRNO_SOUNDFONT", a.toStdString());
    newWindow();
    SoundDialog d(w_->sound(), w_.get());
    d.chooseFonts = [b] { return QStringList{b}; };
    d.addButton()->click();
    d.reverbBox()->setChecked(false);
    const device::SoundSettings before = device_.sound;
    const QStringList keptBefore = keptSound();

    // A font the device cannot read: one box names it; list, sound and
    // settings stay as they were.
    device_.soundError = device::kErrSoundFontLoad;
    d.chooseFonts = [bad] { return QStringList{bad}; };
    d.addButton()->click();
    QCOMPARE(f_->boxes.messages.size(), std::size_t(1));
    QVERIFY(QString::fromStdString(f_->boxes.messages[0].text).contains(bad));
    QCOMPARE(listed(d), (QStringList{a, b}));
    QCOMPARE(device_.sound, before);
    QCOMPARE(w_->sound().settings(), before);
    QCOMPARE(keptSound(), keptBefore);
    d.chorusLevelSlider()->setValue(0);  // refused too: the slider goes back
    QCOMPARE(d.chorusLevelSlider()->value(), 20);
    QCOMPARE(f_->boxes.messages.size(), std::size_t(2));

    // Every font taken off: those found again, and no list kept.
    device_.soundError = 0;
    d.fontList()->setCurrentRow(0);
    d.removeButton()->click();
    d.removeButton()->click();
    QCOMPARE(listed(d), QStringList{a});
    QCOMPARE(device_.sound.soundFonts, std::vector<std::string>{});
    QVERIFY(!keptSound().join(' ').contains("soundFonts"));

    // Restore defaults: FluidSynth's effects, the fonts found, nothing kept.
    d.defaultsButton()->click();
    QCOMPARE(device_.sound, device::SoundSettings{});
    QCOMPARE(listed(d), QStringList{a});
    QVERIFY(d.reverbBox()->isChecked());
    QCOMPARE(d.roomSlider()->value(), 20);
    QVERIFY(keptSound().isEmpty());
}

QTEST_MAIN(PracticeTest)
#include "practice_test.moc"
