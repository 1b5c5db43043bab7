#pragma once

#include <QDialog>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class AccountSet;
class Prompter;

// frmAccount, "Add Server Account": adds an account, or edits the one with
// the given bookmark (its name then cannot change).
class AccountDialog final : public QDialog {
    Q_OBJECT
public:
    AccountDialog(AccountSet& accounts, Prompter& prompter, std::optional<qint64> editBookmark,
                  QWidget* parent = nullptr);

    bool isEditMode() const { return m_editBookmark.has_value(); }
    // False when the account to edit no longer exists (the dialog is then empty).
    bool loadedRecord() const { return m_loaded; }

    // Checks, stores, closes. Returns true when something was stored.
    bool btnOk_Click();

    static QString ruleMessage();

private:
    void say(const QString& text);

    AccountSet& m_accounts;
    Prompter& m_prompter;
    std::optional<qint64> m_editBookmark;
    bool m_loaded = false;

    QLineEdit* m_txtUser = nullptr;
    QLineEdit* m_txtPassword1 = nullptr;
    QLineEdit* m_txtPassword2 = nullptr;
    QLineEdit* m_txtName = nullptr;
    QPlainTextEdit* m_txtDescription = nullptr;
    QLineEdit* m_txtUpdateURL = nullptr;
    QCheckBox* m_chkOfficial = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnOk = nullptr;
};
