#include "main/outputdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "main/portchoice.h"
#include "mmio/message.h"

namespace lirno {

namespace {
// Each item keeps its port's name (PortInfo::name, "" for the synthesizer).
constexpr int kPortRole = Qt::UserRole;
}  // namespace

OutputDialog::OutputDialog(PortChoice& choice, QWidget* owner) : QDialog(owner), choice_(choice) {
    setWindowTitle(QStringLiteral("MIDI Output"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Play songs to:"), this);
    layout->addWidget(label);
    list_ = new QListWidget(this);
    list_->setMinimumWidth(320);
    label->setBuddy(list_);
    auto add = [this](const QString& text, const std::string& port) {
        auto* item = new QListWidgetItem(text, list_);
        item->setData(kPortRole, QString::fromStdString(port));
        if (!port.empty()) item->setToolTip(QString::fromStdString(port));
    };
    add(QStringLiteral("Synthesizer"), {});
    bool listed = choice_.port().empty();
    for (const device::PortInfo& p : choice_.destinations()) {
        add(QString::fromStdString(p.label.empty() ? p.name : p.label), p.name);
        listed = listed || p.name == choice_.port();
    }
    // The port played to now, though the system no longer lists it.
    if (!listed) add(QString::fromStdString(choice_.port()), choice_.port());
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    showChoice();
    connect(list_, &QListWidget::currentRowChanged, this, &OutputDialog::choose);
}

void OutputDialog::choose(int row) {
    if (showing_ || row < 0) return;
    const std::string port = list_->item(row)->data(kPortRole).toString().toStdString();
    if (port == choice_.port()) return;
    if (const int r = choice_.change(port); r != 0)
        MessageBox(Owner::Main, choice_.errorText(r).toStdString(), "MIDI Output",
                   Icon::Exclamation);
    showChoice();
}

void OutputDialog::showChoice() {
    showing_ = true;
    const QString now = QString::fromStdString(choice_.port());
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->data(kPortRole).toString() == now) list_->setCurrentRow(i);
    showing_ = false;
}

void showOutputDialog(PortChoice& choice, QWidget* owner) {
    OutputDialog dialog(choice, owner);
    dialog.exec();
}

}  // namespace lirno
