#pragma once

// Contacts in and out as CSV files, as address books and spreadsheets write them.

#include "contact.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace csv {

// The columns come from the header row; throws FormatError for a file that cannot be read as contacts. The rows that
// give no contact (no text in a column of ours) are counted in `skipped`, when given; blank lines are no rows.
Contacts decode(QByteArrayView bytes, int *skipped = nullptr);
// UTF-8 with byte-order mark, ';' between cells, CRLF line ends, a header row of the six field names.
QByteArray encode(const Contacts &contacts);

// The steps of decoding, each on its own.
// UTF-16 by its byte-order mark or its zero bytes, UTF-8 with or without byte-order mark, else Windows-1252.
QString fileText(QByteArrayView bytes);
// ',', ';' or tab: whichever the first line holds most of outside quotes.
QChar separatorOf(QStringView text);
// A header as it is looked up: small letters, hyphens, underscores and runs of blanks as one blank, blanks at the ends
// taken off, and "e-mail" (or "e mail") as "email".
QString normalHeader(QStringView header);
// Where a header, normalised, sends its column's texts (an index into Contact); -1 for a header none of ours, or one
// that fills a field only as a row's whole name ("Full Name") or company ("Company") does.
int fieldNamed(QStringView header);
// A cell's text: quotes undone, and what kept a spreadsheet from running or changing it taken off (a leading
// apostrophe, or the ="…" around a number).
QString cellText(QStringView cell);

} // namespace csv
