#pragma once
// The one way the program shows a message box. Tests install a handler that
// records the message instead of waiting for a person to press OK.

#include <QMessageBox>
#include <QString>
#include <functional>
#include <vector>

class QWidget;

namespace ui {

inline const QString kMessageCaption = QStringLiteral("zo(ro)duderizavov");

struct Message {
    QString text;
    QString caption = kMessageCaption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString details = {};   // behind the box's "details" button; empty: none
};

class MessageBoxes {
public:
    using Handler = std::function<void(const Message&)>;

    // Modal box with an OK button; goes to the handler instead when one is set.
    static void show(const Message& m, QWidget* parent = nullptr);
    static void show(const QString& text, QWidget* parent = nullptr) { show(Message{text}, parent); }

    static void setHandler(Handler h);   // empty handler: real boxes again
    static Handler handler();
};

// Records every message while alive; restores the previous handler afterwards.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<Message> messages;
    QStringList texts() const;

private:
    MessageBoxes::Handler saved_;
};

} // namespace ui
