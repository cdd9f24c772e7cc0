#pragma once

// Contacts in and out as CSV files, as address books and spreadsheets write them.

#include "contact.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace csv {

// The columns come from the header row; throws FormatError for a file that cannot be read as contacts.
Contacts decode(QByteArrayView bytes);
// UTF-8 with byte-order mark, ';' between cells, CRLF line ends, a header row of the six field names.
QByteArray encode(const Contacts &contacts);

// The steps of decoding, each on its own.
// UTF-16 or UTF-8 by the byte-order mark, else UTF-8 when the bytes are UTF-8, else Windows-1252.
QString fileText(QByteArrayView bytes);
// ',', ';' or tab: whichever the first line holds most of outside quotes.
QChar separatorOf(QStringView text);
// Where a header, its blanks at the ends taken off, sends its column's texts (an index into Contact); -1 for a
// header none of ours.
int fieldNamed(QStringView header);
// A cell's text: quotes undone, and what kept a spreadsheet from running or changing it taken off (a leading
// apostrophe, or the ="…" around a number).
QString cellText(QStringView cell);

} // namespace csv
