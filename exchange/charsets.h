#pragma once

// The character sets contact files come in, turned into text.

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace charsets {

// Why a file that holds a byte no text has, a NUL, is refused.
inline const QString BinaryData = QStringLiteral("il file contiene dati binari");

// UTF-8 exactly, a leading byte-order mark kept as a character; nothing when the bytes are not UTF-8.
std::optional<QString> fromUtf8(QByteArrayView bytes);
// What Windows calls ANSI in Western Europe; every byte is a character.
QString fromWindows1252(QByteArrayView bytes);
// A whole file in UTF-16, little- or big-endian, as text without its byte-order mark; nothing when it is not
// UTF-16. Its byte-order mark tells, and without one the pattern of zero bytes does: text in UTF-16 is mostly
// Latin letters, digits and punctuation, whose high byte is zero, so that one byte of each pair is zero far more
// often than the other, which no UTF-8 or 8-bit text shows.
std::optional<QString> fromUtf16(QByteArrayView bytes);
// The bytes in the named character set, UTF-8 when it is not known, UTF-8 or else Windows-1252 when it is not
// named; nothing when they are not in it.
std::optional<QString> decode(QByteArrayView bytes, QByteArrayView charset);

} // namespace charsets
