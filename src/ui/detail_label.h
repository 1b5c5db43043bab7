#pragma once

#include <QLabel>

// A one-line label for a value a server controls (its name, its address):
// plain text, cut with "…" where the room ends, and never asking for more
// room than its caption column gives it, so that a long value cannot widen
// the window or hold it open. text() keeps the whole value.
class DetailLabel final : public QLabel {
    Q_OBJECT
public:
    explicit DetailLabel(QWidget* parent = nullptr);

    // The value as shown at the current width.
    QString elidedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
