#include "importer.h"
#include "testsupport.h"

#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>

class ImportTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { brisolta::setUpApplication(*qApp); }
    void shouldAddEachNewContactOnceAllOrNothing();
    void shouldAnswerOnTheCommandLine_data();
    void shouldAnswerOnTheCommandLine();
    void shouldLeaveAllOrNothingWhenKilledDuringAnImport();
    void shouldImportDroppedFilesAfterAsking_data();
    void shouldImportDroppedFilesAfterAsking();
};

namespace {

const char *const Anna = "INSERT INTO Rubrica VALUES ('Anna', 'Bianchi', '06 123', '', '', '')";

// Mario Rossi and Anna Bianchi; the spreadsheet has Mario again and Luca Verdi; an old file has nine others.
void writeSamples(const QTemporaryDir &dir)
{
    writeFile(dir.filePath("a.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nTEL;TYPE=CELL:333 1\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchi;Anna;;;\r\nTEL:06 123\r\nEND:VCARD\r\n");
    writeFile(dir.filePath("b.csv"), "First Name,Last Name,Mobile Phone\nMario,Rossi,333 1\nLuca,\"Verdi, jr\",+39 347\n");
    writeFile(dir.filePath("bad.csv"), "Nome;Cognome\n\"Rossi;x\n");
    writeFile(dir.filePath("notes.txt"), "Rossi");
    QVERIFY(QFile::copy(QStringLiteral(BRISOLTA_TEST_DATA "/legacy/legacy-basic.mdb"), dir.filePath("old.mdb")));
}

} // namespace

void ImportTest::shouldAddEachNewContactOnceAllOrNothing()
{
    // GIVEN a file with Anna, whose fax is null
    QTemporaryDir dir;
    const QString path = dir.filePath(modDB::FileName);
    modDB::CreateDB(path);
    Database &file = *modDB::ContactDB;
    importContacts(file, {{"Anna", "Bianchi", "06", "", std::nullopt, ""}});
    // WHEN a batch repeats her (empty for null), and gives Mario twice; first as a dry run
    const Contacts batch{{"Mario", "Rossi", "1", "", "", ""}, {"Anna", "Bianchi", "06", "", "", ""},
                         {"Mario", "Rossi", "1", "", "", ""}, {"Mario", "Rossi", "1", "", "", "m@x.it"}};
    const QByteArray before = fileBytes(path);
    const ImportResult preview = importContacts(file, batch, true);
    QCOMPARE(fileBytes(path), before);
    const ImportResult result = importContacts(file, batch);
    // THEN the two new contacts are added in order, and two counted as already there
    for (const ImportResult &counted : {preview, result}) {
        QCOMPARE(counted.added.size(), std::size_t(2));
        QCOMPARE(counted.duplicates, 2);
    }
    const QList<QStringList> rows = rowsInFile(path);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[1], (QStringList{"Mario", "Rossi", "1", "", "", ""}));
    QCOMPARE(rows[2][5], "m@x.it");
    QCOMPARE(result.bookmarks.size(), std::size_t(2));
    modDB::ContactDB.reset();
}

void ImportTest::shouldAnswerOnTheCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("stored");
    const QString added = QStringLiteral("Contatti aggiunti: 2. Già presenti: 2.\n");
    QTest::newRow("import") << QStringList{"--import", "a.vcf", "b.csv"} << 0 << added << 3;
    QTest::newRow("old file") << QStringList{"--import", "old.mdb"} << 0 << "Contatti aggiunti: 9. Già presenti: 0.\n" << 10;
    QTest::newRow("dry run") << QStringList{"--import", "a.vcf", "b.csv", "--dry-run"} << 0
                             << "Contatti da aggiungere: 2. Già presenti: 2. Nulla è stato scritto.\n" << 1;
    QTest::newRow("a bad file stops all") << QStringList{"--import", "a.vcf", "bad.csv"} << 1
                                          << "Brisolta: bad.csv, riga 2: virgolette non chiuse.\n" << 1;
    QTest::newRow("unknown format") << QStringList{"--import", "notes.txt"} << 1
        << "Brisolta: notes.txt: formato non riconosciuto (si leggono file .vcf, .csv e .mdb).\n" << 1;
    QTest::newRow("find") << QStringList{"--find", "BIA"} << 0 << "Anna\tBianchi\t06 123\t\t\t\n" << 1;
    QTest::newRow("export") << QStringList{"--export", "out.vcf", "--vcard-version", "4.0"} << 0
                            << "Esportati 1 contatto in out.vcf.\n" << 1;
    QTest::newRow("no contact file") << QStringList{"--find", "a", "--file", "none.mdb"} << 1
                                     << "Brisolta: none.mdb: il file dei contatti non esiste.\n" << 1;
    const QString help = QStringLiteral("\nPer l'aiuto: Brisolta --help\n");
    QTest::newRow("no operation") << QStringList{"a.vcf"} << 2
        << "Brisolta: indicare una sola operazione fra --import, --export e --find." + help << 1;
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "Brisolta: Opzione sconosciuta 'bogus'." + help << 1;
    QTest::newRow("export to .doc") << QStringList{"--export", "x.doc"} << 2
                                    << "Brisolta: --export scrive file .vcf o .csv: x.doc" + help << 1;
}

void ImportTest::shouldAnswerOnTheCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(int, stored);
    // GIVEN the sample files beside a contact file that holds Anna
    QTemporaryDir dir;
    writeSamples(dir);
    makeFile(dir.filePath("x.mdb"), Anna);
    // WHEN the program runs with the arguments
    QProcess program;
    program.setWorkingDirectory(dir.path());
    program.start(QStringLiteral(BRISOLTA_PROGRAM),
                  arguments.contains(QStringLiteral("--file")) ? arguments : arguments + QStringList{"--file", "x.mdb"});
    QVERIFY(program.waitForFinished());
    // THEN it says what it did on stdout (or why not on stderr), ends with the status, and stores what it says
    QCOMPARE(program.exitCode(), status);
    QCOMPARE(QString::fromUtf8(status == 0 ? program.readAllStandardOutput() : program.readAllStandardError()), output);
    QCOMPARE(rowsInFile(dir.filePath(QStringLiteral("x.mdb"))).size(), stored);
    if (arguments.contains(QStringLiteral("--export")) && status == 0)
        QVERIFY(fileBytes(dir.filePath(QStringLiteral("out.vcf"))).startsWith("BEGIN:VCARD\r\nVERSION:4.0\r\n"));
}

void ImportTest::shouldLeaveAllOrNothingWhenKilledDuringAnImport()
{
    // GIVEN a spreadsheet of many contacts, and the time a whole import takes
    QTemporaryDir dir;
    constexpr int Count = 5000;
    QByteArray csv = "Nome;Cognome;Telefono\n";
    for (int i = 0; i < Count; ++i)
        csv += "Nome" + QByteArray::number(i) + ";Cognome;06 " + QByteArray::number(i) + "\n";
    QFile big(dir.filePath(QStringLiteral("big.csv")));
    writeFile(big.fileName(), csv);
    QRandomGenerator random(seedFrom("BRISOLTA_IMPORT_SEED"));
    qint64 whole = 0;
    for (int kill = 0; kill < 12; ++kill) {
        const QString path = dir.filePath(QStringLiteral("k%1.mdb").arg(kill));
        QProcess program;
        QElapsedTimer timer;
        timer.start();
        program.start(QStringLiteral(BRISOLTA_PROGRAM), {"--import", big.fileName(), "--file", path});
        // WHEN it is killed at a random moment (the first run is left to finish, to know how long one takes)
        if (kill > 0) {
            QVERIFY(program.waitForStarted());
            QTest::qWait(int(random.bounded(quint32(whole + 1))));
            program.kill();
        }
        program.waitForFinished();
        whole = std::max(whole, timer.elapsed());
        // THEN the file holds all the contacts or none
        const qsizetype stored = rowsInFile(path).size();
        QVERIFY2(stored == 0 || stored == Count, qPrintable(QStringLiteral("%1 contacts after kill %2").arg(stored).arg(kill)));
    }
}

void ImportTest::shouldImportDroppedFilesAfterAsking_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<QStringList>("surnames");
    QTest::newRow("yes") << QStringList{"a.vcf", "b.csv"} << int(vbYes)
                         << QStringList{"Importare 2 contatti da a.vcf, b.csv?", "Contatti aggiunti: 2. Già presenti: 2."}
                         << QStringList{"Bianchi", "Rossi", "Verdi, jr"};
    QTest::newRow("no") << QStringList{"a.vcf"} << int(vbNo) << QStringList{"Importare 1 contatto da a.vcf?"}
                        << QStringList{"Bianchi"};
    QTest::newRow("the same file twice") << QStringList{"b.csv", "b.csv"} << int(vbYes)
                                 << QStringList{"Importare 2 contatti da b.csv, b.csv?", "Contatti aggiunti: 2. Già presenti: 2."}
                                 << QStringList{"Bianchi", "Rossi", "Verdi, jr"};
    QTest::newRow("a bad file") << QStringList{"a.vcf", "bad.csv"} << int(vbYes)
                                << QStringList{"%1/bad.csv, riga 2: virgolette non chiuse."} << QStringList{"Bianchi"};
}

void ImportTest::shouldImportDroppedFilesAfterAsking()
{
    QFETCH(QStringList, files);
    QFETCH(int, answer);
    QFETCH(QStringList, prompts);
    QFETCH(QStringList, surnames);
    // GIVEN the window on a file that holds Anna Bianchi, sorted by surname
    LoadedWindow loaded;
    writeSamples(loaded.dir);
    loaded.load(Anna);
    loaded.window->lstADD->setSorted(true);
    loaded.window->lstADD->setSortKey(1);
    // WHEN the files are dropped on it and the question answered
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &file : files)
        urls << QUrl::fromLocalFile(loaded.dir.filePath(file));
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(loaded.window.get(), &enter);
    QVERIFY(enter.isAccepted());
    AnsweredBoxes boxes([answer] { return answer; });
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(loaded.window.get(), &drop);
    // THEN the boxes ask and tell, and the new rows stand at their sorted places, as in the file
    QStringList shown;
    for (const QStringList &box : boxes.boxes)
        shown << box[0];
    QCOMPARE(shown, QStringList(prompts).replaceInStrings(QStringLiteral("%1"), loaded.dir.path()));
    QStringList listed;
    for (const QStringList &row : listRows(*loaded.window))
        listed << row[1];
    QCOMPARE(listed, surnames);
    QCOMPARE(rowsInFile(loaded.path()).size(), surnames.size());
}

QTEST_MAIN(ImportTest)
#include "tst_import.moc"
