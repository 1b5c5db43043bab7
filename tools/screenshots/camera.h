#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

class QWidget;

// Shows a window, lets it lay itself out and paint, and saves a picture of it
// (the window's contents, without the frame a window manager would add).
class Camera {
public:
    explicit Camera(const QString& folder) : m_folder(folder) {}

    // False with a reason when the picture could not be written.
    bool take(QWidget* window, const QString& fileName, QString* error);
    const QStringList& written() const { return m_written; }

    // Runs the event loop briefly so that shown windows are mapped and painted.
    static void settle();

private:
    QDir m_folder;
    QStringList m_written;
};
