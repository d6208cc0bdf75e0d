#include "main/filedrop.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMimeDatabase>

#include "main/mainwnd.h"
#include "main/shell.h"
#include "res/resource.h"

namespace lirno {

bool isMidiFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile()) return false;
    static const QStringList kSuffixes = {QStringLiteral("mid"), QStringLiteral("midi"),
                                          QStringLiteral("kar"), QStringLiteral("rmi")};
    if (kSuffixes.contains(info.suffix().toLower())) return true;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    if (type.inherits(QStringLiteral("audio/midi")) ||
        type.inherits(QStringLiteral("audio/x-midi")))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = file.read(4);
    return head == "MThd" || head == "RIFF";
}

QString droppedMidiFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    const QUrl first = data->urls().value(0);
    if (!first.isLocalFile()) return {};
    const QString path = first.toLocalFile();
    return isMidiFile(path) ? path : QString();
}

void openAndPlay(MainWndProc& window, const QString& path) {
    shell.szFileName = QFile::encodeName(path).toStdString();
    window.command(res::IDM_OPEN, OPEN_AND_PLAY);
}

FileDrop::FileDrop(MainWndProc& window) : QObject(&window), window_(window) {
    window.setAcceptDrops(true);
    // A text box in the window takes drops of its own: the application
    // sees them first.
    qApp->installEventFilter(this);
}

FileDrop::~FileDrop() {
    qApp->removeEventFilter(this);
}

bool FileDrop::accepts(const QMimeData* data) {
    const QUrl first = data && data->hasUrls() ? data->urls().value(0) : QUrl();
    if (first != lastUrl_ || first.isEmpty()) {
        lastUrl_ = first;
        lastAnswer_ = !droppedMidiFile(data).isEmpty();
    }
    return lastAnswer_;
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    const auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != &window_) return false;
    auto* drop = static_cast<QDropEvent*>(event);
    // Text dragged into a name box stays the box's business; files do not.
    if (!drop->mimeData()->hasUrls()) return false;
    // Each drag looks at its file afresh; the moves over the window reuse that look.
    if (type == QEvent::DragEnter) lastUrl_.clear();
    if (!accepts(drop->mimeData())) {
        drop->ignore();
        return true;
    }
    // A copy (or a link), never a move: the file stays where it is.
    const Qt::DropAction action =
        drop->possibleActions() & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction;
    if (!(drop->possibleActions() & action)) {
        drop->ignore();
        return true;
    }
    // The file is looked at again as it drops: it may have gone meanwhile,
    // and an empty name would bring the open dialog.
    const QString path = type == QEvent::Drop ? droppedMidiFile(drop->mimeData()) : QString();
    if (type == QEvent::Drop && path.isEmpty()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(action);
    drop->accept();
    if (type == QEvent::Drop) open(path);
    return true;
}

void FileDrop::open(const QString& path) {
    lastUrl_.clear();
    QMetaObject::invokeMethod(
        &window_, [this, path] { openAndPlay(window_, path); }, Qt::QueuedConnection);
}

}  // namespace lirno
