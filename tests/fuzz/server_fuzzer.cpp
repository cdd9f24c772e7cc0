// Feeds any bytes to what reads a server's answers: the multistatus reader and a card's merge with a contact's
// changes. A refusal is fine; a card merged with no change must come back byte for byte.

#include "cardtext.h"
#include "davclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        carddav::parseMultistatus(bytes, QUrl(QStringLiteral("https://dav.example.org/book/")));
    } catch (const carddav::SyncError &) {
    }
    const Contact shown = carddav::cardContact(bytes);
    if (carddav::mergeIntoCard(bytes, shown, shown) != bytes)
        qFatal("a card merged with no change came back changed");
    Contact changed = shown;
    changed[field::Cognome] = QStringLiteral("Rossi; Bianchi");
    changed[field::Fax] = QString();
    carddav::mergeIntoCard(bytes, shown, changed);
    return 0;
}
