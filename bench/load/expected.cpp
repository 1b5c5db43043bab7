#include "expected.h"

#include "client/frame_codec.h"
#include "client/list_paging.h"
#include "client/messages.h"
#include "client/replies.h"

namespace {

std::string str(const QByteArray& b) { return b.toStdString(); }
QByteArray qb(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

} // namespace

std::vector<BenchServer> makeServers(int count, const std::string& prefix) {
    std::vector<BenchServer> out;
    for (int i = 1; i <= count; ++i) {
        char user[16];
        std::snprintf(user, sizeof user, "%s%03d", prefix.c_str(), i);
        out.push_back({i, user, "Bench server " + std::to_string(i),
                       "A server of the load benchmark, number " + std::to_string(i), (unsigned char)(i % 64)});
    }
    return out;
}

namespace Expected {

std::string registerRequest(const std::string& user) {
    return str(TavClient::Messages::registerServer(qb(user), "pw"));
}
std::string loginRequest(const std::string& user) { return str(TavClient::Messages::login(qb(user), "pw")); }
std::string freshAccountReply() { return str(TavClient::buildFrame(0, QByteArray("<untitled>", 11))); }
std::string loginReply(const BenchServer& s) {
    return str(TavClient::buildFrame(0, TavClient::Messages::joinFields(qb(s.name), qb(s.description))));
}
std::string nameReport(const BenchServer& s) {
    return str(TavClient::Messages::nameDescription(qb(s.name), qb(s.description)));
}
std::string playerReport(const BenchServer& s) { return str(TavClient::Messages::playerCount(s.players)); }
std::string listQuery(int first) { return str(TavClient::Messages::listQuery(quint8(first))); }
std::string fullNotice() { return std::string("\x00\x02\x00\x04", 4); }
std::string operatorLogin() { return str(TavClient::Messages::operatorLogin("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD")); }
std::string operatorAccepted() { return str(TavClient::buildFrame(TavClient::Replies::kOperatorAccepted, QByteArray())); }

std::map<int, std::string> listPages(const std::vector<BenchServer>& servers) {
    QList<TavClient::ListedServer> listed;
    for (const BenchServer& s : servers) {
        TavClient::ListedServer l;
        l.slot = s.slot;
        l.user = qb(s.user);
        l.address = "127.0.0.1";
        l.players = s.players;
        l.name = qb(s.name);
        l.description = qb(s.description);
        listed.append(l);
    }
    std::map<int, std::string> pages;
    int first = 1;
    while (first) {
        const std::string page = str(TavClient::buildListReply(listed, first));
        if (page.empty())
            break;
        pages[first] = page;
        first = nextPage(page);
    }
    return pages;
}

int nextPage(const std::string& page) {
    const std::size_t n = page.size();
    if (n >= 5 && page.compare(n - 5, 4, std::string("\x00\x03\xFF\x03", 4)) == 0)
        return (unsigned char)page[n - 1];
    return 0;
}

} // namespace Expected
