#include "csv.h"
#include "support/storesupport.h"
#include "vcard.h"

#include <QStringEncoder>

namespace {

// "csv", "vcf" (read as any version), "vcf3" or "vcf4"; cards or rows that give no contact counted in `skipped`.
Contacts decoded(const QString &format, QByteArrayView bytes, int *skipped = nullptr)
{
    return format == QLatin1String("csv") ? csv::decode(bytes, skipped) : vcard::decode(bytes, skipped);
}

QByteArray encoded(const QString &format, const Contacts &contacts)
{
    if (format == QLatin1String("csv"))
        return csv::encode(contacts);
    return vcard::encode(contacts, format == QLatin1String("vcf4") ? vcard::Version::V4 : vcard::Version::V3);
}

// Each contact as "Nome|Cognome|Telefono|Cellulare|Fax|Email"; a null text shows as "(null)".
QStringList rowsOf(const Contacts &contacts)
{
    QStringList rows;
    for (const Contact &contact : contacts) {
        QStringList texts;
        for (const FieldValue &text : contact)
            texts << text.value_or(QStringLiteral("(null)"));
        rows << texts.join(u'|');
    }
    return rows;
}

Contact contactOf(const QString &row)
{
    Contact contact;
    const QStringList texts = row.split(u'|');
    for (std::size_t k = 0; k < contact.size(); ++k)
        contact[k] = texts[qsizetype(k)] == QLatin1String("(null)") ? FieldValue() : texts[qsizetype(k)];
    return contact;
}

// A sample file, its CRLF line ends replaced by `end`.
QByteArray sample(const QString &name, const char *end = "\r\n")
{
    return fileBytes(QStringLiteral(BRISOLTA_TEST_DATA "/exchange/") + name).replace("\r\n", end);
}

// The UTF-8 bytes as UTF-16, little- or big-endian, with or without a byte-order mark.
QByteArray utf16(const QByteArray &utf8, bool bigEndian, bool bom)
{
    QStringEncoder encoder(bigEndian ? QStringEncoder::Utf16BE : QStringEncoder::Utf16LE,
                           bom ? QStringEncoder::Flag::WriteBom : QStringEncoder::Flag::Default);
    return encoder(QString::fromUtf8(utf8));
}

} // namespace

class CodecsTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadWhatOtherProgramsWrite_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("skipped"); // cards or rows that give no contact
        const QStringList phone{"Nicolò|Bellò|02 1234567|+39 333 1234567|02 7654321|nicolo@example.it",
                                "Anna|Bianchi|+39 06 5555555|||", "Renè|Cantù||+39 328 7777777||"};
        const QStringList apple{
            "Maria Grazia|D'Angelo|+39 02 8888 1234|+39 347 111 2222|+39 02 8888 1235|maria.dangelo@example.com",
            "Luca, detto \"Lucky\"|Ferrari;Neri|02 1111111|333 0000000||luca@example.it", "José|Caffè||||"};
        const QStringList outlook{"Sara|Lombardi|02 200|333 400|02 100|sara@acme.example",
                                  "Marco|Villa|02 600||02 500|marco@home.example"};
        QTest::newRow("phone, 2.1, quoted-printable") << "vcf" << sample("phone-2.1.vcf") << phone << 1;
        QTest::newRow("2.1, Windows-1252 unnamed") << "vcf" << QByteArray("BEGIN:VCARD\nVERSION:2.1\nN:Bell\xF2;Nicol\xF2\nNOTE:caff\xE8\nEND:VCARD")
                                                   << QStringList{"Nicolò|Bellò||||"} << 0;
        QTest::newRow("a company: empty N, FN") << "vcf" << QByteArray("BEGIN:VCARD\nN:;;;;\nFN:Idraulico Bianchi\nORG:Bianchi\nTEL:02 1\nEND:VCARD")
                                                << QStringList{"Idraulico|Bianchi|02 1|||"} << 0;
        QTest::newRow("iPhone, 3.0, groups") << "vcf" << sample("groups-3.0.vcf") << apple << 0;
        QTest::newRow("4.0, tel: URIs, no N") << "vcf" << sample("uri-4.0.vcf") << QStringList{
            "Giulia|Conti Ricci|+39-02-555-0100 int. 42|+39-333-555-0101|+39-02-555-0102|giulia@example.org",
            "Studio||+39 02 1111|||"} << 0;
        QTest::newRow("Google, old, UTF-16") << "csv" << sample("google-old.csv") << QStringList{
            "Mario|Rossi|02 4444444|+39 333 1111111|02 3333333|mario@example.it", "Azienda Srl||02 7777|||",
            "|Verdi|02 8888888|||"} << 0;
        QTest::newRow("Google, new") << "csv" << sample("google-new.csv") << QStringList{
            "Chiara|Esposito|081 1234567|+39 320 7654321||chiara@example.it", "Paolo|Greco|081 111||081 000|"} << 0;
        QTest::newRow("Outlook") << "csv" << sample("outlook.csv") << outlook << 0;
        QTest::newRow("Outlook, Italian, Windows-1252") << "csv" << sample("outlook-it.csv") << QStringList{
            "Nicolò|D’Angelo|02 2|333 4|02 1|nicolo@example.it"} << 0;
        QTest::newRow("Thunderbird, LF only") << "csv" << sample("thunderbird.csv") << QStringList{
            "Elena|Galli|011 222|349 333|011 999|elena@example.it"} << 0;
        QTest::newRow("spreadsheet, ';', BOM") << "csv" << sample("spreadsheet.csv") << QStringList{
            "Ada|Neri\r\nBassi||333 \"1\"||ada@example.it", "=Lovelace|Byron|06 1|||"} << 1;
        QTest::newRow("tabs, no line end") << "csv" << QByteArray(" cognome \tNome\tCELL\n\"Neri\"\tAda\t333")
                                           << QStringList{"Ada|Neri||333||"} << 0;

        // Line ends as phones and old Macs write them, after a byte-order mark: LF alone, CR CR LF (a CRLF whose CR was
        // doubled), a lone CR.
        const QByteArray bom = "\xEF\xBB\xBF";
        const std::pair<const char *, const char *> ends[]{{"LF", "\n"}, {"CR CR LF", "\r\r\n"}, {"lone CR", "\r"}};
        for (const auto &[name, end] : ends) {
            QTest::addRow("phone, %s, BOM", name) << "vcf" << bom + sample("phone-2.1.vcf", end) << phone << 1;
            QTest::addRow("iPhone, %s, BOM", name) << "vcf" << bom + sample("groups-3.0.vcf", end) << apple << 0;
            QTest::addRow("Outlook, %s, BOM", name) << "csv" << bom + sample("outlook.csv", end) << outlook << 0;
        }

        // vCard 4.0 numbers as tel: URIs without VALUE=uri, as Android writes them.
        QTest::newRow("4.0, tel: without VALUE") << "vcf" << sample("tel-4.0.vcf") << QStringList{"Anna|Neri|+39-06-1234567|+39-333-1234567 int. 12|06 7654321|"} << 0;
        QTest::newRow("an escaped tel\\: is a number") << "vcf"
            << QByteArray("BEGIN:VCARD\r\nN:Neri;Ada\r\nTEL:tel\\:x\r\nEND:VCARD\r\n")
            << QStringList{"Ada|Neri|tel:x|||"} << 0;

        // UTF-16, little- and big-endian, with and without byte-order mark: the zero bytes tell.
        const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bellò;Nicolò\r\nTEL;TYPE=CELL:+39 333 1\r\n"
                                "EMAIL:n@example.it\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:日本;😀\r\nEND:VCARD\r\n";
        const QStringList cardRows{"Nicolò|Bellò||+39 333 1||n@example.it", "😀|日本||||"};
        const QByteArray sheet = "Nome;Cognome;Telefono\r\nNicolò;Bellò;02 1\r\n😀;日本;\r\n";
        const QStringList sheetRows{"Nicolò|Bellò|02 1|||", "😀|日本||||"};
        for (const bool bigEndian : {false, true}) {
            for (const bool bom : {true, false}) {
                const QString shape = QStringLiteral("UTF-16 %1, %2").arg(bigEndian ? "BE" : "LE", bom ? "BOM" : "no BOM");
                QTest::newRow(qPrintable("vCard, " + shape)) << "vcf" << utf16(card, bigEndian, bom) << cardRows << 0;
                QTest::newRow(qPrintable("CSV, " + shape)) << "csv" << utf16(sheet, bigEndian, bom) << sheetRows << 0;
            }
        }

        // Headers of webmail, CRM and Outlook exports, in English and Italian, however they are written.
        QTest::newRow("webmail headers") << "csv" << sample("webmail.csv") << QStringList{"Ada|Neri|02 1|333 1||ada@example.it"} << 0;
        QTest::newRow("CRM headers, full name") << "csv" << sample("crm.csv") << QStringList{"Maria|Grazia D'Angelo||333 2||m@example.it", "|ACME Srl||||x@example.it"} << 0;
        QTest::newRow("Outlook, second address") << "csv" << sample("outlook-second.csv") << QStringList{"Luca|||||luca@example.it"} << 0;
        QTest::newRow("Italian headers") << "csv" << sample("italian-headers.csv") << QStringList{"Renè|Cantù|06 1|347 2|06 3|r@example.it"} << 0;
        QTest::newRow("headers, case, blanks, hyphens") << "csv" << sample("headers-written-so.csv") << QStringList{"Ada|Neri||333||a@example.it"} << 0;

        // A card that holds only an organisation is stored under its name, as a surname, and is no skip; a card or a
        // row with none of the six texts is skipped and counted, a blank line is no row.
        QTest::newRow("ORG only") << "vcf" << sample("org-only.vcf") << QStringList{"|Bike Shop||||", "|Idraulico, Bianchi|02 5|||"} << 0;
        QTest::newRow("cards with nothing of ours") << "vcf" << sample("nothing-of-ours.vcf") << QStringList{"Ada|Neri||||"} << 2;
        QTest::newRow("rows with a name the header did not map") << "csv"
            << QByteArray("Nome;Soprannome;Telefono\r\nAda;;06 1\r\n;Lucky;\r\n;;\r\n\r\n")
            << QStringList{"Ada||06 1|||"} << 2;
        QTest::newRow("blank lines are no rows") << "csv" << QByteArray("Nome\r\n\r\nAda\r\n\r\r\n\n")
                                                 << QStringList{"Ada|||||"} << 0;
    }

    void shouldReadWhatOtherProgramsWrite()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QFETCH(int, skipped);
        // GIVEN a file as another program writes it WHEN it is decoded THEN every contact has its six texts, and what
        // gives no contact is counted
        int counted = 0;
        try {
            QCOMPARE(rowsOf(decoded(format, bytes, &counted)), expected);
            QCOMPARE(counted, skipped);
        } catch (const FormatError &error) {
            QFAIL(qPrintable(QStringLiteral("refused at line %1: %2").arg(error.line()).arg(error.reason())));
        }
    }

    void shouldWriteWhatOtherProgramsRead_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("vCard 3.0, every field") << "vcf3" << "Mario|Rossi|02 1234|333 1|02 9|m@x.it"
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Mario Rossi\r\nN:Rossi;Mario;;;\r\nTEL;TYPE=voice:02 1234\r\n"
                          "TEL;TYPE=cell:333 1\r\nTEL;TYPE=fax:02 9\r\nEMAIL;TYPE=INTERNET:m@x.it\r\nEND:VCARD\r\n");
        QTest::newRow("vCard 4.0, no name") << "vcf4" << "(null)||02 5|333 1|(null)|e@x.it"
            << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:e@x.it\r\nN:;;;;\r\nTEL;TYPE=voice:02 5\r\nTEL;TYPE=cell:333 1\r\n"
                          "EMAIL:e@x.it\r\nEND:VCARD\r\n");
        QTest::newRow("vCard, escapes") << "vcf3" << "|D'Angelo, Neri; \\ a\r\nb\rc||||e@x.it"
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:D'Angelo\\, Neri\\; \\\\ a\\nb\\nc\r\n"
                          "N:D'Angelo\\, Neri\\; \\\\ a\\nb\\nc;;;;\r\nEMAIL;TYPE=INTERNET:e@x.it\r\nEND:VCARD\r\n");
        const QByteArray a71(71, 'a');
        QTest::newRow("vCard, folded between characters") << "vcf4" << QString(a71 + "ààà|||||")
            << "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:" + a71 + "\r\n ààà\r\nN:;" + a71 + "\r\n ààà;;;\r\nEND:VCARD\r\n";
        const QByteArray header = "\xEF\xBB\xBFNome;Cognome;Telefono;Cellulare;Fax;Email\r\n";
        QTest::newRow("CSV, formulas") << "csv" << "=1+1|@SUM(A1)|+39 02 765432|-(02) 1/2.3|+1 chiama|'=x"
                                       << header + "'=1+1;'@SUM(A1);+39 02 765432;-(02) 1/2.3;'+1 chiama;''=x\r\n";
        QTest::newRow("CSV, quotes") << "csv" << " a|b |a;b|say \"hi\"|due\nrighe|'abc"
                                     << header + "\" a\";\"b \";\"a;b\";\"say \"\"hi\"\"\";\"due\nrighe\";'abc\r\n";
        QTest::newRow("CSV, numbers a spreadsheet would change") << "csv" << "0612345678|+393331234567|3331234567|1e5|1234567890123456|=\"1\""
            << header + "\"=\"\"0612345678\"\"\";\"=\"\"+393331234567\"\"\";3331234567;\"=\"\"1e5\"\"\";\"=\"\"1234567890123456\"\"\";\"'=\"\"1\"\"\"\r\n";
        QTest::newRow("CSV, nulls") << "csv" << "(null)|(null)|-|+|'|(null)" << header + ";;-;+;';\r\n";
    }

    void shouldWriteWhatOtherProgramsRead()
    {
        QFETCH(QString, format);
        QFETCH(QString, contact);
        QFETCH(QByteArray, expected);
        // GIVEN a contact WHEN it is encoded THEN the bytes are those the format asks for
        QCOMPARE(encoded(format, {contactOf(contact)}), expected);
    }

    void shouldGiveBackEveryTextItWrote_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("vCard 3.0") << "vcf3";
        QTest::newRow("vCard 4.0") << "vcf4";
        QTest::newRow("CSV") << "csv";
    }

    void shouldGiveBackEveryTextItWrote()
    {
        QFETCH(QString, format);
        // GIVEN contacts of random texts, a few of them long, some null
        QRandomGenerator random(seedFrom("BRISOLTA_CODECS_SEED"));
        const QStringList pieces{"à", "È", "ß", "日本", "😀", "𝄞", "'", ",", ";", "\"", "\\", "\\n", "\n", " ", "\t",
                                 "=", "+", "-", "@", "a", "Z", "7", "0", ":", QChar(0xFEFF), "tel:", "=C3", " ::: ", "END:VCARD"};
        Contacts contacts(300);
        Contacts expected;
        for (Contact &contact : contacts) {
            for (FieldValue &text : contact) {
                text = QString();
                for (int n = random.bounded(100) < 2 ? 1000 : random.bounded(8); n > 0; --n)
                    *text += pieces[random.bounded(pieces.size())];
                if (random.bounded(8) == 0)
                    text.reset();
            }
            expected.push_back(contact);
            for (FieldValue &text : expected.back())
                text = text.value_or(QString());
            if (isEmptyContact(contact))
                expected.pop_back();
        }
        // WHEN they are written and read back
        const QByteArray bytes = encoded(format, contacts);
        // THEN every text is as it was, null as empty; and every vCard line is UTF-8, ends in CRLF and holds at most
        // 75 octets
        QCOMPARE(rowsOf(decoded(format, bytes)), rowsOf(expected));
        if (format == QLatin1String("csv"))
            return;
        QVERIFY(bytes.endsWith("\r\n"));
        for (const QByteArray &line : bytes.chopped(1).split('\n'))
            QVERIFY2(line.endsWith('\r') && line.size() <= 76 && line.isValidUtf8(), line.constData());
    }

    void shouldRefuseMalformedFilesWhereTheyGoWrong_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("reason");
        const QByteArray card = "BEGIN:VCARD\r\nN:Rossi;Mario\r\nEND:VCARD\r\n";
        const QString binary = "il file contiene dati binari";
        QTest::newRow("card without END") << "vcf" << card + "BEGIN:VCARD\nN:Neri;Ada\n" << 4 << 0 << "manca END:VCARD";
        QTest::newRow("END taken by the next card") << "vcf" << "BEGIN:VCARD\r\n" + card << 1 << 0 << "manca END:VCARD";
        QTest::newRow("text outside cards") << "vcf" << card + "\r\nciao\r\n" + card << 5 << 0
                                            << "testo fuori da una vCard";
        QTest::newRow("no card at all") << "vcf" << QByteArray("\r\n \r\n") << 1 << 0
                                        << "il file non contiene nessuna vCard";
        QTest::newRow("NUL byte") << "vcf" << card + "NOTE:a\r\nNOTE:" + QByteArray(1, '\0') << 5 << 0 << binary;
        QTest::newRow("not the charset") << "vcf" << card + "BEGIN:VCARD\r\nN;CHARSET=Shift_JIS:\x81\xFF\r\n" << 5 << 0
                                         << "testo non valido nel set di caratteri Shift_JIS";
        QTest::newRow("unterminated quote") << "csv"
                                            << QByteArray("Nome,Cognome\r\n\"Ada\",\"due\r\nrighe\"\r\nLuca,\"Neri\r\n")
                                            << 4 << 6 << "virgolette non chiuse";
        QTest::newRow("header naming no field") << "csv" << QByteArray("Via,Città\r\nRoma,Roma\r\n") << 1 << 0
            << "l'intestazione non nomina nessuno dei campi Nome, Cognome, Telefono, Cellulare, Fax, Email";
        QTest::newRow("NUL after lone CRs") << "vcf" << "BEGIN:VCARD\rN:Rossi;Mario\rEND:VCARD\r\r\nNOTE:" + QByteArray(1, '\0') << 4 << 0 << binary;
        QTest::newRow("text outside, CR CR LF and lone CR") << "vcf" << QByteArray(card).replace("\r\n", "\r\r\n") + "\rciao\r\r\n"
                                                            << 5 << 0 << "testo fuori da una vCard";
        QTest::newRow("UTF-16 NUL") << "vcf" << utf16(card + "NOTE:", false, true) + QByteArray(2, '\0') << 4 << 0 << binary;
        QTest::newRow("unterminated quote after CR CR LF") << "csv" << QByteArray("Nome;Cognome\r\r\nAda;Neri\r\r\nLuca;\"Bassi\r\r\n")
                                                           << 3 << 6 << "virgolette non chiuse";
        QTest::newRow("NUL in CSV") << "csv" << QByteArray("Nome\r\n\"A\r\nB\"\r\n") + QByteArray(1, '\0') << 4 << 0
                                    << binary;
    }

    void shouldRefuseMalformedFilesWhereTheyGoWrong()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, bytes);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, reason);
        // GIVEN a malformed file WHEN it is decoded THEN it is refused with the line where it went wrong, and why
        try {
            decoded(format, bytes);
            QFAIL("the file was accepted");
        } catch (const FormatError &error) {
            QCOMPARE(error.reason(), reason);
            QCOMPARE(error.line(), line);
            QCOMPARE(error.column(), column);
        }
    }
};

QTEST_GUILESS_MAIN(CodecsTest)
#include "tst_codecs.moc"
