#include "filetesting.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

class CrashSafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldKeepEveryAcknowledgedContactWhenKilledAtRandom();
    void shouldLeaveNoFileOrACompleteOneWhenFirstStartIsKilled();
};

namespace {

using Contacts = QMap<qint64, QStringList>;

struct Operation
{
    bool adding = false;
    qint64 rowid = 0; // unknown for an add still in flight
    QStringList texts;
};

struct FileState
{
    bool exists = false;
    QString integrity;
    Contacts rows;
};

QStringList decoded(const QList<QByteArray> &parts)
{
    QStringList texts;
    for (const QByteArray &part : parts)
        texts << QString::fromUtf8(QByteArray::fromHex(part.mid(1)));
    return texts;
}

// Every whole line the driver wrote; a line cut by the kill is not one.
QList<QByteArray> wholeLines(QByteArray output)
{
    output.truncate(output.lastIndexOf('\n') + 1);
    QList<QByteArray> lines = output.split('\n');
    lines.removeLast();
    return lines;
}

// Opened read-write, as the next start opens it, so that an interrupted write is rolled back first.
FileState readFile(const QString &path)
{
    FileState state;
    sqlite3 *db = nullptr;
    state.exists = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    const auto each = [db](const char *sql, const std::function<void(sqlite3_stmt *)> &row) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW)
                row(statement);
        }
        sqlite3_finalize(statement);
    };
    const auto text = [](sqlite3_stmt *statement, int column) {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                                 sqlite3_column_bytes(statement, column));
    };
    if (state.exists) {
        each("PRAGMA integrity_check", [&](sqlite3_stmt *statement) {
            state.integrity += (state.integrity.isEmpty() ? QString() : QStringLiteral(" | ")) + text(statement, 0);
        });
        each("SELECT rowid, * FROM Rubrica", [&](sqlite3_stmt *statement) {
            QStringList texts;
            for (int column = 1; column <= 6; ++column)
                texts << text(statement, column);
            state.rows.insert(sqlite3_column_int64(statement, 0), texts);
        });
    }
    sqlite3_close(db);
    return state;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QList<Row> schemaOf(const QString &path)
{
    return rowsInFile(path, "SELECT name, type FROM pragma_table_info('Rubrica')");
}

const QList<Row> FullSchema{{"Nome", "TEXT"}, {"Cognome", "TEXT"}, {"Telefono", "TEXT"},
                            {"Cellulare", "TEXT"}, {"Fax", "TEXT"}, {"Email", "TEXT"}};

// Reads what the driver writes until `done` says so or the deadline passes, whichever comes first.
void readUntil(QProcess &driver, QByteArray &output, QDeadlineTimer deadline, const std::function<bool()> &done)
{
    while (!done() && !deadline.hasExpired() && driver.state() == QProcess::Running) {
        driver.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        output += driver.readAllStandardOutput();
    }
}

// Kills the driver now; true when it was still running, so that the kill really interrupted it.
bool killNow(QProcess &driver, QByteArray &output)
{
    const bool running = driver.state() == QProcess::Running;
    driver.kill();
    driver.waitForFinished(-1);
    output += driver.readAllStandardOutput();
    return running && driver.exitStatus() == QProcess::CrashExit;
}

} // namespace

void CrashSafetyTest::shouldKeepEveryAcknowledgedContactWhenKilledAtRandom()
{
    // GIVEN a store driven by a separate program that acknowledges each add and remove once it is committed
    const quint32 seed = seedFrom("BRISOLTA_CRASH_SEED");
    QRandomGenerator random(seed);
    // A kill loses nothing the page cache holds, so a folder in memory tests the same and lets each run do more.
    const bool inMemory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    QTemporaryDir dir((inMemory ? QStringLiteral("/dev/shm") : QDir::tempPath()) + QStringLiteral("/brisolta-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
    Contacts model;
    int kills = 0, acknowledged = 0, inFlightDone = 0, inFlightUndone = 0;
    QElapsedTimer clock;
    clock.start();
    while (kills < 500) {
        // WHEN it is killed at a random moment, mostly while it works, sometimes while it starts
        QProcess driver;
        driver.start(QStringLiteral(STORE_DRIVER), {"session", dir.path(), QString::number(random.generate())});
        QVERIFY(driver.waitForStarted());
        QByteArray output;
        if (random.bounded(10) != 0)
            readUntil(driver, output, QDeadlineTimer(10000), [&] { return output.contains("READY\n"); });
        readUntil(driver, output, QDeadlineTimer(random.bounded(30)), [] { return false; });
        QVERIFY2(killNow(driver, output), output.right(500) + driver.readAllStandardError());
        ++kills;

        std::optional<Operation> pending;
        for (const QByteArray &line : wholeLines(output)) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts[0] == "BEGIN") {
                pending = parts[1] == "ADD" ? Operation{true, 0, decoded(parts.mid(2))}
                                            : Operation{false, parts[2].toLongLong(), {}};
            } else if (parts[0] == "ADD") {
                QVERIFY(pending && pending->adding && pending->texts == decoded(parts.mid(2)));
                model.insert(parts[1].toLongLong(), pending->texts);
                pending.reset();
                ++acknowledged;
            } else if (parts[0] == "DEL") {
                QVERIFY(pending && !pending->adding && pending->rowid == parts[1].toLongLong());
                model.remove(pending->rowid);
                pending.reset();
                ++acknowledged;
            }
        }

        // THEN the file is sound and holds every acknowledged operation, with at most the one in flight besides
        const QString where = QStringLiteral("kill %1, seed %2: ").arg(kills).arg(seed);
        const FileState file = readFile(path);
        if (!file.exists) {
            QVERIFY2(acknowledged == 0, qPrintable(where + QStringLiteral("the file is gone")));
            continue;
        }
        QVERIFY2(file.integrity == QLatin1String("ok"), qPrintable(where + file.integrity));
        Contacts withPending = model;
        if (pending && pending->adding) {
            const QList<qint64> extra = QSet<qint64>(file.rows.keyBegin(), file.rows.keyEnd())
                                            .subtract(QSet<qint64>(model.keyBegin(), model.keyEnd()))
                                            .values();
            if (extra.size() == 1)
                withPending.insert(extra[0], pending->texts);
        } else if (pending) {
            withPending.remove(pending->rowid);
        }
        if (file.rows == model) {
            inFlightUndone += pending ? 1 : 0;
        } else {
            QVERIFY2(pending && file.rows == withPending,
                     qPrintable(where + QStringLiteral("%1 contacts in the file, %2 acknowledged")
                                            .arg(file.rows.size()).arg(model.size())));
            ++inFlightDone;
            model = file.rows;
        }
    }
    qDebug("%d kills survived in %lld ms%s: %d operations acknowledged, 0 lost; in flight: %d done, %d undone", kills,
           clock.elapsed(), inMemory ? " (folder in memory)" : "", acknowledged, inFlightDone, inFlightUndone);
    QVERIFY(acknowledged > kills);
}

void CrashSafetyTest::shouldLeaveNoFileOrACompleteOneWhenFirstStartIsKilled()
{
    // GIVEN how long a first start takes to load the store
    const quint32 seed = seedFrom("BRISOLTA_FIRST_START_SEED");
    QRandomGenerator random(seed);
    QTemporaryDir root;
    const auto startIn = [](const QString &dir, QProcess &driver, QByteArray &output) {
        driver.start(QStringLiteral(STORE_DRIVER), {"start", dir});
        driver.waitForStarted();
        readUntil(driver, output, QDeadlineTimer(10000), [&] { return output.contains("LOADING\n"); });
    };
    const QString calibration = root.filePath(QStringLiteral("calibration"));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("calibration")));
    QElapsedTimer loading;
    {
        QProcess driver;
        QByteArray output;
        startIn(calibration, driver, output);
        loading.start();
        QVERIFY(driver.waitForFinished(10000));
        QCOMPARE(driver.exitCode(), 0);
    }
    const int loadMs = int(qMax<qint64>(2, loading.elapsed()));
    int kills = 0, noFile = 0, complete = 0, leftovers = 0;
    for (int attempt = 0; kills < 100; ++attempt) {
        QVERIFY2(attempt < 1000, "the first start kept finishing before it could be killed");
        const QString dir = root.filePath(QString::number(attempt));
        QVERIFY(QDir(root.path()).mkpath(QString::number(attempt)));
        const QString path = dir + QStringLiteral("/archivio.mdb");
        // WHEN the first start is killed at a random moment while it loads
        QProcess driver;
        QByteArray output;
        startIn(dir, driver, output);
        readUntil(driver, output, QDeadlineTimer(random.bounded(loadMs + loadMs / 4)), [] { return false; });
        if (!killNow(driver, output))
            continue;
        ++kills;
        // THEN there is no contact file, or a complete one
        const QString where = QStringLiteral("kill %1, seed %2: ").arg(kills).arg(seed);
        if (QFileInfo::exists(path)) {
            QVERIFY2(schemaOf(path) == FullSchema, qPrintable(where + filesIn(dir).join(QLatin1Char(' '))));
            ++complete;
        } else {
            ++noFile;
        }
        leftovers += filesIn(dir).filter(QStringLiteral(".tmp")).isEmpty() ? 0 : 1;
        // and the next start succeeds with the whole schema and leaves nothing else behind
        QProcess next;
        next.start(QStringLiteral(STORE_DRIVER), {"start", dir});
        QVERIFY(next.waitForFinished(10000));
        QVERIFY2(next.exitCode() == 0, qPrintable(where + next.readAllStandardOutput()));
        QCOMPARE(schemaOf(path), FullSchema);
        QCOMPARE(filesIn(dir), QStringList{QStringLiteral("archivio.mdb")});
    }
    qDebug("%d first starts killed (a load takes about %d ms): %d left no file, %d a complete one; %d left a "
           "temporary file that the next start cleared", kills, loadMs, noFile, complete, leftovers);
}

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "tst_crashsafety.moc"
