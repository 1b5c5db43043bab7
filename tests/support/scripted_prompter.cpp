#include "support/scripted_prompter.h"

QMessageBox::StandardButton ScriptedPrompter::message(QWidget*, const QString& title, const QString& text,
                                                      QMessageBox::StandardButtons buttons) {
    shown.append({title, text, buttons});
    if (!answers.isEmpty())
        return answers.takeFirst();
    for (int b = QMessageBox::FirstButton; b <= QMessageBox::LastButton; b <<= 1)
        if (buttons & b)
            return static_cast<QMessageBox::StandardButton>(b);
    return QMessageBox::Ok;
}

std::optional<QString> ScriptedPrompter::input(QWidget*, const QString& title, const QString& prompt) {
    shown.append({title, prompt, QMessageBox::NoButton});
    if (!inputs.isEmpty())
        return inputs.takeFirst();
    return std::nullopt;
}

QStringList ScriptedPrompter::texts() const {
    QStringList out;
    for (const Shown& s : shown)
        out.append(s.text);
    return out;
}
