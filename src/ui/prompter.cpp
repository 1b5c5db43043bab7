#include "ui/prompter.h"

#include <QApplication>
#include <QGridLayout>
#include <QInputDialog>

namespace {

// The window manager puts the title beside its own buttons; a box sized only
// for its text cuts a longer title. This much beside the title is enough for
// the usual three buttons and an icon.
int widthForTitle(const QWidget& box, const QString& title) {
    const QFontMetrics titleMetrics(QApplication::font("QMdiSubWindowTitleBar"));
    return titleMetrics.horizontalAdvance(title) + 8 * box.fontMetrics().height();
}

} // namespace

std::unique_ptr<QMessageBox> WidgetPrompter::messageBox(QWidget* parent, const QString& title, const QString& text,
                                                        QMessageBox::StandardButtons buttons) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, QString(), buttons, parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    // The box fixes its size from its layout's minimum: a spacer under the
    // text gives it the title's width.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(widthForTitle(*box, title), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

QMessageBox::StandardButton WidgetPrompter::message(QWidget* parent, const QString& title, const QString& text,
                                                    QMessageBox::StandardButtons buttons) {
    const std::unique_ptr<QMessageBox> box = messageBox(parent, title, text, buttons);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

std::optional<QString> WidgetPrompter::input(QWidget* parent, const QString& title, const QString& prompt) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}
