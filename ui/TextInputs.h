#pragma once
// The one way the program asks the user for a line of text (a name, a
// reason). Tests install an answer instead of a modal dialog.

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace ui {

struct TextRequest {
    QString title;
    QString label;
    QString initial;   // the text the field starts with
    bool secret = false;   // a password: masked as typed
};

class TextInputs {
public:
    using Handler = std::function<std::optional<QString>(const TextRequest&)>;
    // The text as typed, or nullopt when the user cancelled.
    static std::optional<QString> ask(const TextRequest& r, QWidget* parent = nullptr);
    static void setHandler(Handler h);   // empty handler: the real dialog again
};

// Answers every question with the given text while alive (nullopt: cancel).
class TextAnswer {
public:
    explicit TextAnswer(std::optional<QString> text);
    ~TextAnswer();
    TextAnswer(const TextAnswer&) = delete;
    TextAnswer& operator=(const TextAnswer&) = delete;

    std::optional<QString> text;
    std::vector<TextRequest> requests;

private:
    TextInputs::Handler saved_;
};

} // namespace ui
