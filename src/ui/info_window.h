#pragma once

#include <QDialog>

class QPlainTextEdit;

// frmInfo: one server's information, shown without blocking.
class InfoWindow final : public QDialog {
    Q_OBJECT
public:
    explicit InfoWindow(QWidget* parent = nullptr);
    void setInfoText(const QString& text);
    QString infoText() const;
    void cmdDone_Click();

private:
    QPlainTextEdit* m_txtInfo;
};
