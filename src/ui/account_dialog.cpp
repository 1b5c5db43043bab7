#include "ui/account_dialog.h"

#include "database/account_rules.h"
#include "database/account_set.h"
#include "ui/prompter.h"
#include "ui/shown_text.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

namespace {

constexpr int kDescriptionLimit = 50;

QLabel* label(const QString& objectName, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(objectName);
    return l;
}

QLineEdit* lineEdit(const QString& objectName, int maxLength, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(objectName);
    e->setMaxLength(maxLength);
    return e;
}

} // namespace

AccountDialog::AccountDialog(AccountSet& accounts, Prompter& prompter, std::optional<qint64> editBookmark,
                             QWidget* parent)
    : QDialog(parent), m_accounts(accounts), m_prompter(prompter), m_editBookmark(editBookmark) {
    setObjectName(QStringLiteral("frmAccount"));
    setWindowTitle(QStringLiteral("Add Server Account"));
    setModal(true);

    auto* grid = new QGridLayout(this);
    m_txtUser = lineEdit(QStringLiteral("txtUser"), 15, this);
    m_txtPassword1 = lineEdit(QStringLiteral("txtPassword1"), 15, this);
    m_txtPassword2 = lineEdit(QStringLiteral("txtPassword2"), 15, this);
    for (QLineEdit* box : {m_txtPassword1, m_txtPassword2}) {
        box->setEchoMode(QLineEdit::Password);
        // One "*" per character, not the style's bullet.
        box->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    m_txtName = lineEdit(QStringLiteral("txtName"), 50, this);
    m_txtDescription = new QPlainTextEdit(this);
    m_txtDescription->setObjectName(QStringLiteral("txtDescription"));
    m_txtDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtDescription->setTabChangesFocus(true);
    // Room for four lines: a description is at most 50 characters.
    m_txtDescription->setFixedHeight(m_txtDescription->fontMetrics().lineSpacing() * 4 +
                                     2 * (m_txtDescription->frameWidth() +
                                          int(m_txtDescription->document()->documentMargin())));
    m_txtUpdateURL = lineEdit(QStringLiteral("txtUpdateURL"), 255, this);
    m_chkOfficial = new QCheckBox(QStringLiteral("Official"), this);
    m_chkOfficial->setObjectName(QStringLiteral("chkOfficial"));
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnOk = new QPushButton(QStringLiteral("Ok"), this);
    m_btnOk->setObjectName(QStringLiteral("btnOk"));
    // Return is Ok and Escape is Cancel, as in every dialog.
    m_btnOk->setDefault(true);
    m_btnCancel->setAutoDefault(false);

    grid->addWidget(label(QStringLiteral("lblUser"), QStringLiteral("User:"), this), 0, 0);
    grid->addWidget(m_txtUser, 0, 1);
    grid->addWidget(label(QStringLiteral("lblPassword1"), QStringLiteral("Password:"), this), 1, 0);
    grid->addWidget(m_txtPassword1, 1, 1);
    grid->addWidget(label(QStringLiteral("lblPassword2"), QStringLiteral("Password Again:"), this), 2, 0);
    grid->addWidget(m_txtPassword2, 2, 1);
    grid->addWidget(label(QStringLiteral("lblName"), QStringLiteral("Name:"), this), 3, 0);
    grid->addWidget(m_txtName, 3, 1);
    grid->addWidget(label(QStringLiteral("lblDescription"), QStringLiteral("Description:"), this), 4, 0,
                    Qt::AlignTop);
    grid->addWidget(m_txtDescription, 4, 1);
    grid->addWidget(label(QStringLiteral("lblUpdateURL"), QStringLiteral("Update URL:"), this), 5, 0);
    grid->addWidget(m_txtUpdateURL, 5, 1);
    grid->addWidget(m_chkOfficial, 6, 1);
    // Extra height goes between the fields and the buttons, which stay at the bottom.
    grid->setRowStretch(7, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnCancel);
    buttons->addWidget(m_btnOk);
    grid->addLayout(buttons, 8, 0, 1, 2);

    setTabOrder(m_txtUser, m_txtPassword1);
    setTabOrder(m_txtPassword1, m_txtPassword2);
    setTabOrder(m_txtPassword2, m_txtName);
    setTabOrder(m_txtName, m_txtDescription);
    setTabOrder(m_txtDescription, m_txtUpdateURL);
    setTabOrder(m_txtUpdateURL, m_chkOfficial);
    setTabOrder(m_chkOfficial, m_btnCancel);
    setTabOrder(m_btnCancel, m_btnOk);
    ShownText::makeLabelsPlain(this);

    // The description box takes at most 50 characters, as typed or pasted.
    connect(m_txtDescription, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_txtDescription->toPlainText();
        if (text.size() > kDescriptionLimit) {
            m_txtDescription->setPlainText(text.left(kDescriptionLimit));
            m_txtDescription->moveCursor(QTextCursor::End);
        }
    });
    connect(m_btnOk, &QPushButton::clicked, this, &AccountDialog::btnOk_Click);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    if (m_editBookmark) {
        m_txtUser->setEnabled(false);
        QPalette grey = m_txtUser->palette();
        grey.setColor(QPalette::Disabled, QPalette::Base, QColor(192, 192, 192));
        grey.setColor(QPalette::Base, QColor(192, 192, 192));
        // The fixed name must stay readable on the grey.
        grey.setColor(QPalette::Disabled, QPalette::Text, grey.color(QPalette::Active, QPalette::Text));
        m_txtUser->setPalette(grey);
        if (const auto record = m_accounts.findByBookmark(*m_editBookmark)) {
            m_loaded = true;
            m_txtUser->setText(record->User);
            m_txtPassword1->setText(record->Password);
            m_txtPassword2->setText(record->Password);
            m_txtName->setText(record->Name);
            m_txtDescription->setPlainText(record->Description);
            m_txtUpdateURL->setText(record->UpdateURL);
            m_chkOfficial->setChecked(record->Official.value_or(0) != 0);
        }
    }
}

QString AccountDialog::ruleMessage() {
    return QStringLiteral("User name and password must be between 3 and 15 characters long, must start with a "
                          "letter, and may only contain letters, numbers, and the underscore character.");
}

void AccountDialog::say(const QString& text) {
    m_prompter.message(this, applicationTitle(), text, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
}

bool AccountDialog::btnOk_Click() {
    const QString user = m_txtUser->text();
    const QString password = m_txtPassword1->text();
    if (!isAcceptableAccountName(user) || !isAcceptableAccountName(password)) {
        say(ruleMessage());
        return false;
    }
    if (password.toUpper() != m_txtPassword2->text().toUpper()) {
        say(QStringLiteral("The two passwords entered do not match!"));
        return false;
    }

    AccountSet& accounts = m_accounts;
    AccountRecord record;
    record.User = user;
    record.Password = password;
    record.Name = m_txtName->text();
    record.Description = m_txtDescription->toPlainText();
    record.UpdateURL = m_txtUpdateURL->text();
    record.Official = m_chkOfficial->isChecked() ? 1 : 0;

    QString error;
    if (m_editBookmark) {
        record.bookmark = *m_editBookmark;
        // The store names the account shown: one deleted meanwhile (by an
        // operator or a local program) is never replaced by another.
        if (!accounts.update(record, &error)) {
            const auto current = accounts.findByBookmark(record.bookmark);
            if (!current || current->User.compare(user, Qt::CaseInsensitive) != 0) {
                m_prompter.message(this, applicationTitle(), QStringLiteral("The selected account no longer exists."),
                                   QMessageBox::Ok);
                reject();
                return false;
            }
            say(QStringLiteral("The account could not be stored: ") + error);
            return false;
        }
    } else {
        if (accounts.find(user)) {
            say(QStringLiteral("An account by that name already exists!"));
            return false;
        }
        if (accounts.add(record, &error) == 0) {
            say(QStringLiteral("The account could not be stored: ") + error);
            return false;
        }
    }
    accept();
    return true;
}
