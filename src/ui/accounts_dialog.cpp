#include "ui/accounts_dialog.h"

#include "host/registry.h"
#include "platform/code_page.h"
#include "ui/account_dialog.h"
#include "ui/prompter.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

AccountsDialog::SessionCloser AccountsDialog::sessionCloser(Registry& registry) {
    return [&registry](const QString& name) {
        for (int slot : registry.clients().slotsOfAccount(CodePage::fromUnicode(name)))
            registry.closeClient(slot, CloseReason::Administrator);
    };
}

AccountsDialog::AccountsDialog(AccountSet& accounts, SessionCloser closeSessions, Prompter& prompter,
                               QWidget* parent)
    : QDialog(parent), m_accounts(accounts), m_closeSessions(std::move(closeSessions)), m_prompter(prompter) {
    setObjectName(QStringLiteral("frmAccounts"));
    setWindowTitle(QStringLiteral("Accounts List"));
    setModal(true);

    auto* grid = new QGridLayout(this);
    m_lstAccounts = new QListWidget(this);
    m_lstAccounts->setObjectName(QStringLiteral("lstAccounts"));
    m_lstAccounts->setSortingEnabled(false);
    m_btnDelete = new QPushButton(QStringLiteral("Delete"), this);
    m_btnDelete->setObjectName(QStringLiteral("btnDelete"));
    m_btnOk = new QPushButton(QStringLiteral("Close"), this);
    m_btnOk->setObjectName(QStringLiteral("btnOk"));
    m_btnNew = new QPushButton(QStringLiteral("Add New"), this);
    m_btnNew->setObjectName(QStringLiteral("btnNew"));
    m_btnEdit = new QPushButton(QStringLiteral("Edit"), this);
    m_btnEdit->setObjectName(QStringLiteral("btnEdit"));
    QFont bold = m_btnEdit->font();
    bold.setBold(true);
    m_btnEdit->setFont(bold);
    for (QPushButton* b : {m_btnDelete, m_btnOk, m_btnNew, m_btnEdit})
        b->setAutoDefault(false);

    grid->addWidget(m_lstAccounts, 0, 0, 1, 4);
    grid->addWidget(m_btnDelete, 1, 0);
    grid->addWidget(m_btnOk, 1, 1);
    grid->addWidget(m_btnNew, 1, 2);
    grid->addWidget(m_btnEdit, 1, 3);
    setTabOrder(m_lstAccounts, m_btnDelete);
    setTabOrder(m_btnDelete, m_btnOk);
    setTabOrder(m_btnOk, m_btnNew);
    setTabOrder(m_btnNew, m_btnEdit);

    m_runDialog = [](AccountDialog& dialog) { dialog.exec(); };

    // A line picked by click or by keyboard makes Edit and Delete available.
    connect(m_lstAccounts, &QListWidget::itemSelectionChanged, this, [this] {
        const bool picked = selectedItem() != nullptr;
        m_btnEdit->setEnabled(picked);
        m_btnDelete->setEnabled(picked);
    });
    m_lstAccounts->installEventFilter(this);
    connect(m_lstAccounts, &QListWidget::itemDoubleClicked, this, [this] {
        if (m_btnEdit->isEnabled())
            btnEdit_Click();
    });
    connect(m_btnNew, &QPushButton::clicked, this, &AccountsDialog::btnNew_Click);
    connect(m_btnEdit, &QPushButton::clicked, this, &AccountsDialog::btnEdit_Click);
    connect(m_btnDelete, &QPushButton::clicked, this, &AccountsDialog::btnDelete_Click);
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);

    ListAccounts();
}

QListWidgetItem* AccountsDialog::selectedItem() const {
    const QList<QListWidgetItem*> selected = m_lstAccounts->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// Return on a line opens it for editing, as a double click does.
bool AccountsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lstAccounts && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (m_btnEdit->isEnabled())
                btnEdit_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AccountsDialog::ListAccounts() {
    m_lstAccounts->clear();
    m_lstAccounts->addItems(m_accounts.names());
    m_btnDelete->setEnabled(false);
    m_btnEdit->setEnabled(false);
}

void AccountsDialog::runAccountDialog(AccountDialog& dialog) {
    m_runDialog(dialog);
    ListAccounts();
}

void AccountsDialog::btnNew_Click() {
    AccountDialog dialog(m_accounts, m_prompter, std::nullopt, this);
    runAccountDialog(dialog);
}

void AccountsDialog::showVanished() {
    m_prompter.message(this, applicationTitle(), QStringLiteral("The selected account no longer exists."),
                       QMessageBox::Ok);
    ListAccounts();
}

void AccountsDialog::btnEdit_Click() {
    const QListWidgetItem* item = selectedItem();
    if (!item)
        return;
    const auto record = m_accounts.find(item->text());
    if (!record) {
        showVanished();
        return;
    }
    AccountDialog dialog(m_accounts, m_prompter, record->bookmark, this);
    runAccountDialog(dialog);
}

void AccountsDialog::btnDelete_Click() {
    const QListWidgetItem* item = selectedItem();
    if (!item)
        return;
    const QString name = item->text();
    AccountSet& accounts = m_accounts;
    const auto record = accounts.find(name);
    if (!record) {
        showVanished();
        return;
    }
    // Every server logged in with the account goes off the registry before the record goes.
    m_closeSessions(name);
    if (!accounts.removeByBookmark(record->bookmark, record->User)) {
        showVanished();
        return;
    }
    delete m_lstAccounts->takeItem(m_lstAccounts->row(item));
    m_btnDelete->setEnabled(false);
    m_btnEdit->setEnabled(false);
}
