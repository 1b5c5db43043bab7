#pragma once

#include <QDialog>
#include <QPointer>

class Prompter;
class QCheckBox;
class QPushButton;
class ServiceManager;
class Settings;

// frmOptions, "Registry Options": start as a service, and allow new accounts
// at start-up. Not modal; OK and Cancel unload it. The service box installs
// or removes the registry as a service at once; the auto-allow box changes
// only the file and the setting in memory, never the live new-accounts switch.
class OptionsDialog final : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(Settings& settings, ServiceManager& service, Prompter& prompter, QWidget* parent = nullptr);

    // Opens the dialog, or brings the open one forward.
    static OptionsDialog* showOrRaise(QPointer<OptionsDialog>& open, Settings& settings,
                                      ServiceManager& service, Prompter& prompter, QWidget* parent = nullptr);

    QCheckBox* chkService() const { return m_chkService; }
    QCheckBox* chkAutoAllow() const { return m_chkAutoAllow; }

public slots:
    void cmdOK_Click();
    void cmdCancel_Click();

private:
    void Form_Load();
    bool installService();
    bool uninstallService();

    Settings& m_settings;
    ServiceManager& m_service;
    Prompter& m_prompter;
    QCheckBox* m_chkService = nullptr;
    QCheckBox* m_chkAutoAllow = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};
