#include "ui/accounts_dialog.h"

#include "host/registry.h"
#include "platform/code_page.h"
#include "ui/account_dialog.h"
#include "ui/prompter.h"

#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>

AccountsDialog::AccountsDialog(Registry& registry, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_registry(registry), m_prompter(prompter) {
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

    connect(m_lstAccounts, &QListWidget::itemClicked, this, [this] {
        m_btnEdit->setEnabled(true);
        m_btnDelete->setEnabled(true);
    });
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

void AccountsDialog::ListAccounts() {
    m_lstAccounts->clear();
    m_lstAccounts->addItems(m_registry.database().accounts().names());
    m_btnDelete->setEnabled(false);
    m_btnEdit->setEnabled(false);
}

void AccountsDialog::runAccountDialog(AccountDialog& dialog) {
    m_runDialog(dialog);
    ListAccounts();
}

void AccountsDialog::btnNew_Click() {
    AccountDialog dialog(m_registry, m_prompter, std::nullopt, this);
    runAccountDialog(dialog);
}

void AccountsDialog::showVanished() {
    m_prompter.message(this, applicationTitle(), QStringLiteral("The selected account no longer exists."),
                       QMessageBox::Ok);
    ListAccounts();
}

void AccountsDialog::btnEdit_Click() {
    const QListWidgetItem* item = m_lstAccounts->currentItem();
    if (!item)
        return;
    const auto record = m_registry.database().accounts().find(item->text());
    if (!record) {
        showVanished();
        return;
    }
    AccountDialog dialog(m_registry, m_prompter, record->bookmark, this);
    runAccountDialog(dialog);
}

void AccountsDialog::btnDelete_Click() {
    const QListWidgetItem* item = m_lstAccounts->currentItem();
    if (!item)
        return;
    const QString name = item->text();
    AccountSet& accounts = m_registry.database().accounts();
    const auto record = accounts.find(name);
    if (!record) {
        showVanished();
        return;
    }
    // Every server logged in with the account goes off the registry before the record goes.
    const QByteArray wanted = CodePage::upper(CodePage::fromUnicode(name));
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& s = m_registry.slot(i);
        if (s.InUse && CodePage::upper(s.ServerId) == wanted)
            m_registry.closeClient(i);
    }
    if (!accounts.removeByBookmark(record->bookmark, record->User)) {
        showVanished();
        return;
    }
    delete m_lstAccounts->takeItem(m_lstAccounts->row(item));
    m_btnDelete->setEnabled(false);
    m_btnEdit->setEnabled(false);
}
