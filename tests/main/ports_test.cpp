// MIDI ports in the window: Record Track takes what a keyboard plays into a
// new row; Music > MIDI Output... chooses where songs play.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QTest>

#include "ctrl/trackview.h"
#include "main/outputdialog.h"
#include "main/portchoice.h"
#include "main/statedump.h"
#include "main/toolbar.h"
#include "mmio/bytes.h"
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

// One track on channel 0: the song of format 0 a recording goes into.
smf::Bytes lead() {
    smf::Track t;
    t.name("Lead").program(0, 0, 24);
    for (int beat = 0; beat < 8; ++beat) t.on(0, 0, 60).off(96, 0, 60);
    return smf::file(0, 96, {t.end()});
}

QString stateLine(const MainWndProc& w, const QString& key) {
    for (const QString& line : stateText(w).split('\n'))
        if (line.startsWith(key + ' ')) return line.mid(key.size() + 1);
    return QStringLiteral("(none)");
}

// File track i's data in the image.
smf::Bytes trackData(int i) {
    std::size_t pos = 14;
    const std::uint8_t* img = loaded.image.data();
    for (int k = 0; k < i; ++k) pos += 8 + getdword(img + pos + 4);
    return smf::Bytes(img + pos + 8, img + pos + 8 + getdword(img + pos + 4));
}

bool endsWith(const smf::Bytes& data, const smf::Bytes& tail) {
    return data.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), data.rbegin());
}

}  // namespace

class PortsTest : public QObject, private FakeDeviceWindow {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void recordTrackAddsARowAtOnceAndKeepsWhatWasPlayed();
    void outputChoiceIsAppliedRefusedAndKept();

  private:
    TrackViewWndProc& view() { return *w_->trackView(); }
};

void PortsTest::init() {
    setUpWindow();
}

void PortsTest::cleanup() {
    tearDownWindow();
}

void PortsTest::recordTrackAddsARowAtOnceAndKeepsWhatWasPlayed() {
    open(f_->file("lead.mid", lead()));
    QCOMPARE(device_.inputChannel, 1);  // heard on the channel a recording takes
    view().rows().clickOn(0);
    view().rows().typeName(0, "Melody");
    device_.keyboard = true;
    QCOMPARE(stateLine(*w_, "inputConnected"), QString("1"));

    // A row at once, with a piano; the song plays and the button stays down.
    w_->command(IDM_RECORD);
    QCOMPARE(view().items(), 2);
    QCOMPARE(view().rows().row(1).name, std::string("Recorded 1"));
    QCOMPARE(view().controls().hwndInstr[1]->currentText(), QString("Acoustic Grand Piano"));
    QVERIFY(!view().rows().row(0).onChecked);
    QCOMPARE(view().rows().row(0).name, std::string("Melody"));
    QVERIFY(w_->toolbar()->isButtonChecked(IDM_RECORD));
    QVERIFY(w_->menuAction(IDM_RECORD)->isChecked());
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(device_.recordingNow);
    QCOMPARE(device_.inputChannel, 1);
    QCOMPARE(stateLine(*w_, "recording"), QString("1"));

    // Stop: the row keeps what was played; Save As writes it.
    QComboBox* instrument = view().controls().hwndInstr[1];
    instrument->setCurrentIndex(40);
    emit instrument->activated(40);  // the user's choice
    device_.toRecord = {{96, 0x91, 64, 100}, {192, 0x81, 64, 0}};
    w_->command(IDM_STOP);
    QVERIFY(!device_.recordingNow && !w_->recording());
    QVERIFY(!w_->toolbar()->isButtonChecked(IDM_RECORD));
    QVERIFY(!w_->menuAction(IDM_RECORD)->isChecked());
    QCOMPARE(view().items(), 2);
    QCOMPARE(view().controls().hwndInstr[1]->currentIndex(), 40);
    QCOMPARE(view().rows().row(1).instrSel, 40);
    QVERIFY(playback.fMidiChange);
    QVERIFY(endsWith(trackData(1), {0x60, 0x91, 64, 100, 0x60, 0x81, 64, 0, 0x00, 0xFF, 0x2F, 0}));
    QCOMPARE(trackData(1)[16], 40);  // the chosen instrument, before the notes
    QCOMPARE(device_.inputChannel, 2);
    const std::string saved = f_->tmp.file("saved.mid");
    setFileDialogs({{}, [saved](const std::string&) { return std::optional(saved); }});
    w_->command(IDM_SAVEAS);
    const smf::Bytes file = test::readFile(saved);
    QCOMPARE(smf::Bytes(file.begin(), file.begin() + 14), smf::header(1, 2, 96));

    // Nothing played: the row goes again and the song plays on.
    const smf::Bytes before = test::bytesOf(loaded.image);
    w_->command(IDM_PLAY);
    w_->command(IDM_RECORD);
    QCOMPARE(view().rows().row(2).name, std::string("Recorded 2"));
    QCOMPARE(device_.inputChannel, 2);
    w_->command(IDM_RECORD);
    QCOMPARE(view().items(), 2);
    QCOMPARE(test::bytesOf(loaded.image), before);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(!w_->recording());
    QVERIFY(f_->boxes.messages.empty());
}

void PortsTest::outputChoiceIsAppliedRefusedAndKept() {
    QSettings("lirno", "Lirno Player").setValue("Ports/output", "jack:synth:in");
    newWindow();  // the kept port is gone: the synthesizer plays
    QCOMPARE(device_.port, std::string());
    QCOMPARE(w_->menuAction(IDM_MIDIOUTPUT)->shortcut(), QKeySequence("Ctrl+Shift+M"));
    w_->ports().setLister([] {
        return std::vector<device::PortInfo>{{"jack:synth:in", "synth:in"},
                                             {"alsa:20:0", "USB Keys:Port 1", true}};
    });
    {
        OutputDialog d(w_->ports(), w_.get());
        QStringList texts;
        for (int i = 0; i < d.portList()->count(); ++i) texts << d.portList()->item(i)->text();
        QCOMPARE(texts, (QStringList{"Synthesizer", "synth:in", "USB Keys:Port 1"}));
        QCOMPARE(d.portList()->currentRow(), 0);

        device_.openablePorts = {"alsa:20:0"};
        d.portList()->setCurrentRow(2);
        QCOMPARE(device_.port, std::string("alsa:20:0"));
        QCOMPARE(stateLine(*w_, "outputPort"), QString("alsa:20:0"));
        d.portList()->setCurrentRow(1);  // refused: one box, the choice as it was
        QCOMPARE(f_->boxes.messages.size(), std::size_t(1));
        QCOMPARE(f_->boxes.messages[0].text, std::string("fake device error"));
        QCOMPARE(d.portList()->currentRow(), 2);
        QCOMPARE(device_.port, std::string("alsa:20:0"));
        QCOMPARE(QSettings("lirno", "Lirno Player").value("Ports/output").toString(),
                 QString("alsa:20:0"));
    }
    // The next run takes the kept port; LIRNO_MIDI_OUT wins for a run, unsaved.
    device_.port.clear();
    newWindow();
    QCOMPARE(device_.port, std::string("alsa:20:0"));
    {
        EnvGuard env("LIRNO_MIDI_OUT", "");  // the synthesizer for this run
        device_.port.clear();
        newWindow();
        QCOMPARE(device_.port, std::string());
        device_.openablePorts.push_back("jack:synth:in");
        env.set("jack:synth:in");
        newWindow();
        QCOMPARE(device_.port, std::string("jack:synth:in"));
    }
    QCOMPARE(QSettings("lirno", "Lirno Player").value("Ports/output").toString(),
             QString("alsa:20:0"));
}

QTEST_MAIN(PortsTest)
#include "ports_test.moc"
