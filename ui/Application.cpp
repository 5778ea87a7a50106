#include "ui/Application.h"

#include "ui/MessageBox.h"

#include <QLibraryInfo>
#include <QLocale>

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    chinese_ = qtTranslator_.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                                  QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (chinese_)
        installTranslator(&qtTranslator_);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showError(QString());
    }
    return false;
}

void TApplication::showError(const QString& text)
{
    ui::MessageBoxes::show(ui::Message{text, QApplication::applicationName(), QMessageBox::Critical});
}
