#include "cardtext.h"

#include "synclinks.h"
#include "vcard.h"

#include <QRegularExpression>

#include <optional>
#include <vector>

namespace carddav {

namespace {

// One content line: where its octets are in the card (folded lines included), and its parts unfolded.
struct Line
{
    qsizetype begin = 0, end = 0;
    QByteArray group; // "item1." or empty
    QByteArray name;
    QByteArray parameters; // from the first ';' on, or empty
    QByteArray value;
};

std::vector<Line> contentLines(const QByteArray &card)
{
    std::vector<Line> lines;
    QByteArray unfolded;
    qsizetype begin = 0;
    const auto finish = [&](qsizetype end) {
        if (unfolded.isEmpty())
            return;
        qsizetype colon = -1;
        bool quoted = false;
        for (qsizetype i = 0; i < unfolded.size() && colon < 0; ++i) {
            quoted = quoted != (unfolded[i] == '"');
            if (!quoted && unfolded[i] == ':')
                colon = i;
        }
        if (colon >= 0) {
            Line line{begin, end, {}, {}, {}, unfolded.sliced(colon + 1)};
            const QByteArray head = unfolded.first(colon);
            const qsizetype semicolon = head.indexOf(';');
            QByteArray name = semicolon < 0 ? head : head.first(semicolon);
            line.parameters = semicolon < 0 ? QByteArray() : head.sliced(semicolon);
            line.group = name.first(name.lastIndexOf('.') + 1);
            line.name = name.sliced(line.group.size()).trimmed().toUpper();
            lines.push_back(line);
        }
        unfolded.clear();
    };
    for (qsizetype at = 0; at < card.size();) {
        qsizetype next = card.indexOf('\n', at);
        next = next < 0 ? card.size() : next + 1;
        QByteArray physical = card.sliced(at, next - at);
        while (physical.endsWith('\n') || physical.endsWith('\r'))
            physical.chop(1);
        if (physical.startsWith(' ') || physical.startsWith('\t')) {
            unfolded += physical.sliced(1);
        } else {
            finish(at);
            begin = at;
            unfolded = physical;
        }
        at = next;
    }
    finish(card.size());
    return lines;
}

// Which of the six texts a TEL line holds, as the reader tells fax, mobile and other numbers apart; none for a pager.
std::optional<std::size_t> telephoneField(const QByteArray &parameters)
{
    static const QRegularExpression separators(QStringLiteral("[;,=\"]"));
    const QStringList tokens = QString::fromLatin1(parameters).toLower().split(separators, Qt::SkipEmptyParts);
    if (tokens.contains(QLatin1String("pager")))
        return std::nullopt;
    if (tokens.contains(QLatin1String("fax")))
        return field::Fax;
    return tokens.contains(QLatin1String("cell")) ? field::Cellulare : field::Telefono;
}

std::optional<std::size_t> fieldOf(const Line &line)
{
    if (line.name == "TEL")
        return telephoneField(line.parameters);
    if (line.name == "EMAIL")
        return field::Email;
    return std::nullopt;
}

// The line's parameters without those of an 8-bit transfer, which a value written anew no longer has.
QByteArray plainParameters(const QByteArray &parameters)
{
    static const QRegularExpression transfer(QStringLiteral(";(ENCODING|CHARSET)=[^;]*|;QUOTED-PRINTABLE"),
                                             QRegularExpression::CaseInsensitiveOption);
    return QString::fromLatin1(parameters).remove(transfer).toLatin1();
}

// One property written anew: folded, CRLF, UTF-8.
QByteArray propertyLine(const QByteArray &head, const QString &escapedValue)
{
    QByteArray out, buffer;
    vcard::appendFolded(out, QString::fromUtf8(head) + u':' + escapedValue, buffer);
    return out;
}

QString escaped(const QString &text)
{
    QString line;
    vcard::appendEscaped(line, text);
    return line;
}

QString text(const Contact &contact, std::size_t k)
{
    return contact[k].value_or(QString());
}

} // namespace

Contact cardContact(const QByteArray &card)
{
    Contact texts;
    texts.fill(QString());
    try {
        const Contacts read = vcard::decode(card);
        if (!read.empty())
            texts = links::comparable(read.front());
    } catch (const FormatError &) {
        // A card the reader cannot read names nobody it can show; it stays on the server untouched.
    }
    return texts;
}

QString cardUid(const QByteArray &card)
{
    for (const Line &line : contentLines(card)) {
        if (line.name == "UID")
            return vcard::unescape(QString::fromUtf8(line.value).trimmed());
    }
    return QString();
}

QByteArray newCard(const Contact &contact, const QString &uid)
{
    return vcard::encode({contact}, vcard::Version::V3, {uid});
}

QByteArray mergeIntoCard(const QByteArray &card, const Contact &before, const Contact &after)
{
    const std::vector<Line> lines = contentLines(card);
    const bool v4 = std::any_of(lines.begin(), lines.end(),
                                [](const Line &line) { return line.name == "VERSION" && line.value.trimmed() == "4.0"; });
    // What becomes of each line (by its place; an empty text drops it), and the lines added before END.
    std::vector<std::optional<QByteArray>> replaced(lines.size());
    QByteArray added;
    const auto changed = [&](std::size_t k) { return text(before, k) != text(after, k); };

    if (changed(field::Nome) || changed(field::Cognome)) {
        bool named = false, formatted = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const Line &line = lines[i];
            const QByteArray head = line.group + line.name + plainParameters(line.parameters);
            if (line.name == "N" && !named) {
                // Surname and given name changed; additional names, prefixes and suffixes kept as they are.
                QList<QByteArray> parts = line.value.split(';');
                while (parts.size() < 5)
                    parts << QByteArray();
                const QString rest = QString::fromUtf8(parts.mid(2).join(';'));
                replaced[i] = propertyLine(head, escaped(text(after, field::Cognome)) + u';' +
                                                     escaped(text(after, field::Nome)) + u';' + rest);
                named = true;
            } else if (line.name == "FN" && !formatted) {
                replaced[i] = propertyLine(head, escaped(vcard::formattedName(after)));
                formatted = true;
            }
        }
        if (!named)
            added += propertyLine("N", escaped(text(after, field::Cognome)) + u';' + escaped(text(after, field::Nome)) +
                                           QLatin1String(";;;"));
        if (!formatted)
            added += propertyLine("FN", escaped(vcard::formattedName(after)));
    }

    const std::pair<std::size_t, const char *> others[] = {{field::Telefono, "TEL;TYPE=voice"},
                                                           {field::Cellulare, "TEL;TYPE=cell"},
                                                           {field::Fax, "TEL;TYPE=fax"},
                                                           {field::Email, v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET"}};
    for (const auto &[k, newHead] : others) {
        if (!changed(k))
            continue;
        const QString value = text(after, k);
        // The line the reader took the text from: the first of its kind with a value.
        const auto holder = std::find_if(lines.begin(), lines.end(), [&, k = k](const Line &line) {
            return fieldOf(line) == k && !line.value.trimmed().isEmpty();
        });
        if (holder == lines.end()) {
            if (!value.isEmpty())
                added += propertyLine(newHead, escaped(value));
            continue;
        }
        const std::size_t i = std::size_t(holder - lines.begin());
        const bool uri = holder->value.trimmed().toLower().startsWith("tel:");
        replaced[i] = value.isEmpty() ? QByteArray()
                                      : propertyLine(holder->group + holder->name + plainParameters(holder->parameters),
                                                     uri ? QLatin1String("tel:") + value : escaped(value));
    }

    QByteArray merged;
    merged.reserve(card.size() + added.size() + 64);
    qsizetype copied = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        const bool end = line.name == "END" && line.value.trimmed().toUpper() == "VCARD";
        if (!replaced[i] && !end)
            continue;
        merged += card.sliced(copied, line.begin - copied);
        if (end) {
            merged += added;
            added.clear();
            merged += card.sliced(line.begin, line.end - line.begin);
        } else {
            merged += *replaced[i];
        }
        copied = line.end;
    }
    merged += card.sliced(copied);
    return merged;
}

} // namespace carddav
