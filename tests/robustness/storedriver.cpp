// Drives the contact store as the program does, for tests that kill it or run two copies at once.
// Every line goes out with one write(), so a line a killed process left behind is whole or absent.
//   storedriver session <dir> <seed>  adds and removes contacts until killed; "BEGIN ..." before each
//                                     operation, "ADD <rowid> =<hex>x6" / "DEL <rowid>" once it is committed
//   storedriver start <dir>           loads the store once ("LOADING" before, "READY" after)
//   storedriver add <dir> <count> <tag>  adds count contacts, then checks a fresh recordset holds them
//   storedriver convert <file> <reader>  converts an old file in place, reading it with that program

#include "modDB.h"
#include "oldfile.h"

#include <QCoreApplication>
#include <QMap>
#include <QRandomGenerator>
#include <QStringList>

#include <unistd.h>

namespace {

const char *const FieldNames[6] = {"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};

void say(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + written, size_t(bytes.size() - written));
        if (n <= 0)
            ::_exit(3);
        written += n;
    }
}

QByteArray encoded(const QStringList &texts)
{
    QByteArray line;
    for (const QString &text : texts)
        line += " =" + text.toUtf8().toHex();
    return line;
}

QStringList texts(Recordset &records)
{
    QStringList values;
    for (const char *name : FieldNames)
        values << records.Fields().Item(QLatin1String(name)).Value().value_or(QString());
    return values;
}

// What ListRecord does at start: walks the whole recordset, which also ends its read.
QMap<qint64, QStringList> walk(Recordset &records)
{
    QMap<qint64, QStringList> rows;
    for (; !records.Eof(); records.MoveNext())
        rows.insert(*records.Bookmark(), texts(records));
    return rows;
}

qint64 add(Recordset &records, const QStringList &values)
{
    records.AddNew();
    try {
        for (int k = 0; k < 6; ++k)
            records.Fields().Item(QLatin1String(FieldNames[k])).setValue(values[k]);
        records.Update();
    } catch (const EngineError &) {
        records.CancelUpdate();
        throw;
    }
    return *records.LastModified();
}

QString randomText(QRandomGenerator &random, int serial)
{
    static const QStringList pieces{"D'Angelo", "dell'Orto", "100%", "a_b", "*", "[x", "Nicolò", "Èrcole", "Strauß",
                                    "ÀÉÎÕÜ", "😀", "O''Brien", "ç", "Rossi", "'; --", "\"q\""};
    QString text;
    for (int n = int(random.bounded(1, 4)); n > 0; --n)
        text += pieces[random.bounded(int(pieces.size()))];
    return text + QString::number(serial);
}

int session(const QString &dir, quint32 seed)
{
    QRandomGenerator random(seed);
    modDB::LoadDB(dir);
    modDB::LoadRecordset();
    Recordset &records = *modDB::ContactRS;
    QMap<qint64, QStringList> rows = walk(records);
    say("READY");
    for (int serial = 0;; ++serial) {
        const bool adding = rows.size() < 10 || (rows.size() < 60 && random.bounded(100) < 55);
        if (adding) {
            QStringList values;
            for (int k = 0; k < 6; ++k)
                values << (k > 2 && random.bounded(3) == 0 ? QString() : randomText(random, serial));
            // Now and then a record too long for one page, so that a commit writes several pages.
            if (random.bounded(8) == 0)
                values[4] = values[4].repeated(int(random.bounded(300, 700)));
            say("BEGIN ADD" + encoded(values));
            const qint64 rowid = add(records, values);
            say("ADD " + QByteArray::number(rowid) + encoded(values));
            rows.insert(rowid, values);
        } else {
            const qint64 chosen = rows.keys().at(random.bounded(int(rows.size())));
            const QString surname = rows[chosen][1];
            QString prefix = surname.left(random.bounded(int(surname.size()) + 1));
            if (!prefix.isEmpty() && prefix.back().isHighSurrogate())
                prefix.chop(1);
            records.FindFirst(QStringLiteral("Cognome"), prefix, chosen);
            if (records.NoMatch())
                return 4;
            const qint64 rowid = *records.Bookmark();
            say("BEGIN DEL " + QByteArray::number(rowid));
            records.Delete();
            say("DEL " + QByteArray::number(rowid));
            rows.remove(rowid);
        }
    }
}

int addMany(const QString &dir, int count, const QString &tag)
{
    modDB::LoadDB(dir);
    modDB::LoadRecordset();
    walk(*modDB::ContactRS);
    QMap<qint64, QStringList> added;
    for (int n = 0; n < count; ++n) {
        const QStringList values{tag + QString::number(n), QStringLiteral("Dell'Acqua %1_%2").arg(tag).arg(n),
                                 QStringLiteral("06 %1").arg(n), QStringLiteral("[%1]*").arg(tag), QString(),
                                 QStringLiteral("%1@è.it").arg(tag)};
        const qint64 rowid = add(*modDB::ContactRS, values);
        added.insert(rowid, values);
        say("ADD " + QByteArray::number(rowid) + encoded(values));
    }
    const QMap<qint64, QStringList> stored = walk(*modDB::ContactDB->OpenRecordset(modDB::TableName));
    for (auto it = added.cbegin(); it != added.cend(); ++it) {
        if (stored.value(it.key()) != it.value()) {
            say("MISSING " + QByteArray::number(it.key()));
            return 5;
        }
    }
    say("DONE");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        if (args.size() == 4 && args[1] == QLatin1String("session"))
            return session(args[2], args[3].toUInt());
        if (args.size() == 3 && args[1] == QLatin1String("start")) {
            say("LOADING");
            modDB::LoadDB(args[2]);
            modDB::LoadRecordset();
            walk(*modDB::ContactRS);
            say("READY");
            return 0;
        }
        if (args.size() == 5 && args[1] == QLatin1String("add"))
            return addMany(args[2], args[3].toInt(), args[4]);
        if (args.size() == 4 && args[1] == QLatin1String("convert")) {
            oldfile::setReaderProgram(args[3]);
            oldfile::convert(args[2]);
            return 0;
        }
    } catch (const EngineError &error) {
        say("ERROR " + QByteArray::number(error.number()) + ' ' + error.text().toUtf8());
        return 2;
    }
    say("usage: storedriver session <dir> <seed> | start <dir> | add <dir> <count> <tag> | convert <file> <reader>");
    return 1;
}
