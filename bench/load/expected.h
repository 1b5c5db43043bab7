#pragma once

#include <map>
#include <string>
#include <vector>

// The game servers a workload logs in, and the exact bytes the registry must send.
struct BenchServer {
    int slot;
    std::string user;
    std::string name;
    std::string description;
    unsigned char players;
};

std::vector<BenchServer> makeServers(int count, const std::string& prefix);

namespace Expected {
std::string registerRequest(const std::string& user);
std::string loginRequest(const std::string& user);
std::string freshAccountReply(); // type 0: "<untitled>", 0, empty description
std::string loginReply(const BenchServer& s); // type 0: the reported name, 0, description
std::string nameReport(const BenchServer& s);
std::string playerReport(const BenchServer& s);
std::string listQuery(int first);
// Every page of the list, keyed by the slot its query starts from.
std::map<int, std::string> listPages(const std::vector<BenchServer>& servers);
// The slot the page asks to continue from, or 0 at the end of the list.
int nextPage(const std::string& page);
std::string fullNotice();
// An operator's login with the registry's access codes, and its answer.
std::string operatorLogin();
std::string operatorAccepted();
} // namespace Expected
