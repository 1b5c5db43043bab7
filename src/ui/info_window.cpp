#include "ui/info_window.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

InfoWindow::InfoWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmInfo"));
    setWindowTitle(QStringLiteral("TavRegistry [Server Information]"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(420, 240);
    auto* layout = new QVBoxLayout(this);
    m_txtInfo = new QPlainTextEdit(this);
    m_txtInfo->setObjectName(QStringLiteral("txtInfo"));
    m_txtInfo->setReadOnly(true);
    layout->addWidget(m_txtInfo, 1);
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("cmdDone"));
    layout->addWidget(done, 0, Qt::AlignRight);
    connect(done, &QPushButton::clicked, this, &InfoWindow::cmdDone_Click);
}

// The text is kept with CR LF line ends, as it is built.
void InfoWindow::setInfoText(const QString& text) {
    m_txtInfo->setPlainText(text);
    setProperty("infoText", text);
}

QString InfoWindow::infoText() const { return property("infoText").toString(); }

void InfoWindow::cmdDone_Click() { close(); }
