#pragma once

#include "ui/prompter.h"

#include <QStringList>

// Answers every box at once so that no window ever waits for a person: the
// first offered button, and "cancelled" for input boxes. Remembers the texts
// so that an unexpected box can be reported.
class SilentPrompter final : public Prompter {
public:
    QMessageBox::StandardButton message(QWidget*, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons) override {
        shown.append(title + QStringLiteral(": ") + text);
        for (int bit = 0; bit < 32; ++bit)
            if (buttons & QMessageBox::StandardButton(1u << bit))
                return QMessageBox::StandardButton(1u << bit);
        return QMessageBox::NoButton;
    }
    std::optional<QString> input(QWidget*, const QString& title, const QString& prompt) override {
        shown.append(title + QStringLiteral(": ") + prompt);
        return std::nullopt;
    }

    QStringList shown;
};
