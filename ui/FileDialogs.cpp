#include "ui/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QDir>

namespace ui {

namespace {
FileDialogs::Handler& current()
{
    static FileDialogs::Handler h;
    return h;
}

FileDialogs::OpenHandler& currentOpen()
{
    static FileDialogs::OpenHandler h;
    return h;
}

QString& lastFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString FileDialogs::startingName(const QString& initialName)
{
    if (lastFolder().isEmpty() || initialName.contains(QLatin1Char('/')) || initialName.contains(QLatin1Char('\\')))
        return initialName;
    return QDir(lastFolder()).filePath(initialName);
}

QString FileDialogs::saveFileName(const SaveRequest& r, QWidget* parent)
{
    SaveRequest shown = r;
    shown.initialName = startingName(r.initialName);
    // No overwrite prompt: the user picks the name and means it.
    const QString chosen = current() ? current()(shown)
                                     : QFileDialog::getSaveFileName(parent, shown.title, shown.initialName, shown.filter,
                                                                    nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty())
        lastFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}

void FileDialogs::setHandler(Handler h) { current() = std::move(h); }

QStringList FileDialogs::openFileNames(const OpenRequest& r, QWidget* parent)
{
    const QStringList chosen = currentOpen() ? currentOpen()(r)
                                             : QFileDialog::getOpenFileNames(parent, r.title, lastFolder(), r.filter);
    if (!chosen.isEmpty())
        lastFolder() = QFileInfo(chosen.front()).absolutePath();
    return chosen;
}

void FileDialogs::setOpenHandler(OpenHandler h) { currentOpen() = std::move(h); }

OpenAnswer::OpenAnswer(QStringList n) : names(std::move(n)), saved_(currentOpen())
{
    currentOpen() = [this](const OpenRequest& r) {
        requests.push_back(r);
        return names;
    };
}

OpenAnswer::~OpenAnswer() { currentOpen() = saved_; }

SaveAnswer::SaveAnswer(QString n) : name(std::move(n)), saved_(current())
{
    current() = [this](const SaveRequest& r) {
        requests.push_back(r);
        return name;
    };
}

SaveAnswer::~SaveAnswer() { current() = saved_; }

} // namespace ui
