#include "vcard.h"

#include "charsets.h"

#include <QList>

#include <algorithm>
#include <optional>

namespace vcard {

namespace {

// The file's lines without their line ends, numbered from 1. A line ends at LF, at CRLF, or at a lone CR (as old
// Macs write); the CR CR LF some phones write, a CRLF whose CR was doubled on its way, is one line end too, so that
// none of its CRs is left at the end of a value and a folded line stays folded.
class Lines
{
public:
    explicit Lines(QByteArrayView bytes) : m_rest(bytes) { advance(); }
    bool atEnd() const { return m_atEnd; }
    QByteArrayView current() const { return m_line; }
    int number() const { return m_number; }
    void advance()
    {
        m_atEnd = m_rest.isEmpty();
        if (m_atEnd)
            return;
        ++m_number;
        qsizetype end = 0;
        while (end < m_rest.size() && m_rest[end] != '\n' && m_rest[end] != '\r')
            ++end;
        m_line = m_rest.first(end);
        qsizetype next = end;
        if (next < m_rest.size() && m_rest[next] == '\r') {
            while (next < m_rest.size() && m_rest[next] == '\r')
                ++next;
            // CRs before an LF end the line with it; otherwise the first CR alone ends it.
            next = next < m_rest.size() && m_rest[next] == '\n' ? next : end;
        }
        m_rest = m_rest.sliced(std::min(next + 1, m_rest.size()));
    }

private:
    QByteArrayView m_rest;
    QByteArrayView m_line;
    int m_number = 0;
    bool m_atEnd = false;
};

struct Property
{
    QByteArrayView name; // without its group ("item1.")
    QByteArrayView value;
    QByteArrayView encoding;
    QByteArrayView charset;
    bool fax = false;
    bool cell = false;
    bool pager = false;
    bool uri = false; // VALUE=uri, as 4.0 may write numbers
};

// Names and parameters compared as ASCII, ignoring case; inline, as every line asks several times.
bool is(QByteArrayView text, QByteArrayView name)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return text.size() == name.size() &&
           std::equal(text.begin(), text.end(), name.begin(), [&](char a, char b) { return lower(a) == lower(b); });
}

QByteArrayView unquoted(QByteArrayView text)
{
    text = text.trimmed();
    if (text.startsWith('"'))
        text = text.sliced(1);
    if (text.endsWith('"'))
        text.chop(1);
    return text;
}

// ENCODING=, CHARSET= and the types, however they are written: TYPE="cell,voice", TYPE=cell;TYPE=voice, CELL;VOICE.
void addParameter(Property &property, QByteArrayView parameter)
{
    const qsizetype equals = parameter.indexOf('=');
    const QByteArrayView key = equals < 0 ? QByteArrayView("TYPE") : parameter.first(equals).trimmed();
    const QByteArrayView values = parameter.sliced(equals + 1);
    if (is(key, "ENCODING") || (equals < 0 && (is(values, "QUOTED-PRINTABLE") || is(values, "BASE64"))))
        property.encoding = unquoted(values);
    else if (is(key, "CHARSET"))
        property.charset = unquoted(values);
    else if (is(key, "VALUE"))
        property.uri = is(unquoted(values), "uri");
    else if (is(key, "TYPE")) {
        for (qsizetype from = 0; from <= values.size();) {
            qsizetype comma = values.indexOf(',', from);
            if (comma < 0)
                comma = values.size();
            const QByteArrayView type = unquoted(values.sliced(from, comma - from));
            property.fax = property.fax || is(type, "fax");
            property.cell = property.cell || is(type, "cell");
            property.pager = property.pager || is(type, "pager");
            from = comma + 1;
        }
    }
}

// "[group.]name;parameter...:value"; nothing when the line has no colon outside quotes.
std::optional<Property> parseProperty(QByteArrayView line)
{
    Property property;
    bool named = false;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        quoted = quoted != (c == '"');
        if (quoted || (c != ';' && c != ':'))
            continue;
        const QByteArrayView part = line.sliced(start, i - start).trimmed();
        if (named)
            addParameter(property, part);
        else
            property.name = part.sliced(part.lastIndexOf('.') + 1);
        named = true;
        start = i + 1;
        if (c == ':') {
            property.value = line.sliced(start);
            return property;
        }
    }
    return std::nullopt;
}

// The next content line with its folding undone: a line break before a blank, and in quoted-printable values
// the soft break "=" at the end of a line. `joined` holds it when it spans several lines.
QByteArrayView nextContentLine(Lines &lines, QByteArray &joined)
{
    QByteArrayView line = lines.current();
    bool copied = false;
    std::optional<bool> quotedPrintable; // looked up once, so that a long run of lines costs no more than one
    for (lines.advance(); !lines.atEnd(); lines.advance()) {
        const QByteArrayView next = lines.current();
        if (line.endsWith('=') && !quotedPrintable) {
            const std::optional<Property> property = parseProperty(line);
            quotedPrintable = property && is(property->encoding, "QUOTED-PRINTABLE");
        }
        const bool softBreak = line.endsWith('=') && *quotedPrintable;
        if (!softBreak && !next.startsWith(' ') && !next.startsWith('\t'))
            break;
        if (!copied) {
            joined.truncate(0);
            joined += line;
            copied = true;
        }
        if (softBreak)
            joined.chop(1);
        joined += softBreak ? next : next.sliced(1);
        line = joined;
    }
    return line;
}

bool isBoundary(const std::optional<Property> &property, QByteArrayView name)
{
    return property && is(property->name, name) && is(property->value.trimmed(), "VCARD");
}

// A value as text: its transfer encoding undone, then read in its character set.
QString valueText(const Property &property, int line)
{
    QByteArray decoded;
    QByteArrayView bytes = property.value;
    if (is(property.encoding, "QUOTED-PRINTABLE"))
        bytes = decoded = decodeQuotedPrintable(bytes);
    else if (is(property.encoding, "BASE64") || is(property.encoding, "B"))
        bytes = decoded = QByteArray::fromBase64(bytes.toByteArray());
    const std::optional<QString> text = charsets::decode(bytes, property.charset);
    if (!text) {
        const QString charset = property.charset.isEmpty() ? QStringLiteral("UTF-8") : QString::fromLatin1(property.charset);
        throw FormatError(line, 0, QStringLiteral("testo non valido nel set di caratteri %1").arg(charset));
    }
    if (text->contains(QChar(0)))
        throw FormatError(line, 0, charsets::BinaryData);
    return *text;
}

void keepFirst(FieldValue &field, const QString &text)
{
    if (field->isEmpty())
        field = text;
}

// What one card has told so far.
class Card
{
public:
    Card() { m_contact.fill(QString()); }

    // Properties a contact has no place for are passed over.
    void read(const Property &property, int line)
    {
        const QByteArrayView name = property.name;
        if (!is(name, "N") && !is(name, "FN") && !is(name, "TEL") && !is(name, "EMAIL") && !is(name, "ORG"))
            return;
        const QString value = valueText(property, line);
        if (is(name, "N")) {
            if (!m_named) {
                m_contact[field::Cognome] = unescape(component(value, 0).toString());
                m_contact[field::Nome] = unescape(component(value, 1).toString());
            }
            m_named = true;
        } else if (is(name, "FN")) {
            if (!m_formattedName)
                m_formattedName = unescape(value);
        } else if (is(name, "TEL")) {
            const std::size_t kind = property.fax ? field::Fax : property.cell ? field::Cellulare : field::Telefono;
            if (!property.pager)
                keepFirst(m_contact[kind], property.uri || isTelUri(value) ? telNumber(unescape(value)) : unescape(value));
        } else if (is(name, "ORG")) {
            if (!m_organization)
                m_organization = unescape(component(value, 0).toString()).trimmed();
        } else {
            keepFirst(m_contact[field::Email], unescape(value));
        }
    }

    // Without a name in N, the formatted name's first word is taken as the given name and the rest as the surname
    // (a company's card has only FN); unless it repeats an address or number of the card, as a card written for a
    // contact without a name does. Without either, the organisation's name is the surname, so that the card sorts
    // with the surnames.
    Contact contact() const
    {
        Contact contact = m_contact;
        const bool unnamed = contact[field::Nome]->isEmpty() && contact[field::Cognome]->isEmpty();
        if (unnamed && m_formattedName && std::find(contact.begin(), contact.end(), m_formattedName) == contact.end())
            splitFullName(*m_formattedName, contact);
        if (contact[field::Nome]->isEmpty() && contact[field::Cognome]->isEmpty() && m_organization)
            contact[field::Cognome] = *m_organization;
        return contact;
    }

private:
    Contact m_contact;
    bool m_named = false;
    std::optional<QString> m_formattedName;
    std::optional<QString> m_organization;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}

} // namespace

QByteArray decodeQuotedPrintable(QByteArrayView value)
{
    QByteArray bytes;
    bytes.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const int high = value[i] == '=' && i + 2 < value.size() ? hexDigit(value[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexDigit(value[i + 2]);
        if (low < 0) {
            bytes += value[i];
            continue;
        }
        bytes += char(high << 4 | low);
        i += 2;
    }
    return bytes;
}

QStringView component(QStringView value, int index)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\') {
            ++i;
        } else if (value[i] == u';') {
            if (index-- == 0)
                return value.sliced(start, i - start);
            start = i + 1;
        }
    }
    return index == 0 ? value.sliced(start) : QStringView();
}

QString unescape(const QString &value)
{
    if (!value.contains(u'\\') && !value.contains(u'\r'))
        return value;
    QString text;
    text.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value[i];
        if (c == u'\r') {
            if (i + 1 < value.size() && value[i + 1] == u'\n')
                continue;
            c = u'\n';
        } else if (c == u'\\' && i + 1 < value.size() && QStringView(u"\\,;:nN").contains(value[i + 1])) {
            c = value[++i];
            if (c == u'n' || c == u'N')
                c = u'\n';
        }
        text += c;
    }
    return text;
}

void splitFullName(const QString &fullName, Contact &contact)
{
    const QString name = fullName.trimmed();
    const auto blank = std::find_if(name.begin(), name.end(), [](QChar c) { return c.isSpace(); });
    contact[field::Nome] = name.first(blank - name.begin());
    contact[field::Cognome] = name.sliced(blank - name.begin()).trimmed();
}

bool isTelUri(QStringView value)
{
    return value.startsWith(u"tel:", Qt::CaseInsensitive);
}

QString telNumber(const QString &uri)
{
    if (!uri.startsWith(u"tel:", Qt::CaseInsensitive))
        return uri;
    const QList<QStringView> parts = QStringView(uri).sliced(4).split(u';');
    QString text = parts.first().toString();
    for (const QStringView parameter : parts.mid(1)) {
        if (parameter.startsWith(u"ext=", Qt::CaseInsensitive)) {
            text += QLatin1String(" int. ");
            text += parameter.sliced(4);
        }
    }
    return text;
}

namespace {

// The cards of a file in UTF-8 or an 8-bit character set.
Contacts decodeBytes(QByteArrayView bytes, int *skipped)
{
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
        int line = 0;
        for (Lines lines(bytes.first(nul + 1)); !lines.atEnd(); lines.advance())
            line = lines.number();
        throw FormatError(line, 0, charsets::BinaryData);
    }
    Contacts contacts;
    // A card a contact: the list grows once (an address book's worth at most, whatever the file says).
    contacts.reserve(std::min<std::size_t>(std::size_t(QByteArrayView(bytes).count("END:VCARD")) + 1, 1 << 18));
    Card card;
    int depth = 0; // a 2.1 AGENT may hold a card of its own, which is not read
    int beginLine = 0;
    QByteArray joined;
    for (Lines lines(bytes); !lines.atEnd();) {
        const int number = lines.number();
        QByteArrayView line = nextContentLine(lines, joined);
        if (depth == 0 && line.startsWith("\xEF\xBB\xBF"))
            line = line.sliced(3);
        const std::optional<Property> property = parseProperty(line);
        if (isBoundary(property, "BEGIN")) {
            if (depth++ == 0) {
                card = Card();
                beginLine = number;
            }
            continue;
        }
        if (depth > 0 && isBoundary(property, "END")) {
            if (--depth == 0) {
                if (!isEmptyContact(card.contact()))
                    contacts.push_back(card.contact());
                else if (skipped)
                    ++*skipped;
            }
            continue;
        }
        if (depth == 1 && property)
            card.read(*property, number);
        if (depth == 0 && !line.trimmed().isEmpty())
            throw FormatError(number, 0, QStringLiteral("testo fuori da una vCard"));
    }
    if (depth > 0)
        throw FormatError(beginLine, 0, QStringLiteral("manca END:VCARD"));
    if (beginLine == 0)
        throw FormatError(1, 0, QStringLiteral("il file non contiene nessuna vCard"));
    return contacts;
}

} // namespace

Contacts decode(QByteArrayView bytes, int *skipped)
{
    // A file in UTF-16 is read as the same text in UTF-8, which every step reads.
    if (const std::optional<QString> text = charsets::fromUtf16(bytes))
        return decodeBytes(text->toUtf8(), skipped);
    return decodeBytes(bytes, skipped);
}

} // namespace vcard
