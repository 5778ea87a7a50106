#pragma once
// The one way the program asks the user to pick one of a few items (a relay
// of the register, say). Tests install an answer instead of a modal dialog.

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QWidget;

namespace ui {

struct ChoiceRequest {
    QString title;
    QString label;
    QStringList items;
};

class Choices {
public:
    using Handler = std::function<int(const ChoiceRequest&)>;
    // The index of the item chosen, or -1 when the user cancelled. A request
    // without items is a question the label asks: 0 for "确定", -1 for "取消".
    static int choose(const ChoiceRequest& r, QWidget* parent = nullptr);
    static void setHandler(Handler h);
};

// Answers every choice with the item at the given index while alive (-1: cancel).
class ChoiceAnswer {
public:
    explicit ChoiceAnswer(int index);
    ~ChoiceAnswer();
    ChoiceAnswer(const ChoiceAnswer&) = delete;
    ChoiceAnswer& operator=(const ChoiceAnswer&) = delete;

    int index;
    std::vector<ChoiceRequest> requests;

private:
    Choices::Handler saved_;
};

} // namespace ui
