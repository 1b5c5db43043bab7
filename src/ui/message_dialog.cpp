#include "ui/message_dialog.h"

#include "host/registry.h"
#include "platform/code_page.h"
#include "protocol/framing.h"
#include "protocol/server_messages.h"
#include "ui/prompter.h"
#include "ui/shown_text.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

MessageDialog::MessageDialog(Registry& registry, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_registry(registry), m_prompter(prompter) {
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Server Message "));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(420, 260);

    auto* layout = new QGridLayout(this);
    auto* label = new QLabel(QStringLiteral("Send to:"), this);
    label->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label, 0, 0);
    m_cmbServers = new QComboBox(this);
    m_cmbServers->setObjectName(QStringLiteral("cmbServers"));
    m_cmbServers->setEditable(false);
    layout->addWidget(m_cmbServers, 1, 0, 1, 2);
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    refresh->setObjectName(QStringLiteral("cmdRefresh"));
    layout->addWidget(refresh, 1, 2);
    m_txtMessage = new QPlainTextEdit(this);
    m_txtMessage->setObjectName(QStringLiteral("txtMessage"));
    layout->addWidget(m_txtMessage, 2, 0, 1, 3);
    layout->setRowStretch(2, 1);
    layout->setColumnStretch(0, 1);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* send = new QPushButton(QStringLiteral("Send"), this);
    send->setObjectName(QStringLiteral("cmdSend"));
    send->setDefault(false);
    send->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setAutoDefault(false);
    buttons->addWidget(send);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 3, 0, 1, 3);

    connect(send, &QPushButton::clicked, this, &MessageDialog::cmdSend_Click);
    connect(cancel, &QPushButton::clicked, this, &MessageDialog::cmdCancel_Click);
    // An administrator expects a button labelled Refresh to refresh.
    connect(refresh, &QPushButton::clicked, this, &MessageDialog::RefreshServerList);
    ShownText::makeLabelsPlain(this);
}

void MessageDialog::showDialog() {
    if (!m_loaded) {
        m_loaded = true;
        RefreshServerList();
        show();
        m_txtMessage->setFocus();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void MessageDialog::RefreshServerList() {
    const QString remembered = m_cmbServers->currentText();
    m_cmbServers->clear();
    m_cmbServers->addItem(allServersEntry());
    m_cmbServers->addItems(m_registry.onlineServers().texts());
    m_cmbServers->setCurrentIndex(0);
    for (int i = 1; i < m_cmbServers->count(); ++i) {
        if (m_cmbServers->itemText(i) == remembered) {
            m_cmbServers->setCurrentIndex(i);
            break;
        }
    }
}

void MessageDialog::selectRecipient(const QString& serverId) {
    int i = m_cmbServers->findText(serverId, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i < 1) {
        RefreshServerList();
        i = m_cmbServers->findText(serverId, Qt::MatchExactly | Qt::MatchCaseSensitive);
    }
    if (i >= 1)
        m_cmbServers->setCurrentIndex(i);
}

QString MessageDialog::recipient() const { return m_cmbServers->currentText(); }

void MessageDialog::cmdSend_Click() {
    // A text one frame cannot carry is refused rather than cut on the way out.
    if (!Framing::fitsOneFrame(CodePage::fromUnicode(m_txtMessage->toPlainText()))) {
        m_prompter.message(this, applicationTitle(),
                           QStringLiteral("The message is too long. A message to a server holds at most %1 "
                                          "characters.")
                               .arg(Framing::kMaxSendPayloadLength),
                           QMessageBox::Ok);
        return;
    }
    const QString to = recipient();
    if (to != allServersEntry()) {
        const int index = m_registry.findServerByName(CodePage::fromUnicode(to));
        if (index == 0) {
            show();
            m_prompter.message(this, applicationTitle(), QStringLiteral("The selected server has gone offline."),
                               QMessageBox::Ok);
            RefreshServerList();
            return;
        }
        ServerMessages::sendText(m_registry, index, CodePage::fromUnicode(m_txtMessage->toPlainText()));
        m_prompter.message(this, applicationTitle(), QStringLiteral("Message sent successfully."), QMessageBox::Ok);
        close();
        return;
    }
    ServerMessages::sendTextToAllServers(m_registry, CodePage::fromUnicode(m_txtMessage->toPlainText()));
    m_prompter.message(this, applicationTitle(), QStringLiteral("Message sent to all online servers."),
                       QMessageBox::Ok);
    close();
}

void MessageDialog::cmdCancel_Click() { close(); }
