#include "testsupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class RobustnessTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldReportBadPlacesAndLeaveThemAsTheyWere_data();
    void shouldReportBadPlacesAndLeaveThemAsTheyWere();
    void shouldWaitForAnotherCopysWriteAndThenAdd();
    void shouldReportALockThatStaysAndKeepEverything_data();
    void shouldReportALockThatStaysAndKeepEverything();
    void shouldKeepEveryContactOfTwoCopiesAddingAtOnce_data();
    void shouldKeepEveryContactOfTwoCopiesAddingAtOnce();
    void shouldReportAFullDiskAndKeepTheFile_data();
    void shouldReportAFullDiskAndKeepTheFile();
    void shouldReportAReadOnlyFileAndKeepIt_data();
    void shouldReportAReadOnlyFileAndKeepIt();
    void shouldCreateTheFilePrivateWhateverTheUmask_data();
    void shouldCreateTheFilePrivateWhateverTheUmask();
    void shouldKeepTheFileBesideTheProgramUnlessItMayNot_data();
    void shouldKeepTheFileBesideTheProgramUnlessItMayNot();
    void cleanup();
};

namespace {

const QString Saved = QStringLiteral("Dati salvati con successo!.");
const QString FullSchema = QStringLiteral(
    "CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT,Telefono TEXT,Cellulare TEXT,Fax TEXT,Email TEXT);");

QList<QStringList> fileTexts(const QString &path)
{
    QList<QStringList> rows;
    for (const Row &row : rowsInFile(path)) {
        QStringList texts;
        for (const std::optional<QString> &text : row)
            texts << text.value_or(QString());
        rows << texts;
    }
    return rows;
}

QList<QStringList> decodedRows(const QByteArray &output, const QByteArray &kind, int skip = 0)
{
    QList<QStringList> rows;
    for (const QByteArray &line : output.split('\n')) {
        QList<QByteArray> parts = line.split(' ');
        if (parts.takeFirst() != kind)
            continue;
        QStringList texts;
        for (const QByteArray &part : parts.mid(skip))
            texts << QString::fromUtf8(part.startsWith('=') ? QByteArray::fromHex(part.mid(1)) : part);
        rows << texts;
    }
    return rows;
}

void addThroughWindow(frmGESTDB &window, const QStringList &texts)
{
    AnsweredBoxes boxes;
    typeContact(window, texts);
    window.Command1_Click(0);
    QCOMPARE(boxes.boxes.value(0).prompt, Saved);
}

void selectFirstRow(frmGESTDB &window)
{
    window.lstADD->ListItems().Item(1).setSelected(true);
    typeContact(window, listRows(window).value(0));
}

// Runs the window driver copy `driver` as the user nobody; empty when this process may not run things as nobody.
QByteArray asNobody(const QString &driver, const QStringList &args,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty() || !::getpwnam("nobody") || !::getgrnam("nogroup"))
        return {};
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(setpriv, QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", driver} + args);
    process.waitForFinished(30000);
    return process.readAllStandardOutput();
}

// What a place is: a folder's entries, or a file's bytes.
QByteArray snapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return "folder: " + QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(' ').toUtf8();
    return info.exists() ? fileBytes(path) : QByteArray("missing");
}

// Another copy of the program in the middle of its own write.
class OtherCopy
{
public:
    explicit OtherCopy(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        run("BEGIN IMMEDIATE; INSERT INTO Rubrica VALUES ('Olga','Altracopia','1','','','')");
    }
    ~OtherCopy() { sqlite3_close(m_db); }
    int run(const char *sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }

private:
    sqlite3 *m_db = nullptr;
};

// A file system that refuses every write while it is full, as a full disk does; it becomes the default one.
class FullDisk
{
public:
    FullDisk()
    {
        s_real = sqlite3_vfs_find(nullptr);
        s_vfs = *s_real;
        s_vfs.zName = "fulldisk";
        s_vfs.pNext = nullptr;
        s_vfs.szOsFile = int(sizeof(File)) + s_real->szOsFile;
        s_vfs.xOpen = &FullDisk::open;
        sqlite3_vfs_register(&s_vfs, 1);
    }
    ~FullDisk()
    {
        s_full = false;
        sqlite3_vfs_unregister(&s_vfs);
    }
    void setFull(bool full) { s_full = full; }

private:
    struct File
    {
        sqlite3_file base;
        sqlite3_file *real;
    };
    static sqlite3_file *real(sqlite3_file *file) { return reinterpret_cast<File *>(file)->real; }
    static const sqlite3_io_methods *realMethods(sqlite3_file *file) { return real(file)->pMethods; }

    static int open(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *outFlags)
    {
        auto *wrapper = reinterpret_cast<File *>(file);
        wrapper->real = reinterpret_cast<sqlite3_file *>(wrapper + 1);
        const int result = s_real->xOpen(s_real, name, wrapper->real, flags, outFlags);
        wrapper->base.pMethods = wrapper->real->pMethods ? &s_methods : nullptr;
        return result;
    }

    static inline sqlite3_vfs *s_real = nullptr;
    static inline sqlite3_vfs s_vfs{};
    static inline bool s_full = false;
    static inline const sqlite3_io_methods s_methods = {
        1,
        [](sqlite3_file *f) { return realMethods(f)->xClose(real(f)); },
        [](sqlite3_file *f, void *b, int n, sqlite3_int64 o) { return realMethods(f)->xRead(real(f), b, n, o); },
        [](sqlite3_file *f, const void *b, int n, sqlite3_int64 o) {
            return s_full ? SQLITE_FULL : realMethods(f)->xWrite(real(f), b, n, o);
        },
        [](sqlite3_file *f, sqlite3_int64 size) { return realMethods(f)->xTruncate(real(f), size); },
        [](sqlite3_file *f, int flags) { return realMethods(f)->xSync(real(f), flags); },
        [](sqlite3_file *f, sqlite3_int64 *size) { return realMethods(f)->xFileSize(real(f), size); },
        [](sqlite3_file *f, int lock) { return realMethods(f)->xLock(real(f), lock); },
        [](sqlite3_file *f, int lock) { return realMethods(f)->xUnlock(real(f), lock); },
        [](sqlite3_file *f, int *out) { return realMethods(f)->xCheckReservedLock(real(f), out); },
        [](sqlite3_file *f, int op, void *arg) { return realMethods(f)->xFileControl(real(f), op, arg); },
        [](sqlite3_file *f) { return realMethods(f)->xSectorSize(real(f)); },
        [](sqlite3_file *f) { return realMethods(f)->xDeviceCharacteristics(real(f)); },
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
};

void expectErrorBox(const AnsweredBoxes &boxes, const QString &prompt)
{
    QVERIFY(!boxes.boxes.isEmpty());
    QCOMPARE(boxes.boxes.last().prompt, prompt);
    QCOMPARE(boxes.boxes.last().style, 16);
    QCOMPARE(boxes.boxes.last().title, QStringLiteral("Errore"));
}

} // namespace

void RobustnessTest::cleanup()
{
    setMsgBoxAnswerer({});
    modDB::ContactRS.reset();
    modDB::ContactDB.reset();
}

void RobustnessTest::shouldReportBadPlacesAndLeaveThemAsTheyWere_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("report");
    QTest::newRow("empty file") << "empty" << "Errore di run-time '1':\n\nno such table: Rubrica";
    QTest::newRow("folder named archivio.mdb") << "folder" << "Errore di run-time '14':\n\nunable to open database file";
    QTest::newRow("folder that is a regular file: why it was not made") << "under file"
                                                   << "Errore di run-time '14':\n\nNot a directory";
    QTest::newRow("corrupt table page") << "corrupt" << "Errore di run-time '11':\n\ndatabase disk image is malformed";
}

void RobustnessTest::shouldReportBadPlacesAndLeaveThemAsTheyWere()
{
    QFETCH(QString, place);
    QFETCH(QString, report);
    // GIVEN a contact folder whose archivio.mdb cannot be used
    QTemporaryDir dir;
    QString folder = dir.path();
    QString watched = dir.filePath(modDB::FileName);
    if (place == QLatin1String("empty")) {
        QFile file(watched);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (place == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(modDB::FileName));
    } else if (place == QLatin1String("under file")) {
        watched = folder = dir.filePath(QStringLiteral("plain"));
        QFile file(watched);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a folder");
    } else {
        runSql(watched, qPrintable(FullSchema + QStringLiteral("INSERT INTO Rubrica VALUES ('Anna','Bianchi','1','','',''),"
                                                               "('Bruno','Verdi','2','','','')")));
        QCOMPARE(rowsInFile(watched, "PRAGMA page_size").value(0).value(0), std::optional<QString>("4096"));
        QFile file(watched);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(4096));
        QByteArray junk(4096, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char(i * 31 + 7);
        file.write(junk);
    }
    const QByteArray before = snapshot(watched);
    const QByteArray folderBefore = snapshot(dir.path());
    AnsweredBoxes boxes;
    QTimer guard; // should the program start after all, it ends at once instead of waiting for the user
    guard.callOnTimeout([] { QCoreApplication::exit(0); });
    guard.start(0);
    // WHEN the program starts there
    const int status = brisolta::run(folder);
    // THEN it ends with a failure status after reporting the engine's number and text, and nothing was overwritten
    QCOMPARE(status, 1);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].prompt, report);
    QCOMPARE(boxes.boxes[0].style, 16);
    QCOMPARE(snapshot(watched), before);
    QCOMPARE(snapshot(dir.path()), folderBefore);
}

void RobustnessTest::shouldWaitForAnotherCopysWriteAndThenAdd()
{
    // GIVEN a window with a contact, and another copy in the middle of a write that ends in 300 ms
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    addThroughWindow(window, {"Anna", "Bianchi", "06 1", "", "", ""});
    OtherCopy other(loaded.path());
    QThread releaser;
    QTimer release;
    release.setSingleShot(true);
    release.setInterval(300);
    release.moveToThread(&releaser);
    connect(&release, &QTimer::timeout, &release, [&other] { other.run("COMMIT"); }, Qt::DirectConnection);
    connect(&releaser, &QThread::started, &release, qOverload<>(&QTimer::start));
    QElapsedTimer clock;
    clock.start();
    releaser.start();
    // WHEN a contact is added meanwhile
    AnsweredBoxes boxes;
    typeContact(window, {"Carla", "D'Amico", "06 3", "", "", ""});
    window.Command1_Click(0);
    const qint64 waited = clock.elapsed();
    releaser.quit();
    releaser.wait();
    // THEN the add waited for the other write and then succeeded; both contacts are in the file
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].prompt, Saved);
    QVERIFY2(waited >= 250, qPrintable(QString::number(waited)));
    const QList<QStringList> file = fileTexts(loaded.path());
    QCOMPARE(file.size(), 3);
    QCOMPARE(file[1][1], QStringLiteral("Altracopia"));
    QCOMPARE(listRows(window), (QList<QStringList>{file[0], file[2]}));
}

void RobustnessTest::shouldReportALockThatStaysAndKeepEverything_data()
{
    QTest::addColumn<bool>("removing");
    QTest::newRow("add") << false;
    QTest::newRow("remove") << true;
}

void RobustnessTest::shouldReportALockThatStaysAndKeepEverything()
{
    QFETCH(bool, removing);
    // GIVEN a window with two contacts, and another copy that holds its write
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    addThroughWindow(window, {"Anna", "Bianchi", "06 1", "", "", ""});
    addThroughWindow(window, {"Bruno", "Verdi", "06 2", "", "", ""});
    if (removing)
        selectFirstRow(window);
    else
        typeContact(window, {"Carla", "D'Amico", "06 3", "", "", ""});
    const QStringList typed = fieldTexts(window);
    const QByteArray before = fileBytes(loaded.path());
    auto other = std::make_unique<OtherCopy>(loaded.path());
    // WHEN the contact is added or removed
    AnsweredBoxes boxes(vbYes);
    QElapsedTimer clock;
    clock.start();
    window.Command1_Click(removing ? 1 : 0);
    // THEN after waiting out the busy time the engine's error is shown, and list, fields and file are as they were
    QVERIFY2(clock.elapsed() >= 4500, qPrintable(QString::number(clock.elapsed())));
    expectErrorBox(boxes, QStringLiteral("Errore di run-time '5':\n\ndatabase is locked"));
    QCOMPARE(fieldTexts(window), typed);
    QCOMPARE(listRows(window), fileTexts(loaded.path()));
    QCOMPARE(listRows(window).size(), 2);
    // AND WHEN the other copy gives up THEN the same action succeeds
    QCOMPARE(other->run("ROLLBACK"), SQLITE_OK);
    other.reset();
    QCOMPARE(fileBytes(loaded.path()), before);
    window.Command1_Click(removing ? 1 : 0);
    QCOMPARE(listRows(window), fileTexts(loaded.path()));
    QCOMPARE(listRows(window).size(), removing ? 1 : 3);
}

void RobustnessTest::shouldKeepEveryContactOfTwoCopiesAddingAtOnce_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("existing file") << true;
    QTest::newRow("both starting first") << false;
}

void RobustnessTest::shouldKeepEveryContactOfTwoCopiesAddingAtOnce()
{
    QFETCH(bool, existing);
    // GIVEN a contact folder
    QTemporaryDir dir;
    if (existing) {
        QProcess first;
        first.start(QStringLiteral(STORE_DRIVER), {"start", dir.path()});
        QVERIFY(first.waitForFinished(10000) && first.exitCode() == 0);
    }
    // WHEN two copies add 50 contacts each at the same time
    QProcess copies[2];
    for (int k = 0; k < 2; ++k)
        copies[k].start(QStringLiteral(STORE_DRIVER), {"add", dir.path(), "50", QStringLiteral("copia%1_").arg(k)});
    QList<QStringList> added;
    for (QProcess &copy : copies) {
        QVERIFY(copy.waitForFinished(60000));
        const QByteArray output = copy.readAllStandardOutput();
        // THEN neither reports an error, and each finds in its own recordset everything it added
        QVERIFY2(copy.exitCode() == 0 && output.endsWith("DONE\n"), output.right(300).constData());
        added += decodedRows(output, "ADD", 1);
    }
    // and the file holds both copies' contacts exactly, which the next start lists
    QList<QStringList> file = fileTexts(dir.filePath(modDB::FileName));
    QCOMPARE(file.size(), 100);
    std::sort(file.begin(), file.end());
    std::sort(added.begin(), added.end());
    QCOMPARE(file, added);
    frmGESTDB window(dir.path());
    window.Form_Load();
    QCOMPARE(listRows(window), fileTexts(dir.filePath(modDB::FileName)));
}

void RobustnessTest::shouldReportAFullDiskAndKeepTheFile_data()
{
    QTest::addColumn<bool>("pageLimit"); // otherwise every write fails, as on a full disk
    QTest::addColumn<bool>("removing");
    QTest::newRow("add, file at its page limit") << true << false;
    QTest::newRow("add, full disk") << false << false;
    QTest::newRow("remove, full disk") << false << true;
}

void RobustnessTest::shouldReportAFullDiskAndKeepTheFile()
{
    QFETCH(bool, pageLimit);
    QFETCH(bool, removing);
    // GIVEN a window with two contacts and a disk that has just filled up
    FullDisk disk;
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    addThroughWindow(window, {"Anna", "Bianchi", "06 1", "", "", ""});
    addThroughWindow(window, {"Bruno", "Verdi", "06 2", "", "", ""});
    if (removing)
        selectFirstRow(window);
    else
        typeContact(window, {"Carla", QString(20000, QChar(u'è')), "06 3", "", "", ""});
    const QStringList typed = fieldTexts(window);
    const QByteArray before = fileBytes(loaded.path());
    sqlite3 *db = modDB::ContactDB->handle();
    if (pageLimit) {
        const QByteArray pages = rowsInFile(loaded.path(), "PRAGMA page_count").value(0).value(0)->toLatin1();
        QCOMPARE(sqlite3_exec(db, ("PRAGMA max_page_count=" + pages).constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    } else {
        disk.setFull(true);
    }
    // WHEN the contact is added or removed
    AnsweredBoxes boxes(vbYes);
    window.Command1_Click(removing ? 1 : 0);
    // THEN the engine's error is shown and the file, the list and the fields are as they were
    expectErrorBox(boxes, QStringLiteral("Errore di run-time '13':\n\ndatabase or disk is full"));
    QCOMPARE(fileBytes(loaded.path()), before);
    QCOMPARE(QDir(loaded.dir.path()).entryList(QDir::Files), QStringList{modDB::FileName});
    QCOMPARE(listRows(window), fileTexts(loaded.path()));
    QCOMPARE(fieldTexts(window), typed);
    // AND WHEN space is made THEN the program goes on and the same action succeeds
    disk.setFull(false);
    QCOMPARE(sqlite3_exec(db, "PRAGMA max_page_count=1073741823", nullptr, nullptr, nullptr), SQLITE_OK);
    window.Command1_Click(removing ? 1 : 0);
    QCOMPARE(listRows(window), fileTexts(loaded.path()));
    QCOMPARE(listRows(window).size(), removing ? 1 : 3);
}

void RobustnessTest::shouldReportAReadOnlyFileAndKeepIt_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("add") << "add";
    QTest::newRow("remove") << "remove";
}

void RobustnessTest::shouldReportAReadOnlyFileAndKeepIt()
{
    QFETCH(QString, action);
    // GIVEN a contact file with two contacts that the user may only read, in a folder the user may only enter
    QTemporaryDir root;
    QVERIFY(QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                                   QFile::ExeOther));
    const QString driver = root.filePath(QStringLiteral("windowdriver"));
    QVERIFY(QFile::copy(QStringLiteral(WINDOW_DRIVER), driver));
    const QString folder = root.filePath(QStringLiteral("contacts"));
    const QString path = folder + QStringLiteral("/archivio.mdb");
    QVERIFY(QDir(root.path()).mkdir(QStringLiteral("contacts")));
    runSql(path, qPrintable(FullSchema + QStringLiteral("INSERT INTO Rubrica VALUES ('Anna','Bianchi','1','','',''),"
                                                        "('Bruno','Verdi','2','','','')")));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    const QByteArray before = fileBytes(path);
    if (!asNobody(driver, {folder, QStringLiteral("probe")}).contains("PROBE"))
        QSKIP("needs root, setpriv, and the user nobody who can reach the temporary folder");
    // WHEN that user adds or removes a contact
    const QByteArray output = asNobody(driver, {folder, action});
    // THEN the engine's error is shown, the program goes on, its list equals the file, and the file is unchanged
    const QList<QStringList> boxes = decodedRows(output, "BOX");
    QVERIFY2(!boxes.isEmpty(), output.constData());
    QCOMPARE(boxes.last(), (QStringList{"16", "Errore", "Errore di run-time '8':\n\nattempt to write a readonly database"}));
    QCOMPARE(decodedRows(output, "ROW"), fileTexts(path));
    QCOMPARE(decodedRows(output, "ROW").size(), 2);
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{modDB::FileName});
}

void RobustnessTest::shouldCreateTheFilePrivateWhateverTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 000") << 0;
    QTest::newRow("umask 022") << 022;
    QTest::newRow("umask 077") << 077;
}

void RobustnessTest::shouldCreateTheFilePrivateWhateverTheUmask()
{
    QFETCH(int, mask);
    // GIVEN an empty folder and the umask
    QTemporaryDir dir;
    {
        const mode_t previous = ::umask(mode_t(mask));
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        // WHEN the store makes its file there
        modDB::DBLoaded = false;
        modDB::LoadDB(dir.path());
        modDB::ContactDB.reset();
    }
    // THEN only its owner may read or write it
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(dir.filePath(modDB::FileName)).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), 0600);
}

void RobustnessTest::shouldKeepTheFileBesideTheProgramUnlessItMayNot_data()
{
    QTest::addColumn<int>("programMode");
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("expectedMode");
    QTest::newRow("writable folder") << 0777 << false << "program/archivio.mdb" << 0777;
    QTest::newRow("read-only folder with the file") << 0555 << true << "program/archivio.mdb" << 0555;
    QTest::newRow("read-only folder") << 0555 << false << "home/.local/share/Brisolta/archivio.mdb" << 0700;
}

void RobustnessTest::shouldKeepTheFileBesideTheProgramUnlessItMayNot()
{
    QFETCH(int, programMode);
    QFETCH(bool, fileThere);
    QFETCH(QString, expected);
    QFETCH(int, expectedMode);
    // GIVEN the program alone in its folder, or beside a contact file, and a user whose home holds nothing yet
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("program"));
    const QString home = root.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkdir(program) && QDir().mkdir(home) && ::chmod(QFile::encodeName(home).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0);
    QVERIFY(QFile::copy(QStringLiteral(WINDOW_DRIVER), program + QStringLiteral("/windowdriver")));
    if (fileThere)
        runSql(program + QStringLiteral("/archivio.mdb"),
               qPrintable(FullSchema + QStringLiteral("INSERT INTO Rubrica VALUES ('Anna','Bianchi','1','','','')")));
    QVERIFY(::chmod(QFile::encodeName(program).constData(), mode_t(programMode)) == 0);
    // WHEN that user starts it without naming a folder
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    const QByteArray output = asNobody(program + QStringLiteral("/windowdriver"), {QString(), "list"}, environment);
    if (output.isEmpty())
        QSKIP("needs root, setpriv, and the user nobody who can reach the temporary folder");
    // THEN the list shows the one file, which is the expected one, in a folder as private as expected
    QStringList files;
    QDirIterator found(root.path(), {modDB::FileName}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (found.hasNext())
        files << found.next();
    QCOMPARE(files, QStringList{root.filePath(expected)});
    QCOMPARE(decodedRows(output, "ROW"), fileTexts(files.value(0)));
    QCOMPARE(decodedRows(output, "ROW").size(), fileThere ? 1 : 0);
    struct stat folder {};
    QCOMPARE(::stat(QFile::encodeName(QFileInfo(files.value(0)).path()).constData(), &folder), 0);
    QCOMPARE(int(folder.st_mode & 07777), expectedMode);
}

BRISOLTA_TEST_MAIN(RobustnessTest)
#include "tst_robustness.moc"
