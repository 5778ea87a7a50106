#include "ui/Application.h"

#include "base/Console.h"
#include "base/Platform.h"
#include "ui/MessageBox.h"

#include <QLibraryInfo>
#include <QLocale>

#include <cstdio>
#include <exception>

namespace {
constexpr char kQtMessagesVariable[] = "SF6_QT_MESSAGES";

void developerChannel(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    static const bool shown = qEnvironmentVariableIsSet(kQtMessagesVariable);
    if (shown || type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", sf6::consoleBytes(qFormatLogMessage(type, context, text)).constData());
        std::fflush(stderr);
    }
}
} // namespace

void keepQtMessagesOffStderr() { qInstallMessageHandler(developerChannel); }

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
        showError(sf6::platform::exceptionText(e.what()));
    } catch (...) {
        showError(QString());
    }
    return false;
}

void TApplication::showError(const QString& text)
{
    ui::MessageBoxes::show(ui::Message{text, QApplication::applicationName(), QMessageBox::Critical});
}
