#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>

#include <algorithm>

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldPlaceEveryControlAsDesigned_data();
    void shouldPlaceEveryControlAsDesigned();
    void shouldShowTheWindowAsDesigned();
    void shouldMoveFocusInTabOrder();
    void shouldKeepRunningWhenADialogCloses();
    void shouldPressTheRightButtonOnEnter_data();
    void shouldPressTheRightButtonOnEnter();

    void shouldListEveryStoredContactInRecordOrder();
    void shouldFollowTheTablesActualColumns_data();
    void shouldFollowTheTablesActualColumns();
    void shouldReportStartUpErrorsAndLeaveTheFile_data();
    void shouldReportStartUpErrorsAndLeaveTheFile();

    void shouldRefuseAnIncompleteContact_data();
    void shouldRefuseAnIncompleteContact();
    void shouldStoreListAndThenClearAnAddedContact();
    void shouldAddAtTheSortedPlaceAfterAHeaderClick();
    void shouldAddWhileSortedByAnExtraColumn();
    void shouldSortByTheClickedColumn();
    void shouldCopyTheClickedRowIntoTheFields();

    void shouldDoNothingWhenRemovingFromAnEmptyList();
    void shouldNameTheStoredContactWhenRemoving_data();
    void shouldNameTheStoredContactWhenRemoving();
    void shouldRemoveTheConfirmedContactAndItsOwnRow_data();
    void shouldRemoveTheConfirmedContactAndItsOwnRow();
    void shouldKeepListAndFileEqualThroughARandomSession();
    void cleanup() { setMsgBoxAnswerer({}); }
};

namespace {

const QStringList Headers{"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};

QList<QStringList> fileAsTexts(const QString &path)
{
    QList<QStringList> rows;
    for (const Row &row : rowsInFile(path)) {
        QStringList texts;
        for (int k = 0; k < 6; ++k)
            texts << row.value(k).value_or(QString());
        rows << texts;
    }
    return rows;
}

QStringList headersOf(frmGESTDB &window)
{
    QStringList headers;
    for (int c = 0; c < (&window.lstADD->listModel())->columnCount(); ++c)
        headers << (&window.lstADD->listModel())->headerData(c, Qt::Horizontal).toString();
    return headers;
}

void clickRow(frmGESTDB &window, int position)
{
    ListView &list = *window.lstADD;
    const QModelIndex index = list.listModel().index(position, 1);
    list.scrollTo(index);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(index).center());
}

void clickHeader(frmGESTDB &window, int section)
{
    QHeaderView &header = *window.lstADD->header();
    const int x = header.sectionViewportPosition(section) + header.sectionSize(section) / 2;
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, QPoint(x, header.height() / 2));
}

void add(frmGESTDB &window, const QStringList &texts)
{
    AnsweredBoxes boxes;
    typeContact(window, texts);
    window.Command1_Click(0);
}

} // namespace

void MainWindowTest::shouldPlaceEveryControlAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QColor>("backColour");
    const QColor yellow(255, 255, 192), none;
    QTest::newRow("Text1(0)") << "Text1_0" << QRect(16, 32, 129, 20) << "" << none;
    QTest::newRow("Text1(1)") << "Text1_1" << QRect(152, 32, 161, 20) << "" << none;
    QTest::newRow("Text1(2)") << "Text1_2" << QRect(16, 72, 129, 20) << "" << none;
    QTest::newRow("Text1(3)") << "Text1_3" << QRect(152, 72, 161, 20) << "" << none;
    QTest::newRow("Text1(4)") << "Text1_4" << QRect(16, 112, 129, 20) << "" << none;
    QTest::newRow("Text1(5)") << "Text1_5" << QRect(152, 112, 161, 20) << "" << none;
    QTest::newRow("Aggiungi") << "Command1_0" << QRect(328, 32, 73, 23) << "Aggiungi" << yellow;
    QTest::newRow("Rimuovi") << "Command1_1" << QRect(328, 64, 73, 23) << "Rimuovi" << yellow;
    QTest::newRow("Ricerca") << "Command1_2" << QRect(328, 96, 73, 23) << "Ricerca" << yellow;
    QTest::newRow("Esci") << "Command1_3" << QRect(328, 352, 73, 23) << "Esci" << QColor(224, 224, 224);
    QTest::newRow("Contattami") << "Command1_4" << QRect(240, 352, 73, 23) << "Contattami" << QColor(255, 224, 192);
    QTest::newRow("list") << "lstADD" << QRect(16, 136, 385, 177) << "" << none;
    QTest::newRow("picture") << "Image1" << QRect(16, 352, 66, 30) << "" << none;
    QTest::newRow("Line2") << "Line2" << QRect(-16, 320, 417, 1) << "" << QColor(Qt::white);
    QTest::newRow("Line1") << "Line1" << QRect(0, 336, 417, 1) << "" << QColor(Qt::black);
    // Labels size themselves to their caption: only their place is fixed.
    QTest::newRow("Label1") << "Label1" << QRect(16, 16, 0, 0) << "Nome:" << none;
    QTest::newRow("Label2") << "Label2" << QRect(152, 16, 0, 0) << "Cognome:" << none;
    QTest::newRow("Label4") << "Label4" << QRect(16, 56, 0, 0) << "Telefono:" << none;
    QTest::newRow("Label5") << "Label5" << QRect(152, 56, 0, 0) << "Cellulare:" << none;
    QTest::newRow("Label3") << "Label3" << QRect(16, 96, 0, 0) << "Fax:" << none;
    QTest::newRow("Label6") << "Label6" << QRect(152, 96, 0, 0) << "Email:" << none;
    QTest::newRow("Label7") << "Label7" << QRect(104, 360, 0, 0) << "Versione 1- 3/11/08" << none;
}

void MainWindowTest::shouldPlaceEveryControlAsDesigned()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(QColor, backColour);
    frmGESTDB window(QDir::tempPath());
    QWidget *control = window.findChild<QWidget *>(name);
    QVERIFY(control);
    if (geometry.isEmpty()) {
        auto *label = qobject_cast<QLabel *>(control);
        QCOMPARE(label->pos(), geometry.topLeft());
        QCOMPARE(label->text(), caption);
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(caption));
        return;
    }
    QCOMPARE(control->geometry(), geometry);
    if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), caption);
    if (backColour.isValid())
        QCOMPARE(control->palette().color(qobject_cast<QPushButton *>(control) ? QPalette::Button : QPalette::Window),
                 backColour);
}

void MainWindowTest::shouldShowTheWindowAsDesigned()
{
    frmGESTDB window(QDir::tempPath());
    QCOMPARE(window.windowTitle(), QStringLiteral("Rubrica Brisolta - Quarlo64- ") + frmGESTDB::SiteHost + QLatin1Char(' '));
    QCOMPARE(window.size(), QSize(419, 396));
    QVERIFY(window.windowFlags().testFlag(Qt::Tool));
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
    QVERIFY(window.Command1[0]->isDefault());
    QCOMPARE(window.font().pointSize(), 8);
    const QFont version = window.findChild<QLabel *>(QStringLiteral("Label7"))->font();
    QCOMPARE(version.pointSizeF(), 9.75);
    QVERIFY(version.bold());
    QVERIFY(QStringList({"Calibri", "Carlito"}).contains(QFontInfo(version).family()));
    QCOMPARE(window.Image1->pixmap().size(), QSize(66, 30));
    QCOMPARE(window.ImageList1.value(0).availableSizes().value(0), QSize(16, 16));
    QCOMPARE(window.a1->actions(), (QList<QAction *>{window.smEMail, window.smSito}));
    QVERIFY(window.a1->menuAction()->isVisible() || !window.a1->isVisible());
}

void MainWindowTest::shouldMoveFocusInTabOrder()
{
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_COMPARE(QApplication::focusWidget(), window.Text1[0]);
    const QList<QWidget *> order{window.Text1[1], window.Text1[2], window.Text1[3], window.Text1[4], window.Text1[5],
                                 window.lstADD, window.Command1[0], window.Command1[1], window.Command1[2],
                                 window.Command1[3], window.Command1[4], window.Text1[0]};
    for (QWidget *next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void MainWindowTest::shouldKeepRunningWhenADialogCloses()
{
    // GIVEN the main window shown (a tool window, which Qt leaves out of "last window closed")
    LoadedWindow loaded;
    loaded.load();
    loaded.window->show();
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    // WHEN another window is shown and closed while the program runs
    QWidget other;
    QTimer::singleShot(0, &other, [&other] {
        other.show();
        other.close();
        QTimer::singleShot(0, [] { QCoreApplication::exit(42); });
    });
    // THEN the program does not take it for its last window and goes on until told to stop
    QCOMPARE(QApplication::exec(), 42);
    QCOMPARE(lastClosed.count(), 0);
}

void MainWindowTest::shouldPressTheRightButtonOnEnter_data()
{
    QTest::addColumn<QString>("focused");
    QTest::addColumn<QString>("expectedPrompt");
    const QString fieldMessage = QStringLiteral("Ci sono dei campi non compiati . Inserire i dati e riprovare.");
    for (int k = 0; k < 6; ++k)
        QTest::addRow("entry field %d", k) << QStringLiteral("Text1_%1").arg(k) << fieldMessage;
    QTest::newRow("Aggiungi") << "Command1_0" << fieldMessage;
    QTest::newRow("Rimuovi") << "Command1_1" << "Voce (Nessuno) non trovata nel database. Riprovare.";
    QTest::newRow("Escape does nothing") << "" << "";
}

void MainWindowTest::shouldPressTheRightButtonOnEnter()
{
    QFETCH(QString, focused);
    QFETCH(QString, expectedPrompt);
    // GIVEN a window with one contact and a surname typed that matches nothing
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    add(window, {"Anna", "Bianchi", "06 1"});
    window.Text1[1]->setText(QStringLiteral("Nessuno"));
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AnsweredBoxes boxes;
    // WHEN Enter (or Escape) is pressed on the control
    QWidget *target = focused.isEmpty() ? window.Text1[1] : window.findChild<QWidget *>(focused);
    target->setFocus();
    QTest::keyClick(target, focused.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    // THEN the button meant answers, exactly once
    QCOMPARE(boxes.boxes.size(), expectedPrompt.isEmpty() ? 0 : 1);
    if (!expectedPrompt.isEmpty())
        QCOMPARE(boxes.boxes[0].prompt, expectedPrompt);
}

void MainWindowTest::shouldListEveryStoredContactInRecordOrder()
{
    // GIVEN a file with contacts, some of whose fields are null
    LoadedWindow loaded;
    loaded.load();
    runSql(loaded.path(), "INSERT INTO Rubrica VALUES ('Zeno','Verdi','1','2','3','z@x.it');"
                          "INSERT INTO Rubrica VALUES ('Anna',NULL,'06',NULL,NULL,NULL);"
                          "INSERT INTO Rubrica VALUES ('Émile','D''Angelo','',NULL,'','')");
    const QByteArray before = fileBytes(loaded.path());
    // WHEN the program starts again
    loaded.load();
    frmGESTDB &window = *loaded.window;
    // THEN the headers are the columns, every row is there in record order with its icon, nulls as empty cells
    QCOMPARE(headersOf(window), Headers);
    QCOMPARE(listRows(window), (QList<QStringList>{{"Zeno", "Verdi", "1", "2", "3", "z@x.it"},
                                                   {"Anna", "", "06", "", "", ""},
                                                   {"Émile", "D'Angelo", "", "", "", ""}}));
    for (int row = 0; row < 3; ++row)
        QVERIFY(!(&window.lstADD->listModel())->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    QCOMPARE(window.LoopIndex, qint16(6));
    QCOMPARE(fileBytes(loaded.path()), before);
}

void MainWindowTest::shouldFollowTheTablesActualColumns_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QStringList>("firstRow");
    QTest::newRow("a seventh column") << "Nome TEXT,Cognome TEXT,Telefono TEXT,Cellulare TEXT,Fax TEXT,Email TEXT,Note TEXT"
                                      << (Headers + QStringList{"Note"}) << QStringList{"a", "b", "c", "d", "e", "f", ""};
    QTest::newRow("no Fax, no rows") << "Nome TEXT,Cognome TEXT,Telefono TEXT,Cellulare TEXT,Email TEXT"
                                     << QStringList{"Nome", "Cognome", "Telefono", "Cellulare", "Email"} << QStringList();
}

void MainWindowTest::shouldFollowTheTablesActualColumns()
{
    QFETCH(QString, table);
    QFETCH(QStringList, headers);
    QFETCH(QStringList, firstRow);
    LoadedWindow loaded;
    runSql(loaded.path(), qPrintable(QStringLiteral("CREATE TABLE Rubrica (%1)").arg(table)));
    if (!firstRow.isEmpty())
        runSql(loaded.path(), "INSERT INTO Rubrica VALUES ('a','b','c','d','e','f','g')");
    loaded.load();
    QCOMPARE(headersOf(*loaded.window), headers);
    if (!firstRow.isEmpty()) {
        QAbstractItemModel &model = *(&loaded.window->lstADD->listModel());
        for (int c = 0; c < headers.size(); ++c)
            QCOMPARE(model.index(0, c).data().toString(), firstRow[c]);
    }
}

void MainWindowTest::shouldReportStartUpErrorsAndLeaveTheFile_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: made with the SQL below
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("report");
    QTest::newRow("random bytes") << QByteArray(2048, '\x5a') << "" << "Errore di run-time '26':\n\nfile is not a database";
    QTest::newRow("another engine's header") << QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(2028, 'j')
                                             << "" << "Errore di run-time '26':\n\nfile is not a database";
    QTest::newRow("no Rubrica table") << QByteArray() << "CREATE TABLE Altro (x TEXT)"
                                      << "Errore di run-time '1':\n\nno such table: Rubrica";
    QTest::newRow("no Fax, with rows") << QByteArray()
                                       << "CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT,Telefono TEXT,Cellulare TEXT,Email TEXT);"
                                          "INSERT INTO Rubrica VALUES ('a','b','c','d','e')"
                                       << "Errore di run-time '25':\n\nElemento non trovato in questo insieme: Fax.";
}

void MainWindowTest::shouldReportStartUpErrorsAndLeaveTheFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, sql);
    QFETCH(QString, report);
    // GIVEN an archivio.mdb the program cannot use
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
    if (sql.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    } else {
        runSql(path, qPrintable(sql));
    }
    const QByteArray before = fileBytes(path);
    AnsweredBoxes boxes;
    // WHEN the program starts THEN it reports the engine's number and text, ends with a failure status,
    // and leaves the file as it was
    QCOMPARE(brisolta::run(dir.path()), 1);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].prompt, report);
    QCOMPARE(boxes.boxes[0].style, 16);
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("archivio.mdb")});
}

void MainWindowTest::shouldRefuseAnIncompleteContact_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("message");
    const QString fields = QStringLiteral("Ci sono dei campi non compiati . Inserire i dati e riprovare.");
    const QString database = QStringLiteral("Il database risulta non caricato. Provare a caricare il db.");
    QTest::newRow("no Nome") << QStringList{"", "Rossi", "06", "c", "f", "e"} << true << fields;
    QTest::newRow("no Cognome") << QStringList{"Mario", "", "06", "c", "f", "e"} << true << fields;
    QTest::newRow("no Telefono") << QStringList{"Mario", "Rossi", "", "c", "f", "e"} << true << fields;
    QTest::newRow("database not loaded") << QStringList{"Mario", "Rossi", "06", "", "", ""} << false << database;
    QTest::newRow("both: only the field message") << QStringList{"Mario", "", "06", "", "", ""} << false << fields;
}

void MainWindowTest::shouldRefuseAnIncompleteContact()
{
    QFETCH(QStringList, typed);
    QFETCH(bool, loaded);
    QFETCH(QString, message);
    // GIVEN a loaded window with the typed texts
    LoadedWindow window;
    window.load();
    typeContact(*window.window, typed);
    modDB::DBLoaded = loaded;
    // WHEN Aggiungi is pressed
    AnsweredBoxes boxes;
    window.window->Command1_Click(0);
    modDB::DBLoaded = true;
    // THEN one error box, nothing stored or listed, the fields kept
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].prompt, message);
    QCOMPARE(boxes.boxes[0].style, 16);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Errore"));
    QVERIFY(rowsInFile(window.path()).isEmpty());
    QCOMPARE(window.window->lstADD->ListItems().Count(), 0);
    QCOMPARE(fieldTexts(*window.window), typed);
}

void MainWindowTest::shouldStoreListAndThenClearAnAddedContact()
{
    // GIVEN a contact with blanks for a required field and no optional fields
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    const QStringList typed{"Mario", "Rossi", " ", "", "", ""};
    QStringList fieldsWhileConfirming;
    QList<QStringList> fileWhileConfirming;
    AnsweredBoxes boxes([&](const ShownBox &) {
        fieldsWhileConfirming = fieldTexts(window);
        fileWhileConfirming = fileAsTexts(loaded.path());
        return int(vbOK);
    });
    // WHEN it is added twice
    for (int time = 0; time < 2; ++time) {
        typeContact(window, typed);
        window.Command1_Click(0);
    }
    // THEN it was stored before the confirmation, while the fields still showed it; they are empty after
    QCOMPARE(boxes.boxes.size(), 2);
    QCOMPARE(boxes.boxes[0].prompt, QStringLiteral("Dati salvati con successo!."));
    QCOMPARE(boxes.boxes[0].style, 64);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Info"));
    QCOMPARE(fieldsWhileConfirming, typed);
    QCOMPARE(fileWhileConfirming.size(), 2);
    QCOMPARE(fieldTexts(window), QStringList(6, QString()));
    QCOMPARE(window.LoopIndex, qint16(6));
    // and the two records hold empty texts, not nulls, and show as two rows at the end
    const Row stored{"Mario", "Rossi", " ", "", "", ""};
    QCOMPARE(rowsInFile(loaded.path()), (QList<Row>{stored, stored}));
    QCOMPARE(listRows(window), (QList<QStringList>{typed, typed}));
}

void MainWindowTest::shouldAddAtTheSortedPlaceAfterAHeaderClick()
{
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    window.show();
    for (const char *surname : {"Verdi", "Bianchi", "Rossi"})
        add(window, {"N", surname, "1"});
    // WHEN the surname header is clicked and a contact is added
    clickHeader(window, 1);
    add(window, {"N", "Neri", "1"});
    // THEN it goes to its place among the sorted rows
    QStringList surnames;
    for (const QStringList &row : listRows(window))
        surnames << row[1];
    QCOMPARE(surnames, (QStringList{"Bianchi", "Neri", "Rossi", "Verdi"}));
}

void MainWindowTest::shouldAddWhileSortedByAnExtraColumn()
{
    // GIVEN a table with a seventh column, and the list sorted by it
    LoadedWindow loaded;
    runSql(loaded.path(), "CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT,Telefono TEXT,Cellulare TEXT,Fax TEXT,"
                          "Email TEXT,Note TEXT);INSERT INTO Rubrica VALUES ('b','Verdi','1','','','','x')");
    loaded.load();
    frmGESTDB &window = *loaded.window;
    window.show();
    clickHeader(window, 6);
    // WHEN a contact is added THEN it is stored and listed after the others, whose cells there are all empty
    add(window, {"a", "Bianchi", "2"});
    QCOMPARE(listRows(window).value(1).value(1), QStringLiteral("Bianchi"));
    QCOMPARE(rowsInFile(loaded.path()).size(), 2);
}

void MainWindowTest::shouldSortByTheClickedColumn()
{
    // GIVEN contacts whose names need Italian collation, and two equal surnames
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    window.show();
    add(window, {"zeno", "Rossi", "3"});
    add(window, {"Émile", "bianchi", "1"});
    add(window, {"Ezio", "Rossi", "2"});
    add(window, {"anna", "Èrcoli", "4"});
    const auto column = [&](int k) {
        QStringList texts;
        for (const QStringList &row : listRows(window))
            texts << row[k];
        return texts;
    };
    // WHEN a header is clicked THEN the rows follow that column, ascending, case and accents aside
    clickHeader(window, 0);
    QCOMPARE(column(0), (QStringList{"anna", "Émile", "Ezio", "zeno"}));
    clickHeader(window, 1);
    QCOMPARE(column(1), (QStringList{"bianchi", "Èrcoli", "Rossi", "Rossi"}));
    QCOMPARE(column(0), (QStringList{"Émile", "anna", "Ezio", "zeno"})); // equal surnames keep their order
    // and a second click on the same header keeps the order
    clickHeader(window, 1);
    QCOMPARE(column(0), (QStringList{"Émile", "anna", "Ezio", "zeno"}));
    clickHeader(window, 2);
    QCOMPARE(column(2), (QStringList{"1", "2", "3", "4"}));
}

void MainWindowTest::shouldCopyTheClickedRowIntoTheFields()
{
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    window.show();
    add(window, {"Zeno", "Verdi", "1", "333", "", "z@x.it"});
    add(window, {"Anna", "Bianchi", "2", "", "fax", ""});
    clickHeader(window, 0);
    typeContact(window, QStringList(6, QStringLiteral("old")));
    // WHEN the first row after the sort is clicked THEN all six fields show that very row, empty ones included
    clickRow(window, 0);
    QCOMPARE(fieldTexts(window), (QStringList{"Anna", "Bianchi", "2", "", "fax", ""}));
    clickRow(window, 1);
    QCOMPARE(fieldTexts(window), (QStringList{"Zeno", "Verdi", "1", "333", "", "z@x.it"}));
}

void MainWindowTest::shouldDoNothingWhenRemovingFromAnEmptyList()
{
    LoadedWindow loaded;
    loaded.load();
    typeContact(*loaded.window, {"Mario", "Rossi"});
    AnsweredBoxes boxes(vbYes);
    loaded.window->Command1_Click(1);
    QVERIFY(boxes.boxes.isEmpty());
}

void MainWindowTest::shouldNameTheStoredContactWhenRemoving_data()
{
    QTest::addColumn<QString>("nome");
    QTest::addColumn<QString>("cognome");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("clicked row: as typed") << "Mario" << "Rossi" << "Eliminare Mario Rossi definitivamente dal database?.";
    QTest::newRow("prefix names the stored contact") << "Anna" << "Ross" << "Eliminare Mario Rossi definitivamente dal database?.";
    QTest::newRow("empty surname names the contact it matches") << "X" << "" << "Eliminare Mario Rossi definitivamente dal database?.";
    QTest::newRow("not found, blanks kept") << "Mario" << " Rossi " << "Voce ( Rossi ) non trovata nel database. Riprovare.";
}

void MainWindowTest::shouldNameTheStoredContactWhenRemoving()
{
    QFETCH(QString, nome);
    QFETCH(QString, cognome);
    QFETCH(QString, prompt);
    // GIVEN one contact and the texts typed
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    add(window, {"Mario", "Rossi", "06"});
    typeContact(window, {nome, cognome});
    // WHEN Rimuovi is pressed and the question answered No
    AnsweredBoxes boxes(vbNo);
    window.Command1_Click(1);
    // THEN the box names the contact that would go, and nothing changes
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].prompt, prompt);
    const bool confirming = prompt.startsWith(QStringLiteral("Eliminare"));
    QCOMPARE(boxes.boxes[0].style, confirming ? 36 : 16);
    QCOMPARE(boxes.boxes[0].title, confirming ? QStringLiteral("Brisolta") : QStringLiteral("Errore"));
    QCOMPARE(rowsInFile(loaded.path()).size(), 1);
    QCOMPARE(window.lstADD->ListItems().Count(), 1);
    QCOMPARE(fieldTexts(window).mid(0, 2), (QStringList{nome, cognome}));
}

void MainWindowTest::shouldRemoveTheConfirmedContactAndItsOwnRow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("selectedRow"); // -1: none selected
    QTest::addColumn<QString>("removed");
    QTest::newRow("the selected Rossi, not the earlier Rossini") << "Rossi" << 4 << "Rossi";
    QTest::newRow("first match when the selection does not fit") << "Ross" << 2 << "Rossini";
    QTest::newRow("no row selected") << "Rossi" << -1 << "Rossini";
    QTest::newRow("apostrophe") << "D'Angelo" << -1 << "D'Angelo";
    QTest::newRow("percent") << "%" << -1 << "%off";
    QTest::newRow("underscore") << "_" << -1 << "_under";
    QTest::newRow("asterisk") << "*" << -1 << "*star";
    QTest::newRow("bracket") << "[" << -1 << "[br]";
}

void MainWindowTest::shouldRemoveTheConfirmedContactAndItsOwnRow()
{
    QFETCH(QString, typed);
    QFETCH(int, selectedRow);
    QFETCH(QString, removed);
    // GIVEN contacts, the list sorted by name so that rows and records stand in different orders
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB &window = *loaded.window;
    window.show();
    const QStringList surnames{"Rossini", "D'Angelo", "Rossi", "%off", "_under", "*star", "[br]"};
    for (int i = 0; i < surnames.size(); ++i)
        add(window, {QString(QChar(u'g' - i)), surnames[i], "1"});
    clickHeader(window, 0);
    if (selectedRow >= 0)
        clickRow(window, selectedRow);
    typeContact(window, {"Chi", typed});
    // WHEN Rimuovi is pressed and confirmed
    AnsweredBoxes boxes(vbYes);
    window.Command1_Click(1);
    // THEN exactly that contact is gone from the file and from the list, and the fields keep their texts
    QCOMPARE(boxes.boxes.size(), 1);
    QStringList expected = surnames;
    expected.removeOne(removed);
    QStringList inFile, inList;
    for (const QStringList &row : fileAsTexts(loaded.path()))
        inFile << row[1];
    for (const QStringList &row : listRows(window))
        inList << row[1];
    QCOMPARE(inFile, expected);
    std::sort(inList.begin(), inList.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(inList, expected);
    QCOMPARE(fieldTexts(window).mid(0, 2), (QStringList{"Chi", typed}));
}

void MainWindowTest::shouldKeepListAndFileEqualThroughARandomSession()
{
    // GIVEN a fresh window and a seeded random session of adds, removes, row clicks and header clicks
    LoadedWindow loaded;
    loaded.load();
    frmGESTDB *window = loaded.window.get();
    window->show();
    QAbstractItemModelTester modelTester((&window->lstADD->listModel()), QAbstractItemModelTester::FailureReportingMode::QtTest);
    const quint32 seed = QRandomGenerator::global()->generate();
    qDebug() << "session seed" << seed;
    QRandomGenerator random(seed);
    const QStringList surnames{"Rossi", "Rossini", "Bianchi", "D'Angelo", "Èrcoli", "%x", "Verdi"};
    AnsweredBoxes boxes(vbYes);
    for (int step = 0; step < 120; ++step) {
        const int rows = window->lstADD->ListItems().Count();
        switch (random.bounded(4)) {
        case 0:
            typeContact(*window, {QString::number(step), surnames[random.bounded(surnames.size())], "1",
                                  random.bounded(2) ? QString() : QStringLiteral("c")});
            window->Command1_Click(0);
            break;
        case 1:
            typeContact(*window, {"x", surnames[random.bounded(surnames.size())].left(random.bounded(4))});
            window->Command1_Click(1);
            break;
        case 2:
            if (rows > 0)
                clickRow(*window, random.bounded(rows));
            break;
        default:
            clickHeader(*window, random.bounded(6));
        }
    }
    QList<QStringList> before = listRows(*window);
    // WHEN the program starts again
    loaded.load();
    // THEN the list holds exactly the file's records, and the same contacts as before
    QList<QStringList> after = listRows(*loaded.window);
    QCOMPARE(after, fileAsTexts(loaded.path()));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    QCOMPARE(after, before);
}

BRISOLTA_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
