// The network forms of an address: any text and level gives the text itself
// or its prefix up to a dot followed by "0" or "0.0", never anything else.
#include "fuzz_harness.h"

#include "host/admission_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const int level = data[0] % 4;
    const QString address = QString::fromLatin1(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString masked = MaskAddress(address, level);
    const qsizetype last = address.lastIndexOf(QLatin1Char('.'));
    QString expected = address;
    if (level == 1 && last >= 0) {
        expected = address.left(last + 1) + QLatin1String("0");
    } else if (level == 2 && last > 0) {
        const qsizetype before = address.lastIndexOf(QLatin1Char('.'), last - 1);
        if (before >= 0)
            expected = address.left(before + 1) + QLatin1String("0.0");
    }
    if (masked != expected)
        FuzzHarness::fail("unexpected network form", level);
    return 0;
}
