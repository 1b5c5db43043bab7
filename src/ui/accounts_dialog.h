#pragma once

#include <QDialog>
#include <functional>

class AccountDialog;
class AccountSet;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class Prompter;
class Registry;

// frmAccounts, "Accounts List": lists the accounts and opens the account
// dialog to add or edit one; deletes an account, taking its server off first.
class AccountsDialog final : public QDialog {
    Q_OBJECT
public:
    // Takes every server logged in with the named account off the registry.
    using SessionCloser = std::function<void(const QString& account)>;
    // The closer for a running registry: the account's slots are found
    // without regard to letter case.
    static SessionCloser sessionCloser(Registry& registry);

    AccountsDialog(AccountSet& accounts, SessionCloser closeSessions, Prompter& prompter, QWidget* parent = nullptr);

    // Refills the list; Edit and Delete wait for a click.
    void ListAccounts();

    void btnNew_Click();
    void btnEdit_Click();
    void btnDelete_Click();

    // How the account dialog is shown; modal by default. Tests replace it to
    // work the dialog without a nested event loop.
    void setAccountDialogRunner(std::function<void(AccountDialog&)> runner) { m_runDialog = std::move(runner); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidgetItem* selectedItem() const;
    void showVanished();
    void runAccountDialog(AccountDialog& dialog);

    AccountSet& m_accounts;
    SessionCloser m_closeSessions;
    Prompter& m_prompter;
    std::function<void(AccountDialog&)> m_runDialog;
    QListWidget* m_lstAccounts = nullptr;
    QPushButton* m_btnDelete = nullptr;
    QPushButton* m_btnOk = nullptr;
    QPushButton* m_btnNew = nullptr;
    QPushButton* m_btnEdit = nullptr;
};
