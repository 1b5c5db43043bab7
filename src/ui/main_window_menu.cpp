#include "host/registry.h"
#include "ui/accounts_dialog.h"
#include "ui/bans_dialog.h"
#include "ui/options_dialog.h"
#include "ui/info_window.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>

void MainWindow::buildMenus() {
    auto addItem = [this](QMenu* menu, const char* name, const QString& caption, void (MainWindow::*slot)()) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };

    m_mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    m_mnuFile->setObjectName(QStringLiteral("mnuFile"));
    addItem(m_mnuFile, "mnuOptions", QStringLiteral("&Options"), &MainWindow::mnuOptions_Click);
    addItem(m_mnuFile, "mnuServerMessage", QStringLiteral("&Server Message"), &MainWindow::mnuServerMessage_Click);
    addItem(m_mnuFile, "mnuFileExit", QStringLiteral("E&xit"), &MainWindow::mnuFileExit_Click);

    QMenu* accounts = menuBar()->addMenu(QStringLiteral("&Accounts"));
    accounts->setObjectName(QStringLiteral("mnuAccounts"));
    m_mnuAccountsNew =
        addItem(accounts, "mnuAccountsNew", QStringLiteral("&Allow New Accounts"), &MainWindow::mnuAccountsNew_Click);
    m_mnuAccountsNew->setCheckable(true);
    m_mnuAccountsNew->setChecked(m_registry.newAccountsAllowed());
    addItem(accounts, "mnuAccountsEdit", QStringLiteral("&Edit"), &MainWindow::mnuAccountsEdit_Click);
    // The check mark follows the switch wherever it is changed (operators too).
    connect(&m_registry, &Registry::newAccountsAllowedChanged, m_mnuAccountsNew, &QAction::setChecked);

    // Never on the menu bar: the server list's pop-up menu.
    m_mnuServer = new QMenu(QStringLiteral("&Server"), this);
    m_mnuServer->setObjectName(QStringLiteral("mnuServer"));
    addItem(m_mnuServer, "mnuServerAddGod", QStringLiteral("&Add God"), &MainWindow::mnuServerAddGod_Click);
    addItem(m_mnuServer, "mnuSendMessage", QStringLiteral("&Send Message"), &MainWindow::mnuSendMessage_Click);
    addItem(m_mnuServer, "mnuViewInformation", QStringLiteral("&View Information"),
            &MainWindow::mnuViewInformation_Click);
    addItem(m_mnuServer, "mnuServerDisconnect", QStringLiteral("&Disconnect"), &MainWindow::mnuServerDisconnect_Click);

    QMenu* bans = menuBar()->addMenu(QStringLiteral("&Bans"));
    bans->setObjectName(QStringLiteral("mnuBans"));
    addItem(bans, "mnuEditBanList", QStringLiteral("&Edit Ban List"), &MainWindow::mnuEditBanList_Click);

    QMenu* views = menuBar()->addMenu(QStringLiteral("&Views"));
    views->setObjectName(QStringLiteral("mnuViews"));
    addItem(views, "mnuServerView", QStringLiteral("&Server View"), &MainWindow::mnuServerView_Click);
    addItem(views, "mnuEventView", QStringLiteral("&Event View"), &MainWindow::mnuEventView_Click);
}

void MainWindow::mnuOptions_Click() {
    OptionsDialog::showOrRaise(m_frmOptions, m_registry.settings(), m_registry.serviceManager(), m_prompter, this);
}

void MainWindow::mnuServerMessage_Click() {
    if (!m_frmMessage)
        m_frmMessage = new MessageDialog(m_registry, m_prompter, this);
    m_frmMessage->showDialog();
}

void MainWindow::mnuFileExit_Click() { close(); }

void MainWindow::mnuAccountsNew_Click() {
    // Only the live switch changes: no message, no event line, no file write.
    m_registry.setNewAccountsAllowed(!m_registry.newAccountsAllowed());
    m_mnuAccountsNew->setChecked(m_registry.newAccountsAllowed());
}

void MainWindow::mnuAccountsEdit_Click() {
    // Modal: the main window waits, sockets and timers keep running.
    AccountsDialog accounts(m_registry.database().accounts(), AccountsDialog::sessionCloser(m_registry), m_prompter,
                            this);
    accounts.exec();
}

void MainWindow::mnuEditBanList_Click() {
    // The list lives until shutdown: closing it must not take an open ban
    // dialog with it.
    if (!m_frmBans) {
        Registry& registry = m_registry;
        m_frmBans = new BansDialog(registry.database().bans(), [&registry] { return registry.today(); }, m_prompter,
                                   this);
    }
    m_frmBans->showList();
}

void MainWindow::setServerViewVisible(bool visible) {
    m_serverViewShown = visible;
    for (QWidget* w : {static_cast<QWidget*>(m_lstServers), static_cast<QWidget*>(m_lblServers),
                       static_cast<QWidget*>(m_fraInfo), static_cast<QWidget*>(m_lblCount),
                       static_cast<QWidget*>(m_lblStatus)})
        w->setVisible(visible);
    m_lstOutput->setVisible(!visible);
    m_txtInput->setVisible(!visible);
}

void MainWindow::mnuServerView_Click() { setServerViewVisible(true); }

void MainWindow::mnuEventView_Click() { setServerViewVisible(false); }

void MainWindow::mnuSendMessage_Click() {
    const QString selected = selectedServerText();
    if (selected.isEmpty())
        return;
    if (!m_frmMessage)
        m_frmMessage = new MessageDialog(m_registry, m_prompter, this);
    m_frmMessage->showDialog();
    m_frmMessage->selectRecipient(selected);
}

BansDialog* MainWindow::bansDialog() const { return m_frmBans; }
