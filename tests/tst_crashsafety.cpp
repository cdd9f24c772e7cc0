#include "support/storesupport.h"

class CrashSafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldKeepEveryAcknowledgedChangeWhenKilledAtRandom()
    {
        // GIVEN a store driven by another program that says what it commits, killed 200 times unless
        // BRISOLTA_CRASH_KILLS says otherwise
        const quint32 seed = seedFrom("BRISOLTA_CRASH_SEED");
        const int kills = qEnvironmentVariableIsSet("BRISOLTA_CRASH_KILLS") ? qEnvironmentVariableIntValue("BRISOLTA_CRASH_KILLS") : 200;
        QRandomGenerator random(seed);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
        QMap<qint64, QByteArray> acknowledged; // each contact's texts as the driver writes them
        int changes = 0, firstStarts = 0;
        for (int kill = 1; kill <= kills; ++kill) {
            // WHEN it is killed at a random moment: mostly while it works, sometimes while it loads the store, now
            // and then while it makes the file on a first start
            const bool first = random.bounded(5) == 0;
            if (first)
                QFile::remove(path), acknowledged.clear(), ++firstStarts;
            QProcess driver;
            driver.start(QStringLiteral(STORE_DRIVER), {"session", dir.path(), QString::number(random.generate())});
            QByteArray output;
            const QByteArray awaited = first || random.bounded(10) == 0 ? "LOADING\n" : "READY\n";
            for (QDeadlineTimer deadline(10000); !output.contains(awaited) && !deadline.hasExpired(); output += driver.readAllStandardOutput())
                driver.waitForReadyRead(100);
            driver.waitForFinished(int(random.bounded(first ? 10 : 30)));
            QVERIFY2(driver.state() == QProcess::Running, output.right(300) + driver.readAllStandardError());
            driver.kill();
            driver.waitForFinished();
            output += driver.readAllStandardOutput();
            QByteArray trying; // the change in flight, if the last whole line announced one
            for (const QByteArray &line : output.left(output.lastIndexOf('\n')).split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                trying = words[0] == "TRY" ? line : QByteArray();
                if (words[0] == "ADD" || words[0] == "EDIT")
                    acknowledged.insert(words[1].toLongLong(), words[2]);
                if (words[0] == "DEL")
                    acknowledged.remove(words[1].toLongLong());
                changes += words[0] == "ADD" || words[0] == "EDIT" || words[0] == "DEL";
            }

            // THEN a store that was loaded left a sound file with the whole schema and no temporary file beside it,
            // which holds every acknowledged change and, of the one in flight, all or nothing
            const QByteArray where = "kill " + QByteArray::number(kill) + " of BRISOLTA_CRASH_SEED=" + QByteArray::number(seed);
            QVERIFY2(QFile::exists(path) || (acknowledged.isEmpty() && !output.contains("READY")), where);
            if (!QFile::exists(path))
                continue;
            QCOMPARE(rowsInFile(path, "SELECT (SELECT * FROM pragma_integrity_check), (SELECT count(*) FROM pragma_table_info('Rubrica'))"),
                     (QList<QStringList>{{"ok", "6"}}));
            QVERIFY2(!output.contains("READY") || filesIn(dir.path()).filter(QStringLiteral(".tmp")).isEmpty(), where);
            QMap<qint64, QByteArray> file, inFlight = acknowledged;
            for (const QStringList &row : rowsInFile(path, "SELECT rowid, * FROM Rubrica"))
                file.insert(row[0].toLongLong(), row.mid(1).join(QChar(0x1f)).toUtf8().toHex());
            if (trying.startsWith("TRY ADD "))
                inFlight.insert(file.isEmpty() ? 0 : file.lastKey(), trying.mid(8));
            else if (trying.startsWith("TRY EDIT "))
                inFlight.insert(trying.split(' ')[2].toLongLong(), trying.split(' ')[3]);
            else if (!trying.isEmpty())
                inFlight.remove(trying.mid(8).toLongLong());
            QVERIFY2(file == acknowledged || (!trying.isEmpty() && file == inFlight), where);
            acknowledged = file;
        }
        qDebug("%d kills, %d of them on a first start: %d changes acknowledged, none lost", kills, firstStarts, changes);
        QVERIFY(changes > kills);
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "tst_crashsafety.moc"
