#include "ui/main_window.h"

#include "host/registry.h"
#include "ui/application_icon.h"
#include "ui/info_window.h"
#include "ui/message_dialog.h"
#include "ui/bans_dialog.h"
#include "ui/options_dialog.h"
#include "ui/prompter.h"
#include "ui/shown_text.h"
#include "ui/tray_icon.h"

#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QStyle>
#include <QVBoxLayout>

MainWindow::MainWindow(Registry& registry, Prompter& prompter, QWidget* parent)
    : QMainWindow(parent), m_registry(registry), m_prompter(prompter), m_detailsFolder(QDir::currentPath()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(registry.captionText());
    setWindowIcon(applicationIcon());
    resize(720, 460);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    buildServerView(central);
    buildEventView(central);
    setCentralWidget(central);
    buildMenus();

    for (const QString& line : registry.eventLog().lines())
        m_lstOutput->addItem(ShownText::oneLine(line));
    connect(&registry.eventLog(), &EventLog::lineAppended, this, &MainWindow::appendEventLine);

    // Form_Load: the window comes up in the event view.
    mnuEventView_Click();
    m_tray = new TrayIcon(applicationIcon(), this);
    m_tray->setTip(registry.trayTipText());
    connect(m_tray, &TrayIcon::restoreRequested, this, &MainWindow::restoreFromTray);
    m_tray->setFileMenu(m_mnuFile);
    // The window is the registry's front end for as long as it lives.
    ShownText::makeLabelsPlain(this);
    registry.setFrontEnd(this);
}

MainWindow::~MainWindow() {
    m_registry.detachFrontEnd(this);
    delete m_frmMessage;
    delete m_frmInfo;
}

void MainWindow::buildEventView(QWidget* parent) {
    auto* layout = static_cast<QVBoxLayout*>(parent->layout());
    m_lstOutput = new QListWidget(parent);
    m_lstOutput->setObjectName(QStringLiteral("lstOutput"));
    m_lstOutput->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstOutput->setUniformItemSizes(true);
    layout->addWidget(m_lstOutput, 1);

    m_txtInput = new QLineEdit(parent);
    m_txtInput->setObjectName(QStringLiteral("txtInput"));
    layout->addWidget(m_txtInput);
}

void MainWindow::appendEventLine(const QString& line, bool oldestRemoved) {
    m_lstOutput->addItem(ShownText::oneLine(line));
    if (oldestRemoved || m_lstOutput->count() > EventLog::kMaxLines)
        delete m_lstOutput->takeItem(0);
    m_lstOutput->setCurrentRow(m_lstOutput->count() - 1);
    m_lstOutput->scrollToBottom();
}

void MainWindow::loadMainWindow() {}

void MainWindow::showMainWindowAndTray() {
    show();
    raise();
    m_tray->add();
}

void MainWindow::setTrayTip(const QString& tip) { m_tray->setTip(tip); }

// Every 500 ms: bring the tray icon back if it is missing, and move a
// minimised window out of the task bar (the tray icon brings it back).
void MainWindow::generalTimerTick() {
    m_tray->add();
    if (isVisible() && isMinimized())
        hide();
}

void MainWindow::removeTray() { m_tray->remove(); }

void MainWindow::restoreFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::setCaption(const QString& caption) { setWindowTitle(caption); }

void MainWindow::unloadWindows() {
    m_unloading = true;
    if (m_frmMessage)
        m_frmMessage->close();
    if (m_frmInfo)
        m_frmInfo->close();
    if (m_frmOptions)
        m_frmOptions->close();
    if (m_frmBans) {
        m_frmBans->close();
        m_frmBans->deleteLater();
    }
    hide();
}

bool MainWindow::confirmClose() {
    hide();
    const auto answer = m_prompter.message(nullptr, applicationTitle(),
                                           QStringLiteral("Are you sure you want to close the server registry?"),
                                           QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        m_registry.shutdown();
        return true;
    }
    return false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_unloading) {
        event->accept();
        return;
    }
    // Answering No leaves the window hidden; the registry keeps serving.
    event->ignore();
    confirmClose();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lstServers->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            lstServers_MouseDown(me->button(), me->position().toPoint());
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            lstServers_DblClick();
            return true;
        }
    }
    if (watched == m_lblDesc && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        lblDesc_Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
