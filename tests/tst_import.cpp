#include "commandline.h"
#include "importer.h"
#include "oldfile.h"
#include "support/windowsupport.h"

#include <QMimeData>
#include <QProcess>

// Anna Bianchi, stored with a null fax; her card gives an empty one.
static const char *const Anna = "INSERT INTO Rubrica VALUES ('Anna', 'Bianchi', '06 123', '', NULL, '')";

// Mario Rossi and Anna; the spreadsheet has Mario again and Luca Verdi; the old file nine others, first Mario Rossi.
static void writeSamples(const QTemporaryDir &dir)
{
    writeFile(dir.filePath("a.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nTEL;TYPE=CELL:333 1\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchi;Anna;;;\r\nTEL:06 123\r\nEND:VCARD\r\n");
    writeFile(dir.filePath("b.csv"), "First Name,Last Name,Mobile Phone\nMario,Rossi,333 1\nLuca,\"Verdi, jr\",+39 347\n");
    writeFile(dir.filePath("bad.csv"), "Nome;Cognome\n\"Rossi;x\n");
    makeFile(dir.filePath("other.mdb"), "INSERT INTO Rubrica VALUES ('Bruno', '', '06', NULL, '', '')");
    // Windows' curly apostrophe under a Latin-1 label, a line folded with a tab, a name in capitals
    writeFile(dir.filePath("D.VCF"), "BEGIN:VCARD\r\nVERSION:3.0\r\nN;CHARSET=ISO-8859-1:D\x92\r\n\tAngelo;Dario\r\nEND:VCARD\r\n");
    makeFile(dir.filePath("foreign.mdb"), "DROP TABLE Rubrica; CREATE TABLE t(x)");
    QFile huge(dir.filePath("huge.csv"));
    if (!huge.open(QIODevice::WriteOnly) || !huge.resize((qint64(256) << 20) + 1))
        helperFailed("no room for a sparse file");
    // and an old file whose table definition says 7 columns where its rows hold 6
    if (!QFile::copy(QStringLiteral(BRISOLTA_TEST_DATA "/legacy/legacy-basic.mdb"), dir.filePath("old.mdb")) ||
        !QFile::copy(QStringLiteral(BRISOLTA_TEST_DATA "/legacy/legacy-columns.mdb"), dir.filePath("columns.mdb")))
        helperFailed("an old file was not copied");
    // A company's card, a card with only a note, and Ugo Neri.
    writeFile(dir.filePath("c.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Bike Shop\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:nulla\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Neri;Ugo;;;\r\nEND:VCARD\r\n");
}

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

class ImportTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        brisolta::setUpApplication(*qApp);
        // A dropped old file is read by the built program, started apart, as the program itself does.
        oldfile::setReaderProgram(QStringLiteral(BRISOLTA_PROGRAM));
    }

    void shouldAnswerOnTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("count"); // contacts in the file afterwards, the first of them with these surnames
        QTest::addColumn<QStringList>("surnames");
        const QStringList anna{"Bianchi"};
        QTest::newRow("another contact file, empty texts kept") << QStringList{"--import", "other.mdb"} << 0
                                                                << "Contatti aggiunti: 1. Già presenti: 0.\n" << 2 << QStringList{"Bianchi", ""};
        QTest::newRow("dry run before the first start") << QStringList{"--import", "a.vcf", "b.csv", "--dry-run", "--file", "new.mdb"} << 0
                                                        << "Contatti da aggiungere: 3. Già presenti: 1. Nulla è stato scritto.\n" << 1 << anna;
        QTest::newRow("export from a mistyped file") << QStringList{"--export", "lost.csv", "--file", "none.mdb"} << 1
                                                     << "Brisolta: none.mdb: il file dei contatti non esiste.\n" << 1 << anna;
        QTest::newRow("another charset, folding, capitals") << QStringList{"--import", "D.VCF"} << 0 << "Contatti aggiunti: 1. Già presenti: 0.\n"
                                                            << 2 << QStringList{"Bianchi", "D’Angelo"};
        QTest::newRow("another program's file") << QStringList{"--import", "foreign.mdb"} << 1
                                                << "Brisolta: foreign.mdb: il file non contiene la tabella Rubrica.\n" << 1 << anna;
        QTest::newRow("too large") << QStringList{"--import", "huge.csv"} << 1 << "Brisolta: huge.csv: il file è troppo grande.\n" << 1 << anna;
        QTest::newRow("an old file to open") << QStringList{"--find", "a", "--file", "old.mdb"} << 1
                                             << "Brisolta: old.mdb: il file è di una versione precedente di Brisolta; aprire il programma "
                                                "una volta per convertirlo.\n" << 1 << anna;
        QTest::newRow("dry run") << QStringList{"--import", "a.vcf", "b.csv", "--dry-run"} << 0
                                 << "Contatti da aggiungere: 2. Già presenti: 2. Nulla è stato scritto.\n" << 1 << anna;
        QTest::newRow("skipped cards counted") << QStringList{"--import", "c.vcf", "a.vcf"} << 0
            << "Contatti aggiunti: 3. Già presenti: 1. Saltati: 1 (vuoti).\n" << 4 << QStringList{"Bianchi", "Bike Shop", "Neri"};
        QTest::newRow("damaged table definition") << QStringList{"--import", "columns.mdb"} << 1
                                                  << "Brisolta: columns.mdb: Il file è danneggiato o illeggibile.\n" << 1 << anna;
        QTest::newRow("a bad file stops all") << QStringList{"--import", "a.vcf", "bad.csv"} << 1
                                              << "Brisolta: bad.csv, riga 2: virgolette non chiuse.\n" << 1 << anna;
        QTest::newRow("unknown format") << QStringList{"--import", "x.txt"} << 1
                                        << "Brisolta: x.txt: formato non riconosciuto (si leggono file .vcf, .csv e .mdb).\n" << 1 << anna;
        QTest::newRow("find") << QStringList{"--find", "BIA"} << 0 << "Anna\tBianchi\t06 123\t\t\t\n" << 1 << anna;
        QTest::newRow("export") << QStringList{"--export", "out.vcf", "--vcard-version", "4.0"} << 0
                                << "Esportati 1 contatto in out.vcf.\n" << 1 << anna;
        QTest::newRow("no contact file") << QStringList{"--find", "a", "--file", "none.mdb"} << 1
                                         << "Brisolta: none.mdb: il file dei contatti non esiste.\n" << 1 << anna;
        const QString help = QStringLiteral("\nPer l'aiuto: Brisolta --help\n");
        QTest::newRow("no operation") << QStringList{"a.vcf"} << 2
                                      << "Brisolta: indicare una sola operazione fra --import, --export, --find, --sync-setup, --sync e --sync-off." + help << 1 << anna;
        QTest::newRow("dry run alone") << QStringList{"--find", "a", "--dry-run"} << 2 << "Brisolta: --dry-run va con --import o --sync." + help << 1 << anna;
        QTest::newRow("version of a spreadsheet") << QStringList{"--export", "lost.csv", "--vcard-version", "4.0"} << 2
                                                  << "Brisolta: --vcard-version vuole 3.0 o 4.0, con --export in un file .vcf." + help << 1 << anna;
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "Brisolta: Opzione sconosciuta 'bogus'." + help << 1 << anna;
    }

    void shouldAnswerOnTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(int, count);
        QFETCH(QStringList, surnames);
        // GIVEN the sample files beside a contact file that holds Anna
        QTemporaryDir dir;
        writeSamples(dir);
        makeFile(dir.filePath("x.mdb"), Anna);
        const QByteArray before = fileBytes(dir.filePath("x.mdb"));
        // WHEN the program runs with the arguments
        QProcess program;
        program.setWorkingDirectory(dir.path());
        program.start(BRISOLTA_PROGRAM, arguments.contains("--file") ? arguments : arguments + QStringList{"--file", "x.mdb"});
        QVERIFY(program.waitForFinished());
        // THEN it says what it did on stdout (or why not on stderr), ends with the status, and stores what it says
        QCOMPARE(program.exitCode(), status);
        QCOMPARE(QString::fromUtf8(status == 0 ? program.readAllStandardOutput() : program.readAllStandardError()), output);
        const QList<QStringList> rows = rowsInFile(dir.filePath("x.mdb"));
        QCOMPARE(rows.size(), count);
        for (int i = 0; i < surnames.size(); ++i)
            QCOMPARE(rows[i][1], surnames[i]);
        // and makes no file it was not asked for; a command that failed changed nothing
        for (const char *unasked : {"none.mdb", "new.mdb", "lost.csv"})
            QVERIFY2(!QFile::exists(dir.filePath(unasked)), unasked);
        if (status != 0)
            QCOMPARE(fileBytes(dir.filePath("x.mdb")), before);
        if (arguments.contains("out.vcf")) {
            QVERIFY(fileBytes(dir.filePath("out.vcf")).startsWith("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Anna Bianchi\r\n"));
            QCOMPARE(QFile::permissions(dir.filePath("out.vcf")) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        }
    }

    void shouldLeaveAllOrNothingWhenKilledDuringAnImport()
    {
        // GIVEN a spreadsheet of many contacts
        QTemporaryDir dir;
        QByteArray csv = "Nome;Cognome;Telefono\n";
        for (int i = 0; i < 5000; ++i)
            csv += "Nome" + QByteArray::number(i) + ";Cognome;06\n";
        writeFile(dir.filePath("big.csv"), csv);
        QRandomGenerator random(seedFrom("BRISOLTA_IMPORT_SEED"));
        qint64 whole = 0;
        for (int kill = 0; kill < 12; ++kill) {
            const QString path = dir.filePath(QStringLiteral("k%1.mdb").arg(kill));
            QProcess program;
            QElapsedTimer clock;
            clock.start();
            program.start(BRISOLTA_PROGRAM, {"--import", dir.filePath("big.csv"), "--file", path});
            // WHEN it is killed at a random moment of what one whole import (the first, left to finish) takes
            if (kill > 0 && program.waitForStarted() && !program.waitForFinished(int(random.bounded(quint32(whole + 1)))))
                program.kill();
            program.waitForFinished();
            whole = std::max(whole, clock.elapsed());
            // THEN the file holds all the contacts or none, or is not there yet
            const qsizetype stored = QFile::exists(path) ? rowsInFile(path).size() : 0;
            QVERIFY2(stored == 0 || stored == 5000, qPrintable(QStringLiteral("%1 contacts after kill %2").arg(stored).arg(kill)));
        }
    }

    void shouldKeepEveryContactOfTwoImportsAtOnce()
    {
        // GIVEN two spreadsheets and no contact file yet
        QTemporaryDir dir;
        QProcess copies[2];
        for (int copy = 0; copy < 2; ++copy) {
            QByteArray csv = "Nome;Cognome\n";
            for (int i = 0; i < 500; ++i)
                csv += QByteArray::number(copy * 500 + i) + ";X\n";
            writeFile(dir.filePath(QString::number(copy) + ".csv"), csv);
        }
        // WHEN two copies of the program import one each at once, each making the file as a first start does
        for (int copy = 0; copy < 2; ++copy)
            copies[copy].start(BRISOLTA_PROGRAM, {"--import", dir.filePath(QString::number(copy) + ".csv"), "--file", dir.filePath("x.mdb")});
        // THEN both succeed, one waiting for the other, and the file holds the contacts of both
        for (QProcess &copy : copies)
            QVERIFY2(copy.waitForFinished() && copy.exitCode() == 0, copy.readAllStandardError().constData());
        QCOMPARE(rowsInFile(dir.filePath("x.mdb")).size(), 1000);
    }

    void shouldWaitForAnotherWriterBeforeReading()
    {
        // GIVEN a contact file that another copy of the program is writing
        QTemporaryDir dir;
        writeSamples(dir);
        makeFile(dir.filePath("x.mdb"));
        const std::unique_ptr<Database> otherCopy = modDB::OpenContactFile(dir.filePath("x.mdb"), false);
        Transaction writing(*otherCopy);
        // WHEN contacts are imported THEN the import waits for it a good while, as any change does, instead of reading
        // first and failing at once when it comes to write, and then says the file is busy
        QProcess program;
        program.setWorkingDirectory(dir.path());
        const QDeadlineTimer aWhile(4500);
        program.start(BRISOLTA_PROGRAM, {"--import", "a.vcf", "--file", "x.mdb"});
        QVERIFY(program.waitForFinished());
        QVERIFY(aWhile.hasExpired());
        QCOMPARE(program.readAllStandardError(), "Brisolta: x.mdb: il file dei contatti è occupato da un'altra scrittura; riprovare.\n");
    }

    void shouldOpenTheWindowForQtsOwnOptions()
    {
        const auto commandLine = [](std::vector<const char *> argv) {
            argv.insert(argv.begin(), "Brisolta");
            return brisolta::isCommandLine(int(argv.size()), const_cast<char **>(argv.data()));
        };
        QVERIFY(!commandLine({"-platform", "offscreen", "-session", "x"}));
        QVERIFY(commandLine({"-platform", "offscreen", "--find", "a"}));
        QVERIFY(commandLine({"-h"}));
    }

    void shouldSkipOnlyAContactEqualInAllSixTexts()
    {
        // GIVEN Mario Rossi stored with six texts, his fax empty
        QTemporaryDir dir;
        makeFile(dir.filePath("x.mdb"), "INSERT INTO Rubrica VALUES ('Mario', 'Rossi', '06', '333', '', 'm@r.it')");
        // WHEN he is imported as stored, his fax null, and six times more with one text changed each time
        const Contact mario{QStringLiteral("Mario"), QStringLiteral("Rossi"), QStringLiteral("06"), QStringLiteral("333"),
                            std::nullopt, QStringLiteral("m@r.it")};
        Contacts contacts{mario, mario, mario, mario, mario, mario, mario};
        for (std::size_t k = 0; k < 6; ++k)
            contacts[k + 1][k] = mario[k].value_or(QString()) + QStringLiteral("x");
        const ImportResult result = importContacts(*modDB::OpenContactFile(dir.filePath("x.mdb"), false), contacts);
        // THEN only the six that differ in a text are added
        QCOMPARE(int(result.added.size()), 6);
        QCOMPARE(result.duplicates, 1);
        QCOMPARE(rowsInFile(dir.filePath("x.mdb")).size(), 7);
    }

    void shouldImportDroppedFilesAfterAsking_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("prompts");
        QTest::addColumn<QStringList>("surnames");
        QTest::newRow("yes") << QStringList{"a.vcf", "b.csv"} << int(vbYes)
                             << QStringList{"Importare 2 contatti da a.vcf, b.csv?", "Contatti aggiunti: 2. Già presenti: 2."}
                             << QStringList{"Bianchi", "Rossi", "Verdi, jr"};
        QTest::newRow("no, on a field") << QStringList{"a.vcf"} << int(vbNo) << QStringList{"Importare 1 contatto da a.vcf?"} << QStringList{"Bianchi"};
        QTest::newRow("skipped cards counted, twice") << QStringList{"c.vcf", "c.vcf"} << int(vbYes)
            << QStringList{"Importare 2 contatti da c.vcf, c.vcf?", "Contatti aggiunti: 2. Già presenti: 2. Saltati: 2 (vuoti)."}
            << QStringList{"Bianchi", "Bike Shop", "Neri"};
        QTest::newRow("a damaged old file") << QStringList{"a.vcf", "columns.mdb"} << int(vbYes)
                                            << QStringList{"%1/columns.mdb: Il file è danneggiato o illeggibile."} << QStringList{"Bianchi"};
    }

    void shouldImportDroppedFilesAfterAsking()
    {
        QFETCH(QStringList, files);
        QFETCH(int, answer);
        QFETCH(QStringList, prompts);
        QFETCH(QStringList, surnames);
        // GIVEN the window on a file that holds Anna and Zeno Zanzi, sorted by surname
        LoadedWindow loaded;
        writeSamples(loaded.dir);
        QWidget &window = loaded.load(Anna + QStringLiteral(",('Zeno','Zanzi','1','','','')"));
        clickHeader(window, 1);
        // WHEN the files are dropped on it and the question answered
        QMimeData data;
        QList<QUrl> urls;
        for (const QString &file : files)
            urls << QUrl::fromLocalFile(loaded.dir.filePath(file));
        data.setUrls(urls);
        data.setText(urls[0].toString()); // as file managers offer it too
        QWidget *target = QByteArray(QTest::currentDataTag()).contains("field") ? &entry(window, 0) : &window;
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        AnsweredBoxes boxes([answer] { return answer; });
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        // THEN the boxes ask and tell, and the new rows stand at their sorted places, as in the file
        QStringList shown, listed;
        QTRY_COMPARE(boxes.boxes.size(), prompts.size());
        for (const QStringList &box : boxes.boxes)
            shown << box[0];
        QCOMPARE(shown, prompts.replaceInStrings("%1", loaded.dir.path()));
        for (const QStringList &row : listRows(window))
            listed << row[1];
        QCOMPARE(listed, surnames << "Zanzi");
        QCOMPARE(rowsInFile(loaded.path()).size(), surnames.size());
        QCOMPARE(fieldTexts(window)[0], QString());
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
        QTest::newRow("column count") << "legacy-columns" << int(vbYes) << QStringList() << QString() << damaged;
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

QTEST_MAIN(ImportTest)
#include "tst_import.moc"
