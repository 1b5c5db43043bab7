#pragma once

#include "ui/prompter.h"

#include <QList>
#include <QStringList>

// A prompter for window tests: records every message box text and answers
// with the queued buttons (then with `defaultAnswer`).
class RecordingPrompter final : public Prompter {
public:
    QStringList messages;
    QList<QMessageBox::StandardButtons> buttons;
    QList<QMessageBox::StandardButton> answers;
    QMessageBox::StandardButton defaultAnswer = QMessageBox::Ok;

    QMessageBox::StandardButton message(QWidget*, const QString&, const QString& text,
                                        QMessageBox::StandardButtons shown) override {
        messages << text;
        buttons << shown;
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }
    std::optional<QString> input(QWidget*, const QString&, const QString&) override { return std::nullopt; }
};
