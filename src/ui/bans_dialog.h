#pragma once

#include "ui/ban_dialog.h"

#include <QDate>
#include <QDialog>
#include <QPointer>

#include <functional>

class QListWidget;
class QPushButton;
class Prompter;

// frmBans, "TavRegistry [Ban List]": lists the bans by address and opens the
// ban dialog to add or edit one. Not modal. Closing the list only hides it:
// a ban dialog opened from it stays open with what was typed in it, and the
// next showing starts from a fresh list.
class BansDialog final : public QDialog {
    Q_OBJECT
public:
    // `today` gives the date a new ban's date box starts with.
    BansDialog(BanSet& bans, std::function<QDate()> today, Prompter& prompter, QWidget* parent = nullptr);
    // Shutdown: the ban dialog goes with the list.
    ~BansDialog() override;

    // Shows the list; a list that was closed is refilled first, as a fresh one would be.
    void showList();

    void RefreshBanList();
    void cmdAddBan_Click();
    void cmdEditBan_Click();
    void cmdDelBan_Click();

    // The open ban dialog, if any (there is at most one).
    BanDialog* banDialog() const { return m_banDialog; }

private:
    void say(const QString& text);
    void unloadBanDialog();
    BanDialog* loadBanDialog();
    std::optional<QString> selectedAddress();

    BanSet& m_bans;
    std::function<QDate()> m_today;
    Prompter& m_prompter;
    QPointer<BanDialog> m_banDialog;
    QPushButton* m_cmdClose = nullptr;
    QListWidget* m_lstIPs = nullptr;
    QPushButton* m_cmdAddBan = nullptr;
    QPushButton* m_cmdEditBan = nullptr;
    QPushButton* m_cmdDelBan = nullptr;
    QPushButton* m_cmdRefreshList = nullptr;
};
