// Unban dates typed by the administrator: any text either gives no date or a
// valid date that survives being shown and read again; the list line of a
// ban always gives its address back.
#include "fuzz_harness.h"

#include "database/ban_dates.h"
#include "database/ban_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHarness::ensureApplication();
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QDate> date = BanDates::parse(text);
    if (date) {
        if (!date->isValid())
            FuzzHarness::fail("an invalid date was accepted");
        const std::optional<QDate> again = BanDates::parse(BanDates::display(*date));
        if (!again || *again != *date)
            FuzzHarness::fail("a shown date does not read back as the same day");
    }
    // The address is the text before the first " - " of a list line, so an
    // address is taken back exactly only when it cannot form that separator
    // itself (a dash next to a space); addresses are dotted numbers.
    BanRecord ban;
    ban.IP = text.left(15).remove(QLatin1Char('-'));
    ban.UnbanDate = date;
    const std::optional<QString> address = BanDates::addressOfListLine(BanDates::listLine(ban));
    if (!address || *address != ban.IP)
        FuzzHarness::fail("a list line does not give its address back");
    return 0;
}
