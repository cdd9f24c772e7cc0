#include "support/storesupport.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Every sync SQLite asks of the system passes here first, to be counted.
static int syncs = 0;
extern "C" int fdatasync(int fd)
{
    return ++syncs, int(syscall(SYS_fdatasync, fd));
}

static Recordset &load(const QTemporaryDir &dir)
{
    modDB::DBLoaded = false;
    modDB::LoadDB(dir.path());
    (void)modDB::LoadRecordset();
    return *modDB::ContactRS;
}

class StoreTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldMakeOnePrivateFileThenCommitToItDurablyAndInTurn()
    {
        // GIVEN an empty folder, and new files' permissions left unmasked
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
        const mode_t mask = ::umask(0);
        // WHEN the store is loaded there
        load(dir);
        ::umask(mask);
        // THEN the contact file alone is there, for its owner only, with the six nullable TEXT columns and no rows
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & 0777) == 0600);
        QCOMPARE(filesIn(dir.path()), QStringList{"archivio.mdb"});
        QCOMPARE(rowsInFile(path, "SELECT group_concat(name || ' ' || type || ' ' || \"notnull\" || ' ' || ifnull(dflt_value, '-'), ', ') "
                                  "FROM pragma_table_info('Rubrica')"),
                 QList<QStringList>{{"Nome TEXT 0 -, Cognome TEXT 0 -, Telefono TEXT 0 -, Cellulare TEXT 0 -, Fax TEXT 0 -, Email TEXT 0 -"}});
        QVERIFY(modDB::DBLoaded && modDB::ContactRS->Eof());
        // AND WHEN a contact is added THEN its commit syncs the journal, the file, and the folder the journal leaves,
        // so that the contact outlives a power cut
        const int before = syncs;
        addRecord(*modDB::ContactRS, {"Anna", "Bianchi", "06 1"});
        QVERIFY2(syncs - before >= 5, qPrintable(QString::number(syncs - before)));
        // AND WHEN, the file read again as at start, another copy of the program is writing THEN an add waits for it a
        // good while before it gives up
        Recordset &records = load(dir);
        records.MoveNext();
        const std::unique_ptr<Database> otherCopy = DBEngine::OpenDatabase(path);
        Transaction writing(*otherCopy);
        const QDeadlineTimer aWhile(4500);
        QVERIFY_THROWS_EXCEPTION(EngineError, addRecord(records, {"Carla"}));
        QVERIFY(aWhile.hasExpired());
    }

    void shouldChangeTheCurrentRecordInPlace_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("value"); // "␀" sets null
        QTest::addColumn<bool>("updated"); // Update, or CancelUpdate
        QTest::addColumn<QStringList>("stored"); // Anna's texts afterwards
        QTest::newRow("a text to null") << 5 << "␀" << true << QStringList{"Anna", "Bianchi\uFFFD", "06 1", "", "␀", "␀"};
        QTest::newRow("a null to the empty text") << 4 << "" << true << QStringList{"Anna", "Bianchi\uFFFD", "06 1", "", "", "a@b"};
        QTest::newRow("cancelled") << 1 << "Verdi" << false << QStringList{"Anna", "Bianchi\uFFFD", "06 1", "", "␀", "a@b"};
    }

    void shouldChangeTheCurrentRecordInPlace()
    {
        QFETCH(int, field);
        QFETCH(QString, value);
        QFETCH(bool, updated);
        QFETCH(QStringList, stored);
        // GIVEN Anna, with an empty and a null text and a surname another program stored in another encoding, before
        // Carla, Anna the current record
        QTemporaryDir dir;
        makeFile(dir.filePath(modDB::FileName), "INSERT INTO Rubrica VALUES ('Anna',CAST(X'4269616E636869FF' AS TEXT),'06 1','',NULL,'a@b'),"
                                                "('Carla','Neri','02',NULL,NULL,NULL)");
        Recordset &records = load(dir);
        const std::optional<qint64> anna = records.Bookmark();
        // WHEN she is edited, one field set, and the change stored or cancelled
        records.Edit();
        records.Fields().Item(qint16(field)).setValue(value == "␀" ? FieldValue() : FieldValue(value));
        updated ? records.Update() : records.CancelUpdate();
        // THEN the file holds her as she is now, in her place, and she stays the current record with those texts
        QCOMPARE(rowsInFile(dir.filePath(modDB::FileName)),
                 (QList<QStringList>{stored, {"Carla", "Neri", "02", "␀", "␀", "␀"}}));
        QCOMPARE(records.Bookmark(), anna);
        QCOMPARE(rowsInFile(dir.filePath(modDB::FileName), "SELECT hex(Cognome) FROM Rubrica LIMIT 1"), QList<QStringList>{{"4269616E636869FF"}});
        QCOMPARE(records.Fields().Item(qint16(field)).Value(), stored[field] == "␀" ? FieldValue() : FieldValue(stored[field]));
        if (updated)
            QCOMPARE(records.LastModified(), anna);
        // AND the walk goes on from her
        records.MoveNext();
        QCOMPARE(records.Fields().Item(QStringLiteral("Nome")).Value(), FieldValue("Carla"));
    }

    void shouldMakeNoNewFileUnderUsr()
    {
        // GIVEN a data folder of the user's
        QTemporaryDir dir, data;
        QCoreApplication::setApplicationName(QStringLiteral("Brisolta"));
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        const auto restore = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
        // WHEN the store decides where the contact file goes THEN it is beside a program in a folder the user may
        // write; under /usr, even for root, who may write there, it is in the user's private data folder
        QCOMPARE(modDB::ContactFolder(dir.path()), dir.path());
        QCOMPARE(modDB::ContactFolder(QStringLiteral("/usr/lib")), data.filePath(QStringLiteral("Brisolta")));
        QVERIFY(QFileInfo(data.filePath(QStringLiteral("Brisolta"))).isDir());
    }

    void shouldNeverMakeAFileOverOrBesideAnother()
    {
        // GIVEN a new contact file being built, with part of its schema
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
        auto building = DBEngine::CreateDatabase(path);
        building->Execute(QString::fromLatin1(modDB::SchemaStatements[0]));
        // WHEN it is dropped before it is closed THEN nothing is left
        QVERIFY(!QFile::exists(path));
        building.reset();
        QCOMPARE(filesIn(dir.path()), QStringList());
        // WHEN another file appears in its place while one is built THEN closing fails and that file stays as it was
        building = DBEngine::CreateDatabase(path);
        writeFile(path, "mine");
        QVERIFY_THROWS_EXCEPTION(EngineError, building->Close());
        QCOMPARE(fileBytes(path), QByteArray("mine"));
        // and opening never makes a file where none is
        QVERIFY_THROWS_EXCEPTION(EngineError, DBEngine::OpenDatabase(dir.filePath(QStringLiteral("missing.mdb"))));
        QCOMPARE(filesIn(dir.path()), QStringList{"archivio.mdb"});
    }

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

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
