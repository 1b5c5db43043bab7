#pragma once

#include "database/ban_set.h"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class Prompter;

// frmBan: adds a ban ("TavRegistry [Add Ban]") or edits one ("TavRegistry
// [Edit Ban]"); the mode is the caption. Not modal.
class BanDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNameLimit = 15;
    static constexpr int kIPLimit = 15;
    static constexpr int kReasonLimit = 255;

    // `today` goes into the date box of a new ban.
    BanDialog(BanSet& bans, const QDate& today, Prompter& prompter, QWidget* parent = nullptr);

    // Opens the dialog on an existing ban: edit caption, name fixed, fields filled.
    void loadForEdit(const BanRecord& ban);
    bool isAddMode() const;

    // Returns true when a ban was stored. When the dialog is done
    // (stored, or a vanished ban not re-created) it asks for the list to be
    // refreshed, hides and deletes itself.
    bool cmdOK_Click();
    // Cancel, Escape and the window's close button: unloaded, nothing stored.
    void reject() override;

signals:
    void listRefreshRequested();

private:
    void say(const QString& text);
    bool askToCreateVanished();
    std::optional<QDate> unbanDateFromBox(const std::optional<QDate>& previous);
    std::optional<QString> reasonFromBox() const;
    void finish();

    BanSet& m_bans;
    Prompter& m_prompter;
    QLineEdit* m_txtName = nullptr;
    QLineEdit* m_txtIP = nullptr;
    QPlainTextEdit* m_txtReason = nullptr;
    QLineEdit* m_txtUnbanDate = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};
