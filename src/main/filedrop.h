// Files dropped on the main window: a MIDI file opens and plays as one
// named on the command line does.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QMimeData;

namespace lirno {

class MainWndProc;

// Whether the file at path is a MIDI file: its type by name or content says
// so, or it begins with "MThd" (a Standard MIDI File) or "RIFF" (one wrapped
// in a RIFF file).
bool isMidiFile(const QString& path);

// The local path of the first file a drop carries when that is a MIDI
// file; empty for anything else.
QString droppedMidiFile(const QMimeData* data);

// Opens and plays path as a file named on the command line is.
void openAndPlay(MainWndProc& window, const QString& path);

// Takes drops of MIDI files anywhere in the window (the track names' text
// boxes too) and refuses other files without a word. The file opens after
// the drop has ended, so that a message box of the load never holds up the
// program the file was dragged from.
class FileDrop : public QObject {
  public:
    explicit FileDrop(MainWndProc& window);
    ~FileDrop() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool accepts(const QMimeData* data);
    void open(const QString& path);

    MainWndProc& window_;
    QUrl lastUrl_;  // the file last asked about while it is dragged over
    bool lastAnswer_ = false;
};

}  // namespace lirno
