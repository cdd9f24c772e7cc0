// Feeds any bytes to both decoders. A refusal is fine; whatever they read must come back unchanged when it is
// encoded and that is decoded again.

#include "csv.h"
#include "vcard.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

void checkRoundTrip(const char *format, QByteArrayView bytes, const std::function<Contacts(QByteArrayView)> &decode,
                    const std::function<QByteArray(const Contacts &)> &encode)
{
    Contacts contacts;
    try {
        contacts = decode(bytes);
    } catch (const FormatError &) {
        return;
    }
    // An empty export has no card to read back; the decoder rightly refuses it.
    if (!contacts.empty() && decode(encode(contacts)) != contacts) {
        std::fprintf(stderr, "%s: what was read changed on its way out and back in\n", format);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const auto readCards = [](QByteArrayView in) { return vcard::decode(in); };
    checkRoundTrip("vCard 3.0", bytes, readCards, [](const Contacts &c) { return vcard::encode(c); });
    checkRoundTrip("vCard 4.0", bytes, readCards, [](const Contacts &c) { return vcard::encode(c, vcard::Version::V4); });
    checkRoundTrip("CSV", bytes, [](QByteArrayView in) { return csv::decode(in); }, csv::encode);
    return 0;
}
