#pragma once

#include "host/front_end.h"

#include <QMainWindow>

class QLineEdit;
class QListWidget;
class Prompter;
class Registry;
class TrayIcon;

// frmMain: the registry's main window. For now the event view: lstOutput with
// txtInput below it, the caption with the connection count, and the closing
// question.
class MainWindow final : public QMainWindow, public FrontEnd {
    Q_OBJECT
public:
    MainWindow(Registry& registry, Prompter& prompter, QWidget* parent = nullptr);
    ~MainWindow() override;

    // FrontEnd
    void loadMainWindow() override;
    void showMainWindowAndTray() override;
    void setCaption(const QString& caption) override;
    void setTrayTip(const QString& tip) override;
    void generalTimerTick() override;
    void removeTray() override;
    void unloadWindows() override;

    QListWidget* eventView() const { return m_lstOutput; }
    TrayIcon& trayIcon() const { return *m_tray; }
    // A double click on the tray icon: normal state, shown, focused.
    void restoreFromTray();

    // Form_Unload: hide, ask, and either shut the registry down or cancel.
    // Returns true when the registry was shut down.
    bool confirmClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void appendEventLine(const QString& line, bool oldestRemoved);

    Registry& m_registry;
    Prompter& m_prompter;
    QListWidget* m_lstOutput = nullptr;
    QLineEdit* m_txtInput = nullptr;
    TrayIcon* m_tray = nullptr;
    bool m_unloading = false;
};
