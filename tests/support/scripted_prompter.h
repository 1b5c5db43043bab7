#pragma once

#include "ui/prompter.h"

#include <QList>
#include <QStringList>

// A prompter that records every box and answers from a script. When the script
// runs dry, message boxes answer with their first (or only) button and input
// boxes are cancelled.
class ScriptedPrompter final : public Prompter {
public:
    struct Shown {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    QList<Shown> shown;
    QList<QMessageBox::StandardButton> answers;
    QList<std::optional<QString>> inputs;

    QMessageBox::StandardButton message(QWidget*, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    std::optional<QString> input(QWidget*, const QString& title, const QString& prompt) override;

    QStringList texts() const;
    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }
};
