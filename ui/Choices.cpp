#include "ui/Choices.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace ui {

namespace {
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
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, r.title, r.label, r.items, 0, false, &ok);
    return ok ? int(r.items.indexOf(chosen)) : -1;
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
