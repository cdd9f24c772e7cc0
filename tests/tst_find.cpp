#include "support/windowsupport.h"

#include "frmFIND.h"

// Forty rows to scroll past, then three surnames that begin with "Ross", in three orders: as added, by surname and by
// telephone; a surname with a capital A, and an address with "re" inside but not in front.
static const QString SampleContacts = QStringLiteral(
    "WITH n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 39) INSERT INTO Rubrica SELECT 'R', 'Z' || k, '09' || k, '', '', '' FROM n;"
    "INSERT INTO Rubrica VALUES ('Mario','Rossi','051','333','0519','m@p.it'),('Anna','Rossetti','061','320','0617',''),"
    "('Carla','Rossini','040','','','rr@rete.it'),('Giuseppe','Verdi','0498','340','0491','g.verdi@musica.it'),('Aldo','Abate','07','','','')");

class FindTest : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(FindTest)
#include "tst_find.moc"
