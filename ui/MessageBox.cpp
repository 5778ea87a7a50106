#include "ui/MessageBox.h"

#include <QStringList>

namespace ui {

namespace {
MessageBoxes::Handler& current()
{
    static MessageBoxes::Handler h;
    return h;
}
} // namespace

void MessageBoxes::show(const Message& m, QWidget* parent)
{
    if (current()) {
        current()(m);
        return;
    }
    QMessageBox box(m.icon, m.caption, m.text, QMessageBox::Ok, parent);
    if (!m.details.isEmpty())
        box.setDetailedText(m.details);
    box.exec();
}

void MessageBoxes::setHandler(Handler h) { current() = std::move(h); }

MessageBoxes::Handler MessageBoxes::handler() { return current(); }

MessageRecorder::MessageRecorder() : saved_(current())
{
    current() = [this](const Message& m) { messages.push_back(m); };
}

MessageRecorder::~MessageRecorder() { current() = saved_; }

QStringList MessageRecorder::texts() const
{
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}

} // namespace ui
