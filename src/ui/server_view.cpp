#include "host/registry.h"
#include "platform/code_page.h"
#include "protocol/server_messages.h"
#include "ui/info_window.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"
#include "ui/prompter.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {
QString text(const QByteArray& bytes) { return CodePage::toUnicode(bytes); }
} // namespace

void MainWindow::buildServerView(QWidget* parent) {
    auto* layout = static_cast<QVBoxLayout*>(parent->layout());
    auto* row = new QHBoxLayout();
    row->setSpacing(12);

    auto* left = new QVBoxLayout();
    m_lblServers = new QLabel(QStringLiteral("Servers Connected:"), parent);
    m_lblServers->setObjectName(QStringLiteral("lblServers"));
    left->addWidget(m_lblServers);
    m_lstServers = new QListWidget(parent);
    m_lstServers->setObjectName(QStringLiteral("lstServers"));
    m_lstServers->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstServers->viewport()->installEventFilter(this);
    left->addWidget(m_lstServers, 1);
    row->addLayout(left, 1);

    m_fraInfo = new QGroupBox(QStringLiteral("Selected Server Information:"), parent);
    m_fraInfo->setObjectName(QStringLiteral("fraInfo"));
    auto* grid = new QGridLayout(m_fraInfo);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    auto addDetail = [&](int r, const QString& caption, QLabel*& label, const char* name) {
        grid->addWidget(new QLabel(caption, m_fraInfo), r, 0, Qt::AlignRight);
        label = new QLabel(m_fraInfo);
        label->setObjectName(QLatin1String(name));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(label, r, 1);
    };
    addDetail(0, QStringLiteral("Server ID:"), m_lblID, "lblID");
    addDetail(1, QStringLiteral("Server Name:"), m_lblName, "lblName");
    addDetail(2, QStringLiteral("IP Address:"), m_lblIP, "lblIP");
    addDetail(3, QStringLiteral("Player Count:"), m_lblCount, "lblCount");
    addDetail(4, QStringLiteral("Official:"), m_lblOfficial, "lblOfficial");
    m_lblDesc = new QLabel(QStringLiteral("Click here for description"), m_fraInfo);
    m_lblDesc->setObjectName(QStringLiteral("lblDesc"));
    m_lblDesc->setCursor(Qt::PointingHandCursor);
    m_lblDesc->setStyleSheet(QStringLiteral("color: palette(link); text-decoration: underline;"));
    m_lblDesc->installEventFilter(this);
    grid->addWidget(m_lblDesc, 5, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(6, 1);
    row->addWidget(m_fraInfo, 1);
    layout->addLayout(row, 1);

    m_lblStatus = new QLabel(m_registry.accessRateText(), parent);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    layout->addWidget(m_lblStatus);
    connect(&m_registry, &Registry::accessRateTextChanged, m_lblStatus, &QLabel::setText);

    OnlineServerList& online = m_registry.onlineServers();
    for (const QString& t : online.texts())
        m_lstServers->addItem(t);
    connect(&online, &OnlineServerList::added, this, [this](int row, const QString& t) { m_lstServers->insertItem(row, t); });
    connect(&online, &OnlineServerList::removed, this, [this](int row) { delete m_lstServers->takeItem(row); });
}

QString MainWindow::selectedServerText() const {
    const QListWidgetItem* item = m_lstServers->currentItem();
    return item ? item->text() : QString();
}

int MainWindow::selectedServerSlot() const {
    const QString selected = selectedServerText();
    if (selected.isEmpty())
        return 0;
    return m_registry.findServerByName(CodePage::fromUnicode(selected));
}

void MainWindow::ShowServerDetails(int index) {
    const ClientSlot& s = m_registry.slot(index);
    m_lblID->setText(text(s.ServerId));
    m_lblName->setText(text(s.ServerName));
    m_lblIP->setText(QString::fromLatin1(s.IP));
    m_lblCount->setText(QString::number(s.PlayerCount));
    // Any non-zero value is official, as in the list reply and the information window.
    m_lblOfficial->setText(s.Official != 0 ? QStringLiteral("Yes") : QStringLiteral("No"));
}

void MainWindow::serverSlotUpdated(int index) {
    const QString selected = selectedServerText();
    if (selected.isEmpty() || CodePage::fromUnicode(selected) != m_registry.slot(index).ServerId)
        return;
    const int found = m_registry.findServerByName(CodePage::fromUnicode(selected));
    if (found != 0)
        ShowServerDetails(found);
}

void MainWindow::lstServers_Click() {
    const int index = selectedServerSlot();
    if (index != 0)
        ShowServerDetails(index);
}

void MainWindow::lstServers_MouseDown(Qt::MouseButton button, const QPoint& pos) {
    // Any button selects the line under the pointer first, so that a right
    // click acts on the line it was made on.
    if (QListWidgetItem* item = m_lstServers->itemAt(pos))
        m_lstServers->setCurrentItem(item);
    lstServers_Click();
    if (button == Qt::RightButton && m_lstServers->currentRow() >= 0)
        m_mnuServer->popup(m_lstServers->viewport()->mapToGlobal(pos));
}

void MainWindow::lstServers_DblClick() {
    const int index = selectedServerSlot();
    if (index == 0)
        return;
    const ClientSlot& s = m_registry.slot(index);
    QString content;
    content += QStringLiteral("Server ID: ") + text(s.ServerId) + QLatin1Char('\n');
    content += QStringLiteral("Server Name: ") + text(s.ServerName) + QLatin1Char('\n');
    content += QStringLiteral("Server Description: ") + text(s.Description) + QLatin1Char('\n');
    content += QStringLiteral("IP Address: ") + QString::fromLatin1(s.IP) + QLatin1Char('\n');
    content += QStringLiteral("Current Player Count: ") + QString::number(s.PlayerCount) + QLatin1Char('\n');
    if (s.Official != 0)
        content += QStringLiteral("*This is an official server*\n");
    QSaveFile file(QDir(m_detailsFolder).filePath(QStringLiteral("temp.txt")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(content.toUtf8());
        file.commit();
    }
}

void MainWindow::lblDesc_Click() {
    const QString id = m_lblID->text();
    if (id.isEmpty())
        return;
    const int index = m_registry.findServerByName(CodePage::fromUnicode(id));
    if (index == 0) {
        m_prompter.message(this, applicationTitle(), QStringLiteral("The selected server is not currently online."),
                           QMessageBox::Ok);
        return;
    }
    m_prompter.message(this, QStringLiteral("TavRegistry: Server Description"),
                       text(m_registry.slot(index).Description), QMessageBox::Ok);
}

void MainWindow::mnuServerAddGod_Click() {
    const int index = selectedServerSlot();
    const std::optional<QString> answer =
        m_prompter.input(this, QStringLiteral("Add God"), QStringLiteral("Enter User Name:"));
    if (!answer || answer->isEmpty() || index == 0)
        return;
    // The name goes out exactly as typed (no marker byte, no upper-casing).
    ServerMessages::sendAddGod(m_registry, index, CodePage::fromUnicode(*answer));
}

void MainWindow::mnuViewInformation_Click() {
    const int index = selectedServerSlot();
    if (index == 0)
        return;
    const ClientSlot& s = m_registry.slot(index);
    const QStringList lines = {
        QStringLiteral("Server ID: ") + text(s.ServerId),
        QStringLiteral("Server Name: ") + text(s.ServerName),
        QStringLiteral("IP: ") + QString::fromLatin1(s.IP),
        QStringLiteral("Player Count: ") + QString::number(s.PlayerCount),
        QStringLiteral("Official: ") + (s.Official != 0 ? QStringLiteral("True") : QStringLiteral("False")),
        QStringLiteral("Description: ") + text(s.Description),
    };
    if (!m_frmInfo)
        m_frmInfo = new InfoWindow(this);
    m_frmInfo->setInfoText(lines.join(QStringLiteral("\r\n")));
    m_frmInfo->show();
    m_frmInfo->raise();
}

void MainWindow::mnuServerDisconnect_Click() {
    const int index = selectedServerSlot();
    if (index != 0)
        m_registry.closeClient(index);
}
