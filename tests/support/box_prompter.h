#pragma once

#include "ui/prompter.h"

#include <QList>
#include <QStringList>
#include <deque>

// A prompter for tests: records every box and answers from a queue (the
// first offered button when the queue is empty).
class BoxPrompter final : public Prompter {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    QMessageBox::StandardButton message(QWidget*, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons) override {
        boxes.append({title, text, buttons});
        if (!answers.empty()) {
            const auto a = answers.front();
            answers.pop_front();
            return a;
        }
        for (int bit = 0; bit < 32; ++bit)
            if (buttons & QMessageBox::StandardButton(1u << bit))
                return QMessageBox::StandardButton(1u << bit);
        return QMessageBox::NoButton;
    }
    std::optional<QString> input(QWidget*, const QString& title, const QString& prompt) override {
        boxes.append({title, prompt, {}});
        return std::nullopt;
    }

    QStringList texts() const {
        QStringList t;
        for (const Box& b : boxes)
            t << b.text;
        return t;
    }
    void clear() { boxes.clear(); }

    QList<Box> boxes;
    std::deque<QMessageBox::StandardButton> answers;
};
