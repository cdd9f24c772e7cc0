// Drives the contact store as the program does, for tests that kill it. It says "LOADING"
// before it loads the store and "READY" once it has read it:
//   storedriver session <dir> <seed>     adds, edits and removes contacts until killed: "TRY ADD <texts>",
//                                        "TRY EDIT <rowid> <texts>" or "TRY DEL <rowid>" before each change, "ADD <rowid>
//                                        <texts>", "EDIT <rowid> <texts>" or "DEL <rowid>" once it is committed (<texts>:
//                                        the six texts in UTF-8, joined by \x1f, in hex)
//   storedriver convert <file> <reader>  converts an old file in place, reading it with that program

#include "oldfile.h"
#include "support/storesupport.h"

#include <cstdio>

namespace {

void say(const QByteArray &line) { std::puts(line.constData()); }

// Loads the store and reads the whole recordset, as the main window does at start, which also ends the read.
QMap<qint64, QByteArray> load(const QString &dir)
{
    say("LOADING");
    modDB::LoadDB(dir);
    (void)modDB::LoadRecordset();
    QMap<qint64, QByteArray> rows;
    for (Recordset &records = *modDB::ContactRS; !records.Eof(); records.MoveNext()) {
        QStringList texts;
        for (const QString &name : modDB::FieldNames)
            texts << records.Fields().Item(name).Value().value_or(QString());
        rows.insert(*records.Bookmark(), texts.join(QChar(0x1f)).toUtf8().toHex());
    }
    return say("READY"), rows;
}

int session(const QString &dir, quint32 seed)
{
    static const QStringList pieces{"D'Angelo", "100%", QStringLiteral("a\0b"), "*[x", "Nicolò",
                                    "Strauß", QStringLiteral("\uFEFFBom"), "😀", "'; --", "\"q\""};
    QRandomGenerator random(seed);
    QMap<qint64, QByteArray> rows = load(dir);
    Recordset &records = *modDB::ContactRS;
    for (int serial = 0;; ++serial) {
        if (rows.size() < 10 || (rows.size() < 60 && random.bounded(100) < 55)) {
            QStringList texts;
            for (int k = 0; k < 6; ++k)
                texts << (k > 2 && random.bounded(3) == 0 ? QString() : pieces[random.bounded(10)] + QString::number(serial));
            // Now and then a contact longer than a page, so that a commit writes several pages.
            texts[4] = texts[4].repeated(random.bounded(8) == 0 ? int(random.bounded(300, 700)) : 1);
            const QByteArray hex = texts.join(QChar(0x1f)).toUtf8().toHex();
            say("TRY ADD " + hex);
            const qint64 rowid = addRecord(records, texts);
            say("ADD " + QByteArray::number(rowid) + ' ' + hex);
            rows.insert(rowid, hex);
        } else if (random.bounded(3) == 0) {
            // As an edit in the list, or taking one back, stores a record's texts.
            const qint64 chosen = rows.keys().at(random.bounded(int(rows.size())));
            QStringList texts = QString::fromUtf8(QByteArray::fromHex(rows.value(chosen))).split(QChar(0x1f));
            texts[int(random.bounded(6))] = pieces[random.bounded(10)] + QString::number(serial);
            const QByteArray line = QByteArray::number(chosen) + ' ' + texts.join(QChar(0x1f)).toUtf8().toHex();
            say("TRY EDIT " + line);
            Transaction transaction(*modDB::ContactDB);
            ContactRecords(*modDB::ContactDB).write(chosen, {texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]});
            transaction.Commit();
            say("EDIT " + line);
            rows.insert(chosen, line.split(' ')[1]);
        } else {
            const qint64 chosen = rows.keys().at(random.bounded(int(rows.size())));
            const QString surname = QString::fromUtf8(QByteArray::fromHex(rows.take(chosen))).split(QChar(0x1f)).at(1);
            records.FindFirst(QStringLiteral("Cognome"), random.bounded(2) ? surname : QString(), chosen);
            if (records.NoMatch() || records.Bookmark() != chosen)
                return 4;
            say("TRY DEL " + QByteArray::number(chosen));
            records.Delete();
            say("DEL " + QByteArray::number(chosen));
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line leaves as soon as it is said
    try {
        if (args.size() == 4 && args[1] == QLatin1String("session"))
            return session(args[2], args[3].toUInt());
        if (args.size() == 4 && args[1] == QLatin1String("convert"))
            return oldfile::setReaderProgram(args[3]), oldfile::convert(args[2]), 0;
    } catch (const EngineError &error) {
        say("ERROR " + QByteArray::number(error.number()) + ' ' + error.text().toUtf8());
        return 2;
    }
    return say("usage: storedriver session <dir> <seed> | convert <file> <reader>"), 1;
}
