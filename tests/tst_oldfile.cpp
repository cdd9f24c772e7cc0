#include "oldfile.h"
#include "support/windowsupport.h"

const QString Data = QStringLiteral(BRISOLTA_TEST_DATA "/legacy/");

// The contacts the fixture holds, a null field as `null` (the list shows it as an empty text).
static QList<QStringList> expectedRows(const QString &fixture, const QString &null = QStringLiteral("␀"))
{
    QList<QStringList> rows;
    for (const QJsonValue row : QJsonDocument::fromJson(fileBytes(Data + fixture + QLatin1String(".expected.json"))).array()) {
        rows.emplaceBack();
        for (const QJsonValue field : row.toArray())
            rows.last().append(field.isNull() ? null : field.toString());
    }
    return rows;
}

class OldFileTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        brisolta::setUpApplication(*qApp);
        oldfile::setReaderProgram(QStringLiteral(BRISOLTA_PROGRAM));
    }

    void shouldOfferToConvertAnOldFileAtStartUp_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("taken"); // names beside it before the start
        QTest::addColumn<QString>("keptAs");
        QTest::addColumn<QStringList>("report"); // the second box's prompt and title; none: converted, the program starts
        for (const char *fixture : {"basic", "compressed", "many", "partial", "reordered", "empty", "astral"})
            QTest::newRow(fixture) << QStringLiteral("legacy-%1").arg(fixture) << int(vbYes) << QStringList() << "archivio.mdb.jet" << QStringList();
        QTest::newRow(".jet and .jet.1 taken") << "legacy-basic" << int(vbYes) << QStringList{"archivio.mdb.jet", "archivio.mdb.jet.1"}
                                               << "archivio.mdb.jet.2" << QStringList();
        const QString failed = QStringLiteral("Impossibile convertire il file archivio.mdb.\n\n%1\n\nIl file non è stato modificato.");
        const QStringList damaged{failed.arg("Il file è danneggiato o illeggibile."), "Errore"};
        QTest::newRow("No") << "legacy-basic" << int(vbNo) << QStringList() << QString()
                            << QStringList{"Errore di run-time '26':\n\nfile is not a database", "Brisolta"};
        QTest::newRow("no Rubrica") << "legacy-other" << int(vbYes) << QStringList() << QString()
                                    << QStringList{failed.arg("Il file non contiene la tabella Rubrica: non è un archivio di Brisolta."), "Errore"};
        QTest::newRow("truncated") << "legacy-truncated" << int(vbYes) << QStringList() << QString() << damaged;
        QTest::newRow("damaged") << "legacy-damaged" << int(vbYes) << QStringList() << QString() << damaged;
    }

    void shouldOfferToConvertAnOldFileAtStartUp()
    {
        QFETCH(QString, fixture);
        QFETCH(int, answer);
        QFETCH(QStringList, taken);
        QFETCH(QString, keptAs);
        QFETCH(QStringList, report);
        // GIVEN an old archivio.mdb, perhaps files under the names its original would be kept as, and a user who
        // answers the question
        QTemporaryDir dir;
        const QString path = dir.filePath(modDB::FileName);
        QVERIFY(QFile::copy(Data + fixture + ".mdb", path));
        const QByteArray original = fileBytes(path);
        for (const QString &name : taken)
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::NewOnly));
        AnsweredBoxes boxes([answer] { return answer; });
        QList<QStringList> listed;
        QObject waiting; // once the window is up, its list is read and the program ends
        QTimer::singleShot(0, &waiting, [&listed] { listed = listRows(mainWindow()), QCoreApplication::exit(0); });
        // WHEN the program starts
        const int status = brisolta::run(dir.path());
        // THEN it asks first; and it ends after one report, nothing changed, or it converts and lists the old contacts
        QCOMPARE(boxes.boxes.value(0).value(0), "Il file archivio.mdb è stato creato da una versione precedente di Brisolta.\n\n"
                                              "Convertirlo ora nel nuovo formato? Il file originale sarà conservato come archivio.mdb.jet.");
        QCOMPARE(boxes.boxes[0][1], "36");
        QCOMPARE(boxes.boxes.size(), report.isEmpty() ? 1 : 2);
        QCOMPARE(status, report.isEmpty() ? 0 : 1);
        if (!report.isEmpty()) {
            QCOMPARE(boxes.boxes[1], (QStringList{report[0], "16", report[1]}));
            QCOMPARE(filesIn(dir.path()), QStringList{modDB::FileName});
            QCOMPARE(fileBytes(path), original);
            return;
        }
        // in order, nulls apart from empty texts in a sound file made as a first start makes one, readable by its
        // owner only; the original is kept, byte for byte, under the first free name
        QCOMPARE(listed, expectedRows(fixture, QString()));
        QCOMPARE(rowsInFile(path), expectedRows(fixture));
        QCOMPARE(rowsInFile(path, "PRAGMA integrity_check"), QList<QStringList>{{"ok"}});
        makeFile(dir.filePath("fresh"));
        QCOMPARE(rowsInFile(path, "SELECT * FROM sqlite_schema"), rowsInFile(dir.filePath("fresh"), "SELECT * FROM sqlite_schema"));
        QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(fileBytes(dir.filePath(keptAs)), original);
        QCOMPARE(filesIn(dir.path()), (QStringList{"archivio.mdb"} + taken + QStringList{keptAs, "fresh"}));
    }

    void shouldRefuseADamagedTableDefinition_data()
    {
        QTest::addColumn<int>("offset"); // in legacy-basic.mdb
        QTest::addColumn<QByteArray>("bytes"); // written there
        // The definition of Rubrica is page 24: it begins with the counts; the six column entries of 25 bytes each
        // begin at 0x3f, then the names, each a 16-bit length and UTF-16 ("Nome" at 0xd5). Page 26 holds its rows.
        const int page = 24 * 4096;
        QTest::newRow("row count above the rows") << page + 0x10 << QByteArray("\x0a");
        QTest::newRow("a null mask that hides a text") << 26 * 4096 + 0xb24 << QByteArray("\x3e");
        QTest::newRow("column count above the rows'") << page + 0x2d << QByteArray("\x07");
        QTest::newRow("column count below the rows'") << page + 0x2d << QByteArray("\x05");
        QTest::newRow("variable columns fewer than the columns") << page + 0x2b << QByteArray("\x05");
        QTest::newRow("places in a row fewer than the rows'") << page + 0x29 << QByteArray("\x05");
        QTest::newRow("a column of no known type") << page + 0x3f + 25 << QByteArray("\x0d");
        QTest::newRow("a text column taken as fixed") << page + 0x3f + 15 << QByteArray("\x03");
        QTest::newRow("a column number repeated") << page + 0x3f + 25 + 5 << QByteArray(1, 0);
        QTest::newRow("a row place repeated") << page + 0x3f + 25 + 9 << QByteArray(1, 0);
        QTest::newRow("a text column shorter than its texts") << page + 0x3f + 23 << QByteArray("\x10\x01");
        QTest::newRow("a name's length") << page + 0xd5 << QByteArray("\x0a");
        QTest::newRow("a name's character") << page + 0xd9 << QByteArray("p");
        QTest::newRow("a name cut short") << page + 0xdb << QByteArray(1, 0);
        QTest::newRow("the last name's length grown") << page + 0x11d << QByteArray("\x8a");
    }

    void shouldRefuseADamagedTableDefinition()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        // GIVEN an old file with bytes of its table's definition changed, which libmdb reads without an error
        QTemporaryDir dir;
        const QString path = dir.filePath(modDB::FileName);
        QByteArray damaged = fileBytes(Data + "legacy-basic.mdb");
        damaged.replace(offset, bytes.size(), bytes);
        writeFile(path, damaged);
        // WHEN it is read THEN it is refused as damaged, not read as rows of nulls or of other columns' texts
        try {
            const Contacts contacts = oldfile::read(path);
            QFAIL(qPrintable(QStringLiteral("read %1 contacts").arg(contacts.size())));
        } catch (const FileError &error) {
            QCOMPARE(error.message(), QStringLiteral("Il file è danneggiato o illeggibile."));
        }
        QCOMPARE(fileBytes(path), damaged);
    }

    void shouldAcceptOnlyCompleteFrames_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("accepted");
        // One contact whose Nome is "abc" (R, null flag at 1, length at 2, text at 6) and five nulls; the count last.
        const QByteArray contact = oldfile::encodeFrames({Contact{QStringLiteral("abc")}});
        const auto patched = [&contact](qsizetype at, const QByteArray &bytes) { return QByteArray(contact).replace(at, bytes.size(), bytes); };
        QTest::newRow("a text") << contact << true;
        QTest::newRow("invalid UTF-8") << patched(7, "\xff") << false;
        QTest::newRow("null with a length") << patched(1, "\1") << false;
        QTest::newRow("unknown flag") << patched(1, "\2") << false;
        QTest::newRow("length above the limit") << oldfile::encodeFrames({Contact{QString(2 << 20, 'a')}}) << false;
        QTest::newRow("count too high") << patched(contact.size() - 4, "\2") << false;
        QTest::newRow("bytes after the end") << contact + "R" << false;
        QTest::newRow("no end") << contact.chopped(5) << false;
    }

    void shouldAcceptOnlyCompleteFrames()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, accepted);
        // WHEN the reader's output is decoded THEN it is taken whole, or refused as unreadable
        try {
            QVERIFY2(oldfile::encodeFrames(oldfile::decodeFrames(output)) == output && accepted, "taken");
        } catch (const FileError &error) {
            QVERIFY2(!accepted, qPrintable(error.message()));
            QCOMPARE(error.message(), QStringLiteral("Il file è danneggiato o illeggibile."));
        }
    }

    void shouldEndAReaderThatHangs()
    {
        // GIVEN a reader that never answers, and a short time limit
        QTemporaryDir dir;
        writeFile(dir.filePath("hang"), "#!/bin/sh\nexec sleep 60\n");
        QFile::setPermissions(dir.filePath("hang"), QFile::ReadOwner | QFile::ExeOwner);
        oldfile::setReaderProgram(dir.filePath("hang"));
        oldfile::setReaderTimeLimit(std::chrono::milliseconds(300));
        // WHEN an old file is read THEN it is refused within moments
        const QDeadlineTimer moments(10'000);
        QVERIFY_THROWS_EXCEPTION(FileError, oldfile::read(Data + "legacy-basic.mdb"));
        QVERIFY(!moments.hasExpired());
        oldfile::setReaderProgram(QStringLiteral(BRISOLTA_PROGRAM));
        oldfile::setReaderTimeLimit(std::chrono::minutes(1));
    }

    void shouldKeepTheOriginalWhenKilledWhileConverting()
    {
        // GIVEN a separate program converting an old file of 5,000 contacts
        QRandomGenerator random(seedFrom("BRISOLTA_OLDFILE_SEED"));
        // A kill loses nothing the page cache holds, so a folder in memory tests the same, and faster.
        const QString folder = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        qint64 span = 0;
        for (int kill = 0; kill <= qEnvironmentVariable("BRISOLTA_OLDFILE_KILLS", "30").toInt(); ++kill) {
            QTemporaryDir dir(folder + QStringLiteral("/brisolta-XXXXXX"));
            const QString path = dir.filePath(modDB::FileName);
            QVERIFY(QFile::copy(Data + "legacy-many.mdb", path));
            const QByteArray original = fileBytes(path);
            QProcess driver;
            QElapsedTimer clock;
            clock.start();
            driver.start(QStringLiteral(STORE_DRIVER), {"convert", path, BRISOLTA_PROGRAM});
            // WHEN it is killed at a random moment of what one whole conversion (the first) takes
            driver.waitForFinished(kill == 0 ? -1 : int(random.bounded(span + 1)));
            span = qMax(span, clock.elapsed());
            driver.kill();
            driver.waitForFinished(-1);
            // THEN archivio.mdb is the old file, or else the whole new one with the original kept beside it
            QVERIFY(fileBytes(path) == original || fileBytes(path + ".jet") == original);
            if (fileBytes(path) == original) {
                // AND the next conversion succeeds
                driver.start(QStringLiteral(STORE_DRIVER), {"convert", path, BRISOLTA_PROGRAM});
                QVERIFY2(driver.waitForFinished(-1) && driver.exitStatus() == QProcess::NormalExit && driver.exitCode() == 0,
                         driver.readAllStandardError().constData());
            }
            QCOMPARE(rowsInFile(path), expectedRows("legacy-many"));
            QCOMPARE(fileBytes(path + ".jet"), original);
        }
    }
};

QTEST_MAIN(OldFileTest)
#include "tst_oldfile.moc"
