#include "registry_child.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

RegistryChild::~RegistryChild() {
    if (m_pid > 0 && alive()) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
}

bool RegistryChild::start(const std::string& binary, const std::string& dataDir, std::string* why,
                          const std::vector<std::string>& extra) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        std::vector<const char*> argv{binary.c_str(), "--headless", "--bus",          "none",
                                      "--port",       "0",          "--listen",       "127.0.0.1",
                                      "--data-dir",   dataDir.c_str()};
        for (const std::string& e : extra)
            argv.push_back(e.c_str());
        argv.push_back(nullptr);
        ::execv(binary.c_str(), const_cast<char* const*>(argv.data()));
        std::perror("exec tavregistry");
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    m_out = pipeFds[0];
    if (m_pid < 0) {
        *why = "fork failed";
        return false;
    }
    static const std::regex line("has loaded and is listening on port ([0-9]+) for connections\\.");
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buf[4096];
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n <= 0)
                break;
            seen.append(buf, size_t(n));
            std::smatch m;
            if (std::regex_search(seen, m, line)) {
                m_port = std::stoi(m[1].str());
                ::fcntl(m_out, F_SETFL, O_NONBLOCK);
                return true;
            }
        }
        if (!alive())
            break;
    }
    *why = "no start-up line; output was: " + seen;
    return false;
}

long RegistryChild::drainOutput() {
    long lines = 0;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            lines += buf[i] == '\n';
    }
    return lines;
}

bool RegistryChild::alive() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_pid = -m_pid;
        return false;
    }
    return true;
}

bool RegistryChild::terminate(int* status) {
    if (m_pid <= 0)
        return false;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        drainOutput();
        const pid_t r = ::waitpid(m_pid, status, WNOHANG);
        if (r == m_pid) {
            m_pid = -m_pid;
            return WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

long RegistryChild::openDescriptors() const {
    const std::string path = "/proc/" + std::to_string(m_pid) + "/fd";
    DIR* d = ::opendir(path.c_str());
    if (!d)
        return -1;
    long n = 0;
    while (dirent* e = ::readdir(d))
        n += e->d_name[0] != '.';
    ::closedir(d);
    return n;
}

std::string RegistryChild::describeDescriptors() const {
    const std::string path = "/proc/" + std::to_string(m_pid) + "/fd";
    std::string out;
    DIR* d = ::opendir(path.c_str());
    if (!d)
        return out;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char target[512];
        const ssize_t n = ::readlink((path + "/" + e->d_name).c_str(), target, sizeof target - 1);
        out += std::string("  ") + e->d_name + " -> " + (n > 0 ? std::string(target, size_t(n)) : "?") + "\n";
    }
    ::closedir(d);
    return out;
}

long RegistryChild::statusField(const char* name) const {
    const std::string path = "/proc/" + std::to_string(m_pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long value = -1;
    const size_t len = std::strlen(name);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, name, len) == 0 && line[len] == ':')
            value = std::strtol(line + len + 1, nullptr, 10);
    std::fclose(f);
    return value;
}

long RegistryChild::rssKb() const { return statusField("VmRSS"); }
long RegistryChild::peakRssKb() const { return statusField("VmHWM"); }
