#include "ui/ban_dialog.h"

#include "database/ban_dates.h"
#include "ui/prompter.h"
#include "ui/shown_text.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const QString kAddCaption = QStringLiteral("TavRegistry [Add Ban]");
const QString kEditCaption = QStringLiteral("TavRegistry [Edit Ban]");
} // namespace

BanDialog::BanDialog(BanSet& bans, const QDate& today, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_bans(bans), m_prompter(prompter) {
    setObjectName(QStringLiteral("frmBan"));
    setWindowTitle(kAddCaption);
    setModal(false);

    // No length limits on the boxes: over-long input is refused with a message at OK.
    m_txtName = new QLineEdit(this);
    m_txtName->setObjectName(QStringLiteral("txtName"));
    m_txtIP = new QLineEdit(this);
    m_txtIP->setObjectName(QStringLiteral("txtIP"));
    m_txtReason = new QPlainTextEdit(this);
    m_txtReason->setObjectName(QStringLiteral("txtReason"));
    m_txtReason->setTabChangesFocus(true);
    m_txtUnbanDate = new QLineEdit(this);
    m_txtUnbanDate->setObjectName(QStringLiteral("txtUnbanDate"));
    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    // Return is OK and Escape is Cancel, as in every dialog.
    m_cmdOK->setDefault(true);
    m_cmdCancel->setAutoDefault(false);
    auto* hint = new QLabel(QStringLiteral("mm/dd/yy"), this);
    hint->setObjectName(QStringLiteral("lblDateHint"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Name:"), this), 0, 0);
    grid->addWidget(m_txtName, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("IP:"), this), 1, 0);
    grid->addWidget(m_txtIP, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Reason:"), this), 2, 0, Qt::AlignTop);
    grid->addWidget(m_txtReason, 2, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Unban Date:"), this), 3, 0);
    grid->addWidget(m_txtUnbanDate, 3, 1);
    grid->addWidget(hint, 3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCancel);
    grid->addLayout(buttons, 4, 0, 1, 3);

    setTabOrder(m_txtName, m_txtIP);
    setTabOrder(m_txtIP, m_txtReason);
    setTabOrder(m_txtReason, m_txtUnbanDate);
    setTabOrder(m_txtUnbanDate, m_cmdOK);
    setTabOrder(m_cmdOK, m_cmdCancel);

    connect(m_cmdOK, &QPushButton::clicked, this, &BanDialog::cmdOK_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &BanDialog::reject);

    m_txtUnbanDate->setText(BanDates::display(today));
    ShownText::makeLabelsPlain(this);
}

void BanDialog::loadForEdit(const BanRecord& ban) {
    setWindowTitle(kEditCaption);
    m_txtName->setEnabled(false);
    m_txtName->setText(ban.Name);
    m_txtIP->setText(ban.IP);
    m_txtReason->setPlainText(ban.Reason.value_or(QString()));
    m_txtUnbanDate->setText(BanDates::display(ban.UnbanDate));
}

void BanDialog::reject() {
    QDialog::reject();
    deleteLater();
}

bool BanDialog::isAddMode() const { return windowTitle().contains(QLatin1String("Add"), Qt::CaseSensitive); }

void BanDialog::say(const QString& text) { m_prompter.message(this, applicationTitle(), text, QMessageBox::Ok); }

bool BanDialog::askToCreateVanished() {
    return m_prompter.message(this, applicationTitle(),
                              QStringLiteral("The account being edited no longer exists, would you like to create it?"),
                              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QDate> BanDialog::unbanDateFromBox(const std::optional<QDate>& previous) {
    const QString text = m_txtUnbanDate->text();
    if (text.isEmpty())
        return std::nullopt;
    if (const auto date = BanDates::parse(text))
        return date;
    // The ban is still stored, keeping the date it had.
    say(QStringLiteral("Enter a valid date using the mm/dd/yy format."));
    return previous;
}

std::optional<QString> BanDialog::reasonFromBox() const {
    const QString reason = m_txtReason->toPlainText();
    if (reason.isEmpty())
        return std::nullopt;
    return reason;
}

void BanDialog::finish() {
    emit listRefreshRequested();
    hide();
    deleteLater();
}

bool BanDialog::cmdOK_Click() {
    const QString name = m_txtName->text();
    const QString ip = m_txtIP->text();
    if (name.isEmpty()) {
        say(QStringLiteral("You must enter a name."));
        return false;
    }
    if (ip.isEmpty()) {
        say(QStringLiteral("You must enter an IP."));
        return false;
    }
    if (name.size() > kNameLimit) {
        say(QStringLiteral("The name is too long: it may have at most %1 characters.").arg(kNameLimit));
        return false;
    }
    if (ip.size() > kIPLimit) {
        say(QStringLiteral("The IP is too long: it may have at most %1 characters.").arg(kIPLimit));
        return false;
    }
    if (m_txtReason->toPlainText().size() > kReasonLimit) {
        say(QStringLiteral("The reason is too long: it may have at most %1 characters.").arg(kReasonLimit));
        return false;
    }

    BanSet& bans = m_bans;
    QString error;
    if (isAddMode()) {
        if (!bans.isEmpty()) {
            if (bans.findByName(name)) {
                say(QStringLiteral("The name specified is already in use."));
                return false;
            }
            if (bans.findByIP(ip)) {
                say(QStringLiteral("The IP specified is already banned."));
                return false;
            }
        }
        const auto number = bans.nextFreeNumber();
        if (!number) {
            say(QStringLiteral("The ban list is full."));
            return false;
        }
        BanRecord ban{*number, name, ip, reasonFromBox(), std::nullopt};
        ban.UnbanDate = unbanDateFromBox(std::nullopt);
        if (!bans.add(ban, &error)) {
            say(QStringLiteral("The ban could not be stored: ") + error);
            return false;
        }
        finish();
        return true;
    }

    if (bans.isEmpty()) {
        if (!askToCreateVanished())
            return false; // stays open
        setWindowTitle(kAddCaption);
        return cmdOK_Click();
    }
    const auto found = bans.findByName(name);
    if (!found) {
        if (!askToCreateVanished()) {
            finish();
            return false;
        }
        setWindowTitle(kAddCaption);
        return cmdOK_Click();
    }
    BanRecord ban = *found;
    ban.IP = ip;
    ban.Reason = reasonFromBox();
    ban.UnbanDate = unbanDateFromBox(found->UnbanDate);
    if (!bans.update(ban, &error)) {
        say(QStringLiteral("The ban could not be stored: ") + error);
        return false;
    }
    finish();
    return true;
}
