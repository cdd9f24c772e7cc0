// Turns arbitrary bytes into adds, removes, listings and reopenings of the contact store, and checks after
// each step that the store (and its file) equals a plain in-memory list of what went in.

#include "modDB.h"

#include <sqlite3.h>

#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Texts = std::array<QString, 6>;

struct Contact
{
    qint64 rowid;
    Texts texts;
    std::array<QByteArray, 6> utf8;
};

const char *const FieldNames[6] = {"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "store fuzz: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

void expect(bool holds, const char *what, const QString &detail = QString())
{
    if (!holds)
        fail(what, detail);
}

QString dump(const QString &text)
{
    QString units;
    for (const QChar c : text.left(40))
        units += QString::number(c.unicode(), 16) + QLatin1Char(' ');
    return units + QStringLiteral("(%1 units)").arg(text.size());
}

// What the file keeps of a text: every unpaired surrogate becomes U+FFFD.
QString kept(const QString &text)
{
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            result += c;
            result += text[++i];
        } else {
            result += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return result;
}

bool beginsWith(const QString &value, const QString &prefix)
{
    return value.toUpper().toCaseFolded().startsWith(prefix.toUpper().toCaseFolded());
}

class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_at++]; }
    char16_t unit()
    {
        const uint8_t low = byte();
        return char16_t(low | byte() << 8);
    }

    // One text: a few units, the same with a leading U+FEFF, a pattern repeated to a long length, or a known
    // awkward text.
    QString text()
    {
        static const QStringList awkward{QString(), QStringLiteral("D'Angelo"), QStringLiteral("%"),
                                         QStringLiteral("_"), QStringLiteral("*"), QStringLiteral("[a"),
                                         QStringLiteral("Straße"), QStringLiteral("STRASSE"), QStringLiteral("ﬃ"),
                                         QStringLiteral("İ"), QStringLiteral("😀"), QString(QChar(0xD800)),
                                         QString(QChar(0xDC00)), QString(QChar(0)), QString(QChar(0xFEFF)),
                                         QStringLiteral("Nicolò"), QString(QChar(0xFFFE)), QStringLiteral("ß")};
        const uint8_t head = byte();
        QString text;
        switch (head >> 6) {
        case 1:
            text += QChar(0xFEFF);
            Q_FALLTHROUGH();
        case 0:
            for (int n = head & 63; n > 0 && !atEnd(); --n)
                text += QChar(unit());
            return text;
        case 2: {
            QString pattern;
            for (int n = (head & 3) + 1; n > 0; --n)
                pattern += QChar(unit());
            // Every step checks every record, so long texts share a budget that keeps one input quick.
            const int length = std::min({100000, (byte() + 1) * 400, qMax(400, m_longBudget)});
            m_longBudget -= length;
            return pattern.repeated(length / pattern.size() + 1).left(length);
        }
        default:
            return awkward[(head & 63) % awkward.size()];
        }
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
    int m_longBudget = 300000;
};

class Session
{
public:
    Session()
    {
        expect(m_dir.isValid(), "no temporary directory");
        open();
    }
    ~Session()
    {
        modDB::ContactRS.reset();
        modDB::ContactDB.reset();
        modDB::DBLoaded = false;
    }

    void run(Input &input)
    {
        while (!input.atEnd()) {
            switch (input.byte() % 5) {
            case 0:
            case 1: add(input); break;
            case 2: remove(input); break;
            case 3: checkWalk(*modDB::ContactDB->OpenRecordset(modDB::TableName)); break;
            default: reopen(); break;
            }
            checkFile();
        }
    }

private:
    // As the program starts: the store is loaded and its recordset walked to the end to fill the list.
    void open()
    {
        modDB::DBLoaded = false;
        modDB::LoadDB(m_dir.path());
        modDB::LoadRecordset();
        checkWalk(*modDB::ContactRS);
    }

    void reopen()
    {
        modDB::ContactRS.reset();
        modDB::ContactDB->Close();
        modDB::ContactDB.reset();
        open();
    }

    void add(Input &input)
    {
        Texts typed;
        for (QString &text : typed)
            text = input.text();
        Recordset &records = *modDB::ContactRS;
        records.AddNew();
        for (int k = 0; k < 6; ++k)
            records.Fields().Item(QLatin1String(FieldNames[k])).setValue(typed[k]);
        records.Update();
        const qint64 rowid = records.LastModified().value_or(0);
        expect(std::none_of(m_contacts.begin(), m_contacts.end(), [&](const Contact &c) { return c.rowid >= rowid; }),
               "a new record does not come last", QString::number(rowid));
        Contact added{rowid, {}, {}};
        for (int k = 0; k < 6; ++k) {
            added.texts[k] = kept(typed[k]);
            added.utf8[k] = added.texts[k].toUtf8();
        }
        m_contacts.push_back(std::move(added));
    }

    void remove(Input &input)
    {
        const QString prefix = input.text();
        const uint8_t pick = input.byte();
        std::optional<qint64> preferred;
        if (pick < 128 && !m_contacts.empty())
            preferred = m_contacts[pick % m_contacts.size()].rowid;
        else if (pick < 192)
            preferred = pick - 128;
        auto wanted = std::find_if(m_contacts.begin(), m_contacts.end(), [&](const Contact &c) {
            return c.rowid == preferred && beginsWith(c.texts[1], prefix);
        });
        if (wanted == m_contacts.end())
            wanted = std::find_if(m_contacts.begin(), m_contacts.end(),
                                  [&](const Contact &c) { return beginsWith(c.texts[1], prefix); });

        Recordset &records = *modDB::ContactRS;
        records.FindFirst(QStringLiteral("Cognome"), prefix, preferred);
        expect(records.NoMatch() == (wanted == m_contacts.end()), "found or missed wrongly", dump(prefix));
        if (records.NoMatch())
            return;
        expect(records.Bookmark() == wanted->rowid, "found another record", dump(prefix));
        records.Delete();
        m_contacts.erase(wanted);
    }

    void checkWalk(Recordset &records)
    {
        auto expected = m_contacts.cbegin();
        for (; !records.Eof(); records.MoveNext(), ++expected) {
            expect(expected != m_contacts.cend(), "a record too many");
            expect(records.Bookmark() == expected->rowid, "records out of order");
            for (int k = 0; k < 6; ++k) {
                const FieldValue value = records.Fields().Item(QLatin1String(FieldNames[k])).Value();
                expect(value.has_value(), "a text came back null");
                expect(*value == expected->texts[k], "a text came back changed",
                       dump(*value) + QStringLiteral(" instead of ") + dump(expected->texts[k]));
            }
        }
        expect(expected == m_contacts.cend(), "a record missing");
    }

    // The file itself, read with SQLite: sound, and holding exactly the UTF-8 of each kept text.
    void checkFile()
    {
        sqlite3 *db = modDB::ContactDB->handle();
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
        const bool ok = sqlite3_step(statement) == SQLITE_ROW &&
                        qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "ok") == 0;
        sqlite3_finalize(statement);
        expect(ok, "the file fails its integrity check");
        sqlite3_prepare_v2(db, "SELECT rowid, * FROM Rubrica ORDER BY rowid", -1, &statement, nullptr);
        auto expected = m_contacts.cbegin();
        for (; sqlite3_step(statement) == SQLITE_ROW; ++expected) {
            expect(expected != m_contacts.cend(), "a row too many in the file");
            expect(sqlite3_column_int64(statement, 0) == expected->rowid, "rows out of order in the file");
            for (int k = 0; k < 6; ++k) {
                const QByteArrayView stored(static_cast<const char *>(sqlite3_column_blob(statement, k + 1)),
                                            sqlite3_column_bytes(statement, k + 1));
                expect(sqlite3_column_type(statement, k + 1) == SQLITE_TEXT && stored == expected->utf8[k],
                       "the file holds another text", dump(expected->texts[k]));
            }
        }
        sqlite3_finalize(statement);
        expect(expected == m_contacts.cend(), "a row missing in the file");
        checkWalk(*modDB::ContactDB->OpenRecordset(modDB::TableName));
    }

    QTemporaryDir m_dir;
    std::vector<Contact> m_contacts;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        Input input(data, size);
        Session session;
        session.run(input);
    } catch (const EngineError &error) {
        fail("engine error", QStringLiteral("%1 %2").arg(error.number()).arg(error.text()));
    }
    return 0;
}
