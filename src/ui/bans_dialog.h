#pragma once

#include <QDialog>
#include <QPointer>

#include "ui/ban_dialog.h"
class QListWidget;
class QPushButton;
class Prompter;
class Registry;

// frmBans, "TavRegistry [Ban List]": lists the bans by address and opens the
// ban dialog to add or edit one. Not modal.
class BansDialog final : public QDialog {
    Q_OBJECT
public:
    BansDialog(Registry& registry, Prompter& prompter, QWidget* parent = nullptr);
    ~BansDialog() override;

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

    Registry& m_registry;
    Prompter& m_prompter;
    QPointer<BanDialog> m_banDialog;
    QPushButton* m_cmdClose = nullptr;
    QListWidget* m_lstIPs = nullptr;
    QPushButton* m_cmdAddBan = nullptr;
    QPushButton* m_cmdEditBan = nullptr;
    QPushButton* m_cmdDelBan = nullptr;
    QPushButton* m_cmdRefreshList = nullptr;
};
