#pragma once

#include "host/front_end.h"
#include "host/server_details.h"
#include "ui/info_window.h"
#include "ui/message_dialog.h"

#include <QMainWindow>
#include <QPointer>


class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class InfoWindow;
class MessageDialog;
class BansDialog;
class OptionsDialog;
class Prompter;
class Registry;
class TrayIcon;

// frmMain: the registry's main window. Two views share it: the server view
// (online servers, the selected server's details, the access rate) and the
// event view (the newest event lines). Its member functions are spread over:
//   ui/main_window.cpp        layout, event view, caption, closing question
//   ui/main_window_menu.cpp   the menu tree and its commands
//   ui/server_view.cpp        the server list, details and pop-up commands
class MainWindow final : public QMainWindow, public FrontEnd {
    Q_OBJECT
public:
    MainWindow(Registry& registry, Prompter& prompter, QWidget* parent = nullptr);
    ~MainWindow() override;

    // FrontEnd
    void loadMainWindow() override;
    void showMainWindowAndTray() override;
    void setCaption(const QString& caption) override;
    void serverSlotUpdated(int index) override;
    void unloadWindows() override;
    void setTrayTip(const QString& tip) override;
    void generalTimerTick() override;
    void removeTray() override;

    TrayIcon& trayIcon() const { return *m_tray; }
    // A double click on the tray icon: normal state, shown, focused.
    void restoreFromTray();

    // Form_Unload: hide, ask, and either shut the registry down or cancel.
    // Returns true when the registry was shut down.
    bool confirmClose();

    // --- the server view ---
    void ShowServerDetails(int index);
    void lstServers_Click();
    void lstServers_MouseDown(Qt::MouseButton button, const QPoint& pos);
    void lstServers_DblClick();
    void lblDesc_Click();
    void mnuServerAddGod_Click();
    void mnuViewInformation_Click();
    void mnuServerDisconnect_Click();
    // The selected line's server while it is online; the slot of it, or 0.
    std::optional<ServerDetails> selectedServer() const;
    int selectedServerSlot() const;
    QString selectedServerText() const;

    // --- the menu commands ---
    void mnuOptions_Click();
    void mnuServerMessage_Click();
    void mnuFileExit_Click();
    void mnuAccountsNew_Click();
    void mnuAccountsEdit_Click();
    void mnuEditBanList_Click();
    void mnuServerView_Click();
    void mnuEventView_Click();
    void mnuSendMessage_Click();

    bool isServerViewShown() const { return m_serverViewShown; }
    QMenu* fileMenu() const { return m_mnuFile; }
    QMenu* serverPopup() const { return m_mnuServer; }
    MessageDialog* messageDialog() const { return m_frmMessage; }
    InfoWindow* infoWindow() const { return m_frmInfo; }
    BansDialog* bansDialog() const;

    // Where "temp.txt" is written (the current folder unless a test says otherwise).
    void setDetailsFileFolder(const QString& folder) { m_detailsFolder = folder; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildEventView(QWidget* parent);
    void buildServerView(QWidget* parent);
    void buildMenus();
    void appendEventLine(const QString& line, bool oldestRemoved);
    void setServerViewVisible(bool visible);

    Registry& m_registry;
    Prompter& m_prompter;
    bool m_unloading = false;
    bool m_serverViewShown = false;
    QString m_detailsFolder;

    // event view
    QListWidget* m_lstOutput = nullptr;
    QLineEdit* m_txtInput = nullptr;
    // server view
    QLabel* m_lblServers = nullptr;
    QListWidget* m_lstServers = nullptr;
    QGroupBox* m_fraInfo = nullptr;
    QLabel* m_lblID = nullptr;
    QLabel* m_lblName = nullptr;
    QLabel* m_lblIP = nullptr;
    QLabel* m_lblCount = nullptr;
    QLabel* m_lblOfficial = nullptr;
    QLabel* m_lblDesc = nullptr;
    QLabel* m_lblStatus = nullptr;
    QByteArray m_shownServerId; // whose details the frame shows (lblID as it came)
    // menus
    QMenu* m_mnuFile = nullptr;
    QMenu* m_mnuServer = nullptr;
    QAction* m_mnuAccountsNew = nullptr;

    QPointer<MessageDialog> m_frmMessage;
    QPointer<InfoWindow> m_frmInfo;
    QPointer<BansDialog> m_frmBans;
    QPointer<OptionsDialog> m_frmOptions;
    TrayIcon* m_tray = nullptr;
};
