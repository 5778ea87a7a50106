#include "ui/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

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

QString FileDialogs::startingFolder()
{
    if (!lastFolder().isEmpty())
        return lastFolder();
    // Never the program's own folder, where a user cannot write (C:\Program Files\…).
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

QString FileDialogs::startingName(const QString& initialName)
{
    if (initialName.contains(QLatin1Char('/')) || initialName.contains(QLatin1Char('\\')))
        return initialName;
    return QDir(startingFolder()).filePath(initialName);
}

void FileDialogs::forgetLastFolder() { lastFolder().clear(); }

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
                                             : QFileDialog::getOpenFileNames(parent, r.title, startingFolder(), r.filter);
    if (!chosen.isEmpty())
        lastFolder() = QFileInfo(chosen.front()).absolutePath();
    return chosen;
}

void FileDialogs::setOpenHandler(OpenHandler h) { currentOpen() = std::move(h); }

SavedFiles& SavedFiles::instance()
{
    static SavedFiles notifier;
    return notifier;
}

void SavedFiles::tell(const QString& file) { emit instance().saved(file); }

QString SavedFiles::text(const QString& file)
{
    return QStringLiteral("已保存到 %1").arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
}

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
