#include "support/windowsupport.h"

#include "design.h"
#include "frmFIND.h"
#include "history.h"
#include "listmenu.h"
#include "files.h"
#include "vcard.h"

#include <qpa/qplatformwindow.h>

namespace {

const QString Report = QStringLiteral("Errore di run-time '%1':\n\n%2");
const QStringList FullDiskReport{Report.arg(13).arg("database or disk is full"), "16", "Errore"};

// What a title becomes on its way to the window manager: the X11 platform formats it so.
QString platformTitle(QWidget *window)
{
    struct Platform : QPlatformWindow { using QPlatformWindow::formatWindowTitle; };
    return Platform::formatWindowTitle(window->windowHandle()->title(), QStringLiteral(" \u2014 "));
}

QStringList firstNames(const QList<QStringList> &rows, bool sorted = false)
{
    QStringList names;
    for (const QStringList &row : rows)
        names << row.value(0);
    return sorted ? (names.sort(), names) : names;
}

// While it lives, SQLite's writes fail as on a full disk.
struct FullDisk
{
    sqlite3_vfs *const disk = sqlite3_vfs_find(nullptr);
    FullDisk() { disk->xSetSystemCall(disk, "pwrite64", sqlite3_syscall_ptr(+[](int, const void *, size_t, off_t) { return errno = ENOSPC, -1; })); }
    ~FullDisk() { disk->xSetSystemCall(disk, "pwrite64", nullptr); }
};

const QString ThreeContacts = QStringLiteral("INSERT INTO Rubrica VALUES ('Anna','Rossi','3',NULL,NULL,NULL),"
                                             "('Bruno','Bianchi','1','c','f','e'),('Carla','Verdi','2','','','')");

// Forty rows to scroll past, then three surnames that begin with "Ross", in three orders: as added, by surname and by
// telephone; a surname with a capital A, and an address with "re" inside but not in front.
const QString SampleContacts = QStringLiteral(
    "WITH n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 39) INSERT INTO Rubrica SELECT 'R', 'Z' || k, '09' || k, '', '', '' FROM n;"
    "INSERT INTO Rubrica VALUES ('Mario','Rossi','051','333','0519','m@p.it'),('Anna','Rossetti','061','320','0617',''),"
    "('Carla','Rossini','040','','','rr@rete.it'),('Giuseppe','Verdi','0498','340','0491','g.verdi@musica.it'),('Aldo','Abate','07','','',''),"
    "('Franz','Straße','08','','','')");

// The open cell editor; a closed one may linger, hidden, until the event loop deletes it.
QLineEdit *cellEditor(QWidget &window)
{
    const QList<QLineEdit *> editors = listOf(window).viewport()->findChildren<QLineEdit *>("lstADDEditor");
    const auto open = std::find_if(editors.begin(), editors.end(), [](QLineEdit *editor) { return editor->isVisible(); });
    return open == editors.end() ? nullptr : *open;
}

// Opens the editor on a cell by double-clicking it, or on the first cell of a row with F2.
void openEditor(QWidget &window, int row, int column)
{
    const QPoint cell = listOf(window).visualRect(shownList(window).index(row, std::max(column, 0))).center();
    QTest::mouseClick(listOf(window).viewport(), Qt::LeftButton, {}, cell);
    column < 0 ? QTest::keyClick(&listOf(window), Qt::Key_F2) : QTest::mouseDClick(listOf(window).viewport(), Qt::LeftButton, {}, cell);
}

// Types each text over the cell's text, going on with Tab (Shift+Tab before a text that begins with "<"), and ends
// the last one with `end`.
void typeInCells(QWidget &window, const QStringList &texts, int end)
{
    for (int i = 0; i < texts.size(); ++i) {
        QLineEdit *editor = cellEditor(window);
        QVERIFY(editor);
        editor->selectAll();
        const QString text = texts[i].startsWith('<') ? texts[i].mid(1) : texts[i];
        text.isEmpty() ? QTest::keyClick(editor, Qt::Key_Delete) : QTest::keyClicks(editor, text);
        if (i + 1 == texts.size() && end < 0)
            entry(window, 0).setFocus(); // leaves the cell
        else
            QTest::keyClick(editor, i + 1 == texts.size() ? Qt::Key(end) : texts[i + 1].startsWith('<') ? Qt::Key_Backtab : Qt::Key_Tab);
    }
    QTRY_VERIFY(!cellEditor(window));
}

// The rows sorted; as the list shows them, a null as an empty cell.
QList<QStringList> sortedRows(QList<QStringList> rows, bool asShown = false)
{
    std::for_each(rows.begin(), rows.end(), [&](QStringList &row) { row.replaceInStrings(asShown ? "␀" : "", ""); });
    return std::sort(rows.begin(), rows.end()), rows;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { brisolta::setUpApplication(*qApp); }

    void shouldStartWithTheFilesContactsOrSayWhyNot_data()
    {
        QTest::addColumn<QString>("sql"); // run on a file made as the program makes it
        QTest::addColumn<QList<QStringList>>("listed"); // the headers, then the rows
        QTest::addColumn<QString>("report"); // empty: the program starts
        const auto fails = [](const char *place, const char *sql, int number, const char *text) {
            QTest::newRow(place) << QString(sql) << QList<QStringList>() << Report.arg(number).arg(text);
        };
        QTest::newRow("in record order, texts exact, nulls as empty cells")
            << "INSERT INTO Rubrica VALUES ('Émile','D''Oro 😀',char(65279)||'6','a'||char(0)||'b','','z@x'),('Anna',NULL,'6',NULL,NULL,NULL)"
            << QList<QStringList>{{"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"},
                                  {"Émile", "D'Oro 😀", QStringLiteral("\uFEFF6"), QStringLiteral("a\0b"), "", "z@x"}, {"Anna", "", "6", "", "", ""}} << "";
        QTest::newRow("no Fax, no rows") << "ALTER TABLE Rubrica DROP COLUMN Fax"
                                         << QList<QStringList>{{"Nome", "Cognome", "Telefono", "Cellulare", "Email"}} << "";
        fails("no Fax, with rows", "ALTER TABLE Rubrica DROP COLUMN Fax;INSERT INTO Rubrica VALUES ('a','b','c','d','e')", 25,
              "Elemento non trovato in questo insieme: Fax.");
        fails("random bytes", "", 26, "file is not a database");
        fails("empty file", "", 1, "no such table: Rubrica");
        // A first start that cannot make the file says why it could not.
        fails("folder path through a file", "", 14, "Not a directory");
        fails("folder in the way of the file being made", "", 14, "Is a directory");
    }

    void shouldStartWithTheFilesContactsOrSayWhyNot()
    {
        QFETCH(QString, sql);
        QFETCH(QList<QStringList>, listed);
        QFETCH(QString, report);
        const QByteArray kind = QTest::currentDataTag();
        // GIVEN a contact folder
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
        QString folder = dir.path();
        if (!sql.isEmpty())
            makeFile(path, sql);
        else if (kind == "folder path through a file")
            writeFile(folder += QStringLiteral("/plain"), "not a folder");
        else if (kind.startsWith("folder"))
            QVERIFY(QDir(folder).mkdir(QStringLiteral("archivio.mdb.tmp")));
        else
            writeFile(path, kind == "empty file" ? QByteArray() : QByteArray(2048, 'Z'));
        const auto place = [&] { return filesIn(dir.path()) << (QFile::exists(path) ? fileBytes(path).toHex() : "none"); };
        const QStringList before = place();
        AnsweredBoxes boxes;
        QList<QStringList> shown{{}};
        QObject waiting; // once the window is up, what it lists is read and the program ends
        QTimer::singleShot(0, &waiting, [&] {
            QAbstractItemModel &list = shownList(mainWindow());
            for (int c = 0; c < list.columnCount(); ++c)
                shown[0] << list.headerData(c, Qt::Horizontal).toString();
            for (int row = 0; row < list.rowCount(); ++row)
                QVERIFY(!list.index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
            shown += listRows(mainWindow());
            QCoreApplication::exit(0);
        });
        // WHEN the program starts there
        const int status = brisolta::run(folder);
        // THEN it lists a header per column and a row with its icon per contact, or it says why it cannot start with
        // the engine's number and text and ends with a failure status; either way it leaves the place as it was
        QCOMPARE(status, report.isEmpty() ? 0 : 1);
        QCOMPARE(boxes.boxes, (report.isEmpty() ? QList<QStringList>() : QList<QStringList>{{report, "16", "Brisolta"}}));
        QCOMPARE(shown, listed.isEmpty() ? QList<QStringList>{{}} : listed);
        QCOMPARE(place(), before);
    }

    void shouldStoreListAndThenClearOnlyACompleteContact_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("box");
        const QStringList saved{"Dati salvati con successo!.", "64", "Info"}, incomplete{"Ci sono dei campi non compiati . Inserire i dati e riprovare.", "16", "Errore"};
        QTest::newRow("no Nome") << QStringList{"", "Rossi", "06", "c", "f", "e"} << incomplete;
        QTest::newRow("no Cognome") << QStringList{"Mario", "", "06", "c", "f", "e"} << incomplete;
        QTest::newRow("no Telefono") << QStringList{"Mario", "Rossi", "", "c", "f", "e"} << incomplete;
        QTest::newRow("full disk") << QStringList{"Mario", "Rossi", "06", "c", "f", "e"} << FullDiskReport;
        QTest::newRow("blanks count, optional fields empty") << QStringList{"Mario", "Rossi", " ", "", "", ""} << saved;
        QTest::newRow("40,000 characters kept whole") << QStringList{"Mario", QString(40000, u'è'), "06", "", "", QString(40000, u'x')} << saved;
    }

    void shouldStoreListAndThenClearOnlyACompleteContact()
    {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, box);
        // GIVEN a contact typed into a window, maybe with a full disk
        LoadedWindow loaded;
        QWidget &window = loaded.load();
        typeContact(window, typed);
        QList<QStringList> whileConfirming;
        AnsweredBoxes boxes([&] { return whileConfirming = QList<QStringList>{fieldTexts(window)} + rowsInFile(loaded.path()), int(vbOK); });
        const auto full = box == FullDiskReport ? std::make_unique<FullDisk>() : nullptr;
        // WHEN Enter is pressed in a field, which presses Aggiungi
        QTest::keyClick(&entry(window, 4), Qt::Key_Return);
        // THEN a complete contact is stored, then confirmed while the fields still show it, listed, and the fields
        // emptied; any other outcome is reported, with nothing stored or listed and the fields kept
        const QList<QStringList> stored = box[1] == "64" ? QList<QStringList>{typed} : QList<QStringList>();
        QCOMPARE(boxes.boxes, QList<QStringList>{box});
        QCOMPARE(whileConfirming, QList<QStringList>{typed} + stored);
        QCOMPARE(listRows(window), stored);
        QCOMPARE(fieldTexts(window), stored.isEmpty() ? typed : QStringList(6, QString()));
    }

    void shouldSortByTheClickedHeaderAndAddAfterEqualRows_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("names"); // the first column, top to bottom
        const QStringList byName{"anna", "Émile", "Ezio", "Ugo", "zeno"}, bySurname{"Émile", "anna", "Ezio", "Ugo", "zeno"};
        QTest::newRow("by name, accents and case aside") << QList<int>{0} << QStringList() << byName;
        QTest::newRow("by the same header twice") << QList<int>{1, 1} << QStringList() << bySurname;
        QTest::newRow("added last, by the extra column") << QList<int>{6} << QStringList{"Aldo", "Abate", "0"} << byName + QStringList{"Aldo"};
    }

    void shouldSortByTheClickedHeaderAndAddAfterEqualRows()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QStringList, added);
        QFETCH(QStringList, names);
        // GIVEN names that need Italian collation and surnames that differ only in case, in a table with a 7th column
        LoadedWindow loaded;
        QWidget &window = loaded.load(QStringLiteral(
            "ALTER TABLE Rubrica ADD COLUMN Note TEXT;INSERT INTO Rubrica (Nome, Cognome, Telefono) "
            "VALUES ('zeno','Rossi','3'),('Émile','bianchi','1'),('Ezio','ROSSI','2'),('anna','Èrcoli','4'),('Ugo','rossi','5')"));
        // WHEN headers are clicked, and a contact added
        AnsweredBoxes boxes;
        for (int section : clicks)
            clickHeader(window, section);
        typeContact(window, added);
        if (!added.isEmpty())
            QTest::mouseClick(&button(window, 0), Qt::LeftButton);
        // THEN the rows follow the last clicked column, ascending
        QCOMPARE(firstNames(listRows(window)), names);
        // AND WHEN a row is clicked THEN the six fields show that very row, empty cells included
        typeContact(window, QStringList(6, QStringLiteral("old")));
        clickRow(window, 2);
        QCOMPARE(fieldTexts(window), listRows(window).value(2));
    }

    void shouldRemoveTheContactItFindsAndNames_data()
    {
        QTest::addColumn<QStringList>("typed"); // Nome and Cognome
        QTest::addColumn<int>("clicked"); // the row clicked first, if any
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QList<QStringList>>("boxes");
        QTest::addColumn<QString>("removed"); // the first name of the contact removed, if any
        const auto asking = [](const char *who) {
            return QList<QStringList>{{QStringLiteral("Eliminare %1 definitivamente dal database?.").arg(who), "36", "Brisolta"}};
        };
        const auto notFound = [](const char *typed) {
            return QList<QStringList>{{QStringLiteral("Voce (%1) non trovata nel database. Riprovare.").arg(typed), "16", "Errore"}};
        };
        QTest::newRow("the clicked contact") << QStringList{"Mario", "Ross"} << 0 << true << asking("Mario Rossini") << "Mario";
        QTest::newRow("no row clicked: the first match, as stored") << QStringList{"Mario", "Ross"} << -1 << true << asking("Anna Rossi") << "Anna";
        QTest::newRow("a clicked contact that does not fit: the first match, and its own row")
            << QStringList{"Dario", "Ross"} << 1 << true << asking("Anna Rossi") << "Anna";
        QTest::newRow("answered No") << QStringList{"Anna", "Rossi"} << 2 << false << asking("Anna Rossi") << "";
        QTest::newRow("full disk") << QStringList{"Anna", "Rossi"} << 2 << true << asking("Anna Rossi") + QList<QStringList>{FullDiskReport} << "";
        QTest::newRow("not found, blanks kept") << QStringList{"Mario", " Rossi "} << -1 << true << notFound(" Rossi ") << "";
        QTest::newRow("empty: the first surname that is not null") << QStringList{"x", ""} << -1 << true << asking("Anna Rossi") << "Anna";
        QTest::newRow("a capital A stored") << QStringList{"x", "ab"} << -1 << true << asking("Aldo Abate") << "Aldo";
        QTest::newRow("a capital Z stored") << QStringList{"x", "za"} << -1 << true << asking("Zeno Zanzi") << "Zeno";
        QTest::newRow("full case folding") << QStringList{"x", "STRASSE"} << -1 << true << asking("Franz Straße") << "Franz";
        QTest::newRow("after a failed add, the contact stored") << QStringList{"Luigi", "Rossi"} << -1 << true << asking("Anna Rossi") << "Anna";
    }

    void shouldRemoveTheContactItFindsAndNames()
    {
        QFETCH(QStringList, typed);
        QFETCH(int, clicked);
        QFETCH(bool, confirmed);
        QFETCH(QList<QStringList>, boxes);
        QFETCH(QString, removed);
        // GIVEN contacts listed by telephone, in another order than the file's, a contact without a surname first;
        // maybe a full disk
        LoadedWindow loaded;
        QWidget &window = loaded.load(QStringLiteral(
            "INSERT INTO Rubrica (Nome, Cognome, Telefono) VALUES ('Nullo',NULL,'9'),('Anna','Rossi','3'),('Mario','Rossini','1'),"
            "('Dario','D''Angelo','2'),('Aldo','Abate','5'),('Zeno','Zanzi','6'),('Franz','Straße','7')"));
        clickHeader(window, 2);
        if (clicked >= 0)
            clickRow(window, clicked);
        if (QByteArray(QTest::currentDataTag()).contains("failed add")) {
            const FullDisk full;
            const AnsweredBoxes failed;
            typeContact(window, typed + QStringList{"06"});
            QTest::mouseClick(&button(window, 0), Qt::LeftButton);
        }
        typeContact(window, typed);
        const auto full = boxes.contains(FullDiskReport) ? std::make_unique<FullDisk>() : nullptr;
        // WHEN Enter is pressed on Rimuovi, and the question answered
        AnsweredBoxes shown([confirmed] { return confirmed ? vbYes : vbNo; });
        QTest::keyClick(&button(window, 1), Qt::Key_Return);
        // THEN the contact named is gone from the file and from the list, and the fields keep their texts
        QStringList left{"Aldo", "Anna", "Dario", "Franz", "Mario", "Nullo", "Zeno"};
        left.removeOne(removed);
        QCOMPARE(shown.boxes, boxes);
        QCOMPARE(firstNames(rowsInFile(loaded.path()), true), left);
        QCOMPARE(firstNames(listRows(window), true), left);
        QCOMPARE(fieldTexts(window).mid(0, 2), typed);
    }

    void shouldStoreAnEditedCellAndKeepItsRowWhereItBelongs_data()
    {
        QTest::addColumn<int>("sortBy"); // the header clicked first, if any
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column"); // -1: F2 on the row
        QTest::addColumn<QStringList>("typed"); // in the cells one after the other, with Tab
        QTest::addColumn<int>("end"); // the key that ends the last
        QTest::addColumn<QStringList>("box");
        QTest::addColumn<QStringList>("changed"); // Anna, Bruno, Carla as the file holds them afterwards: "" leaves one as it was
        QTest::addColumn<QStringList>("names"); // the list's first column afterwards
        const QStringList unchanged(3, QString()), byFile{"Anna", "Bruno", "Carla"};
        QTest::newRow("double click, Enter; nulls stay null") << -1 << 1 << 3 << QStringList{"333"} << int(Qt::Key_Return) << QStringList()
                                                            << QStringList{"", "Bruno|Bianchi|1|333|f|e", ""} << byFile;
        QTest::newRow("F2 edits the first cell") << -1 << 0 << -1 << QStringList{"Annamaria"} << int(Qt::Key_Enter) << QStringList()
                                                 << QStringList{"Annamaria|Rossi|3|␀|␀|␀", "", ""} << QStringList{"Annamaria", "Bruno", "Carla"};
        QTest::newRow("sorted column changed: the row moves") << 0 << 0 << -1 << QStringList{"Zita"} << int(Qt::Key_Return) << QStringList()
                                                              << QStringList{"Zita|Rossi|3|␀|␀|␀", "", ""} << QStringList{"Bruno", "Carla", "Zita"};
        QTest::newRow("Tab follows the moved row") << 1 << 2 << -1 << QStringList{"Carla", "Neri", "5"} << int(Qt::Key_Return) << QStringList()
                                                   << QStringList{"", "", "Carla|Neri|5|||"} << QStringList{"Bruno", "Carla", "Anna"};
        QTest::newRow("Shift+Tab goes back") << -1 << 1 << 2 << QStringList{"7", "<Bice"} << int(Qt::Key_Escape) << QStringList()
                                             << QStringList{"", "Bruno|Bianchi|7|c|f|e", ""} << byFile;
        QTest::newRow("leaving the cell") << -1 << 2 << 2 << QStringList{"5"} << -1 << QStringList() << QStringList{"", "", "Carla|Verdi|5|||"} << byFile;
        QTest::newRow("required text emptied") << -1 << 0 << 2 << QStringList{""} << int(Qt::Key_Return) << QStringList{"Ci sono dei campi non compiati . Inserire i dati e riprovare.", "16", "Errore"} << unchanged << byFile;
        QTest::newRow("full disk") << -1 << 1 << 3 << QStringList{"9"} << int(Qt::Key_Return) << FullDiskReport << unchanged << byFile;
    }

    void shouldStoreAnEditedCellAndKeepItsRowWhereItBelongs()
    {
        QFETCH(int, sortBy);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QStringList, typed);
        QFETCH(int, end);
        QFETCH(QStringList, box);
        QFETCH(QStringList, changed);
        QFETCH(QStringList, names);
        // GIVEN three contacts, maybe sorted, maybe on a full disk
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        QList<QStringList> file = rowsInFile(loaded.path());
        for (int k = 0; k < 3; ++k)
            file[k] = changed[k].isEmpty() ? file[k] : changed[k].split('|');
        if (sortBy >= 0)
            clickHeader(window, sortBy);
        const int edited = QStringList{"Anna", "Bruno", "Carla"}.indexOf(listRows(window)[row][0]);
        const auto full = box == FullDiskReport ? std::make_unique<FullDisk>() : nullptr;
        AnsweredBoxes boxes;
        // WHEN a cell is opened, typed over and left
        openEditor(window, row, column);
        const QStringList fields = fieldTexts(window);
        if (column == 3 && row == 1)
            QCOMPARE(QAccessible::queryAccessibleInterface(cellEditor(window))->text(QAccessible::Name), "Cellulare");
        typeInCells(window, typed, end);
        // THEN the file holds the change, or the box says why not; the list shows what the file holds, in its order,
        // the edited row still selected, and the entry fields are not touched
        QCOMPARE(boxes.boxes, box.isEmpty() ? QList<QStringList>() : QList<QStringList>{box});
        QTRY_COMPARE(rowsInFile(loaded.path()), file);
        QCOMPARE(firstNames(listRows(window)), names);
        QCOMPARE(listRows(window).value(listOf(window).selectionModel()->selectedRows().value(0).row()), file[edited].replaceInStrings("␀", ""));
        QCOMPARE(fieldTexts(window), fields);
        // AND a new start lists what the file holds
        frmGESTDB restarted(loaded.dir.path());
        restarted.Form_Load();
        restarted.show();
        QCOMPARE(firstNames(listRows(restarted)), firstNames(file));
    }

    void shouldTakeBackAndRepeatEveryChangeInOrder()
    {
        // GIVEN a list sorted by surname where a contact is added, one deleted with Canc, one edited, one removed with
        // Rimuovi and two imported through the list's menu, the file read after each change
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        clickHeader(window, 1);
        const QString cards = loaded.dir.filePath("nuovi.vcf");
        writeFile(cards, "BEGIN:VCARD\r\nN:Neri;Nina\r\nTEL:8\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:Gialli;Gino\r\nEND:VCARD\r\n");
        AnsweredBoxes boxes([] { return int(vbYes); });
        setFileDialogAnswerer([&](FileDialogMode, const QString &, const QStringList &) { return FileDialogAnswer{{cards}, 0}; });
        const std::function<void()> changes[] = {
            [&] { typeContact(window, {"Mario", "Rossi", "06"}), button(window, 0).click(); },
            [&] { clickRow(window, 1), QTest::keyClick(&listOf(window), Qt::Key_Delete); },
            [&] { openEditor(window, 0, 2), typeInCells(window, {"7"}, Qt::Key_Return); },
            [&] { typeContact(window, {"Carla", "Verdi"}), button(window, 1).click(); },
            [&] { child<QAction>(window, "smImporta").trigger(); }};
        const QStringList done{"aggiunta di Mario Rossi", "eliminazione di Anna Rossi", "modifica di Bruno Bianchi",
                               "eliminazione di Carla Verdi", "importazione di 2 contatti"};
        QList<QList<QStringList>> states{rowsInFile(loaded.path())};
        for (const auto &change : changes)
            change(), states << rowsInFile(loaded.path());
        QCOMPARE(boxes.boxes.value(1), (QStringList{"Eliminare Anna Rossi definitivamente dal database?.", "36", "Brisolta"}));
        // WHEN the changes are undone and redone back and forth, from the list or a button (Ctrl+Z, Ctrl+Y, Ctrl+Shift+Z)
        const auto step = [&](QKeyCombination keys, int to) {
            const bool back = keys == (Qt::CTRL | Qt::Key_Z);
            // THEN the menu names the step, and the file and the list hold each state again, nulls as nulls, in order
            QCOMPARE(child<QAction>(window, back ? "smAnnulla" : "smRipeti").text(), (back ? "Annulla " : "Ripeti ") + done[back ? to : to - 1]);
            QTest::keyClick(to % 2 ? &listOf(window) : static_cast<QWidget *>(&button(window, 2)), keys.key(), keys.keyboardModifiers());
            QCOMPARE(sortedRows(rowsInFile(loaded.path())), sortedRows(states[to]));
            QCOMPARE(sortedRows(listRows(window)), sortedRows(states[to], true));
            const QList<QStringList> rows = listRows(window);
            QVERIFY(std::is_sorted(rows.begin(), rows.end(), [](const QStringList &a, const QStringList &b) { return a[1] < b[1]; }));
        };
        for (int to = 4; to >= 0; --to)
            step(Qt::CTRL | Qt::Key_Z, to);
        for (int to = 1; to <= 5; ++to)
            step(Qt::CTRL | Qt::Key_Y, to);
        for (int to = 4; to >= 1; --to)
            step(Qt::CTRL | Qt::Key_Z, to);
        for (int to = 2; to <= 5; ++to)
            step(Qt::CTRL | Qt::SHIFT | Qt::Key_Z, to);
        // AND WHEN another copy of the program changes an imported contact THEN the import cannot be undone, says so and
        // is dropped, with nothing changed
        rowsInFile(loaded.path(), "UPDATE Rubrica SET Telefono = '9' WHERE Nome = 'Nina'");
        const QList<QStringList> changed = rowsInFile(loaded.path());
        boxes.boxes.clear();
        QTest::keyClick(&listOf(window), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(boxes.boxes, (QList<QStringList>{{"Il contatto è stato cambiato da un'altra copia del programma: l'operazione non può essere annullata.", "48", "Attenzione"}}));
        QCOMPARE(rowsInFile(loaded.path()), changed);
        QCOMPARE(child<QAction>(window, "smAnnulla").text(), "Annulla " + done[3]);
        // AND WHEN Ctrl+Z is pressed in a field with typing THEN it undoes the typing; pressed again, the last change
        QTest::keyClicks(&entry(window, 1), "xy");
        QTest::keyClick(&entry(window, 1), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(entry(window, 1).text(), "Verdi");
        QCOMPARE(rowsInFile(loaded.path()), changed);
        QTest::keyClick(&entry(window, 1), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rowsInFile(loaded.path()).size(), changed.size() + 1);
        // AND a new change leaves nothing to repeat
        typeContact(window, {"Ugo", "Neri", "4"}), button(window, 0).click(), setFileDialogAnswerer({});
        QCOMPARE(child<QAction>(window, "smRipeti").text(), "Ripeti");
        // AND WHEN another copy removes a contact whose cell is then edited THEN a box says so and its row goes
        rowsInFile(loaded.path(), "DELETE FROM Rubrica WHERE Nome = 'Ugo'");
        boxes.boxes.clear();
        openEditor(window, int(firstNames(listRows(window)).indexOf("Ugo")), 2);
        typeInCells(window, {"5"}, Qt::Key_Return);
        QCOMPARE(boxes.boxes, (QList<QStringList>{{"Il contatto è stato cambiato da un'altra copia del programma: la modifica non è stata salvata.", "48", "Attenzione"}}));
        QVERIFY(!firstNames(listRows(window)).contains("Ugo"));
    }

    void shouldOpenTheListsMenuWithWhatCanAct_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("items"); // text, keys; "-" before an item that cannot act
        const QStringList onRow{"Modifica F2", "Elimina Canc", "Copia Ctrl+C", "-Annulla Ctrl+Z", "-Ripeti Ctrl+Y; Ctrl+Shift+Z",
                                "Importa contatti…", "Esporta contatti…", "Sincronizzazione…"};
        QTest::newRow("right click on a row") << "right click" << onRow;
        QTest::newRow("Shift+F10 on a row") << "Shift+F10" << onRow;
        QTest::newRow("Menu key, no row selected, after a change")
            << "Menu" << QStringList{"-Modifica F2", "-Elimina Canc", "-Copia Ctrl+C", "Annulla eliminazione di Anna Rossi Ctrl+Z",
                                     "-Ripeti Ctrl+Y; Ctrl+Shift+Z", "Importa contatti…", "Esporta contatti…", "Sincronizzazione…"};
    }

    void shouldOpenTheListsMenuWithWhatCanAct()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, items);
        // GIVEN a list with a row selected, or after a contact was deleted
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        AnsweredBoxes boxes([] { return int(vbYes); });
        clickRow(window, 0);
        if (how == "Menu")
            QTest::keyClick(&listOf(window), Qt::Key_Delete), listOf(window).clearSelection();
        // WHEN the menu is asked for THEN it lists its items, each with its keys, those that cannot act disabled
        QVERIFY(whileShown<QMenu>([&] {
            // The platform turns a right click and the Menu key into a request for the menu.
            QContextMenuEvent asked(how == "Menu" ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse, {5, 5}, listOf(window).viewport()->mapToGlobal(QPoint(5, 5)));
            how == "Shift+F10" ? QTest::keyClick(&listOf(window), Qt::Key_F10, Qt::ShiftModifier) : void(QApplication::sendEvent(how == "Menu" ? &listOf(window) : listOf(window).viewport(), &asked));
        }, [&](QMenu *menu) {
            QStringList shown;
            for (QAction *action : menu->actions())
                shown << (action->isEnabled() ? "" : "-") + (action->text() + ' ' + QKeySequence::listToString(action->shortcuts(), QKeySequence::NativeText)).trimmed();
            QCOMPARE(shown.filter(QRegularExpression(".")), items);
        }));
    }

    void shouldHandTheContactsOutAsChosen_data()
    {
        QTest::addColumn<int>("type"); // chosen in the save dialog: vCard 3.0, vCard 4.0, CSV; -1: the row is copied
        QTest::addColumn<QString>("name"); // typed in the dialog
        QTest::addColumn<QStringList>("written"); // the file, and a line it holds
        QTest::newRow("vCard 3.0") << 0 << "a.vcf" << QStringList{"a.vcf", "VERSION:3.0"};
        QTest::newRow("vCard 4.0, no extension typed") << 1 << "a" << QStringList{"a.vcf", "VERSION:4.0"};
        QTest::newRow("CSV") << 2 << "a.csv" << QStringList{"a.csv", "Nome;Cognome;Telefono;Cellulare;Fax;Email"};
        QTest::newRow("copied") << -1 << "" << QStringList();
    }

    void shouldHandTheContactsOutAsChosen()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QStringList, written);
        // GIVEN three contacts, the second one selected
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        clickRow(window, 1);
        AnsweredBoxes boxes;
        setFileDialogAnswerer([&](FileDialogMode, const QString &, const QStringList &) { return FileDialogAnswer{{loaded.dir.filePath(name)}, type}; });
        // WHEN the contacts are exported through the list's menu, or the row copied with Ctrl+C
        type < 0 ? QTest::keyClick(&listOf(window), Qt::Key_C, Qt::ControlModifier) : child<QAction>(window, "smEsporta").trigger();
        setFileDialogAnswerer({});
        if (type < 0) {
            // THEN the clipboard holds the contact as a card, and as one line of its texts between tabs
            const QMimeData *data = QGuiApplication::clipboard()->mimeData();
            QCOMPARE(data->text(), "Bruno\tBianchi\t1\tc\tf\te");
            QCOMPARE(vcard::decode(data->data("text/vcard")), (Contacts{{"Bruno", "Bianchi", "1", "c", "f", "e"}}));
            return;
        }
        // THEN the file holds every contact in the chosen type, and a box says how many went where
        const QString file = loaded.dir.filePath(written[0]);
        QCOMPARE(boxes.boxes, (QList<QStringList>{{"Esportati 3 contatti in " + file + ".", "64", "Info"}}));
        QVERIFY(fileBytes(file).contains(written[1].toUtf8()));
        QCOMPARE(readContactFile(file).size(), 3u);
    }

    void shouldAskForFilesInItalian()
    {
        // GIVEN a window WHEN an item of the list's menu asks for files, with no answerer THEN Qt's dialog asks, in
        // Italian (title, file types, the button that accepts), and a cancelled one changes nothing
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        AnsweredBoxes boxes;
        for (const QStringList &shown : {QStringList{"smImporta", "Importa contatti", "Contatti (*.vcf *.vcard *.csv *.mdb)", "Apri"},
                                         QStringList{"smEsporta", "Esporta contatti", "vCard 3.0 (*.vcf)", "vCard 4.0 (*.vcf)", "CSV (*.csv)", "Salva"}})
            QVERIFY(whileShown<QFileDialog>([&] { child<QAction>(window, shown[0]).trigger(); }, [&](QFileDialog *dialog) {
                QCOMPARE((QStringList{shown[0], dialog->windowTitle()} + dialog->nameFilters() << dialog->findChild<QDialogButtonBox *>()->buttons().first()->text().remove('&')), shown);
                dialog->reject();
            }));
        QCOMPARE(boxes.boxes, QList<QStringList>());
        QCOMPARE(filesIn(loaded.dir.path()), QStringList{"archivio.mdb"});
    }

    void shouldOpenTheChosenLinkOrEnd_data()
    {
        QTest::addColumn<QList<QUrl>>("opened");
        QTest::addColumn<int>("status"); // the program's, which ends with 42 if nothing else ends it
        QTest::newRow("E-Mail") << QList<QUrl>{QUrl("mailto:quarlo64@example.org")} << 42;
        QTest::newRow("Vai al sito") << QList<QUrl>{QUrl("http://www.example.org")} << 42;
        QTest::newRow("Esci") << QList<QUrl>() << 0;
        QTest::newRow("another window closed") << QList<QUrl>() << 42;
    }

    void shouldOpenTheChosenLinkOrEnd()
    {
        QFETCH(QList<QUrl>, opened);
        QFETCH(int, status);
        const QString how = QTest::currentDataTag();
        // GIVEN a shown window, a tool window, which Qt would leave out of "last window closed"
        LoadedWindow loaded;
        QWidget &window = loaded.load();
        QAction &eMail = child<QAction>(window, "smEMail"), &site = child<QAction>(window, "smSito");
        RecordedShell shell;
        QWidget other;
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        // WHEN, in the program's loop, an item of Contattami's menu is chosen, Esci pressed, or another window shown
        // and closed
        QTimer::singleShot(0, &window, [&] {
            if (how == "Esci" || how.startsWith("another")) {
                how == "Esci" ? button(window, 3).click() : other.show();
            } else {
                // THEN the menu stands on the button's corner, its first item, E-Mail, in bold
                QVERIFY(whileShown<QMenu>([&] { button(window, 4).click(); }, [&](QMenu *menu) {
                    QCOMPARE(menu->pos(), button(window, 4).mapToGlobal(QPoint(0, 0)));
                    QCOMPARE(menu->actions() << menu->defaultAction(), (QList<QAction *>{&eMail, &site, &eMail}));
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(how == "E-Mail" ? &eMail : &site).center());
                }));
            }
            other.close();
            QTimer::singleShot(0, &window, [] { QCoreApplication::exit(42); });
        });
        // THEN the chosen link, and only that, opened; only leaving the main window ends the program
        QCOMPARE(QApplication::exec(), status);
        QCOMPARE(lastWindowClosed.isEmpty(), status == 42);
        QCOMPARE(shell.urls, opened);
    }

    void shouldShowMessageBoxesAsAsked_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QStringList>("buttons"); // the last one clicked
        QTest::newRow("16, error") << 16 << int(QMessageBox::Critical) << QStringList{"OK"};
        QTest::newRow("48, warning") << 48 << int(QMessageBox::Warning) << QStringList{"OK"};
        QTest::newRow("64, information") << 64 << int(QMessageBox::Information) << QStringList{"OK"};
        QTest::newRow("36, Yes and No") << 36 << int(QMessageBox::Question) << QStringList{"Sì", "No"};
    }

    void shouldShowMessageBoxesAsAsked()
    {
        QFETCH(int, style);
        QFETCH(int, icon);
        QFETCH(QStringList, buttons);
        const QString prompt = QStringLiteral("Eliminare Mario Rossi definitivamente dal database?.");
        int answered = 0;
        // WHEN a box is shown, with no answerer, and its last button clicked (THEN it answers as that button says)
        QVERIFY(whileShown<QMessageBox>([&] { answered = MsgBox(prompt, style, QStringLiteral("Errore")); }, [&](QMessageBox *box) {
            // THEN it has the icon and the Italian buttons of its style, the platform titles it with its title alone,
            // and a screen reader reads its text as its description
            QStringList shown{QString::number(box->icon()), platformTitle(box), QAccessible::queryAccessibleInterface(box)->text(QAccessible::Description)};
            for (QAbstractButton *button : box->buttons())
                shown << button->text().remove(QLatin1Char('&'));
            QCOMPARE(shown, (QStringList{QString::number(icon), "Errore", prompt} + buttons));
            QTest::mouseClick(box->buttons().last(), Qt::LeftButton);
        }));
        QCOMPARE(answered, buttons.last() == "No" ? int(vbNo) : int(vbOK));
    }

    void shouldShowEachWindowCentredNamedAndPainted_data()
    {
        QTest::addColumn<QStringList>("tabOrder"); // names a screen reader reads, from the control focused first
        QTest::addColumn<QList<QSize>>("icon"); // the program's icon, or the dialog's own
        QTest::newRow("main window") << QStringList{"Nome:", "Cognome:", "Telefono:", "Cellulare:", "Fax:", "Email:", "Contatti",
                                                    "Aggiungi", "Rimuovi", "Ricerca", "Esci", "Contattami"} << QList<QSize>{{32, 32}, {16, 16}};
        QTest::newRow("find dialog") << QStringList{"Cognome:", "Trova", "Chiudi"} << QList<QSize>{{16, 16}};
    }

    void shouldShowEachWindowCentredNamedAndPainted()
    {
        QFETCH(QStringList, tabOrder);
        QFETCH(QList<QSize>, icon);
        // GIVEN the main window shown, or the find dialog opened from it
        LoadedWindow loaded;
        QWidget &main = loaded.load();
        const auto check = [&](QWidget *window) {
            // THEN the platform gets the title alone, the window its icon, and the whole window, frame included, is
            // centred on the screen
            QCOMPARE(platformTitle(window), window->windowTitle());
            QCOMPARE(window->windowIcon().availableSizes(), icon);
            QCOMPARE(window->frameGeometry().center(), window->screen()->availableGeometry().center());
            // and Tab goes round every control that takes the focus, in order, each named for a screen reader
            QStringList names;
            for (int k = 0; k <= tabOrder.size(); ++k, QTest::keyClick(window->focusWidget(), Qt::Key_Tab))
                names << QAccessible::queryAccessibleInterface(window)->focusChild()->text(QAccessible::Name);
            QCOMPARE(names, tabOrder + tabOrder.mid(0, 1));
            // and each button's face is its back colour alone, edged in black on the default button
            for (GraphicalButton *button : window->findChildren<GraphicalButton *>()) {
                const QImage face = button->grab().toImage();
                for (int x = 3; x < face.width() - 3; ++x)
                    QCOMPARE((QList<QColor>{face.pixelColor(x, 3), face.pixelColor(x, 4)}), (QList<QColor>(2, button->BackColor())));
                QCOMPARE(face.pixelColor(0, face.height() / 2) == Qt::black, button->isDefault());
            }
        };
        if (QByteArray(QTest::currentDataTag()) == "main window")
            check(&main);
        else
            QVERIFY(whileShown<frmFIND>([&] { button(main, 2).click(); }, check));
    }

    void shouldSelectTheFirstRowThatBeginsWithTheText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("order"); // the header clicked first; -1: none; -2: an empty list
        QTest::addColumn<QString>("found"); // the surname of the row found; empty: the selection stays
        QTest::addColumn<QString>("prompt");
        const QString notFound = QStringLiteral("Non è stata trovata alcuna voce come (%1)"), pasted(40000, u'x');
        QTest::newRow("surname prefix in capitals, Enter") << "VER" << "Enter" << -1 << "Verdi" << "";
        QTest::newRow("telephone") << "0498" << "Trova" << -1 << "Verdi" << "";
        QTest::newRow("e-mail in mixed case") << "G.VeRdI@" << "Enter" << -1 << "Verdi" << "";
        QTest::newRow("a capital A in the list") << "abat" << "Trova" << -1 << "Abate" << "";
        QTest::newRow("full case folding") << "STRASSE" << "Enter" << -1 << "Straße" << "";
        QTest::newRow("several, sorted by surname") << "Ross" << "Trova" << 1 << "Rossetti" << "";
        QTest::newRow("several, sorted by telephone") << "ROSS" << "Enter" << 2 << "Rossini" << "";
        QTest::newRow("empty text") << "" << "Trova" << -1 << "" << "Specificare un cognome valido.";
        QTest::newRow("empty list") << "Rossi" << "Trova" << -2 << "" << notFound.arg("Rossi");
        QTest::newRow("only a first name begins so") << "Giu" << "Trova" << -1 << "" << notFound.arg("Giu");
        QTest::newRow("inside a text") << "re" << "Trova" << -1 << "" << notFound.arg("re");
        QTest::newRow("blanks kept") << " verdi" << "Trova" << -1 << "" << notFound.arg(" verdi");
        QTest::newRow("40,000 characters kept whole") << pasted << "Trova" << -1 << "" << notFound.arg(pasted);
        QTest::newRow("Chiudi") << "Verdi" << "Chiudi" << -1 << "" << "";
        QTest::newRow("Escape ignored") << "Verdi" << "Escape" << -1 << "" << "";
    }

    void shouldSelectTheFirstRowThatBeginsWithTheText()
    {
        QFETCH(QString, text);
        QFETCH(QString, how);
        QFETCH(int, order);
        QFETCH(QString, found);
        QFETCH(QString, prompt);
        // GIVEN a list long enough to scroll, maybe sorted by a header click, its first row selected, fields typed
        LoadedWindow loaded;
        QWidget &window = loaded.load(order == -2 ? QString() : SampleContacts);
        QTreeView &list = listOf(window);
        if (order >= 0)
            clickHeader(window, order);
        if (order != -2)
            clickRow(window, 0);
        const QModelIndexList before = list.selectionModel()->selectedRows(1);
        typeContact(window, {"a", "b", "c", "d", "e", "f"});
        AnsweredBoxes boxes;
        // WHEN Ricerca opens the dialog, which comes modal, without an owner, empty and with the focus in its text,
        // and the text is pasted and the dialog answered that way
        QStringList after; // whether the dialog is still open, and its text
        QVERIFY(whileShown<frmFIND>([&] { button(window, 2).click(); }, [&](frmFIND *find) {
            QLineEdit &typed = child<QLineEdit>(*find, "Text1");
            QVERIFY(find->isModal() && !find->parentWidget() && typed.text().isEmpty());
            QTRY_COMPARE(QApplication::focusWidget(), &typed);
            typed.insert(text);
            if (how == "Trova" || how == "Chiudi")
                QTest::mouseClick(&button(*find, how == "Trova" ? 0 : 1), Qt::LeftButton);
            else
                QTest::keyClick(&typed, how == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            after = QStringList{find->isVisible() ? "open" : "closed", typed.text()};
        }));
        // THEN a row found is selected, in view and focused; else the selection stays, and only an error keeps the
        // dialog open, with the text kept whole; the entry fields are never touched
        const QModelIndexList row = list.selectionModel()->selectedRows(1);
        QCOMPARE(boxes.boxes, (prompt.isEmpty() ? QList<QStringList>() : QList<QStringList>{{prompt, "16", "Errore"}}));
        QCOMPARE(after, (QStringList{!prompt.isEmpty() || how == "Escape" ? "open" : "closed", text}));
        QCOMPARE(fieldTexts(window), (QStringList{"a", "b", "c", "d", "e", "f"}));
        QVERIFY(found.isEmpty() ? row == before : row.size() == 1 && row[0].data() == found);
        if (!found.isEmpty()) {
            QVERIFY(list.visualRect(row[0]).intersects(list.viewport()->rect()));
            QTRY_COMPARE(QApplication::focusWidget(), &list);
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
