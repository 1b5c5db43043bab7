#pragma once

#include <QMessageBox>
#include <QString>
#include <memory>
#include <optional>

class QWidget;

// Every message box and input box of the windows goes through a prompter, so
// that tests can read the text and press a button.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Shows a message box; returns the button pressed.
    virtual QMessageBox::StandardButton message(QWidget* parent, const QString& title, const QString& text,
                                                QMessageBox::StandardButtons buttons) = 0;
    // Shows an input box; nothing when cancelled.
    virtual std::optional<QString> input(QWidget* parent, const QString& title, const QString& prompt) = 0;
};

// The real boxes.
class WidgetPrompter final : public Prompter {
public:
    // The box message() shows: its text is plain text, whatever it holds
    // (texts often carry a server's own words), and it is wide enough for
    // its title.
    static std::unique_ptr<QMessageBox> messageBox(QWidget* parent, const QString& title, const QString& text,
                                                   QMessageBox::StandardButtons buttons);

    QMessageBox::StandardButton message(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    std::optional<QString> input(QWidget* parent, const QString& title, const QString& prompt) override;
};

// The title every box of the registry carries unless a dialog says otherwise.
inline QString applicationTitle() { return QStringLiteral("The Tarvane Classic Server Registry"); }
