#include "window_tour.h"

#include "camera.h"
#include "sample_registry.h"

#include "ui/account_dialog.h"
#include "ui/accounts_dialog.h"
#include "ui/ban_dialog.h"
#include "ui/bans_dialog.h"
#include "ui/info_window.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"
#include "ui/options_dialog.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>

namespace {

const QString kEventView = QStringLiteral("main-window-event-view.png");
const QString kServerView = QStringLiteral("main-window-server-view.png");
const QString kMessage = QStringLiteral("message-dialog.png");
const QString kInformation = QStringLiteral("information-window.png");
const QString kAccountList = QStringLiteral("account-list.png");
const QString kAccountAdd = QStringLiteral("account-dialog-add.png");
const QString kAccountEdit = QStringLiteral("account-dialog-edit.png");
const QString kBanList = QStringLiteral("ban-list.png");
const QString kBanAdd = QStringLiteral("ban-dialog-add.png");
const QString kBanEdit = QStringLiteral("ban-dialog-edit.png");
const QString kOptions = QStringLiteral("options-dialog.png");

// The server picked in the server view, the message dialog and the information window.
const QString kSelectedServer = QStringLiteral("Ravenmoor");

template <typename T>
T* child(QWidget* parent, const char* name, QString* error) {
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        *error = QStringLiteral("%1 has no %2").arg(parent->objectName(), QLatin1String(name));
    return found;
}

// Selects the line with `text` as a click would, so that whatever a click
// enables is enabled.
bool clickLine(QListWidget* list, const QString& text) {
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text() == text || list->item(row)->text().startsWith(text + QLatin1Char(' '))) {
            list->setCurrentRow(row);
            emit list->itemClicked(list->item(row));
            return true;
        }
    }
    return false;
}

} // namespace

QStringList WindowTour::fileNames() {
    return {kEventView, kServerView, kMessage,  kInformation, kAccountList, kAccountAdd,
            kAccountEdit, kBanList,  kBanAdd,   kBanEdit,     kOptions};
}

bool WindowTour::run(QString* error) {
    return mainWindowEventView(error) && mainWindowServerView(error) && messageDialog(error) &&
           informationWindow(error) && accountList(error) && accountDialogs(error) && banList(error) &&
           optionsDialog(error);
}

bool WindowTour::mainWindowEventView(QString* error) {
    m_window.mnuEventView_Click();
    return m_camera.take(&m_window, kEventView, error);
}

bool WindowTour::mainWindowServerView(QString* error) {
    m_window.mnuServerView_Click();
    auto* servers = child<QListWidget>(&m_window, "lstServers", error);
    if (!servers)
        return false;
    if (!clickLine(servers, kSelectedServer)) {
        *error = kSelectedServer + QStringLiteral(" is not in the server list");
        return false;
    }
    m_window.lstServers_Click();
    auto* id = child<QLabel>(&m_window, "lblID", error);
    if (!id)
        return false;
    if (id->text() != kSelectedServer) {
        *error = QStringLiteral("the details show \"%1\", not the selected server").arg(id->text());
        return false;
    }
    return m_camera.take(&m_window, kServerView, error);
}

bool WindowTour::messageDialog(QString* error) {
    m_window.mnuSendMessage_Click();
    MessageDialog* dialog = m_window.messageDialog();
    if (!dialog) {
        *error = QStringLiteral("\"Send Message\" opened no message dialog");
        return false;
    }
    auto* text = child<QPlainTextEdit>(dialog, "txtMessage", error);
    if (!text)
        return false;
    text->setPlainText(QStringLiteral("The registry restarts at 22:00 UTC for maintenance. "
                                      "Please expect a short interruption."));
    const bool ok = m_camera.take(dialog, kMessage, error);
    dialog->close();
    return ok;
}

bool WindowTour::informationWindow(QString* error) {
    m_window.mnuViewInformation_Click();
    InfoWindow* info = m_window.infoWindow();
    if (!info) {
        *error = QStringLiteral("\"View Information\" opened no information window");
        return false;
    }
    const bool ok = m_camera.take(info, kInformation, error);
    info->close();
    return ok;
}

bool WindowTour::accountList(QString* error) {
    // Shown without exec(): the picture needs no nested event loop.
    Registry& registry = m_sample.registry();
    AccountsDialog accounts(registry.database().accounts(), AccountsDialog::sessionCloser(registry), m_prompter,
                            &m_window);
    auto* list = child<QListWidget>(&accounts, "lstAccounts", error);
    if (!list)
        return false;
    if (!clickLine(list, QStringLiteral("IronTide"))) {
        *error = QStringLiteral("IronTide is not in the account list");
        return false;
    }
    return m_camera.take(&accounts, kAccountList, error);
}

bool WindowTour::accountDialogs(QString* error) {
    {
        AccountDialog add(m_sample.registry().database().accounts(), m_prompter, std::nullopt, &m_window);
        if (!m_camera.take(&add, kAccountAdd, error))
            return false;
    }
    AccountDialog edit(m_sample.registry().database().accounts(), m_prompter, m_sample.editedAccount(), &m_window);
    if (!edit.loadedRecord()) {
        *error = QStringLiteral("the account to edit was not loaded");
        return false;
    }
    return m_camera.take(&edit, kAccountEdit, error);
}

bool WindowTour::banList(QString* error) {
    Registry& registry = m_sample.registry();
    BansDialog bans(registry.database().bans(), [&registry] { return registry.today(); }, m_prompter, &m_window);
    auto* list = child<QListWidget>(&bans, "lstIPs", error);
    if (!list)
        return false;
    if (!clickLine(list, SampleRegistry::editedBanAddress())) {
        *error = SampleRegistry::editedBanAddress() + QStringLiteral(" is not in the ban list");
        return false;
    }
    if (!m_camera.take(&bans, kBanList, error))
        return false;

    bans.cmdAddBan_Click();
    if (!bans.banDialog() || !m_camera.take(bans.banDialog(), kBanAdd, error)) {
        if (error->isEmpty())
            *error = QStringLiteral("\"Add Ban\" opened no ban dialog");
        return false;
    }
    if (!clickLine(list, SampleRegistry::editedBanAddress())) {
        *error = QStringLiteral("the ban list lost its lines");
        return false;
    }
    bans.cmdEditBan_Click();
    BanDialog* edit = bans.banDialog();
    if (!edit || edit->isAddMode()) {
        *error = QStringLiteral("\"Edit Ban\" opened no ban dialog in edit mode");
        return false;
    }
    return m_camera.take(edit, kBanEdit, error);
}

bool WindowTour::optionsDialog(QString* error) {
    m_window.mnuOptions_Click();
    auto* options = m_window.findChild<OptionsDialog*>(QStringLiteral("frmOptions"));
    if (!options) {
        *error = QStringLiteral("\"Options\" opened no options dialog");
        return false;
    }
    const bool ok = m_camera.take(options, kOptions, error);
    options->close();
    return ok;
}
