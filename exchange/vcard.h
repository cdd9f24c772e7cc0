#pragma once

// Contacts in and out as vCard files (2.1, 3.0 and 4.0 in; 3.0 or 4.0 out).

#include "contact.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vcard {

enum class Version { V3, V4 };

// One contact per card that names someone or a company or gives a number or address; throws FormatError for a
// file that is no vCard file. The other cards are counted in `skipped`, when given. UTF-8 and 8-bit files are read,
// and UTF-16 ones, with or without byte-order mark.
Contacts decode(QByteArrayView bytes, int *skipped = nullptr);
// UTF-8 without byte-order mark, CRLF line ends, lines folded at 75 octets. A contact's UID, where `uids` gives
// one (the same order as the contacts), goes on its card.
QByteArray encode(const Contacts &contacts, Version version = Version::V3, const std::vector<QString> &uids = {});

// The steps of encoding a card, each on its own.
// "Nome Cognome", or what there is of it; else the first address or number the contact has.
QString formattedName(const Contact &contact);
// Backslashes, commas, semicolons and line breaks escaped; a CRLF is one line break.
void appendEscaped(QString &line, QStringView text);
// The line in UTF-8 with CRLF; past 75 octets it goes on in lines that begin with a blank, never inside a character.
// `utf8` is a buffer the caller may reuse from line to line.
void appendFolded(QByteArray &out, QStringView text, QByteArray &utf8);

// The steps of decoding a value, each on its own.
QByteArray decodeQuotedPrintable(QByteArrayView value);
// The index-th ';'-separated component of a structured value, still escaped.
QStringView component(QStringView value, int index);
QString unescape(const QString &value);
// Whether a value is a "tel:" URI, as 4.0 writes numbers, often without VALUE=uri.
bool isTelUri(QStringView value);
// The number in a "tel:" URI, its extension after " int. "; any other URI as it is.
QString telNumber(const QString &uri);
// A formatted name as the first name (its first word) and the surname (the rest).
void splitFullName(const QString &fullName, Contact &contact);

} // namespace vcard
