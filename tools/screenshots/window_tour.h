#pragma once

#include <QString>
#include <QStringList>

class Camera;
class MainWindow;
class Prompter;
class SampleRegistry;

// Opens every view and dialog in turn, in the state an administrator would
// see it, and has the camera take each one.
class WindowTour {
public:
    WindowTour(SampleRegistry& sample, MainWindow& window, Prompter& prompter, Camera& camera)
        : m_sample(sample), m_window(window), m_prompter(prompter), m_camera(camera) {}

    // The pictures, in the order they are taken.
    static QStringList fileNames();

    // False with a reason at the first window that cannot be shown as intended.
    bool run(QString* error);

private:
    bool mainWindowEventView(QString* error);
    bool mainWindowServerView(QString* error);
    bool messageDialog(QString* error);
    bool informationWindow(QString* error);
    bool accountList(QString* error);
    bool accountDialogs(QString* error);
    bool banList(QString* error);
    bool optionsDialog(QString* error);

    SampleRegistry& m_sample;
    MainWindow& m_window;
    Prompter& m_prompter;
    Camera& m_camera;
};
