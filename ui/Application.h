#pragma once
// The application object: an exception escaping any handler or timer is shown
// once in a modal error box, and the program goes on.

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override;

    static void showError(const QString& text);
};
