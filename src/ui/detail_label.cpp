#include "ui/detail_label.h"

#include <QPainter>
#include <QStyle>

DetailLabel::DetailLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QString DetailLabel::elidedText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

// Wide enough for a short value; anything longer is cut rather than widening the frame.
QSize DetailLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(QLatin1Char('x')) * 12 + m.left() + m.right(),
            fontMetrics().height() + m.top() + m.bottom()};
}

QSize DetailLabel::minimumSizeHint() const { return {0, sizeHint().height()}; }

void DetailLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(), isEnabled(),
                          elidedText(), foregroundRole());
}
