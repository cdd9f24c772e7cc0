#pragma once

// A server's card and the six texts of a contact: what the card shows, a new card for a contact, and a contact's
// changes written into the card's own text, every other line left as it was.

#include "contact.h"

#include <QByteArray>
#include <QString>

namespace carddav {

// The six texts as the vCard reader reads them; all empty for a card that names nobody.
Contact cardContact(const QByteArray &card);
QString cardUid(const QByteArray &card);
// A vCard 3.0 card of the contact with that UID.
QByteArray newCard(const Contact &contact, const QString &uid);
// The card with each text that differs between `before` and `after` changed to `after`'s, in the property the
// reader takes it from (added or dropped as needed); every other line, parameter and byte stays as it was.
QByteArray mergeIntoCard(const QByteArray &card, const Contact &before, const Contact &after);

} // namespace carddav
