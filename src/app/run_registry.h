#pragma once

#include <QString>

#include <memory>

class QCoreApplication;
class Registry;

// What only the program with the window adds to a run; tavregistryd has none
// and always runs headless.
class DesktopParts {
public:
    virtual ~DesktopParts() = default;
    virtual std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) = 0;
    // Creates the main window and makes it the registry's front end.
    virtual void attach(Registry& registry) = 0;
    virtual void detach(Registry& registry) = 0;
};

// The whole life of the process: arguments, the folder lock, the
// configuration, start-up, the event loop and shutdown. Returns the exit code.
int runRegistry(int argc, char** argv, const QString& program, DesktopParts* desktop);
