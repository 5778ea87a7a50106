#pragma once
// The application object: an exception escaping any handler or timer is shown
// once in a modal error box, and the program goes on. The whole interface is
// Chinese, so Qt's own dialogs (save, print, preview) are loaded in Chinese
// too, whatever the system's language.

#include <QApplication>
#include <QTranslator>

// Qt's own warnings ("QStandardPaths: XDG_RUNTIME_DIR not set…", font and
// platform notes) are for developers, not for the user's standard error: they
// are dropped unless SF6_QT_MESSAGES is set. A fatal one is still said. Called
// before the application object is made, by both programs.
void keepQtMessagesOffStderr();

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    static void showError(const QString& text);
    // False when Qt's Simplified Chinese translations are not installed.
    bool chineseDialogs() const { return chinese_; }

private:
    QTranslator qtTranslator_;
    bool chinese_ = false;
};
