#include "filetesting.h"

#include "engine.h"
#include "modDB.h"

#include <QCoreApplication>

class StoreTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldCreateTheWholeSchemaOnFirstStart();
    void shouldLeaveAnExistingFileUntouched();
    void shouldRefuseFilesThatAreNotDatabases_data();
    void shouldRefuseFilesThatAreNotDatabases();
    void shouldFailWhereNoFileCanBeMade();
    void shouldLeaveNoFileWhenCreationIsAbandoned();
    void shouldWarnWhenRecordsetIsLoadedBeforeTheDatabase();
    void shouldStoreTextsExactly_data();
    void shouldStoreTextsExactly();
    void shouldFindByLiteralPrefix_data();
    void shouldFindByLiteralPrefix();
    void shouldPreferTheGivenRecordWhenItMatches();
};

namespace {

QStringList filesIn(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
}

void addRecord(Recordset &records, const QStringList &texts)
{
    const char *names[] = {"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};
    records.AddNew();
    for (int k = 0; k < texts.size(); ++k)
        records.Fields().Item(QLatin1String(names[k])).setValue(texts[k]);
    records.Update();
}

void loadStore(const QTemporaryDir &dir)
{
    modDB::DBLoaded = false;
    modDB::LoadDB(dir.path());
    modDB::LoadRecordset();
}

} // namespace

void StoreTest::shouldCreateTheWholeSchemaOnFirstStart()
{
    // GIVEN an empty folder
    QTemporaryDir dir;
    // WHEN the store is loaded
    loadStore(dir);
    // THEN the file holds Rubrica with the six TEXT columns in order and no rows, and nothing else is left
    const QList<Row> columns = rowsInFile(dir.filePath(QStringLiteral("archivio.mdb")),
                                          "SELECT name, type, \"notnull\", dflt_value FROM pragma_table_info('Rubrica')");
    QCOMPARE(columns.size(), 6);
    const QStringList names{"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};
    for (int k = 0; k < 6; ++k)
        QCOMPARE(columns[k], (Row{names[k], QStringLiteral("TEXT"), QStringLiteral("0"), std::nullopt}));
    QVERIFY(rowsInFile(dir.filePath(QStringLiteral("archivio.mdb"))).isEmpty());
    QVERIFY(modDB::DBLoaded);
    QVERIFY(modDB::ContactRS->Eof());
    QCOMPARE(filesIn(dir), QStringList{QStringLiteral("archivio.mdb")});
    QCOMPARE(modDB::DBPath, dir.filePath(QStringLiteral("archivio.mdb")));
}

void StoreTest::shouldLeaveAnExistingFileUntouched()
{
    // GIVEN a contact file with rows
    QTemporaryDir dir;
    loadStore(dir);
    addRecord(*modDB::ContactRS, {"Anna", "Bianchi", "06 1", "", "", ""});
    modDB::ContactRS.reset();
    modDB::ContactDB.reset();
    const QByteArray before = fileBytes(dir.filePath(QStringLiteral("archivio.mdb")));
    // WHEN it is loaded and walked again
    loadStore(dir);
    int records = 0;
    for (; !modDB::ContactRS->Eof(); modDB::ContactRS->MoveNext())
        ++records;
    // THEN every row is read and not a byte of the file changed
    QCOMPARE(records, 1);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("archivio.mdb"))), before);
}

void StoreTest::shouldRefuseFilesThatAreNotDatabases_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("number");
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    QTest::newRow("random bytes") << noise << 26;
    QTest::newRow("another engine's file") << QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) + noise << 26;
}

void StoreTest::shouldRefuseFilesThatAreNotDatabases()
{
    QFETCH(QByteArray, content);
    QFETCH(int, number);
    // GIVEN an archivio.mdb that is no database
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    // WHEN the store is loaded THEN the engine's error comes, and the file is left as it was
    try {
        loadStore(dir);
        QFAIL("the file was accepted");
    } catch (const EngineError &error) {
        QCOMPARE(error.number(), number);
        QVERIFY(!error.text().isEmpty());
    }
    QVERIFY(!modDB::DBLoaded);
    QCOMPARE(fileBytes(path), content);
    QCOMPARE(filesIn(dir), QStringList{QStringLiteral("archivio.mdb")});
}

void StoreTest::shouldFailWhereNoFileCanBeMade()
{
    // GIVEN a folder path that runs through a regular file
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    // WHEN the store is loaded there THEN the final open fails and nothing counts as loaded
    modDB::DBLoaded = false;
    QVERIFY_THROWS_EXCEPTION(EngineError, modDB::LoadDB(plain.fileName()));
    QVERIFY(!modDB::DBLoaded);
}

void StoreTest::shouldLeaveNoFileWhenCreationIsAbandoned()
{
    // GIVEN a database being created, with only part of its schema
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
    {
        std::unique_ptr<Database> created = DBEngine::CreateDatabase(path);
        created->Execute(QStringLiteral("CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT)"));
        QVERIFY(!QFile::exists(path));
        // WHEN it is dropped before it is closed
    }
    // THEN no contact file and no stray file remain, and the next creation succeeds
    QVERIFY(filesIn(dir).isEmpty());
    DBEngine::CreateDatabase(path)->Close();
    QVERIFY(QFile::exists(path));
    // and an existing file is never created over
    QVERIFY_THROWS_EXCEPTION(EngineError, DBEngine::CreateDatabase(path));
    QCOMPARE(filesIn(dir), QStringList{QStringLiteral("archivio.mdb")});
}

void StoreTest::shouldWarnWhenRecordsetIsLoadedBeforeTheDatabase()
{
    // GIVEN a store that has not been loaded
    QList<ShownBox> warnings;
    modDB::Warn = [&](const QString &prompt, int style, const QString &title) { warnings.append({prompt, style, title}); };
    modDB::DBLoaded = false;
    modDB::ContactRS.reset();
    // WHEN the recordset is loaded THEN the warning comes and nothing is opened
    modDB::LoadRecordset();
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings[0].prompt, QStringLiteral("Impossibile caricare il recordset poichè il db risulta non caricato."));
    QCOMPARE(warnings[0].style, 48);
    QCOMPARE(warnings[0].title, QStringLiteral("Attenzione"));
    QVERIFY(!modDB::ContactRS);
    modDB::Warn = nullptr;
}

void StoreTest::shouldStoreTextsExactly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    const auto same = [](const char *name, const QString &text) { QTest::newRow(name) << text << text; };
    same("accents", QStringLiteral("Nicolò Èrcole àèéìòù"));
    same("apostrophes", QStringLiteral("D'Angelo Dell'Orto"));
    same("emoji", QStringLiteral("Gianni 😀👍🏽"));
    same("CJK", QStringLiteral("山田太郎 김민준"));
    same("blanks", QStringLiteral("  "));
    same("empty", QStringLiteral(""));
    same("long", QString(10000, QLatin1Char('x')) + QStringLiteral("ò"));
    same("leading byte-order mark", QChar(0xFEFF) + QStringLiteral("Bom"));
    same("NUL inside", QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    QTest::newRow("lone surrogate") << QStringLiteral("x") + QChar(0xD800) + QStringLiteral("y")
                                    << QStringLiteral("x") + QChar(QChar::ReplacementCharacter) + QStringLiteral("y");
}

void StoreTest::shouldStoreTextsExactly()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    // GIVEN a contact whose every field holds the text
    QTemporaryDir dir;
    loadStore(dir);
    addRecord(*modDB::ContactRS, QStringList(6, typed));
    // WHEN the file is opened again
    loadStore(dir);
    // THEN each field reads back exactly, never as null
    QVERIFY(!modDB::ContactRS->Eof());
    for (qint16 k = 0; k < 6; ++k)
        QCOMPARE(modDB::ContactRS->Fields().Item(k).Value(), std::optional<QString>(stored));
    QCOMPARE(rowsInFile(modDB::DBPath).value(0).value(1), std::optional<QString>(stored));
}

void StoreTest::shouldFindByLiteralPrefix_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("found"); // the Nome of the record found; empty: no match
    QTest::newRow("plain") << "Ross" << "first";
    QTest::newRow("apostrophe") << "D'A" << "apostrophe";
    QTest::newRow("percent is literal") << "%" << "percent";
    QTest::newRow("underscore is literal") << "_x" << "underscore";
    QTest::newRow("asterisk is literal") << "*" << "asterisk";
    QTest::newRow("bracket is literal") << "[a" << "bracket";
    QTest::newRow("other pattern characters") << "#?\\" << "others";
    QTest::newRow("accented letter case") << "nicolò" << "accented";
    QTest::newRow("full case folding") << "STRASSE" << "folding";
    QTest::newRow("no wildcard widening") << "R%i" << "";
    QTest::newRow("quote injection") << "' OR 1=1 --" << "";
    QTest::newRow("empty matches the first surname that is not null") << "" << "first";
}

void StoreTest::shouldFindByLiteralPrefix()
{
    QFETCH(QString, prefix);
    QFETCH(QString, found);
    // GIVEN records whose surnames hold pattern characters, after one with no surname at all
    QTemporaryDir dir;
    loadStore(dir);
    runSql(modDB::DBPath, "INSERT INTO Rubrica (Nome, Cognome) VALUES ('nameless', NULL)");
    const QList<QStringList> records{{"first", "Rossi"},         {"apostrophe", "D'Angelo"}, {"percent", "%Rossi"},
                                     {"underscore", "_xRossi"},  {"asterisk", "*star"},      {"bracket", "[abc]"},
                                     {"others", "#?\\odd"},      {"accented", "NICOLÒ"},     {"folding", "Straße"}};
    for (const QStringList &record : records)
        addRecord(*modDB::ContactRS, record);
    // WHEN the surname is looked for
    modDB::ContactRS->FindFirst(QStringLiteral("Cognome"), prefix);
    // THEN the record found is the one whose surname begins with the very text typed
    QCOMPARE(modDB::ContactRS->NoMatch(), found.isEmpty());
    if (!found.isEmpty())
        QCOMPARE(modDB::ContactRS->Fields().Item(QStringLiteral("Nome")).Value(), std::optional<QString>(found));
}

void StoreTest::shouldPreferTheGivenRecordWhenItMatches()
{
    // GIVEN Rossini stored before Rossi
    QTemporaryDir dir;
    loadStore(dir);
    Recordset &records = *modDB::ContactRS;
    addRecord(records, {"Luca", "Rossini"});
    const qint64 rossini = *records.LastModified();
    addRecord(records, {"Mario", "Rossi"});
    const qint64 rossi = *records.LastModified();
    // WHEN Rossi is looked for with Rossi's record preferred THEN Rossi is found
    records.FindFirst(QStringLiteral("Cognome"), QStringLiteral("Rossi"), rossi);
    QCOMPARE(records.Bookmark(), std::optional<qint64>(rossi));
    // WHEN the preferred record does not match THEN the first match in order is found
    records.FindFirst(QStringLiteral("Cognome"), QStringLiteral("Rossini"), rossi);
    QCOMPARE(records.Bookmark(), std::optional<qint64>(rossini));
    // WHEN the preferred record is gone THEN the first match in order is found
    records.Delete();
    records.FindFirst(QStringLiteral("Cognome"), QStringLiteral("Ross"), rossini);
    QCOMPARE(records.Bookmark(), std::optional<qint64>(rossi));
}

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
