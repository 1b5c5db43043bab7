#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Every fuzz target defines the libFuzzer entry point. The replay driver calls
// the same function for each file of a corpus, so the corpus is checked by a
// plain build too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// On a rig's own bookkeeping (the checks after each step, the digest, the
// reset between inputs): its branches are not the code under test, so they
// must not steer the fuzzer, and tracing them costs as much as running them.
#if defined(__clang__)
#define FUZZ_RIG_UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_RIG_UNTRACED
#endif

namespace FuzzHarness {
// A QCoreApplication must exist before the SQL driver plugin can be loaded.
void ensureApplication();
// Ends the process with a message on standard error: a broken invariant is a
// finding, and libFuzzer records the input that led to it.
[[noreturn]] void fail(const char* what, int detail = 0);
// A QTemporaryDir template for a registry's data folder: on /dev/shm when
// there is one, as every account written is flushed to the disk.
QString scratchFolderTemplate();
} // namespace FuzzHarness
