#include "admin/metrics_text.h"

#include <string_view>

namespace {

class Exposition {
public:
    void family(const char* name, const char* type, const char* help) {
        m_out += "# HELP ";
        m_out += name;
        m_out += ' ';
        m_out += help;
        m_out += "\n# TYPE ";
        m_out += name;
        m_out += ' ';
        m_out += type;
        m_out += '\n';
    }
    // A sample; `labels` is the text between the braces, already escaped.
    void sampleReal(const char* name, const QByteArray& labels, double value) {
        sampleText(name, labels, QByteArray::number(value, 'f', 3));
    }
    void sample(const char* name, const QByteArray& labels, quint64 value) {
        sampleText(name, labels, QByteArray::number(value));
    }
    void sampleText(const char* name, const QByteArray& labels, const QByteArray& value) {
        m_out += name;
        if (!labels.isEmpty()) {
            m_out += '{';
            m_out += labels;
            m_out += '}';
        }
        m_out += ' ';
        m_out += value;
        m_out += '\n';
    }
    void sample(const char* name, quint64 value) { sample(name, QByteArray(), value); }
    QByteArray take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

// A label value: backslash, double quote and line feed escaped.
QByteArray label(std::string_view name, QByteArrayView value) {
    QByteArray out(name.data(), qsizetype(name.size()));
    out += "=\"";
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    out += '"';
    return out;
}

QByteArray label(std::string_view name, std::string_view value) {
    return label(name, QByteArrayView(value.data(), qsizetype(value.size())));
}

template <typename Labels, typename Values>
void perReason(Exposition& e, const char* name, std::string_view labelName, const Labels& labels, const Values& values) {
    for (std::size_t i = 0; i < labels.size(); ++i)
        e.sample(name, label(labelName, labels[i]), quint64(values[i]));
}

} // namespace

QByteArray metricsText(const MetricsReadings& r) {
    Exposition e;
    const RegistryCounters& c = r.counters;

    e.family("tavregistry_build_info", "gauge", "The running version; always 1.");
    e.sample("tavregistry_build_info", label("version", r.version.toUtf8()), quint64(1));
    e.family("tavregistry_start_time_seconds", "gauge", "When the registry started, in seconds since the Unix epoch.");
    e.sampleReal("tavregistry_start_time_seconds", QByteArray(), r.startTimeSeconds);

    static constexpr std::array<std::string_view, 3> modes{"unauthenticated", "operator", "server"};
    e.family("tavregistry_connections", "gauge", "Occupied connection slots by session mode.");
    perReason(e, "tavregistry_connections", "mode", modes, r.connections);
    e.family("tavregistry_servers_online", "gauge", "Game servers logged in.");
    e.sample("tavregistry_servers_online", quint64(r.connections[2]));

    e.family("tavregistry_accepted_total", "counter", "Callers admitted into a connection slot.");
    e.sample("tavregistry_accepted_total", c.accepted);
    e.family("tavregistry_refused_total", "counter", "Callers turned away at connect time, by reason.");
    perReason(e, "tavregistry_refused_total", "reason", kRefusalLabels, c.refused);

    e.family("tavregistry_logins_total", "counter", "Login attempts by kind of peer and outcome.");
    for (std::size_t k = 0; k < kLoginKindLabels.size(); ++k)
        for (std::size_t i = 0; i < kLoginResultLabels.size(); ++i)
            e.sample("tavregistry_logins_total",
                     label("kind", kLoginKindLabels[k]) + ',' + label("result", kLoginResultLabels[i]),
                     c.logins[k][i]);
    e.family("tavregistry_registrations_total", "counter", "Account registrations by outcome.");
    perReason(e, "tavregistry_registrations_total", "result", kRegistrationLabels, c.registrations);

    e.family("tavregistry_list_replies_total", "counter", "List pages sent to game clients.");
    e.sample("tavregistry_list_replies_total", c.listReplies);
    e.family("tavregistry_bytes_received_total", "counter", "Bytes read from peers.");
    e.sample("tavregistry_bytes_received_total", c.bytesReceived);
    e.family("tavregistry_bytes_sent_total", "counter", "Bytes handed to the system for peers.");
    e.sample("tavregistry_bytes_sent_total", c.bytesSent);
    e.family("tavregistry_closed_total", "counter", "Connections closed, by cause.");
    perReason(e, "tavregistry_closed_total", "reason", kCloseReasonLabels, c.closed);

    e.family("tavregistry_accesses_per_hour", "gauge", "Admitted connections per hour over the last 100 admissions.");
    e.sample("tavregistry_accesses_per_hour", quint64(r.accessesPerHour));
    if (r.accounts) {
        e.family("tavregistry_accounts", "gauge", "Server accounts in the database.");
        e.sample("tavregistry_accounts", quint64(*r.accounts));
    }
    if (r.bans) {
        e.family("tavregistry_bans", "gauge", "IP bans in the database.");
        e.sample("tavregistry_bans", quint64(*r.bans));
    }

    if (r.process) {
        const ProcessStats& p = *r.process;
        e.family("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.");
        e.sampleReal("process_cpu_seconds_total", QByteArray(), p.cpuSeconds);
        e.family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
        e.sample("process_resident_memory_bytes", quint64(p.residentBytes));
        e.family("process_open_fds", "gauge", "Number of open file descriptors.");
        e.sample("process_open_fds", quint64(p.openFds));
        if (p.maxFds >= 0) {
            e.family("process_max_fds", "gauge", "Maximum number of open file descriptors.");
            e.sample("process_max_fds", quint64(p.maxFds));
        }
        e.family("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.");
        e.sampleReal("process_start_time_seconds", QByteArray(), p.startTimeSeconds);
    }
    return e.take();
}
