#pragma once

#include <QString>

// Starts a program without waiting for it and without arguments, so that it
// outlives the registry. Injectable so that tests need no real program.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // False, with the reason, when the program could not be started.
    virtual bool startDetached(const QString& program, const QString& workingFolder, QString* errorText) = 0;
};

class DetachedProcessStarter final : public ProcessStarter {
public:
    bool startDetached(const QString& program, const QString& workingFolder, QString* errorText) override;
};
