// Two-way sync against real CardDAV servers (Radicale, Xandikos) started on 127.0.0.1, and against a small server of
// its own for answers no real server gives.

#include "support/davservers.h"
#include "support/storesupport.h"

#include "cardtext.h"
#include "contacts.h"
#include "synchronizer.h"

using namespace carddav;

namespace {

Contact contact(const QStringList &texts)
{
    Contact made;
    for (std::size_t k = 0; k < made.size(); ++k)
        made[k] = texts.value(qsizetype(k));
    return made;
}

QByteArray card(const QString &uid, const QStringList &texts, const QByteArray &more = {})
{
    QByteArray made = newCard(contact(texts), uid);
    return made.insert(made.lastIndexOf("END:VCARD"), more);
}

// Each contact as one line of its six texts, sorted: what a file and a server are compared by.
QStringList sorted(QStringList lines)
{
    lines.sort();
    return lines;
}

QStringList contactsIn(const QString &path)
{
    QStringList lines;
    for (const QStringList &row : rowsInFile(path))
        lines << row.join(u'|').replace(QStringLiteral("␀"), QString());
    return sorted(lines);
}

QStringList contactsOn(DavServer &server)
{
    QStringList lines;
    for (const QByteArray &text : server.cards()) {
        QStringList texts;
        for (const FieldValue &value : cardContact(text))
            texts << *value;
        lines << texts.join(u'|');
    }
    return sorted(lines);
}

struct Run
{
    int status;
    QString output;
};

Run runProgram(const QStringList &arguments, const QByteArray &input = "secret\n")
{
    QProcess program;
    program.start(QStringLiteral(BRISOLTA_PROGRAM), arguments);
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(60000))
        helperFailed(QStringLiteral("the program did not end"));
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput() + program.readAllStandardError())};
}

} // namespace

class tst_sync : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    // A new contact file holding `contacts`, set up to sync with the server's address book as --sync-setup does.
    QString syncedFile(DavServer &server, const QStringList &contacts = {})
    {
        const QString path = m_dir.filePath(QStringLiteral("file%1.mdb").arg(++m_files));
        const std::unique_ptr<Database> file = modDB::OpenContactFile(path, true);
        Contacts made;
        for (const QString &line : contacts)
            made.push_back(contact(line.split(u'|')));
        DavClient client({server.user(), server.password(), server.fingerprint(), false});
        const std::vector<AddressBook> books = discoverAddressBooks(client, server.root());
        if (books.size() != 1)
            helperFailed(QStringLiteral("%1 address books found").arg(books.size()));
        Transaction transaction(*file);
        appendContacts(*file, made);
        writeSettings(*file, {server.root(), server.user(), books.front().url, server.fingerprint(), false,
                              books.front().syncCollection, {}});
        transaction.Commit();
        return path;
    }

    SyncResult sync(const QString &path, DavServer &server, SyncOptions options = {})
    {
        return synchronize(path, server.password(), options);
    }

    // Runs SQL on a contact file as another program would.
    void change(const QString &path, const QString &sql) { rowsInFile(path, sql.toUtf8().constData()); }


private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void shouldSyncBothWaysUntilFilesAndServerAgree_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("Radicale") << int(DavServer::Radicale);
        QTest::newRow("Xandikos") << int(DavServer::Xandikos);
    }
    void shouldSyncBothWaysUntilFilesAndServerAgree()
    {
        QFETCH(int, kind);
        const auto server = DavServer::start(DavServer::Kind(kind));
        server->put(QStringLiteral("anna.vcf"), card(QStringLiteral("anna"), {"Anna", "Bianchi", "0612"}));
        server->put(QStringLiteral("mario.vcf"), card(QStringLiteral("mario"), {"Mario", "Rossi", "", "333"}));
        const QString first = syncedFile(*server, {"Mario|Rossi||333||", "Luca|Verdi||||luca@example.org"});

        // The same contact on both sides is linked, not doubled; a dry run says so first and changes nothing.
        SyncOptions dryRun;
        dryRun.dryRun = true;
        SyncResult result = sync(first, *server, dryRun);
        QCOMPARE(std::make_pair(result.sent, result.received), std::make_pair(1, 1));
        QCOMPARE(contactsIn(first).size(), 2);
        QCOMPARE(server->cards().size(), 2);
        result = sync(first, *server);
        QCOMPARE(std::make_pair(result.sent, result.received), std::make_pair(1, 1));
        QCOMPARE(contactsIn(first).size(), 3);
        QCOMPARE(contactsOn(*server), contactsIn(first));
        // Its first sync asks for the whole address book at once: more cards than two batches.
        const QString second = syncedFile(*server);
        SyncOptions smallBatches;
        smallBatches.batch = 1;
        sync(second, *server, smallBatches);
        QCOMPARE(contactsIn(second), contactsIn(first));
        result = sync(first, *server);
        QCOMPARE(result.summary(), QStringLiteral("Inviati 0, ricevuti 0, eliminati 0, conflitti 0."));

        // Edits and removals here and there, then both files synced twice: all three agree.
        change(first, "UPDATE Rubrica SET Email = 'luca@example.com' WHERE Nome = 'Luca'");
        change(second, "DELETE FROM Rubrica WHERE Nome = 'Anna'");
        server->put(QStringLiteral("mario.vcf"), card(QStringLiteral("mario"), {"Mario", "Rossi", "", "444"}));
        for (const QString &path : {first, second, first})
            sync(path, *server);
        QCOMPARE(contactsIn(first), QStringList({"Luca|Verdi||||luca@example.com", "Mario|Rossi||444||"}));
        QCOMPARE(contactsIn(second), contactsIn(first));
        QCOMPARE(contactsOn(*server), contactsIn(first));
    }

    // Mario Rossi, synced; then each side changes him (an empty text removes him there), then a sync.
    void shouldMergeChangesAndKeepBothTextsOfAConflict_data()
    {
        QTest::addColumn<QString>("here");
        QTest::addColumn<QStringList>("there");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("conflicts");
        QTest::newRow("different texts changed") << "UPDATE Rubrica SET Telefono = '222'" << QStringList{"Mario", "Rossi", "111", "444"}
                                                 << QStringList{"Mario|Rossi|222|444||"} << 0;
        QTest::newRow("one text, both sides") << "UPDATE Rubrica SET Telefono = '222'" << QStringList{"Mario", "Rossi", "999", "333"}
                                              << QStringList{"Mario|Rossi|222|333||", "Mario|Rossi|999|333||"} << 1;
        QTest::newRow("removed here, changed there") << "DELETE FROM Rubrica" << QStringList{"Mario", "Rossi", "111", "444"}
                                                     << QStringList{"Mario|Rossi|111|444||"} << 0;
        QTest::newRow("changed here, removed there") << "UPDATE Rubrica SET Telefono = '222'" << QStringList()
                                                     << QStringList{"Mario|Rossi|222|333||"} << 0;
        QTest::newRow("the same change on both sides") << "UPDATE Rubrica SET Telefono = '222'" << QStringList{"Mario", "Rossi", "222", "333"}
                                                       << QStringList{"Mario|Rossi|222|333||"} << 0;
    }
    void shouldMergeChangesAndKeepBothTextsOfAConflict()
    {
        QFETCH(QString, here);
        QFETCH(QStringList, there);
        QFETCH(QStringList, expected);
        QFETCH(int, conflicts);
        const auto server = DavServer::start(DavServer::Xandikos);
        server->put(QStringLiteral("m.vcf"), card(QStringLiteral("m"), {"Mario", "Rossi", "111", "333"}));
        const QString path = syncedFile(*server);
        sync(path, *server);
        change(path, here);
        if (there.isEmpty())
            server->remove(QStringLiteral("m.vcf"));
        else
            server->put(QStringLiteral("m.vcf"), card(QStringLiteral("m"), there));
        QCOMPARE(sync(path, *server).conflicts, conflicts);
        sync(path, *server);
        QCOMPARE(contactsIn(path), expected);
        QCOMPARE(contactsOn(*server), expected);
        // The card keeps the server's texts in a conflict: its UID still names them.
        if (conflicts)
            QCOMPARE(cardContact(server->card(QStringLiteral("m.vcf")))[field::Telefono], there[2]);
    }

    void shouldKeepWhatACardHoldsBeyondTheSixTexts_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("Radicale") << int(DavServer::Radicale);
        QTest::newRow("Xandikos") << int(DavServer::Xandikos);
    }
    void shouldKeepWhatACardHoldsBeyondTheSixTexts()
    {
        QFETCH(int, kind);
        const auto server = DavServer::start(DavServer::Kind(kind));
        const QByteArray photo = "PHOTO;ENCODING=b;TYPE=JPEG:" + QByteArray(300, 'A');
        const QList<QByteArray> kept = {photo, "ADR;TYPE=home:;;Via Roma 1;Milano;;20100;Italia",
                                        "BDAY:1980-02-29", "TEL;TYPE=work:02 1234", "TEL;TYPE=home:06 5678",
                                        "NOTE:Cena\\, giovedì"};
        QByteArray extra;
        for (const QByteArray &line : kept)
            extra += line + "\r\n";
        server->put(QStringLiteral("m.vcf"), card(QStringLiteral("m"), {"Mario", "Rossi", "", "333", "", "m@example.org"}, extra));
        const QString path = syncedFile(*server);
        sync(path, *server);
        change(path, "UPDATE Rubrica SET Nome = 'Marco', Cellulare = '444', Email = ''");
        QCOMPARE(sync(path, *server).sent, 1);

        const QByteArray stored = server->card(QStringLiteral("m.vcf"));
        QByteArray unfolded = stored;
        unfolded.replace("\r\n ", "").replace("\n ", "");
        for (const QByteArray &line : kept)
            QVERIFY2(unfolded.contains(line + "\r\n") || unfolded.contains(line + "\n"), line.constData());
        QCOMPARE(cardContact(stored), contact({"Marco", "Rossi", "02 1234", "444", "", ""}));
        QVERIFY(unfolded.contains("UID:m"));
    }

    // After a first sync, a change on each side; the server's changes found without a usable sync token too.
    void shouldFindServerChangesWithoutAUsableToken_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("syncReports");
        QTest::newRow("sync token") << QString() << true;
        QTest::newRow("no sync-collection") << QString() << false;
        QTest::newRow("invalid token") << "UPDATE SyncSettings SET value = 'http://example.org/ns/sync/0' WHERE key = 'token'" << true;
        QTest::newRow("stale ETags") << "UPDATE SyncLink SET etag = '\"stale\"'" << true;
    }
    void shouldFindServerChangesWithoutAUsableToken()
    {
        QFETCH(QString, sql);
        QFETCH(bool, syncReports);
        const auto server = DavServer::start(DavServer::Radicale);
        server->put(QStringLiteral("a.vcf"), card(QStringLiteral("a"), {"Anna", "Bianchi", "0612"}));
        server->put(QStringLiteral("b.vcf"), card(QStringLiteral("b"), {"Bruno", "Neri"}));
        const QString path = syncedFile(*server, {"Luca|Verdi"});
        sync(path, *server);
        server->put(QStringLiteral("a.vcf"), card(QStringLiteral("a"), {"Anna", "Bianchi", "0613"}));
        server->remove(QStringLiteral("b.vcf"));
        server->put(QStringLiteral("c.vcf"), card(QStringLiteral("c"), {"Carla", "Bo"}));
        change(path, "UPDATE Rubrica SET Telefono = '1' WHERE Nome = 'Luca'");
        if (!sql.isEmpty())
            change(path, sql);
        SyncOptions options;
        options.syncCollection = syncReports;
        const SyncResult result = sync(path, *server, options);
        QCOMPARE(contactsIn(path), QStringList({"Anna|Bianchi|0613|||", "Carla|Bo||||", "Luca|Verdi|1|||"}));
        QCOMPARE(contactsOn(*server), contactsIn(path));
        QCOMPARE(result.conflicts, 0);
        QCOMPARE(sync(path, *server).summary(), QStringLiteral("Inviati 0, ricevuti 0, eliminati 0, conflitti 0."));
    }

    // A server that lost most cards: the sync stops before changing anything unless forced, and a copy of the file
    // is kept before the first sync and before each that removes contacts; the last five.
    void shouldStopBeforeRemovingMostContactsAndKeepCopies()
    {
        const auto server = DavServer::start(DavServer::Xandikos);
        QStringList many;
        for (int n = 0; n < 30; ++n)
            many << QStringLiteral("Nome%1|Cognome").arg(n);
        const QString path = syncedFile(*server, many);
        sync(path, *server);
        const QStringList names = server->cards().keys();
        for (int n = 0; n < 25; ++n)
            server->remove(names[n]);
        const QStringList args{"--file", path, "--sync", "--password-stdin"};
        Run run = runProgram(args);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.output.contains(QStringLiteral("eliminerebbe 25 dei 30 contatti")) && run.output.contains("--force"),
                 qPrintable(run.output));
        QCOMPARE(contactsIn(path).size(), 30);
        run = runProgram(args + QStringList{"--force"});
        QCOMPARE(run.output.trimmed(), QStringLiteral("Inviati 0, ricevuti 0, eliminati 25, conflitti 0."));
        QCOMPARE(contactsIn(path).size(), 5);

        QStringList copies = QDir(m_dir.path()).entryList({QFileInfo(path).fileName() + ".copia-*"});
        QCOMPARE(copies.size(), 2);
        QCOMPARE(rowsInFile(m_dir.filePath(copies.last())).size(), 30);
        for (int n = 0; n < 5; ++n) {
            server->remove(server->cards().keys().first());
            sync(path, *server);
        }
        QCOMPARE(QDir(m_dir.path()).entryList({QFileInfo(path).fileName() + ".copia-*"}).size(), 5);
    }

    // SQLite gives a removed last record's rowid to the next one: the new contact must not inherit the card.
    void shouldNotGiveARemovedContactsCardToTheNextOne()
    {
        const auto server = DavServer::start(DavServer::Xandikos);
        const QString path = syncedFile(*server, {"Anna|Bianchi", "Mario|Rossi"});
        sync(path, *server);
        change(path, "DELETE FROM Rubrica WHERE Nome = 'Mario'");
        change(path, "INSERT INTO Rubrica (Nome, Cognome) VALUES ('Luca', 'Verdi')");
        QCOMPARE(rowsInFile(path, "SELECT max(rowid) FROM Rubrica"), QList<QStringList>{{"2"}});
        const SyncResult result = sync(path, *server);
        QCOMPARE(std::make_pair(result.sent, result.removed), std::make_pair(1, 1));
        QCOMPARE(contactsOn(*server), QStringList({"Anna|Bianchi||||", "Luca|Verdi||||"}));
    }

    // A first sync of 40 contacts each way, through the program, killed or its server stopped once the server's
    // cards are in and `after` ms of sending have passed: the next sync finishes the work, nothing lost or doubled.
    void shouldFinishAnInterruptedSyncWithoutLossesOrDuplicates_data()
    {
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("stopServer");
        for (const int after : {0, 100, 250}) {
            QTest::addRow("killed %d ms into sending", after) << after << false;
            QTest::addRow("server stopped %d ms into sending", after) << after << true;
        }
    }
    void shouldFinishAnInterruptedSyncWithoutLossesOrDuplicates()
    {
        QFETCH(int, after);
        QFETCH(bool, stopServer);
        // A Xandikos killed in the middle of a commit leaves its repository locked; Radicale writes each card whole.
        const auto server = DavServer::start(stopServer ? DavServer::Radicale : DavServer::Xandikos);
        QStringList here;
        for (int n = 0; n < 40; ++n)
            here << QStringLiteral("Qui%1|Locale").arg(n);
        server->fill(40);
        const QString path = syncedFile(*server, here);
        QProcess program;
        program.start(QStringLiteral(BRISOLTA_PROGRAM), {"--file", path, "--sync", "--password-stdin"});
        program.write("secret\n");
        program.closeWriteChannel();
        program.waitForBytesWritten();
        // Polled as the program reads: waiting while it writes.
        const std::shared_ptr<sqlite3> file = sqlite::open(path, SQLITE_OPEN_READWRITE);
        sqlite::Statement links(file.get(), "SELECT count(*) FROM SyncLink");
        for (; links.step() && links.int64(0) < 40; links.reset())
            QThread::msleep(2);
        links.reset();
        QThread::msleep(ulong(after));
        stopServer ? server->stop() : program.kill();
        program.waitForFinished();
        if (stopServer)
            server->restart();
        QVERIFY(server->cards().size() < 80);
        sync(path, *server);
        const QStringList contacts = contactsIn(path);
        QCOMPARE(contacts.size(), 80);
        QCOMPARE(QSet<QString>(contacts.begin(), contacts.end()).size(), 80);
        QCOMPARE(contactsOn(*server), contacts);
    }

    void shouldRefuseAWrongPasswordAndAnUntrustedCertificate()
    {
        const auto server = DavServer::start(DavServer::Radicale, true);
        const QString path = m_dir.filePath(QStringLiteral("tls.mdb"));
        const QStringList setup{"--file", path, "--sync-setup", server->root().toString(), "--user", "alice", "--password-stdin"};
        Run run = runProgram(setup);
        const QString fingerprint = QString::fromLatin1(server->fingerprint().toHex(':').toUpper());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.output.contains(QStringLiteral("non è attendibile")) && run.output.contains(fingerprint), qPrintable(run.output));
        QVERIFY(!QFile::exists(path));
        run = runProgram(setup + QStringList{"--trust", fingerprint}, "wrong\n");
        QCOMPARE(run.status, 1);
        QVERIFY2(run.output.contains(QStringLiteral("password non accettati")), qPrintable(run.output));
        run = runProgram(setup + QStringList{"--trust", fingerprint});
        QVERIFY2(run.status == 0 && run.output.contains(QStringLiteral("«Rubrica»")), qPrintable(run.output));
        run = runProgram({"--file", path, "--sync", "--password-stdin"});
        QCOMPARE(run.output.trimmed(), QStringLiteral("Inviati 0, ricevuti 0, eliminati 0, conflitti 0."));
    }

    // A server's answers are not trusted: each of these ends the request with the user's error, never a crash or a hang.
    void shouldRefuseHostileAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("kind");
        const QByteArray status = "HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml\r\n\r\n";
        QTest::newRow("not XML") << status + "<html>hello" << int(SyncError::NotCardDav);
        QTest::newRow("cut short") << status + "<multistatus xmlns=\"DAV:\"><response><href>/a" << int(SyncError::NotCardDav);
        QTest::newRow("another root") << status + "<error xmlns=\"DAV:\"/>" << int(SyncError::NotCardDav);
        QTest::newRow("entity bomb") << status + "<!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
                                                 "<multistatus xmlns=\"DAV:\">&b;</multistatus>" << int(SyncError::NotCardDav);
        QTest::newRow("external entity") << status + "<!DOCTYPE m [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
                                                     "<multistatus xmlns=\"DAV:\">&e;</multistatus>" << int(SyncError::NotCardDav);
        QTest::newRow("huge card") << status + "<multistatus xmlns=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><response>"
                                               "<href>/a</href><propstat><prop><c:address-data>" + QByteArray(9 << 20, 'x') +
                                               "</c:address-data></prop></propstat></response></multistatus>" << int(SyncError::TooLarge);
        QTest::newRow("silent") << QByteArray() << int(SyncError::Network);
        QTest::newRow("redirect to plain http elsewhere") << QByteArray("HTTP/1.1 301 Moved\r\nLocation: http://192.0.2.1/\r\n\r\n") << int(SyncError::Server);
        QTest::newRow("redirect loop") << QByteArray("HTTP/1.1 307 Again\r\nLocation: /again\r\n\r\n") << int(SyncError::Server);
        QTest::newRow("password in clear to another host") << QByteArray("http://192.0.2.1/") << int(SyncError::Cleartext);
        QTest::newRow("password refused") << QByteArray("HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n") << int(SyncError::Password);
    }
    void shouldRefuseHostileAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, kind);
        QTcpServer fake;
        QVERIFY(fake.listen(QHostAddress::LocalHost));
        QObject::connect(&fake, &QTcpServer::newConnection, [&] {
            QTcpSocket *socket = fake.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
                socket->readAll();
                // Each answer ends where the connection does; "silent" never answers.
                if (!answer.isEmpty()) {
                    socket->write(answer);
                    socket->disconnectFromHost();
                }
            });
        });
        DavClient client({QStringLiteral("alice"), QStringLiteral("secret"), {}, false});
        client.setStallTime(300);
        const QUrl url(answer.startsWith("http:") ? QString::fromLatin1(answer) : QStringLiteral("http://127.0.0.1:%1/").arg(fake.serverPort()));
        try {
            client.propfind(url, 1, "<d:getetag/>");
            QFAIL("the answer was believed");
        } catch (const SyncError &error) {
            QVERIFY2(error.kind() == kind, qPrintable(error.message()));
        }
    }

    // A change is written into the card's own text: other lines, parameters and foldings stay byte for byte.
    void shouldChangeOnlyTheLinesOfChangedTexts_data()
    {
        QTest::addColumn<QByteArray>("card");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray head = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nFN:Mario Rossi\r\nN:Rossi;Mario;Luigi;Dr.;\r\n";
        const QByteArray photo = "PHOTO;ENCODING=b:QUJD\r\n REVG\r\n";
        QTest::newRow("a number changed, the others kept")
            << head + "item1.TEL;TYPE=CELL,VOICE:333\r\nTEL;TYPE=pager:1\r\n" + photo + "END:VCARD\r\n" << QStringList{"Mario", "Rossi", "", "444"}
            << head + "item1.TEL;TYPE=CELL,VOICE:444\r\nTEL;TYPE=pager:1\r\n" + photo + "END:VCARD\r\n";
        QTest::newRow("a name changed, middle names kept")
            << head + photo + "END:VCARD\r\n" << QStringList{"Marco", "Rossi", "", "333"}
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nFN:Marco Rossi\r\nN:Rossi;Marco;Luigi;Dr.;\r\n" + photo + "END:VCARD\r\n";
        QTest::newRow("a text emptied, a new one added")
            << head + "TEL;TYPE=CELL:333\r\nEND:VCARD\r\n" << QStringList{"Mario", "Rossi", "", "", "06; 1"}
            << head + "TEL;TYPE=fax:06\\; 1\r\nEND:VCARD\r\n";
        QTest::newRow("an old card's transfer encoding dropped")
            << head + "TEL;CELL;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:=33=33\r\nEND:VCARD\r\n" << QStringList{"Mario", "Rossi", "", "3è"}
            << head + "TEL;CELL:3è\r\nEND:VCARD\r\n";
    }
    void shouldChangeOnlyTheLinesOfChangedTexts()
    {
        QFETCH(QByteArray, card);
        QFETCH(QStringList, after);
        QFETCH(QByteArray, expected);
        QCOMPARE(mergeIntoCard(card, contact({"Mario", "Rossi", "", "333"}), contact(after)), expected);
    }
};

QTEST_GUILESS_MAIN(tst_sync)
#include "tst_sync.moc"
