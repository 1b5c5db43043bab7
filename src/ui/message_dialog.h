#pragma once

#include <QDialog>

class QComboBox;
class QPlainTextEdit;
class Prompter;
class Registry;

// frmMessage: sends a text to one online game server or to all of them.
class MessageDialog final : public QDialog {
    Q_OBJECT
public:
    static QString allServersEntry() { return QStringLiteral("<All Online Servers>"); }

    MessageDialog(Registry& registry, Prompter& prompter, QWidget* parent = nullptr);

    // Shows the dialog; the first showing fills the recipient list (Form_Load).
    void showDialog();
    // Refills the recipients from the online servers, keeping the current
    // recipient when an entry still matches it exactly.
    void RefreshServerList();
    // Makes the entry equal to `serverId` the recipient; a server that came
    // online after the list was filled is found by refilling it first.
    void selectRecipient(const QString& serverId);
    QString recipient() const;

    void cmdSend_Click();
    void cmdCancel_Click();

private:
    Registry& m_registry;
    Prompter& m_prompter;
    QComboBox* m_cmbServers;
    QPlainTextEdit* m_txtMessage;
    bool m_loaded = false;
};
