#include "csv.h"

#include "charsets.h"
#include "modDB.h"

#include "vcard.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace csv {

namespace {

// A Google phone goes where the label in the column beside it says.
constexpr int ByLabel = -2;
// Google's "Name" is the whole name, taken as the given name only when a row has neither given name nor surname.
constexpr int WholeName = -3;
// A full name ("Full Name", "Nome completo"), split as a vCard's FN when a row has neither given name nor surname.
constexpr int FullName = -4;
// A company's name, the surname of a row that names no one, as a vCard's ORG.
constexpr int Organization = -5;

// Headers of Google, Outlook (in English and Italian), Thunderbird, webmail, CRMs and plain spreadsheets, beside our
// own names; as normalHeader writes them (small letters, hyphens and runs of blanks as one blank, "e-mail" as
// "email").
const std::pair<const char16_t *, int> Headers[] = {
    {u"first name", field::Nome}, {u"given name", field::Nome}, {u"firstname", field::Nome},
    {u"forename", field::Nome}, {u"nome proprio", field::Nome}, {u"nome di battesimo", field::Nome},
    {u"last name", field::Cognome}, {u"family name", field::Cognome}, {u"surname", field::Cognome},
    {u"lastname", field::Cognome},
    {u"full name", FullName}, {u"fullname", FullName}, {u"display name", FullName}, {u"contact name", FullName},
    {u"nome completo", FullName}, {u"nome e cognome", FullName}, {u"nome visualizzato", FullName},
    {u"company", Organization}, {u"company name", Organization}, {u"organization", Organization},
    {u"organisation", Organization}, {u"organization name", Organization}, {u"organisation name", Organization},
    {u"azienda", Organization}, {u"società", Organization}, {u"societa", Organization}, {u"ditta", Organization},
    {u"phone", field::Telefono}, {u"telephone", field::Telefono}, {u"tel", field::Telefono}, {u"tel.", field::Telefono},
    {u"phone number", field::Telefono}, {u"telephone number", field::Telefono},
    {u"business phone", field::Telefono}, {u"business phone 2", field::Telefono}, {u"work phone", field::Telefono},
    {u"office phone", field::Telefono}, {u"home phone", field::Telefono}, {u"home phone 2", field::Telefono},
    {u"primary phone", field::Telefono}, {u"company main phone", field::Telefono}, {u"other phone", field::Telefono},
    {u"phone home", field::Telefono}, {u"phone work", field::Telefono}, {u"contact phone", field::Telefono},
    {u"numero di telefono", field::Telefono}, {u"telefono casa", field::Telefono},
    {u"telefono lavoro", field::Telefono}, {u"telefono ufficio", field::Telefono}, {u"telefono uff.", field::Telefono},
    {u"telefono ufficio 2", field::Telefono}, {u"telefono abitazione", field::Telefono},
    {u"telefono abitazione 2", field::Telefono}, {u"telefono principale", field::Telefono},
    {u"altro telefono", field::Telefono}, {u"telefono fisso", field::Telefono},
    {u"mobile", field::Cellulare}, {u"mobile phone", field::Cellulare}, {u"mobile number", field::Cellulare},
    {u"cell", field::Cellulare}, {u"cell phone", field::Cellulare}, {u"cellphone", field::Cellulare},
    {u"home mobile", field::Cellulare}, {u"work mobile", field::Cellulare}, {u"business mobile", field::Cellulare},
    {u"personal mobile", field::Cellulare}, {u"mobile home", field::Cellulare}, {u"mobile work", field::Cellulare},
    {u"contact mobile", field::Cellulare}, {u"cellulare", field::Cellulare}, {u"telefono cellulare", field::Cellulare},
    {u"cell.", field::Cellulare}, {u"numero di cellulare", field::Cellulare},
    {u"business fax", field::Fax}, {u"home fax", field::Fax}, {u"other fax", field::Fax}, {u"fax number", field::Fax},
    {u"work fax", field::Fax}, {u"fax home", field::Fax}, {u"fax work", field::Fax}, {u"numero di fax", field::Fax},
    {u"fax ufficio", field::Fax}, {u"fax uff.", field::Fax}, {u"fax abitazione", field::Fax},
    {u"altro fax", field::Fax},
    {u"email", field::Email}, {u"mail", field::Email}, {u"email address", field::Email},
    {u"email 2 address", field::Email}, {u"email 3 address", field::Email}, {u"email 1", field::Email},
    {u"email 2", field::Email}, {u"email 3", field::Email}, {u"primary email", field::Email},
    {u"secondary email", field::Email}, {u"email home", field::Email}, {u"email work", field::Email},
    {u"home email", field::Email}, {u"work email", field::Email}, {u"personal email", field::Email},
    {u"business email", field::Email}, {u"other email", field::Email}, {u"contact email", field::Email},
    {u"email casa", field::Email}, {u"email lavoro", field::Email}, {u"indirizzo email", field::Email},
    {u"indirizzo di posta elettronica", field::Email}, {u"indirizzo posta elettronica", field::Email},
    {u"indirizzo posta elettronica 2", field::Email}, {u"indirizzo posta elettronica 3", field::Email},
    {u"posta elettronica", field::Email},
};

// Where a header, as normalHeader writes it, sends its column: an index into Contact or one of the kinds above;
// -1 for none.
int headerField(const QString &normal)
{
    for (std::size_t k = 0; k < modDB::FieldNames.size(); ++k) {
        if (normal == modDB::FieldNames[k].toLower())
            return int(k);
    }
    for (const auto &[alias, field] : Headers) {
        if (normal == QStringView(alias))
            return field;
    }
    return -1;
}

// A column we read: where its cells go, and for Google's numbered phones the column of their label.
struct Column
{
    qsizetype index;
    int field;
    qsizetype labelIndex = -1;
    bool listed = false; // Google joins several values with " ::: "; the first is taken
};

// Where a line that ends at the CR before `at` goes on: past an LF that follows its CRs (CRLF, and the CR CR LF some
// phones write, are one line end each), else at `at`, after a lone CR.
qsizetype afterCarriageReturns(QStringView text, qsizetype at)
{
    qsizetype next = at;
    while (next < text.size() && text[next] == u'\r')
        ++next;
    return next < text.size() && text[next] == u'\n' ? next + 1 : at;
}

int lineBreaks(QStringView text)
{
    int breaks = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' || text[i] == u'\r') {
            ++breaks;
            if (text[i] == u'\r')
                i = afterCarriageReturns(text, i + 1) - 1;
        }
    }
    return breaks;
}

// The text's records, their cells still quoted; the lines are counted for the errors.
class Records
{
public:
    Records(QStringView text, QChar separator) : m_text(text), m_separator(separator) {}

    bool next(std::vector<QStringView> &cells)
    {
        cells.clear();
        if (m_at >= m_text.size())
            return false;
        for (;;) {
            const qsizetype start = m_at;
            if (m_at < m_text.size() && m_text[m_at] == u'"')
                skipQuoted();
            while (m_at < m_text.size() && m_text[m_at] != m_separator && m_text[m_at] != u'\n'
                   && m_text[m_at] != u'\r')
                ++m_at;
            cells.push_back(m_text.sliced(start, m_at - start));
            if (m_at == m_text.size())
                return true;
            const QChar end = m_text[m_at++];
            if (end == m_separator)
                continue;
            if (end == u'\r')
                m_at = afterCarriageReturns(m_text, m_at);
            ++m_line;
            m_lineStart = m_at;
            return true;
        }
    }

private:
    void skipQuoted()
    {
        qsizetype end = m_at + 1;
        for (;;) {
            const qsizetype quote = m_text.indexOf(u'"', end);
            if (quote < 0)
                throw FormatError(m_line, int(m_at - m_lineStart + 1), QStringLiteral("virgolette non chiuse"));
            end = quote + 1;
            if (end == m_text.size() || m_text[end] != u'"')
                break;
            ++end;
        }
        const QStringView quoted = m_text.sliced(m_at, end - m_at);
        if (const int breaks = lineBreaks(quoted)) {
            m_line += breaks;
            m_lineStart = m_at + std::max(quoted.lastIndexOf(u'\n'), quoted.lastIndexOf(u'\r')) + 1;
        }
        m_at = end;
    }

    QStringView m_text;
    QChar m_separator;
    qsizetype m_at = 0;
    int m_line = 1; // where m_at is, and where that line starts
    qsizetype m_lineStart = 0;
};

std::vector<Column> columnsOf(const std::vector<QStringView> &cells)
{
    std::vector<QString> headers;
    QHash<QString, qsizetype> indexes; // of each header's first column
    for (const QStringView cell : cells) {
        headers.push_back(normalHeader(cellText(cell)));
        indexes.insert(headers.back(), indexes.value(headers.back(), qsizetype(headers.size()) - 1));
    }
    std::vector<Column> columns;
    for (qsizetype i = 0; i < qsizetype(headers.size()); ++i) {
        const QString &header = headers[std::size_t(i)];
        // Google's numbered items, "Phone 1 - Value" beside "Phone 1 - Label" (or "- Type").
        const bool phone = header.startsWith(QLatin1String("phone "));
        const bool email = header.startsWith(QLatin1String("email "));
        if ((phone || email) && header.endsWith(QLatin1String(" value"))) {
            const QString item = header.chopped(6);
            const qsizetype label = indexes.value(item + QLatin1String(" label"),
                                                  indexes.value(item + QLatin1String(" type"), -1));
            columns.push_back({i, phone ? ByLabel : int(field::Email), label, true});
        } else if (const int field = headerField(header); field != -1) {
            columns.push_back({i, field});
        }
    }
    // A bare "Name" is the given name in a spreadsheet, but the whole name beside Google's "Given Name".
    const bool given =
        std::any_of(columns.begin(), columns.end(), [](const Column &c) { return c.field == field::Nome; });

    if (const qsizetype name = indexes.value(QStringLiteral("name"), -1); name >= 0)
        columns.push_back({name, given ? WholeName : int(field::Nome)});
    // A full name or a company's name fills only what the row leaves empty, so they are read last, the company's after
    // the person's.
    const auto rank = [](const Column &c) { return c.field == FullName ? 1 : c.field == Organization ? 2 : 0; };
    std::stable_sort(columns.begin(), columns.end(), [&rank](const Column &a, const Column &b) { return rank(a) < rank(b); });
    return columns;
}

int phoneField(QStringView label)
{
    if (label.contains(u"fax", Qt::CaseInsensitive))
        return field::Fax;
    if (label.contains(u"mobile", Qt::CaseInsensitive) || label.contains(u"cell", Qt::CaseInsensitive))
        return field::Cellulare;
    return label.contains(u"pager", Qt::CaseInsensitive) ? -1 : int(field::Telefono);
}

Contact contactOf(const std::vector<Column> &columns, const std::vector<QStringView> &cells)
{
    Contact contact;
    contact.fill(QString());
    const auto cell = [&](qsizetype index) {
        return index >= 0 && index < qsizetype(cells.size()) ? cellText(cells[std::size_t(index)]) : QString();
    };
    for (const Column &column : columns) {
        QString text = cell(column.index);
        if (column.listed)
            text = text.section(QStringLiteral(" ::: "), 0, 0);
        int field = column.field == ByLabel ? phoneField(cell(column.labelIndex)) : column.field;
        const bool unnamed = contact[field::Nome]->isEmpty() && contact[field::Cognome]->isEmpty();
        if (field == WholeName)
            field = unnamed ? int(field::Nome) : -1;
        if (field == FullName && unnamed)
            vcard::splitFullName(text, contact);
        if (field == Organization && unnamed)
            contact[field::Cognome] = text.trimmed();
        if (field >= 0 && contact[std::size_t(field)]->isEmpty())
            contact[std::size_t(field)] = text;
    }
    return contact;
}

// A text that begins with an apostrophe a spreadsheet would hide, before one of = + - @ '.
bool beginsWithHiddenApostrophe(QStringView text)
{
    return text.size() > 1 && text[0] == u'\'' && QStringView(u"=+-@'").contains(text[1]);
}

// The apostrophe a spreadsheet hides, written before a text it would run as a formula: one that begins with
// = or @, or with + or - and holds more than a number's digits, blanks and + - ( ) / . does.
bool needsApostrophe(QStringView text)
{
    if (text.isEmpty())
        return false;
    if (text[0] == u'=' || text[0] == u'@')
        return true;
    if (text[0] == u'+' || text[0] == u'-') {
        return std::any_of(text.begin(), text.end(), [](QChar c) {
            return (c < u'0' || c > u'9') && !QStringView(u" +-()/.").contains(c);
        });
    }
    // One that already begins so gets one more, so that reading takes off exactly the one writing put on.
    return beginsWithHiddenApostrophe(text);
}

// A text a spreadsheet would read as a number or a date and may give back changed: digits with nothing but
// + - . , / : e E among them (a telephone number typed without blanks loses its leading zero, 1e5 turns into
// 1.00E+05, 1/2 into a date). Only a whole number it keeps exactly is left alone. The rest is written as ="…",
// which the spreadsheet shows as the text itself.
bool changedAsNumber(QStringView text)
{
    const auto digit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (!std::any_of(text.begin(), text.end(), digit) ||
        !std::all_of(text.begin(), text.end(), [&](QChar c) { return digit(c) || QStringView(u"+-.,/:eE").contains(c); }))
        return false;
    const bool keptWhole = std::all_of(text.begin(), text.end(), digit) && (text.size() == 1 || text.front() != u'0') &&
                           text.size() <= 15;
    return !keptWhole;
}

void appendCell(QString &out, QStringView text)
{
    if (changedAsNumber(text)) {
        out += u"\"=\"\"";
        out += text;
        out += u"\"\"\"";
        return;
    }
    const bool quoted = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace() ||
                                            std::any_of(text.begin(), text.end(), [](QChar c) {
                                                return c == u';' || c == u'"' || c == u'\r' || c == u'\n';
                                            }));
    if (quoted)
        out += u'"';
    if (needsApostrophe(text))
        out += u'\'';
    if (quoted) {
        for (qsizetype from = 0, quote; from <= text.size(); from = quote + 1) {
            quote = text.indexOf(u'"', from);
            if (quote < 0)
                quote = text.size();
            out += text.sliced(from, quote - from);
            if (quote < text.size())
                out += u"\"\"";
        }
        out += u'"';
    } else {
        out += text;
    }
}

} // namespace

QString fileText(QByteArrayView bytes)
{
    if (std::optional<QString> text = charsets::fromUtf16(bytes))
        return *text;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    std::optional<QString> text = charsets::fromUtf8(bytes);
    return text ? *text : charsets::fromWindows1252(bytes);
}

QChar separatorOf(QStringView text)
{
    const QChar separators[3] = {u',', u';', u'\t'};
    int counts[3] = {};
    bool quoted = false;
    for (const QChar c : text) {
        quoted = quoted != (c == u'"');
        if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        for (int k = 0; k < 3; ++k)
            counts[k] += !quoted && c == separators[k];
    }
    return separators[std::max_element(counts, counts + 3) - counts];
}

QString normalHeader(QStringView header)
{
    QString text = header.toString().toLower();
    text.replace(u'-', u' ').replace(u'_', u' ');
    text = text.simplified();
    // "e mail", as "e-mail" became: the word is one, however it is written.
    static const QRegularExpression eMail(QStringLiteral("\\be mail\\b"));
    text.replace(eMail, QStringLiteral("email"));
    return text;
}

int fieldNamed(QStringView header)
{
    const int field = headerField(normalHeader(header));
    return field >= 0 ? field : -1;
}


QString cellText(QStringView cell)
{
    QString text;
    if (!cell.startsWith(u'"')) {
        text = cell.toString();
    } else {
        // Quoted: pairs of quotes stand for one; whatever follows the closing quote is kept as it is.
        qsizetype from = 1;
        for (qsizetype quote; (quote = cell.indexOf(u'"', from)) >= 0; from = quote + 2) {
            text += cell.sliced(from, quote - from);
            if (quote + 1 == cell.size() || cell[quote + 1] != u'"') {
                from = quote + 1;
                break;
            }
            text += u'"';
        }
        text += cell.sliced(std::min(from, cell.size()));
    }
    if (beginsWithHiddenApostrophe(text))
        text.remove(0, 1);
    else if (text.startsWith(u"=\"") && text.endsWith(u'"') && text.count(u'"') == 2)
        text = text.mid(2, text.size() - 3);
    return text;
}

Contacts decode(QByteArrayView bytes, int *skipped)
{
    const QString text = fileText(bytes);
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0)
        throw FormatError(lineBreaks(QStringView(text).first(nul)) + 1, 0, charsets::BinaryData);
    Records records(text, separatorOf(text));
    std::vector<QStringView> cells;
    records.next(cells);
    const std::vector<Column> columns = columnsOf(cells);
    if (columns.empty()) {
        throw FormatError(1, 0, QStringLiteral("l'intestazione non nomina nessuno dei campi ") +
                                    QStringList(modDB::FieldNames.begin(), modDB::FieldNames.end()).join(u", "));
    }
    Contacts contacts;
    // A line a contact, near enough: the list grows once (an address book's worth at most, whatever the file says).
    contacts.reserve(std::min<std::size_t>(std::size_t(lineBreaks(text)) + 1, 1 << 18));
    while (records.next(cells)) {
        Contact contact = contactOf(columns, cells);
        // A blank line is no row; a row whose texts are all in columns none of ours, or empty, is counted.
        const bool blankLine = cells.size() == 1 && cells.front().trimmed().isEmpty();
        if (!isEmptyContact(contact))
            contacts.push_back(std::move(contact));
        else if (skipped && !blankLine)
            ++*skipped;
    }
    return contacts;
}

QByteArray encode(const Contacts &contacts)
{
    QString text = QChar(QChar::ByteOrderMark);
    text += QStringList(modDB::FieldNames.begin(), modDB::FieldNames.end()).join(u';');
    text += u"\r\n";
    text.reserve(qsizetype(contacts.size()) * 80);
    for (const Contact &contact : contacts) {
        for (std::size_t k = 0; k < contact.size(); ++k) {
            if (k > 0)
                text += u';';
            appendCell(text, contact[k].value_or(QString()));
        }
        text += u"\r\n";
    }
    return text.toUtf8();
}

} // namespace csv
