// Fuzz target: arbitrary byte streams, cut into arbitrary arrivals, from
// several peers in every session mode, through the real receive path and
// dispatcher of a registry with a real SQLite database.
//
// Every input starts from the same state: one registry and its database for
// the whole process, put back to a fresh start between inputs
// (receive_path_rig.h). The script the input is read as, and the checks made
// after every step and at the end, are described there.
#include "fuzz_harness.h"
#include "receive_path_rig.h"

#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHarness::ensureApplication();
    static QTemporaryDir dir(FuzzHarness::scratchFolderTemplate());
    static ReceivePathRig rig(dir.path(), ReceivePathRig::Recheck::WhenChanged, ReceivePathRig::Outcome::None);
    rig.run(data, size);
    return 0;
}
