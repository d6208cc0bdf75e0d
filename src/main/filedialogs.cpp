#include "main/filedialogs.h"

#include <QDir>
#include <QFileInfo>

#include "main/shell.h"

namespace lirno {

namespace {

QStringList midiFilters() {
    return {QStringLiteral("Midi Files (*.mid)"), QStringLiteral("All Files (*.*)")};
}

void setUpCommon(QFileDialog& dialog) {
    dialog.setNameFilters(midiFilters());
    dialog.selectNameFilter(midiFilters().first());
}

std::optional<std::string> chosenPath(QFileDialog& dialog) {
    if (shell.fEnding) return std::nullopt;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string fitNameField(const std::string& name) {
    if (name.size() <= kDialogNameMax) return name;
    std::size_t end = kDialogNameMax;
    while (end > 0 && isContinuationByte(name[end])) --end;
    return name.substr(0, end);
}

QStringList chooseSoundFonts(QWidget* parent) {
    if (shell.fEnding) return {};
    QFileDialog dialog(parent, QStringLiteral("Add SoundFonts"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(
        {QStringLiteral("SoundFonts (*.sf2 *.sf3)"), QStringLiteral("All Files (*)")});
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList{};
}

void setUpOpenDialog(QFileDialog& dialog) {
    setUpCommon(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
}

void setUpSaveDialog(QFileDialog& dialog, const std::string& current) {
    setUpCommon(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (current.empty()) return;
    // The folder goes to the dialog's folder view, so the field holds only
    // the file's own name: a long path never has to be cut to fit.
    const QFileInfo info(QFile::decodeName(current.c_str()));
    if (current.find('/') != std::string::npos && info.dir().exists())
        dialog.setDirectory(info.dir());
    dialog.selectFile(
        QFile::decodeName(fitNameField(QFile::encodeName(info.fileName()).toStdString()).c_str()));
}

FileDialogs qtFileDialogs() {
    FileDialogs dialogs;
    dialogs.open = [] {
        QFileDialog dialog(shell.hWndMain.data());
        setUpOpenDialog(dialog);
        return chosenPath(dialog);
    };
    dialogs.save = [](const std::string& current) {
        QFileDialog dialog(shell.hWndMain.data());
        setUpSaveDialog(dialog, current);
        return chosenPath(dialog);
    };
    return dialogs;
}

}  // namespace lirno
