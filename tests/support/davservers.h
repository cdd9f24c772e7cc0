#pragma once

// Real CardDAV servers for the sync tests: Debian's Radicale or Xandikos as a child process on 127.0.0.1, storage in a
// temporary folder, and what another client (a phone) does to the address book, one call at a time.

#include "support/storesupport.h"

#include <QtNetwork>

#include <memory>

#ifdef Q_OS_LINUX
#include <signal.h>
#include <sys/prctl.h>
#endif

class DavServer
{
public:
    enum Kind { Radicale, Xandikos };

    static std::unique_ptr<DavServer> start(Kind kind, bool tls = false)
    {
        std::unique_ptr<DavServer> server(new DavServer(kind, tls));
        server->restart();
        return server;
    }
    ~DavServer() { stop(); }

    QUrl root() const { return QUrl(QStringLiteral("%1://127.0.0.1:%2/").arg(tls ? "https" : "http").arg(port)); }
    QUrl addressBook() const { return root().resolved(QUrl(kind == Radicale ? "alice/rubrica/" : "user/contacts/addressbook/")); }
    // Xandikos asks for no password and ignores the one it gets.
    QString user() const { return QStringLiteral("alice"); }
    QString password() const { return QStringLiteral("secret"); }
    QByteArray fingerprint() const { return certificate.digest(QCryptographicHash::Sha256); }

    // The storage stays: a restart serves what the server held when it stopped.
    void stop() { process.kill(), process.waitForFinished(); }
    void restart()
    {
        stop();
        network.clearConnectionCache();
        process.start();
        waitUntilAnswering();
    }

    // The ETag as the server sends it, quotes included.
    QByteArray put(const QString &name, const QByteArray &card) { return send("PUT", cardUrl(name), card, {201, 204}).etag; }
    void remove(const QString &name) { send("DELETE", cardUrl(name), {}, {200, 204}); }
    QByteArray card(const QString &name) { return send("GET", cardUrl(name), {}, {200}).body; }

    // Every card in the address book by file name, in one query that matches them all.
    QMap<QString, QByteArray> cards()
    {
        const QByteArray query = "<C:addressbook-query xmlns=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
                                 "<prop><C:address-data/></prop><C:filter/></C:addressbook-query>";
        QXmlStreamReader xml(send("REPORT", addressBook(), query, {207}, "1").body);
        QMap<QString, QByteArray> found;
        for (QString href; xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd();) {
            if (xml.isStartElement() && xml.name() == u"href")
                href = xml.readElementText();
            else if (xml.isStartElement() && xml.name() == u"address-data")
                found[QUrl::fromPercentEncoding(href.section('/', -1).toUtf8())] = xml.readElementText().toUtf8();
        }
        if (xml.hasError())
            helperFailed(QStringLiteral("%1: %2").arg(addressBook().toString(), xml.errorString()));
        // The collection itself answers too, with no card; XML reading turned each CRLF into LF.
        found.remove(QString());
        for (QByteArray &text : found)
            text.replace("\r\n", "\n").replace('\n', "\r\n");
        return found;
    }

    // Card n of a fill, its lines in the order Radicale writes them (UID first, then by name), so that a card a
    // server returns compares byte for byte.
    static QString filledName(int n) { return QStringLiteral("fill-%1.vcf").arg(n, 5, 10, QLatin1Char('0')); }
    static QByteArray filledCard(int n)
    {
        static const char *const given[] = {"Giulia", "Marco", "Chiara", "Nicolò", "Francesca", "Luca", "Sara"};
        static const char *const family[] = {"Rossi", "D'Angelo", "Esposito", "Bianchi", "Romano", "Colombo", "Ricci", "Greco", "Marino", "Bruno", "Gallo"};
        const QByteArray number = QByteArray::number(n), first = given[n % 7], last = family[n % 11] + (' ' + number);
        return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:fill-" + number + "\r\nEMAIL:contatto" + number + "@example.it\r\nFN:" + first + ' '
            + last + "\r\nN:" + last + ';' + first + ";;;\r\nTEL;TYPE=CELL:+39 333 " + number.rightJustified(7, '0') + "\r\nEND:VCARD\r\n";
    }

    // Puts cards 1 to count straight into the server's storage: uploading ten thousand one by one takes an hour on
    // Xandikos, which checks every card's UID against all the others.
    void fill(int count)
    {
        for (int n = 1; n <= count; ++n)
            writeFile(collection + '/' + filledName(n), filledCard(n));
        // A Xandikos collection is a git working tree served from its index; Xandikos commits each change it makes.
        if (kind == Xandikos) {
            run("git", {"-C", collection, "add", "."});
            run("git", {"-C", collection, "-c", "user.name=fill", "-c", "user.email=fill@localhost", "commit", "-q", "-m", "fill"});
        }
    }

private:
    struct Reply { QByteArray body, etag; };

    DavServer(Kind kind, bool tls) : kind(kind), tls(tls)
    {
        QTcpServer probe;
        if (!folder.isValid() || !probe.listen(QHostAddress::LocalHost))
            helperFailed(QStringLiteral("no folder or free port for the server: ") + probe.errorString());
        port = probe.serverPort();
        const QString storage = folder.filePath("storage");
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(folder.filePath("server.log"), QIODevice::Append);
#ifdef Q_OS_LINUX
        // A test that crashes leaves no server behind holding its port.
        process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
        if (kind == Xandikos) {
            if (tls)
                helperFailed("only Radicale serves TLS here");
            collection = storage + "/user/contacts/addressbook";
            process.setProgram("xandikos");
            process.setArguments({"--defaults", "-d", storage, "-l", "127.0.0.1", "-p", QString::number(port)});
            return;
        }
        collection = storage + "/collection-root/alice/rubrica";
        QDir().mkpath(collection);
        writeFile(collection + "/.Radicale.props", R"({"tag": "VADDRESSBOOK", "D:displayname": "Rubrica"})");
        writeFile(folder.filePath("users"), "alice:secret\n");
        QString config = QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n").arg(port);
        if (tls) {
            run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                            "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", folder.filePath("key.pem"), "-out", folder.filePath("cert.pem")});
            certificate = QSslCertificate::fromPath(folder.filePath("cert.pem")).value(0);
            config += QStringLiteral("ssl = True\ncertificate = %1\nkey = %2\n").arg(folder.filePath("cert.pem"), folder.filePath("key.pem"));
        }
        // No pause after a wrong password: the tests that give one would wait a second each.
        config += QStringLiteral("[auth]\ntype = htpasswd\nhtpasswd_filename = %1\nhtpasswd_encryption = plain\ndelay = 0\n"
                                 "[rights]\ntype = owner_only\n[storage]\nfilesystem_folder = %2\n[logging]\nlevel = warning\n")
                      .arg(folder.filePath("users"), storage);
        writeFile(folder.filePath("radicale.conf"), config.toUtf8());
        process.setProgram("radicale");
        process.setArguments({"-C", folder.filePath("radicale.conf")});
    }

    void waitUntilAnswering()
    {
        // Waiting for the process to end is the pause between attempts, and notices a server that gave up.
        for (QDeadlineTimer deadline(10000); process.waitForStarted() && !deadline.hasExpired() && !process.waitForFinished(20);) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(200))
                return;
        }
        helperFailed(QStringLiteral("%1 does not answer on port %2: %3").arg(process.program()).arg(port).arg(QString::fromUtf8(fileBytes(folder.filePath("server.log")).right(2000))));
    }

    QUrl cardUrl(const QString &name) const { return addressBook().resolved(QUrl::fromEncoded(QUrl::toPercentEncoding(name))); }

    Reply send(const QByteArray &verb, const QUrl &url, const QByteArray &body, std::initializer_list<int> expected, const QByteArray &depth = {})
    {
        QNetworkRequest request(url);
        request.setRawHeader("Authorization", "Basic " + (user() + ':' + password()).toUtf8().toBase64());
        request.setHeader(QNetworkRequest::ContentTypeHeader, verb == "PUT" ? "text/vcard; charset=utf-8" : "application/xml; charset=utf-8");
        if (!depth.isEmpty())
            request.setRawHeader("Depth", depth);
        if (tls) {
            QSslConfiguration ssl = request.sslConfiguration();
            ssl.setCaCertificates({certificate});
            request.setSslConfiguration(ssl);
        }
        request.setTransferTimeout(30000);
        const std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, verb, body));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (std::find(expected.begin(), expected.end(), status) == expected.end())
            helperFailed(QStringLiteral("%1 %2: %3 %4 %5").arg(QString::fromLatin1(verb), url.toString()).arg(status).arg(reply->errorString(), QString::fromUtf8(reply->readAll().left(500))));
        return {reply->readAll(), reply->rawHeader("ETag")};
    }

    static void run(const QString &program, const QStringList &arguments)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        // git allocates and frees zlib's buffers for every card; growing the heap in large steps instead of a page
        // at a time makes adding ten thousand of them take 0.4 s instead of 3.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("GLIBC_TUNABLES", "glibc.malloc.top_pad=16777216");
        child.setProcessEnvironment(environment);
        child.start(program, arguments);
        if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            helperFailed(program + ' ' + arguments.join(' ') + ": " + child.errorString() + ' ' + QString::fromUtf8(child.readAll()));
    }

    Kind kind;
    bool tls;
    QTemporaryDir folder;
    quint16 port = 0;
    QString collection;
    QSslCertificate certificate;
    QProcess process;
    QNetworkAccessManager network;
};
