#pragma once
// The one way the program asks for a file name to save under. Tests install a
// handler that answers without a modal dialog. Every save dialog starts in the
// folder last used, and before any in the user's Documents.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QWidget;

namespace ui {

struct SaveRequest {
    QString title;
    QString initialName;   // proposed file name (may include a folder)
    QString filter;        // e.g. "EXCEL文件(*.xlsx)"
};

struct OpenRequest {
    QString title;
    QString filter;        // e.g. "文本 (*.tsv *.txt);;JSON (*.json)"
};

class FileDialogs {
public:
    using Handler = std::function<QString(const SaveRequest&)>;
    using OpenHandler = std::function<QStringList(const OpenRequest&)>;

    // Returns the chosen name, or an empty text when the user cancelled.
    static QString saveFileName(const SaveRequest& r, QWidget* parent = nullptr);
    // Where the dialog starts: a proposed name without a folder is put in the
    // folder of the last name chosen in any file dialog (kept until exit),
    // before the first in the user's Documents (the home folder without one).
    static QString startingName(const QString& initialName);
    static QString startingFolder();
    static void forgetLastFolder();   // as at start-up
    static void setHandler(Handler h);   // empty handler: the real dialog again
    // Existing files to read, several at once; empty when the user cancelled.
    // Starts where a save dialog would.
    static QStringList openFileNames(const OpenRequest& r, QWidget* parent = nullptr);
    static void setOpenHandler(OpenHandler h);
};

// A file the user chose has been written: the main window says where, in its
// status bar. Every command that saves a file tells it here.
class SavedFiles : public QObject {
    Q_OBJECT
public:
    static SavedFiles& instance();
    static void tell(const QString& file);
    // "已保存到 D:\报告\2012-05-18_7.pdf": the whole path, as the system writes it.
    static QString text(const QString& file);

signals:
    void saved(const QString& file);
};

// Answers every open dialog with the given names while alive (empty = cancel).
class OpenAnswer {
public:
    explicit OpenAnswer(QStringList names);
    ~OpenAnswer();
    OpenAnswer(const OpenAnswer&) = delete;
    OpenAnswer& operator=(const OpenAnswer&) = delete;

    QStringList names;
    std::vector<OpenRequest> requests;

private:
    FileDialogs::OpenHandler saved_;
};

// Answers every save dialog with the given name while alive (empty = cancel).
class SaveAnswer {
public:
    explicit SaveAnswer(QString name);
    ~SaveAnswer();
    SaveAnswer(const SaveAnswer&) = delete;
    SaveAnswer& operator=(const SaveAnswer&) = delete;

    QString name;
    std::vector<SaveRequest> requests;   // what the program asked, in order

private:
    FileDialogs::Handler saved_;
};

} // namespace ui
