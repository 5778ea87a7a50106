#include "ui/Application.h"

#include "ui/MessageBox.h"

#include <exception>

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
