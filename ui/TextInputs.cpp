#include "ui/TextInputs.h"

#include <QInputDialog>
#include <QLineEdit>

namespace ui {

namespace {
TextInputs::Handler& current()
{
    static TextInputs::Handler h;
    return h;
}
} // namespace

std::optional<QString> TextInputs::ask(const TextRequest& r, QWidget* parent)
{
    if (current())
        return current()(r);
    QInputDialog dialog(parent);
    dialog.setWindowTitle(r.title);
    dialog.setLabelText(r.label);
    dialog.setTextValue(r.initial);
    if (r.secret)
        dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

void TextInputs::setHandler(Handler h) { current() = std::move(h); }

TextAnswer::TextAnswer(std::optional<QString> t) : text(std::move(t)), saved_(current())
{
    current() = [this](const TextRequest& r) {
        requests.push_back(r);
        return text;
    };
}

TextAnswer::~TextAnswer() { current() = saved_; }

} // namespace ui
