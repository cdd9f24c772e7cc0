// Feeds any bytes to both decoders. A refusal is fine; whatever they read must come back unchanged when it is
// encoded and that is decoded again.

#include "csv.h"
#include "vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // 0: CSV; 3 and 4: vCard, written back as that version.
    for (const int version : {0, 3, 4}) {
        const auto decode = [version](QByteArrayView in) { return version ? vcard::decode(in) : csv::decode(in); };
        Contacts contacts;
        try {
            contacts = decode(QByteArrayView(data, qsizetype(size)));
        } catch (const FormatError &) {
            continue;
        }
        const vcard::Version written = version == 4 ? vcard::Version::V4 : vcard::Version::V3;
        const QByteArray out = version == 0 ? csv::encode(contacts) : vcard::encode(contacts, written);
        // An empty export has no card to read back; the decoder rightly refuses it.
        if (!contacts.empty() && decode(out) != contacts)
            qFatal("format %d: what was read changed on its way out and back in", version);
    }
    return 0;
}
