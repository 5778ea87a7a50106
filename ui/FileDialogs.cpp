#include "ui/FileDialogs.h"

#include <QFileDialog>

namespace ui {

namespace {
FileDialogs::Handler& current()
{
    static FileDialogs::Handler h;
    return h;
}
} // namespace

QString FileDialogs::saveFileName(const SaveRequest& r, QWidget* parent)
{
    if (current())
        return current()(r);
    // No overwrite prompt: the user picks the name and means it.
    return QFileDialog::getSaveFileName(parent, r.title, r.initialName, r.filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void FileDialogs::setHandler(Handler h) { current() = std::move(h); }

SaveAnswer::SaveAnswer(QString n) : name(std::move(n)), saved_(current())
{
    current() = [this](const SaveRequest& r) {
        requests.push_back(r);
        return name;
    };
}

SaveAnswer::~SaveAnswer() { current() = saved_; }

} // namespace ui
