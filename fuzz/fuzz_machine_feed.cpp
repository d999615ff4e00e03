// Reads arbitrary bytes as another machine's feed, whole and cut in two at a place the input picks: both
// readings must agree, and nothing read may carry a control character or a machine id that could name a
// folder other than its own.
#include "core/text/MachineFeed.h"
#include "core/text/TerminalText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "machine feed: %s\n", what);
    std::abort();
}

bool clean(const QString& text)
{
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return TerminalText::isControl(c.unicode()); });
}

MachineFeed::Reader read(QByteArrayView bytes, qsizetype cut)
{
    MachineFeed::Reader reader;
    if (reader.add(bytes.first(cut)))
        reader.add(bytes.sliced(cut));
    return reader;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const MachineFeed::Reader whole = read(bytes, 0);
    const MachineFeed::Reader cut = read(bytes, size == 0 ? 0 : qsizetype(data[0]) * qsizetype(size) / 256);
    if (whole.failure() != cut.failure() || whole.header() != cut.header() ||
        whole.trailer() != cut.trailer() || whole.snapshots() != cut.snapshots() ||
        whole.usage() != cut.usage())
        fail("a cut changed what was read");
    if (const auto& header = whole.header()) {
        if (!MachineFeed::isMachineId(header->machine))
            fail("a machine id that is no id");
        if (!clean(header->host) || !clean(header->version) || !clean(header->zone))
            fail("a control character in the header");
        for (const MachineFeed::Account& a : header->accounts)
            if (!clean(a.label) || !clean(a.key))
                fail("a control character in an account");
    } else if (whole.trailer() || !whole.snapshots().isEmpty() || !whole.usage().isEmpty()) {
        fail("lines taken without a header");
    }
    for (const UsageSnapshot& s : whole.snapshots())
        if (!clean(s.source) || (s.modelDisplayName && !clean(*s.modelDisplayName)))
            fail("a control character in a snapshot");
    return 0;
}
