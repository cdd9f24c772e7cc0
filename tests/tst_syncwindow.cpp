#include "support/windowsupport.h"

#include "listmenu.h"
#include "syncdialog.h"
#include "syncrunner.h"

#include <QtNetwork>

namespace {

const QString ThreeContacts = QStringLiteral("INSERT INTO Rubrica VALUES ('Anna','Rossi','3',NULL,NULL,NULL),"
                                             "('Bruno','Bianchi','1','c','f','e'),('Carla','Verdi','2','','','')");

QStringList firstNames(QWidget &window)
{
    QStringList names;
    for (const QStringList &row : listRows(window))
        names << row[0];
    return names;
}

QString selectedName(QWidget &window) { return listOf(window).selectionModel()->selectedRows().value(0).data().toString(); }

// Runs each of the statements on the file, as another connection than the window's.
void changeFile(const QString &path, const QString &sql) { for (const QString &statement : sql.split(';')) rowsInFile(path, statement.toUtf8().constData()); }

} // namespace

class SyncWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { brisolta::setUpApplication(*qApp); }

    void shouldShowWhatASyncChangedWhereItBelongs_data()
    {
        QTest::addColumn<QString>("sql"); // what the sync did to the file
        QTest::addColumn<QList<QList<qint64>>>("records"); // the records it says it added, changed and removed
        QTest::addColumn<QStringList>("names"); // the list's first column afterwards, sorted by surname
        QTest::addColumn<QString>("selected");
        QTest::newRow("a text changed: in place") << "UPDATE Rubrica SET Telefono = '9' WHERE rowid = 1" << QList<QList<qint64>>{{}, {1}, {}} << QStringList{"Bruno", "Anna", "Carla"} << "Anna";
        QTest::newRow("the sorted text changed: the row moves, still selected") << "UPDATE Rubrica SET Cognome = 'Zanzi' WHERE rowid = 1" << QList<QList<qint64>>{{}, {1}, {}} << QStringList{"Bruno", "Carla", "Anna"} << "Anna";
        QTest::newRow("one removed, one added under its rowid") << "DELETE FROM Rubrica WHERE rowid = 3;INSERT INTO Rubrica (rowid, Nome, Cognome) VALUES (3, 'Dario', 'Neri')"
                                                                << QList<QList<qint64>>{{3}, {}, {3}} << QStringList{"Bruno", "Dario", "Anna"} << "Anna";
        QTest::newRow("the selected one removed") << "DELETE FROM Rubrica WHERE rowid = 1" << QList<QList<qint64>>{{}, {}, {1}} << QStringList{"Bruno", "Carla"} << "";
        QTest::newRow("changed, then removed by another copy") << "DELETE FROM Rubrica WHERE rowid = 2" << QList<QList<qint64>>{{}, {2}, {}} << QStringList{"Anna", "Carla"} << "Anna";
    }

    void shouldShowWhatASyncChangedWhereItBelongs()
    {
        QFETCH(QString, sql);
        QFETCH(QList<QList<qint64>>, records);
        QFETCH(QStringList, names);
        QFETCH(QString, selected);
        // GIVEN three contacts sorted by surname, Anna's selected, and a sync that changed the file
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        clickHeader(window, 1);
        clickRow(window, 1);
        changeFile(loaded.path(), sql);
        carddav::SyncResult result;
        result.added.assign(records[0].begin(), records[0].end());
        result.changed.assign(records[1].begin(), records[1].end());
        result.removedRecords.assign(records[2].begin(), records[2].end());
        // WHEN the window shows the sync's result
        showSyncResult(*loaded.window->lstADD, result);
        // THEN the list shows what the file holds, in its sorted order, the same contact still selected
        QList<QStringList> file = rowsInFile(loaded.path()), shown = listRows(window);
        std::for_each(file.begin(), file.end(), [](QStringList &row) { row.replaceInStrings("␀", ""); });
        std::sort(file.begin(), file.end()), std::sort(shown.begin(), shown.end());
        QCOMPARE(shown, file);
        QCOMPARE(firstNames(window), names);
        QCOMPARE(selectedName(window), selected);
    }

    void shouldKeepTheCardOfARemovalTakenBackAndExportItsUid()
    {
        // GIVEN a synced file where Bruno's contact has a card
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        Database &file = *modDB::ContactDB;
        links::createTables(file);
        links::link(file, 2, {"card-2", "/rubrica/card-2.vcf", "\"1\"", {"Bruno", "Bianchi", "1", "c", "f", "e"}});
        // WHEN it is deleted from the list and the deletion taken back
        AnsweredBoxes boxes([] { return int(vbYes); });
        clickRow(window, 1);
        QTest::keyClick(&listOf(window), Qt::Key_Delete);
        QTest::keyClick(&listOf(window), Qt::Key_Z, Qt::ControlModifier);
        // THEN the contact, back under a new record, has its card again
        const std::map<qint64, links::Link> linked = links::linked(file);
        QCOMPARE(rowsInFile(loaded.path(), "SELECT rowid FROM Rubrica WHERE Nome = 'Bruno'"), QList<QStringList>{{"4"}});
        QCOMPARE(linked.size(), 1u);
        QCOMPARE((QStringList{QString::number(linked.begin()->first), linked.begin()->second.uid}), (QStringList{"4", "card-2"}));
        QVERIFY(links::removed(file).empty());
        // AND WHEN the contacts are exported THEN its card, and only its, carries the UID
        setFileDialogAnswerer([&](FileDialogMode, const QString &, const QStringList &) { return FileDialogAnswer{{loaded.dir.filePath("a.vcf")}, 0}; });
        child<QAction>(window, "smEsporta").trigger();
        setFileDialogAnswerer({});
        const QByteArray cards = fileBytes(loaded.dir.filePath("a.vcf")), last = cards.mid(cards.lastIndexOf("BEGIN:VCARD"));
        QCOMPARE(cards.count("UID:"), 1);
        QVERIFY(last.contains("UID:card-2\r\n") && last.contains("Bianchi"));
    }

    void shouldSayWhyTheDialogCannotUseAServer_data()
    {
        QTest::addColumn<QStringList>("typed"); // server, user
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<QString>("box"); // how the one box shown begins
        QTest::newRow("no user") << QStringList{"https://dav.example.org", ""} << "syncNow" << "Indicare l'indirizzo del server e l'utente.";
        QTest::newRow("not a web address") << QStringList{"ftp://dav.example.org", "anna"} << "findBooks" << "Indirizzo del server non valido: ftp://dav.example.org";
        QTest::newRow("clear text, declined") << QStringList{"http://dav.example.org", "anna"} << "findBooks"
                                              << "Con http:// la password viaggerebbe in chiaro verso dav.example.org.\n\nContinuare comunque?";
        QTest::newRow("nobody answers") << QStringList{"http://localhost:1", "anna"} << "syncNow" << "Server non raggiungibile: ";
    }

    void shouldSayWhyTheDialogCannotUseAServer()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, clicked);
        QFETCH(QString, box);
        // GIVEN a window whose file does not sync
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        AnsweredBoxes boxes([] { return int(vbNo); });
        // WHEN the list's menu opens the dialog, a server and user are typed and a button clicked
        QCOMPARE(child<QAction>(window, "smSincronizza").text(), "Sincronizzazione…");
        QVERIFY(whileShown<SyncDialog>([&] { child<QAction>(window, "smSincronizza").trigger(); }, [&](SyncDialog *dialog) {
            QCOMPARE((QStringList{dialog->windowTitle(), QString::number(dialog->password->echoMode())}), (QStringList{"Sincronizzazione", "2"}));
            dialog->server->setText(typed[0]);
            dialog->user->setText(typed[1]);
            QTest::mouseClick(&child<QPushButton>(*dialog, clicked), Qt::LeftButton);
            // THEN one box says why not, in the dialog's own title, and nothing is set up
            QTRY_COMPARE(boxes.boxes.size(), 1);
            QVERIFY2(boxes.boxes[0][0].startsWith(box) && boxes.boxes[0][2] == "Sincronizzazione", qPrintable(boxes.boxes[0].join('|')));
            QVERIFY(dialog->findBooks->isEnabled() && dialog->syncNow->isEnabled());
        }));
        QVERIFY(!links::isSynced(*modDB::ContactDB));
    }

    void shouldSyncAtStartAskingForThePasswordOnceAndSayAFailureOnlyInTheMenu()
    {
        // GIVEN a file set up to sync with a server that does not answer, and no keyring that keeps the password
        QTemporaryDir dir;
        makeFile(dir.filePath(modDB::FileName), ThreeContacts);
        carddav::Settings settings;
        settings.server = QUrl("http://localhost:1/"), settings.user = "anna", settings.addressBook = QUrl("http://localhost:1/rubrica/");
        carddav::writeSettings(*modDB::OpenContactFile(dir.filePath(modDB::FileName), false), settings);
        AnsweredBoxes boxes;
        QStringList asked;
        QTimer answering;
        connect(&answering, &QTimer::timeout, [&] {
            if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget()))
                asked << dialog->labelText(), dialog->setTextValue("segreta"), dialog->accept();
        });
        answering.start(10);
        // WHEN the window starts
        frmGESTDB window(dir.path());
        window.Form_Load();
        window.show();
        // THEN, once it is painted, it asks for the password once, and the sync that fails says so in the list's
        // menu alone
        QAction &item = child<QAction>(window, "smSincronizza");
        QTRY_VERIFY(item.text().startsWith("Sincronizzazione… (ultima: "));
        QVERIFY2(item.text().endsWith(", non riuscita)"), qPrintable(item.text()));
        QCOMPARE(asked, QStringList{"Password di anna per http://localhost:1/:"});
        QCOMPARE(boxes.boxes, QList<QStringList>());
    }

    void shouldSyncWithARealServerFromTheDialogAndAfterEachChange()
    {
        if (QStandardPaths::findExecutable("xandikos").isEmpty())
            QSKIP("xandikos is not installed");
        // GIVEN a CardDAV server with one address book, and a window with three contacts
        QTemporaryDir data;
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        QProcess server;
        server.start("xandikos", {"--defaults", "-d", data.path(), "-l", "127.0.0.1", "-p", QString::number(port)});
        const auto listening = [port] { QTcpSocket socket; socket.connectToHost(QHostAddress::LocalHost, port); return socket.waitForConnected(100); };
        QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);
        LoadedWindow loaded;
        QWidget &window = loaded.load(ThreeContacts);
        QAction &item = child<QAction>(window, "smSincronizza");
        AnsweredBoxes boxes;
        // Opens the dialog, types, starts a sync and waits until `done` holds.
        const auto syncInDialog = [&](const QStringList &typed, const std::function<bool()> &done) {
            return whileShown<SyncDialog>([&] { item.trigger(); }, [&](SyncDialog *dialog) {
                const std::array<QLineEdit *, 3> fields{dialog->server, dialog->user, dialog->password};
                for (int k = 0; k < typed.size(); ++k)
                    fields[k]->setText(typed[k]);
                QTest::mouseClick(dialog->syncNow, Qt::LeftButton);
                QTRY_VERIFY_WITH_TIMEOUT(done(), 20000);
            });
        };
        // WHEN sync is set up in the dialog with the server's address alone, and run
        QVERIFY(syncInDialog({QStringLiteral("http://localhost:%1/").arg(port), "anna", "segreta"}, [&] { return item.text().endsWith(", riuscita)"); }));
        // THEN the one address book found is chosen and the three contacts go to it
        QCOMPARE(links::linked(*modDB::ContactDB).size(), 3u);
        // AND WHEN a contact is added THEN the sync that follows on its own sends it
        typeContact(window, {"Dario", "Neri", "4"});
        button(window, 0).click();
        QTRY_COMPARE_WITH_TIMEOUT(links::linked(*modDB::ContactDB).size(), 4u, 20000);
        // AND WHEN a card comes to the server THEN a sync from the dialog lists it
        QNetworkAccessManager network;
        QNetworkRequest put(QUrl(QStringLiteral("http://localhost:%1/user/contacts/addressbook/nina.vcf").arg(port)));
        put.setHeader(QNetworkRequest::ContentTypeHeader, "text/vcard");
        const std::unique_ptr<QNetworkReply> reply(network.put(put, "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:nina\r\nFN:Nina Gialli\r\nN:Gialli;Nina;;;\r\nTEL:8\r\nEND:VCARD\r\n"));
        QTRY_VERIFY(reply->isFinished());
        QVERIFY(syncInDialog({}, [&] { return firstNames(window).contains("Nina"); }));
        QCOMPARE(firstNames(window), (QStringList{"Anna", "Bruno", "Carla", "Dario", "Nina"}));
        QCOMPARE(boxes.boxes, (QList<QStringList>{{"Dati salvati con successo!.", "64", "Info"}}));
        server.terminate();
        server.waitForFinished();
    }
};

QTEST_MAIN(SyncWindowTest)
#include "tst_syncwindow.moc"
