#include "ui/options_dialog.h"

#include "host/settings.h"
#include "platform/service_manager.h"
#include "ui/prompter.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kServiceKey = QString::fromLatin1(Settings::kServiceKey);
const QString kAutoAllowKey = QString::fromLatin1(Settings::kAutoAllowKey);
} // namespace

OptionsDialog::OptionsDialog(Settings& settings, ServiceManager& service, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_service(service), m_prompter(prompter) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Registry Options"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    m_chkService = new QCheckBox(QStringLiteral("Start Registry automatically as a service"), this);
    m_chkService->setObjectName(QStringLiteral("chkService"));
    m_chkAutoAllow = new QCheckBox(QStringLiteral("Automatically enable creation of new accounts"), this);
    m_chkAutoAllow->setObjectName(QStringLiteral("chkAutoAllow"));
    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_chkService);
    layout->addWidget(m_chkAutoAllow);
    layout->addSpacing(6);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_cmdOK, &QPushButton::clicked, this, &OptionsDialog::cmdOK_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &OptionsDialog::cmdCancel_Click);

    Form_Load();
}

OptionsDialog* OptionsDialog::showOrRaise(QPointer<OptionsDialog>& open, Settings& settings,
                                          ServiceManager& service, Prompter& prompter, QWidget* parent) {
    if (!open)
        open = new OptionsDialog(settings, service, prompter, parent);
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

void OptionsDialog::Form_Load() {
    m_chkService->setChecked(m_settings.serviceSetting());
    m_chkAutoAllow->setChecked(m_settings.autoAllowSetting());
}

bool OptionsDialog::installService() {
    QString why;
    if (m_service.install(&why))
        return true;
    qWarning("installing the service failed: %s", qPrintable(why));
    return false;
}

bool OptionsDialog::uninstallService() {
    QString why;
    if (m_service.uninstall(&why))
        return true;
    qWarning("removing the service failed: %s", qPrintable(why));
    return false;
}

// The steps run in this order, each looking at the settings as the steps
// before left them: a failed removal leaves the service option on, so the
// install below runs as well; every OK with the option on installs again.
void OptionsDialog::cmdOK_Click() {
    if (m_chkService->isChecked() && !m_settings.serviceSetting()) {
        m_settings.writeSetting(kServiceKey, Settings::booleanText(true));
        m_settings.setServiceSetting(true);
    }
    if (!m_chkService->isChecked() && m_settings.serviceSetting()) {
        if (!uninstallService()) {
            m_prompter.message(this, applicationTitle(),
                               QStringLiteral("There was an error uninstalling the registry as a service."),
                               QMessageBox::Ok);
        } else {
            m_settings.writeSetting(kServiceKey, Settings::booleanText(false));
            m_settings.setServiceSetting(false);
        }
    }
    if (m_chkAutoAllow->isChecked() && !m_settings.autoAllowSetting()) {
        m_settings.writeSetting(kAutoAllowKey, Settings::booleanText(true));
        m_settings.setAutoAllowSetting(true);
    }
    if (!m_chkAutoAllow->isChecked() && m_settings.autoAllowSetting()) {
        m_settings.writeSetting(kAutoAllowKey, Settings::booleanText(false));
        m_settings.setAutoAllowSetting(false);
    }
    if (m_settings.serviceSetting() && !installService()) {
        m_prompter.message(this, applicationTitle(),
                           QStringLiteral("There was an error installing the registry as a service."),
                           QMessageBox::Ok);
        m_settings.setServiceSetting(false);
        m_settings.writeSetting(kServiceKey, Settings::booleanText(false));
    }
    accept();
}

// Escape and the window's close button come here too (QDialog::reject).
void OptionsDialog::cmdCancel_Click() {
    reject();
}
