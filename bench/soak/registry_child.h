#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The tavregistry process under test: started headless on a free port, its
// standard output drained so that it never blocks on it.
class RegistryChild {
public:
    ~RegistryChild();
    // Starts it and waits for the start-up line; false with a reason.
    // `extra` goes after the usual arguments (the limits of an attack run).
    bool start(const std::string& binary, const std::string& dataDir, std::string* why,
               const std::vector<std::string>& extra = {});
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_out; }
    // Reads what is waiting on its standard output; returns the lines seen.
    long drainOutput();
    bool alive();
    // SIGTERM; true when it exits 0 within ten seconds.
    bool terminate(int* status);

    long openDescriptors() const; // entries of /proc/PID/fd
    std::string describeDescriptors() const; // what they point to, one per line
    long rssKb() const;           // VmRSS
    long peakRssKb() const;       // VmHWM

private:
    long statusField(const char* name) const;
    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = 0;
    std::string m_partial;
};
