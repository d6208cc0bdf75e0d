// The real open and save dialogs the program shows: their filters, modes and
// starting name, a long name, and a whole Open and Save As through them.
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "main/filedialogs.h"
#include "session.h"

using namespace lirno;
using namespace lirno::res;
using namespace lirno::test;

namespace {

QString nameField(QFileDialog& d) {
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    return edit ? edit->text() : QStringLiteral("<no field>");
}

// Takes the dialog to the folder of name; true once its files are listed
// (the dialog fills its list in the background).
bool showsFolder(QFileDialog& dialog, const QString& name) {
    const QString folder = QFileInfo(name).absolutePath();
    if (dialog.directory().absolutePath() != folder) dialog.setDirectory(folder);
    auto* model = dialog.findChild<QFileSystemModel*>();
    return model && model->rowCount(model->index(folder)) > 0;
}

// Answers the modal windows as they come: a file dialog is taken to the
// folder of `name` and gets its file name typed and its Open or Save
// button; a box gets Yes (or OK) and its text noted.
class ModalAnswers {
  public:
    explicit ModalAnswers(QString name) : name_(std::move(name)) {
        QObject::connect(&poll_, &QTimer::timeout, [this] { answer(); });
        poll_.start(20);
    }

    QWidget* dialogParent = nullptr;
    QStringList filters;
    QString startName;
    QStringList questions;

  private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box != seenBox_) {
            seenBox_ = box;
            questions << box->text();
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            if (!yes) yes = box->button(QMessageBox::Ok);
            QTimer::singleShot(0, yes, &QAbstractButton::click);
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && dialog != seen_) {
            answer(*dialog);
        }
    }

    // A user waits for the dialog to list the folder, clicks into the name
    // field, types the name and presses the dialog's button. Typed key by key
    // into an unfocused field, the name would not replace the file the dialog
    // selected for itself; a whole path typed key by key races the
    // completer, which enters each folder as its name is typed.
    void answer(QFileDialog& dialog) {
        if (!showsFolder(dialog, name_)) return;
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit->hasFocus()) {
            dialog.activateWindow();
            edit->setFocus();
            return;  // focus arrives with a later event
        }
        seen_ = &dialog;
        dialogParent = dialog.parentWidget();
        filters = dialog.nameFilters();
        startName = nameField(dialog);
        edit->selectAll();
        QTest::keyClicks(edit, QFileInfo(name_).fileName());
        auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QPushButton* accept = buttons->button(QDialogButtonBox::Open);
        if (!accept) accept = buttons->button(QDialogButtonBox::Save);
        // Clicked from the event loop: a question it raises must find this
        // poll free to answer it.
        QTimer::singleShot(0, accept, &QPushButton::click);
    }

    QString name_;
    QFileDialog* seen_ = nullptr;
    QMessageBox* seenBox_ = nullptr;
    QTimer poll_;
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void openDialogShowsMidiFilesFirstAndWantsAnExistingFile();
    void saveDialogStartsAtTheCurrentNameAndAsksBeforeReplacing();
    void longNamesAreCutToTheFieldWithoutBreakingACharacter();
    void openAndSaveAsThroughTheRealDialogs();
};

void DialogsTest::openDialogShowsMidiFilesFirstAndWantsAnExistingFile() {
    QFileDialog d;
    setUpOpenDialog(d);
    QCOMPARE(d.nameFilters(), (QStringList{"Midi Files (*.mid)", "All Files (*.*)"}));
    QCOMPARE(d.selectedNameFilter(), QString("Midi Files (*.mid)"));
    QCOMPARE(d.acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(d.fileMode(), QFileDialog::ExistingFile);
}

void DialogsTest::saveDialogStartsAtTheCurrentNameAndAsksBeforeReplacing() {
    QTemporaryDir tmp;
    QVERIFY(QDir().mkdir(tmp.path() + "/songs"));
    QFileDialog d;
    setUpSaveDialog(d, (tmp.path() + "/songs/my song.mid").toStdString());
    QCOMPARE(d.acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(d.selectedNameFilter(), QString("Midi Files (*.mid)"));
    QCOMPARE(d.nameFilters().size(), 2);
    QCOMPARE(d.directory().absolutePath(), QDir(tmp.path() + "/songs").absolutePath());
    QCOMPARE(nameField(d), QString("my song.mid"));
    QVERIFY(d.defaultSuffix().isEmpty());
    QVERIFY(!d.testOption(QFileDialog::DontConfirmOverwrite));

    QFileDialog empty;
    setUpSaveDialog(empty, {});
    QCOMPARE(nameField(empty), QString());
}

void DialogsTest::longNamesAreCutToTheFieldWithoutBreakingACharacter() {
    QCOMPARE(fitNameField(std::string(255, 'x')), std::string(255, 'x'));
    QCOMPARE(fitNameField(std::string(300, 'x')), std::string(255, 'x'));
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";  // é, two bytes each
    const std::string cut = fitNameField("a" + accents);
    QCOMPARE(cut.size(), std::size_t(255));
    QVERIFY(!QString::fromUtf8(cut.data(), qsizetype(cut.size()))
                 .contains(QChar::ReplacementCharacter));

    // A command-line name longer than any field: the field holds its last
    // part, cut; no folder that does not exist is entered.
    QFileDialog d;
    const std::string longName = "/no/such/folder/" + std::string(400, 'n') + ".mid";
    setUpSaveDialog(d, longName);
    QCOMPARE(nameField(d), QString(255, 'n'));
}

void DialogsTest::openAndSaveAsThroughTheRealDialogs() {
    Session s;
    setFileDialogs(qtFileDialogs());
    const std::string path = s.file("tune.mid", song(1, {0, 1}));
    {
        ModalAnswers answers(QString::fromStdString(path));
        s.command(IDM_OPEN);
        QCOMPARE(answers.dialogParent, s.window.get());
        QCOMPARE(answers.filters.first(), QString("Midi Files (*.mid)"));
        QVERIFY(answers.startName.isEmpty());
    }
    QCOMPARE(shell.szFileName, path);
    QCOMPARE(s.view()->items(), 2);

    // Onto an existing file, typed without its extension: asked first,
    // then written under exactly the typed name.
    const std::string existing = s.file("mix", {1, 2, 3});
    {
        ModalAnswers answers(QString::fromStdString(existing));
        s.command(IDM_SAVEAS);
        QCOMPARE(answers.startName, QString("tune.mid"));
        QCOMPARE(answers.questions.size(), 1);
        QVERIFY2(answers.questions[0].contains("mix"), qPrintable(answers.questions[0]));
    }
    QCOMPARE(shell.szFileName, existing);
    QVERIFY(!QFile::exists(QString::fromStdString(existing + ".mid")));
    QCOMPARE(soundingNotes(existing), (std::vector<int>{0, 2, 2}));
    QVERIFY(s.boxes.messages.empty());
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
