#include "ui/bans_dialog.h"

#include "database/ban_dates.h"
#include "ui/ban_dialog.h"
#include "ui/prompter.h"
#include "ui/shown_text.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

BansDialog::BansDialog(BanSet& bans, std::function<QDate()> today, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_bans(bans), m_today(std::move(today)), m_prompter(prompter) {
    setObjectName(QStringLiteral("frmBans"));
    setWindowTitle(QStringLiteral("TavRegistry [Ban List]"));
    setModal(false);

    m_cmdClose = new QPushButton(QStringLiteral("Close"), this);
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));
    m_lstIPs = new QListWidget(this);
    m_lstIPs->setObjectName(QStringLiteral("lstIPs"));
    m_lstIPs->setSortingEnabled(false);
    m_cmdAddBan = new QPushButton(QStringLiteral("Add Ban"), this);
    m_cmdAddBan->setObjectName(QStringLiteral("cmdAddBan"));
    m_cmdEditBan = new QPushButton(QStringLiteral("Edit Ban"), this);
    m_cmdEditBan->setObjectName(QStringLiteral("cmdEditBan"));
    m_cmdDelBan = new QPushButton(QStringLiteral("Delete Ban"), this);
    m_cmdDelBan->setObjectName(QStringLiteral("cmdDelBan"));
    m_cmdRefreshList = new QPushButton(QStringLiteral("Refresh List"), this);
    m_cmdRefreshList->setObjectName(QStringLiteral("cmdRefreshList"));
    for (QPushButton* b : {m_cmdClose, m_cmdAddBan, m_cmdEditBan, m_cmdDelBan, m_cmdRefreshList})
        b->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Banned IPs:"), this), 0, 0);
    grid->addWidget(m_lstIPs, 1, 0, 5, 1);
    grid->addWidget(m_cmdAddBan, 1, 1);
    grid->addWidget(m_cmdEditBan, 2, 1);
    grid->addWidget(m_cmdDelBan, 3, 1);
    grid->addWidget(m_cmdRefreshList, 4, 1);
    grid->addWidget(m_cmdClose, 6, 1);

    setTabOrder(m_cmdClose, m_lstIPs);
    setTabOrder(m_lstIPs, m_cmdAddBan);
    setTabOrder(m_cmdAddBan, m_cmdEditBan);
    setTabOrder(m_cmdEditBan, m_cmdDelBan);
    setTabOrder(m_cmdDelBan, m_cmdRefreshList);

    connect(m_cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(m_cmdAddBan, &QPushButton::clicked, this, &BansDialog::cmdAddBan_Click);
    connect(m_cmdEditBan, &QPushButton::clicked, this, &BansDialog::cmdEditBan_Click);
    connect(m_cmdDelBan, &QPushButton::clicked, this, &BansDialog::cmdDelBan_Click);
    connect(m_cmdRefreshList, &QPushButton::clicked, this, &BansDialog::RefreshBanList);

    ShownText::makeLabelsPlain(this);
    RefreshBanList();
}

BansDialog::~BansDialog() { unloadBanDialog(); }

void BansDialog::showList() {
    if (!isVisible())
        RefreshBanList();
    show();
    raise();
    activateWindow();
}

void BansDialog::say(const QString& text) { m_prompter.message(this, applicationTitle(), text, QMessageBox::Ok); }

void BansDialog::RefreshBanList() {
    m_lstIPs->clear();
    const QList<BanRecord> bans = m_bans.list();
    m_cmdEditBan->setEnabled(!bans.isEmpty());
    m_cmdDelBan->setEnabled(!bans.isEmpty());
    for (const BanRecord& ban : bans)
        m_lstIPs->addItem(BanDates::listLine(ban));
}

void BansDialog::unloadBanDialog() {
    if (m_banDialog)
        delete m_banDialog.data();
}

BanDialog* BansDialog::loadBanDialog() {
    unloadBanDialog();
    // A window of its own beside the list (not inside it), so that closing
    // the list leaves it open.
    m_banDialog = new BanDialog(m_bans, m_today(), m_prompter, parentWidget() ? parentWidget() : this);
    connect(m_banDialog, &BanDialog::listRefreshRequested, this, [this] {
        RefreshBanList();
        show();
    });
    return m_banDialog;
}

void BansDialog::cmdAddBan_Click() { loadBanDialog()->show(); }

std::optional<QString> BansDialog::selectedAddress() {
    const QListWidgetItem* item = m_lstIPs->currentItem();
    if (!item || !item->isSelected()) {
        say(QStringLiteral("Select a ban, then click edit."));
        return std::nullopt;
    }
    const auto address = BanDates::addressOfListLine(item->text());
    if (!address) {
        say(QStringLiteral("There was an error involving the list."));
        return std::nullopt;
    }
    if (m_bans.isEmpty()) {
        say(QStringLiteral("There are no bans in the database, refresh the list."));
        return std::nullopt;
    }
    return address;
}

void BansDialog::cmdEditBan_Click() {
    unloadBanDialog();
    const auto address = selectedAddress();
    if (!address)
        return;
    const auto ban = m_bans.findByIP(*address);
    if (!ban) {
        say(QStringLiteral("The IP was not found in the datebase, refresh the list."));
        return;
    }
    BanDialog* dialog = loadBanDialog();
    dialog->loadForEdit(*ban);
    dialog->show();
}

void BansDialog::cmdDelBan_Click() {
    const auto address = selectedAddress();
    if (!address)
        return;
    if (const auto ban = m_bans.findByIP(*address)) {
        m_bans.remove(ban->Number);
        RefreshBanList();
    }
}
