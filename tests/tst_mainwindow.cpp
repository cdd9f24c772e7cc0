#include "support/windowsupport.h"

#include "design.h"
#include "frmFIND.h"

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
        QCOMPARE(rowsInFile(loaded.path()), stored);
        QCOMPARE(listRows(window), stored);
        QCOMPARE(fieldTexts(window), stored.isEmpty() ? typed : QStringList(6, QString()));
        // AND WHEN the new row, laid out by the view, is clicked and removed THEN it leaves the file and the list
        if (!stored.isEmpty()) {
            QVERIFY(!rowRect(window, 0).isEmpty());
            clickRow(window, 0);
            AnsweredBoxes yes([] { return int(vbYes); });
            QTest::mouseClick(&button(window, 1), Qt::LeftButton);
            QCOMPARE(rowsInFile(loaded.path()) + listRows(window), QList<QStringList>());
        }
    }

    void shouldSortByTheClickedHeaderAndAddAfterEqualRows_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("names"); // the first column, top to bottom
        const QStringList byName{"anna", "Émile", "Ezio", "Ugo", "zeno"}, bySurname{"Émile", "anna", "Ezio", "Ugo", "zeno"};
        QTest::newRow("by name, accents and case aside") << QList<int>{0} << QStringList() << byName;
        QTest::newRow("by surname, equal ones in their order") << QList<int>{1} << QStringList() << bySurname;
        QTest::newRow("by the same header twice") << QList<int>{1, 1} << QStringList() << bySurname;
        QTest::newRow("by telephone after surname") << QList<int>{1, 2} << QStringList() << QStringList{"Émile", "Ezio", "zeno", "anna", "Ugo"};
        QTest::newRow("added after its equals") << QList<int>{1} << QStringList{"Bice", "rossi", "6"} << bySurname + QStringList{"Bice"};
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
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
