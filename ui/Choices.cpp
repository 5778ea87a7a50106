#include "ui/Choices.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace ui {

namespace {
// Room for the combo's arrow and frame beside the longest item's text.
constexpr int kComboChrome = 48;

Choices::Handler& current()
{
    static Choices::Handler h;
    return h;
}
} // namespace

int Choices::choose(const ChoiceRequest& r, QWidget* parent)
{
    if (current())
        return current()(r);
    if (r.items.isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, r.title, r.label, QMessageBox::Ok | QMessageBox::Cancel, parent);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
        box.setDefaultButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? 0 : -1;
    }
    QInputDialog dialog(parent);
    dialog.setWindowTitle(r.title);
    dialog.setLabelText(r.label);
    dialog.setComboBoxItems(r.items);
    dialog.setComboBoxEditable(false);
    // Every item whole (a relay's serial, name and model), within the screen.
    if (auto* combo = dialog.findChild<QComboBox*>()) {
        int widest = 0;
        for (const QString& item : r.items)
            widest = std::max(widest, combo->fontMetrics().horizontalAdvance(item));
        int width = widest + kComboChrome;
        if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
            width = std::min(width, screen->availableGeometry().width() * 3 / 4);
        combo->setMinimumWidth(width);
        combo->view()->setMinimumWidth(width);
    }
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return int(r.items.indexOf(dialog.textValue()));
}

void Choices::setHandler(Handler h) { current() = std::move(h); }

ChoiceAnswer::ChoiceAnswer(int i) : index(i), saved_(current())
{
    current() = [this](const ChoiceRequest& r) {
        requests.push_back(r);
        return index;
    };
}

ChoiceAnswer::~ChoiceAnswer() { current() = saved_; }

} // namespace ui
