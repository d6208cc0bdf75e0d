// The words of the loaded song, in a small window of their own beside the
// main window: the line being sung with its sung syllable marked, and the
// next line. Opened from the Music menu; once the user has opened it, it
// opens by itself for every song with words, until they close it.
#pragma once

#include <QLabel>
#include <QWidget>
#include <cstdint>

#include "device/song/lyrics.h"

namespace lirno {

// Where a song stands in its words: the line being sung and the last of its
// syllables that has begun (-1: the line's first is still to come).
struct LyricsPlace {
    int line = 0;
    int syllable = -1;
    bool operator==(const LyricsPlace&) const = default;
};
LyricsPlace placeAt(const device::Lyrics& words, std::int64_t atNs);

// A line as the pane shows it: the sung syllables and the one being sung
// marked; -1 marks nothing.
QString lineHtml(const device::LyricLine& line, int sungUpTo);

class LyricsPane : public QWidget {
    Q_OBJECT
  public:
    // A tool window of mainWindow, hidden.
    explicit LyricsPane(QWidget* mainWindow);

    // A song was loaded or unloaded: its words are read from the image when
    // they will be shown, and the pane opens if the user asked for that.
    void songLoaded();
    // The words to show, as read from a song.
    void setWords(device::Lyrics words);
    const device::Lyrics& words() const { return words_; }
    // The menu item: opens or closes the pane and remembers which.
    void toggle();
    // The play position, in units, while the pane is open.
    void follow(std::uint32_t units);

    LyricsPlace place() const { return place_; }
    QLabel* currentLine() const { return current_; }
    QLabel* nextLine() const { return next_; }
    // Whether the user left the pane open (a setting that lasts between runs).
    static bool wanted();

  signals:
    void shownChanged(bool shown);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void open();
    void readWords();
    void showPlace();

    QLabel* current_ = nullptr;
    QLabel* next_ = nullptr;
    device::Lyrics words_;
    bool read_ = false;  // words_ holds the loaded song's words
    bool placed_ = false;
    LyricsPlace place_;
};

}  // namespace lirno
