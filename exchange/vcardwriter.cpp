#include "vcard.h"

#include <QStringEncoder>

namespace vcard {

namespace {

QString text(const Contact &contact, std::size_t k)
{
    return contact[k].value_or(QString());
}

} // namespace

QString formattedName(const Contact &contact)
{
    const QString nome = text(contact, field::Nome), cognome = text(contact, field::Cognome);
    if (!nome.isEmpty() && !cognome.isEmpty())
        return nome + u' ' + cognome;
    for (const std::size_t k :
         {field::Nome, field::Cognome, field::Email, field::Telefono, field::Cellulare, field::Fax}) {
        if (!text(contact, k).isEmpty())
            return text(contact, k);
    }
    return QString();
}

void appendEscaped(QString &line, QStringView text)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\' && c != u',' && c != u';' && c != u'\n' && c != u'\r')
            continue;
        line += text.sliced(from, i - from);
        from = i + 1;
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        line += u'\\';
        line += c == u'\n' || c == u'\r' ? QChar(u'n') : c;
    }
    line += text.sliced(from);
}

void appendFolded(QByteArray &out, QStringView text, QByteArray &utf8)
{
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    utf8.resize(encoder.requiredSpace(text.size()));
    utf8.resize(encoder.appendToBuffer(utf8.data(), text) - utf8.constData());
    QByteArrayView line = utf8;
    for (qsizetype room = 75; line.size() > room; room = 74) {
        qsizetype cut = room;
        while ((uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.first(cut);
        out += "\r\n ";
        line = line.sliced(cut);
    }
    out += line;
    out += "\r\n";
}

QByteArray encode(const Contacts &contacts, Version version, const std::vector<QString> &uids)
{
    const bool v4 = version == Version::V4;
    const std::pair<std::size_t, QLatin1String> properties[] = {
        {field::Telefono, QLatin1String("TEL;TYPE=voice:")}, {field::Cellulare, QLatin1String("TEL;TYPE=cell:")},
        {field::Fax, QLatin1String("TEL;TYPE=fax:")},
        {field::Email, QLatin1String(v4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:")}};
    QByteArray out;
    out.reserve(qsizetype(contacts.size()) * 160);
    // Both reused from line to line, so that a line costs no allocation.
    QString line;
    QByteArray utf8;
    const auto appendLine = [&] {
        appendFolded(out, line, utf8);
        line.truncate(0);
    };
    for (std::size_t c = 0; c < contacts.size(); ++c) {
        const Contact &contact = contacts[c];
        out += v4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        if (c < uids.size() && !uids[c].isEmpty()) {
            line += QLatin1String("UID:");
            appendEscaped(line, uids[c]);
            appendLine();
        }
        line += QLatin1String("FN:");
        appendEscaped(line, formattedName(contact));
        appendLine();
        line += QLatin1String("N:");
        appendEscaped(line, text(contact, field::Cognome));
        line += u';';
        appendEscaped(line, text(contact, field::Nome));
        line += QLatin1String(";;;");
        appendLine();
        for (const auto &[k, prefix] : properties) {
            const QString value = text(contact, k);
            if (value.isEmpty())
                continue;
            line += prefix;
            // A number that itself begins with "tel:" has its colon escaped, so that it is not read as a tel: URI.
            const bool telText = k != field::Email && isTelUri(value);
            if (telText) {
                line += QStringView(value).first(3);
                line += QLatin1String("\\:");
            }
            appendEscaped(line, QStringView(value).sliced(telText ? 4 : 0));
            appendLine();
        }
        out += "END:VCARD\r\n";
    }
    return out;
}

} // namespace vcard
