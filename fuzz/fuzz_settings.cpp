// Feeds arbitrary bytes to the settings decoder (the from-bytes half of loading, no files touched).
#include "core/io/SettingsStore.h"
#include "core/text/Zone.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_settings: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A zone with daylight saving, so the schedule walks over clock changes.
    ::setenv("TZ", "Europe/London", 1);
    ::tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<AppSettings> settings = SettingsStore::decode(bytes);
    if (!settings)
        return 0;
    // Whatever loads must save and load back unchanged.
    const std::optional<AppSettings> again = SettingsStore::decode(SettingsStore::encode(*settings));
    if (!again || !(*again == *settings))
        fail("decoded settings do not survive a save and load");

    // A hand-edited schedule must not make the schedule arithmetic misbehave.
    SleepSchedule sleep = settings->sleep;
    sleep.enabled = true;
    const QDateTime from(QDate(2026, 3, 28), QTime(20, 0), Zone::utc());
    const double asleep = sleep.sleepSeconds(from, from.addDays(2));
    if (!(asleep >= 0 && asleep <= 2 * 86400.0))
        fail("sleep seconds outside the range asked about");
    const QDateTime done = sleep.dateAfter(3600, from);
    if (!done.isValid() || done < from.addSecs(3600) || done > from.addDays(30).addSecs(300))
        fail("dateAfter out of bounds");
    if (const auto bedtime = sleep.nextBedtime(from); bedtime && *bedtime <= from)
        fail("nextBedtime not after its start");
    return 0;
}
