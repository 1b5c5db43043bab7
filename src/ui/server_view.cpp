#include "host/registry.h"
#include "host/server_details.h"
#include "platform/code_page.h"
#include "protocol/server_messages.h"
#include "ui/detail_label.h"
#include "ui/info_window.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"
#include "ui/prompter.h"
#include "ui/shown_text.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QVBoxLayout>

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
    // A line chosen by click or by keyboard shows its details at once.
    connect(m_lstServers, &QListWidget::itemSelectionChanged, this, &MainWindow::lstServers_Click);
    left->addWidget(m_lstServers, 1);
    row->addLayout(left, 1);

    m_fraInfo = new QGroupBox(QStringLiteral("Selected Server Information:"), parent);
    m_fraInfo->setObjectName(QStringLiteral("fraInfo"));
    auto* grid = new QGridLayout(m_fraInfo);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    auto addDetail = [&](int r, const QString& caption, QLabel*& label, const char* name) {
        grid->addWidget(new QLabel(caption, m_fraInfo), r, 0, Qt::AlignRight);
        label = new DetailLabel(m_fraInfo);
        label->setObjectName(QLatin1String(name));
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
    // The list and the details share the width evenly, whatever the details hold.
    m_fraInfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_lstServers->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
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
    connect(&online, &OnlineServerList::removed, this, [this](int row) {
        const QListWidgetItem* gone = m_lstServers->item(row);
        const bool wasSelected = gone && gone->isSelected();
        // Qt moves the selection on by itself; that move must show nothing.
        const QSignalBlocker quiet(m_lstServers);
        delete m_lstServers->takeItem(row);
        // Nothing takes the place of the selected server when it leaves: the
        // commands must not fall on a line nobody picked.
        if (wasSelected) {
            m_lstServers->clearSelection();
            m_lstServers->selectionModel()->clearCurrentIndex();
        }
    });
}

// The selected line only: Qt's current item can be set without any visible
// selection (when the list takes the focus) and is not what the administrator chose.
QString MainWindow::selectedServerText() const {
    const QList<QListWidgetItem*> selected = m_lstServers->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

std::optional<ServerDetails> MainWindow::selectedServer() const {
    const QString selected = selectedServerText();
    if (selected.isEmpty())
        return std::nullopt;
    return findOnlineServer(m_registry.clients(), CodePage::fromUnicode(selected));
}

int MainWindow::selectedServerSlot() const {
    const std::optional<ServerDetails> server = selectedServer();
    return server ? server->slot : 0;
}

void MainWindow::ShowServerDetails(int index) {
    const std::optional<ServerDetails> s = serverDetails(m_registry.clients(), index);
    if (!s)
        return;
    m_shownServerId = s->serverIdBytes;
    m_lblID->setText(ShownText::oneLine(s->serverId));
    m_lblName->setText(ShownText::oneLine(s->serverName));
    m_lblIP->setText(ShownText::oneLine(s->ip));
    m_lblCount->setText(QString::number(s->playerCount));
    // Any non-zero value is official, as in the list reply and the information window.
    m_lblOfficial->setText(s->isOfficial() ? QStringLiteral("Yes") : QStringLiteral("No"));
}

void MainWindow::serverSlotUpdated(int index) {
    const QString selected = selectedServerText();
    const std::optional<ServerDetails> updated = serverDetails(m_registry.clients(), index);
    if (selected.isEmpty() || !updated || CodePage::fromUnicode(selected) != updated->serverIdBytes)
        return;
    if (const std::optional<ServerDetails> server = selectedServer())
        ShowServerDetails(server->slot);
}

void MainWindow::lstServers_Click() {
    if (const std::optional<ServerDetails> server = selectedServer())
        ShowServerDetails(server->slot);
}

void MainWindow::lstServers_MouseDown(Qt::MouseButton button, const QPoint& pos) {
    // Any button selects the line under the pointer first, so that a right
    // click acts on the line it was made on. Below the lines there is nothing
    // to act on: nothing is selected and no menu opens.
    QListWidgetItem* item = m_lstServers->itemAt(pos);
    if (!item)
        return;
    m_lstServers->setCurrentItem(item);
    lstServers_Click();
    if (button == Qt::RightButton && !selectedServerText().isEmpty())
        m_mnuServer->popup(m_lstServers->viewport()->mapToGlobal(pos));
}

void MainWindow::lstServers_DblClick() {
    const std::optional<ServerDetails> s = selectedServer();
    if (!s)
        return;
    QString content;
    content += QStringLiteral("Server ID: ") + s->serverId + QLatin1Char('\n');
    content += QStringLiteral("Server Name: ") + s->serverName + QLatin1Char('\n');
    content += QStringLiteral("Server Description: ") + s->description + QLatin1Char('\n');
    content += QStringLiteral("IP Address: ") + s->ip + QLatin1Char('\n');
    content += QStringLiteral("Current Player Count: ") + QString::number(s->playerCount) + QLatin1Char('\n');
    if (s->isOfficial())
        content += QStringLiteral("*This is an official server*\n");
    QSaveFile file(QDir(m_detailsFolder).filePath(QStringLiteral("temp.txt")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(content.toUtf8());
        file.commit();
    }
}

void MainWindow::lblDesc_Click() {
    if (m_shownServerId.isEmpty())
        return;
    const std::optional<ServerDetails> s = findOnlineServer(m_registry.clients(), m_shownServerId);
    if (!s) {
        m_prompter.message(this, applicationTitle(), QStringLiteral("The selected server is not currently online."),
                           QMessageBox::Ok);
        return;
    }
    m_prompter.message(this, QStringLiteral("TavRegistry: Server Description"), ShownText::lines(s->description),
                       QMessageBox::Ok);
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
    const std::optional<ServerDetails> s = selectedServer();
    if (!s)
        return;
    const QStringList lines = {
        QStringLiteral("Server ID: ") + ShownText::oneLine(s->serverId),
        QStringLiteral("Server Name: ") + ShownText::oneLine(s->serverName),
        QStringLiteral("IP: ") + ShownText::oneLine(s->ip),
        QStringLiteral("Player Count: ") + QString::number(s->playerCount),
        QStringLiteral("Official: ") + (s->isOfficial() ? QStringLiteral("True") : QStringLiteral("False")),
        QStringLiteral("Description: ") + ShownText::lines(s->description),
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
        m_registry.closeClient(index, CloseReason::Administrator);
}
