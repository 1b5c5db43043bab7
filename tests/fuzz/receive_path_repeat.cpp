// Plays a corpus of the receive-path target through fresh registries, one
// per input, and then through one reused registry three times (in order,
// in order again, in reverse), once as the fuzzer runs it (the tables read
// back only after an input that changed a row) and once reading them back
// after every input. Every input must lead to the same outcome digest each
// time: a difference means the reset between inputs let something of one
// input reach the next, and then the fuzzer's findings could not be
// replayed.
#include "fuzz_harness.h"
#include "receive_path_rig.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Input {
    std::string name;
    std::vector<uint8_t> bytes;
    QByteArray fresh;
};

QByteArray play(ReceivePathRig& rig, const Input& in) { return rig.run(in.bytes.data(), in.bytes.size()); }

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || !fs::is_directory(argv[1])) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    FuzzHarness::ensureApplication();
    std::vector<Input> inputs;
    for (const auto& entry : fs::directory_iterator(argv[1])) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        Input in{entry.path().filename().string(),
                 std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()),
                 {}};
        inputs.push_back(std::move(in));
    }
    std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.name < b.name; });
    if (inputs.size() < 2) {
        std::fprintf(stderr, "%s: fewer than two inputs, nothing to compare\n", argv[1]);
        return 2;
    }

    std::set<QByteArray> distinct;
    for (Input& in : inputs) {
        QTemporaryDir dir(FuzzHarness::scratchFolderTemplate());
        ReceivePathRig rig(dir.path(), ReceivePathRig::Recheck::Always, ReceivePathRig::Outcome::Digest);
        in.fresh = play(rig, in);
        distinct.insert(in.fresh);
    }
    // The digest must tell outcomes apart, or equal digests prove nothing.
    if (distinct.size() * 2 < inputs.size()) {
        std::fprintf(stderr, "only %zu different outcomes for %zu inputs\n", distinct.size(), inputs.size());
        return 1;
    }

    int failures = 0;
    for (const auto recheck : {ReceivePathRig::Recheck::WhenChanged, ReceivePathRig::Recheck::Always}) {
        const char* mode = recheck == ReceivePathRig::Recheck::Always ? "reading back every time" : "as fuzzed";
        QTemporaryDir dir(FuzzHarness::scratchFolderTemplate());
        ReceivePathRig rig(dir.path(), recheck, ReceivePathRig::Outcome::Digest);
        auto pass = [&](const char* what, auto first, auto last) {
            for (auto it = first; it != last; ++it) {
                const QByteArray again = play(rig, *it);
                if (again != it->fresh) {
                    ++failures;
                    std::fprintf(stderr, "%s: %s (%s) gave %s, a fresh registry %s\n", it->name.c_str(), what, mode,
                                 again.constData(), it->fresh.constData());
                }
            }
        };
        pass("the first pass", inputs.begin(), inputs.end());
        pass("the second pass", inputs.begin(), inputs.end());
        pass("the pass in reverse order", inputs.rbegin(), inputs.rend());
    }
    std::printf("%zu inputs, %zu different outcomes, %d differences after a reset\n", inputs.size(), distinct.size(),
                failures);
    return failures == 0 ? 0 : 1;
}
