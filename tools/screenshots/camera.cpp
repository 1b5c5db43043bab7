#include "camera.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QImageWriter>
#include <QPixmap>
#include <QThread>
#include <QWidget>

void Camera::settle() {
    const QDeadlineTimer deadline(150);
    while (!deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool Camera::take(QWidget* window, const QString& fileName, QString* error) {
    window->show();
    window->raise();
    settle();
    // A real display may scale; the pictures are kept at one image pixel per
    // logical pixel so that they stay small and comparable.
    QImage image = window->grab().toImage();
    image.setDevicePixelRatio(1.0);
    if (image.isNull() || image.width() < 50 || image.height() < 50) {
        *error = QStringLiteral("%1: the window %2 gave no usable picture").arg(fileName, window->objectName());
        return false;
    }
    const QString path = m_folder.filePath(fileName);
    QImageWriter writer(path, "png");
    writer.setQuality(0); // for PNG: the strongest compression
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32))) {
        *error = QStringLiteral("%1: %2").arg(path, writer.errorString());
        return false;
    }
    m_written.append(path);
    return true;
}
