#include "davclient.h"

#include <QAuthenticator>
#include <QBuffer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QXmlStreamReader>

namespace carddav {

SyncError::SyncError(Kind kind, const QString &message, const QByteArray &fingerprint)
    : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message), m_fingerprint(fingerprint)
{
}

namespace {

const QString Dav = QStringLiteral("DAV:");
const QString CardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");

bool isLocal(const QUrl &url)
{
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") || host == QLatin1String("::1");
}

int statusOf(const QString &line)
{
    return line.simplified().section(u' ', 1, 1).toInt();
}

QString hexFingerprint(const QByteArray &digest)
{
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

// The multistatus read element by element: which elements surround the current one, and the response and the
// properties of the propstat being read.
class MultistatusReader
{
public:
    // Read from a device a block at a time: given the bytes whole, the reader would decode them all into one string
    // first, twice the size of an answer that may hold every card of the address book.
    MultistatusReader(const QByteArray &xml, const QUrl &base) : m_base(base)
    {
        m_bytes.setData(xml);
        m_bytes.open(QIODevice::ReadOnly);
        m_xml.setDevice(&m_bytes);
    }

    Multistatus read()
    {
        // Entities would need a DTD; without one none can be declared, let alone point outside.
        m_xml.setEntityExpansionLimit(0);
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::DTD: refuse(QStringLiteral("DTD")); break;
            case QXmlStreamReader::StartElement: start(); break;
            case QXmlStreamReader::EndElement: end(); break;
            default: break;
            }
        }
        if (m_xml.hasError())
            refuse(m_xml.errorString());
        if (!m_sawRoot)
            refuse(QStringLiteral("multistatus"));
        return std::move(m_result);
    }

private:
    [[noreturn]] void refuse(const QString &why)
    {
        throw SyncError(SyncError::NotCardDav,
                        QStringLiteral("Il server non risponde come un server CardDAV (%1).").arg(why));
    }

    bool inside(const char *name) const
    {
        return std::find(m_open.begin(), m_open.end(), QLatin1String(name)) != m_open.end();
    }

    std::optional<QString> path(const QString &href) const
    {
        const QUrl url = m_base.resolved(QUrl(href.trimmed()));
        if (url.scheme() != m_base.scheme() || url.host() != m_base.host() || url.port() != m_base.port())
            return std::nullopt;
        return url.path(QUrl::FullyDecoded);
    }

    QString text()
    {
        const QString value = m_xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (m_xml.hasError())
            refuse(m_xml.errorString());
        return value;
    }

    void start()
    {
        const QStringView ns = m_xml.namespaceUri();
        const QString name = m_xml.name().toString();
        if (ns == CardDav && name == QLatin1String("address-data")) {
            const QString card = text();
            if (card.size() > MaxCard)
                throw SyncError(SyncError::TooLarge, QStringLiteral("Il server ha mandato un contatto troppo grande."));
            m_props.card = card.toUtf8();
            m_props.card.squeeze(); // the conversion reserves three bytes a character
            return;
        }
        if (ns == CardDav && name == QLatin1String("addressbook") && inside("resourcetype"))
            m_props.addressBook = true;
        if (ns != Dav) {
            // Other vocabularies' names kept apart from DAV's own.
            m_open.push_back(ns == CardDav ? QLatin1String("c:") + name : QString());
            return;
        }
        if (m_open.empty()) {
            if (name != QLatin1String("multistatus"))
                refuse(name);
            m_sawRoot = true;
        } else if (name == QLatin1String("response")) {
            m_response = Resource();
        } else if (name == QLatin1String("propstat")) {
            m_props = Resource();
        } else if (name == QLatin1String("sync-collection") && inside("supported-report")) {
            m_props.syncCollection = true;
        } else if (name == QLatin1String("href") || name == QLatin1String("status") || name == QLatin1String("getetag") ||
                   name == QLatin1String("displayname") || name == QLatin1String("sync-token")) {
            leaf(name, text());
            return;
        }
        m_open.push_back(name);
    }

    void leaf(const QString &name, const QString &value)
    {
        const bool inProp = inside("prop");
        if (name == QLatin1String("href")) {
            const std::optional<QString> decoded = path(value);
            const QUrl url = decoded ? m_base.resolved(QUrl(value.trimmed())) : QUrl();
            if (inside("current-user-principal"))
                m_props.principal = url;
            else if (inside("c:addressbook-home-set"))
                m_props.home = url;
            else if (!inProp)
                m_response.path = decoded.value_or(QString());
        } else if (name == QLatin1String("status")) {
            (inside("propstat") ? m_propstatStatus : m_response.status) = statusOf(value);
        } else if (name == QLatin1String("getetag")) {
            m_props.etag = value.trimmed().toUtf8();
        } else if (name == QLatin1String("displayname")) {
            m_props.displayName = value;
        } else if (inProp) {
            m_props.syncToken = value.trimmed();
        } else {
            m_result.syncToken = value.trimmed();
        }
    }

    void end()
    {
        if (m_open.empty())
            return;
        const QString name = m_open.back();
        m_open.pop_back();
        if (name == QLatin1String("propstat")) {
            if (m_propstatStatus / 100 == 2)
                merge();
            m_propstatStatus = 200;
        } else if (name == QLatin1String("response") && !m_response.path.isEmpty()) {
            m_result.resources.push_back(std::move(m_response));
        }
    }

    void merge()
    {
        Resource &to = m_response;
        to.etag = m_props.etag.isEmpty() ? to.etag : m_props.etag;
        to.card = m_props.card.isEmpty() ? to.card : m_props.card;
        to.displayName = m_props.displayName.isEmpty() ? to.displayName : m_props.displayName;
        to.addressBook = to.addressBook || m_props.addressBook;
        to.syncCollection = to.syncCollection || m_props.syncCollection;
        to.principal = m_props.principal.isEmpty() ? to.principal : m_props.principal;
        to.home = m_props.home.isEmpty() ? to.home : m_props.home;
        to.syncToken = m_props.syncToken.isEmpty() ? to.syncToken : m_props.syncToken;
    }

    QBuffer m_bytes;
    QXmlStreamReader m_xml;
    QUrl m_base;
    std::vector<QString> m_open; // DAV: element names, CardDAV ones after "c:", empty for others
    Resource m_response;
    Resource m_props;
    int m_propstatStatus = 200;
    Multistatus m_result;
    bool m_sawRoot = false;
};

} // namespace

Multistatus parseMultistatus(const QByteArray &xml, const QUrl &base)
{
    return MultistatusReader(xml, base).read();
}

QUrl onServer(const QUrl &base, const QString &path)
{
    QUrl url = base;
    url.setPath(path, QUrl::DecodedMode);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

DavClient::DavClient(const Account &account) : m_account(account), m_network(new QNetworkAccessManager)
{
    // Asked once per request: a second time means the password was refused, and the 401 comes through.
    QObject::connect(m_network.get(), &QNetworkAccessManager::authenticationRequired,
                     [this](QNetworkReply *reply, QAuthenticator *authenticator) {
                         if (reply->property("authenticated").toBool())
                             return;
                         reply->setProperty("authenticated", true);
                         authenticator->setUser(m_account.user);
                         authenticator->setPassword(m_account.password);
                     });
}

DavClient::~DavClient() = default;

Reply DavClient::send(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                      const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    QUrl target = url;
    for (int hops = 0; hops < 6; ++hops) {
        Reply reply = sendOnce(verb, target, body, headers);
        if (reply.status != 301 && reply.status != 302 && reply.status != 307 && reply.status != 308)
            return reply;
        const QUrl next = target.resolved(QUrl(QString::fromUtf8(reply.etag)));
        const bool sameServer = next.scheme() == target.scheme() && next.host() == target.host() && next.port() == target.port();
        if (!next.isValid() || (!sameServer && next.scheme() != QLatin1String("https")))
            throw SyncError(SyncError::Server,
                            QStringLiteral("Il server rimanda a un indirizzo non sicuro: %1").arg(next.toDisplayString()));
        target = next;
    }
    throw SyncError(SyncError::Server, QStringLiteral("Il server rimanda da un indirizzo all'altro senza fine."));
}

// One request on its way: its reply, and what its signals found so far.
struct DavClient::Exchange
{
    std::unique_ptr<QNetworkReply> reply;
    QUrl url;
    Reply answer;
    bool tooLarge = false;
    QByteArray refused;
};

std::unique_ptr<DavClient::Exchange> DavClient::start(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                                                      const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    if (url.scheme() == QLatin1String("http") && !isLocal(url) && !m_account.cleartext)
        throw SyncError(SyncError::Cleartext,
                        QStringLiteral("Con http:// la password viaggerebbe in chiaro verso %1.").arg(url.host()));
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        throw SyncError(SyncError::Usage, QStringLiteral("Indirizzo non valido: %1").arg(url.toDisplayString()));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_stallTime);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Brisolta"));
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    auto exchange = std::make_unique<Exchange>();
    Exchange &on = *exchange;
    on.url = url;
    on.reply.reset(m_network->sendCustomRequest(request, verb, body));
    QNetworkReply *reply = on.reply.get();
    QObject::connect(reply, &QNetworkReply::readyRead, [&on, reply] {
        if (on.answer.body.size() + reply->bytesAvailable() > MaxResponse) {
            on.tooLarge = true;
            reply->abort();
            return;
        }
        on.answer.body += reply->readAll();
    });
    QObject::connect(reply, &QNetworkReply::sslErrors, [this, &on, reply](const QList<QSslError> &) {
        const QByteArray digest = reply->sslConfiguration().peerCertificate().digest(QCryptographicHash::Sha256);
        if (!m_account.pinned.isEmpty() && digest == m_account.pinned)
            reply->ignoreSslErrors();
        else
            on.refused = digest;
    });
    return exchange;
}

Reply DavClient::finish(Exchange &exchange)
{
    QNetworkReply *reply = exchange.reply.get();
    if (exchange.tooLarge)
        throw SyncError(SyncError::TooLarge, QStringLiteral("Il server ha mandato una risposta troppo grande."));
    if (!exchange.refused.isEmpty())
        throw SyncError(SyncError::Certificate,
                        QStringLiteral("Il certificato del server non è attendibile. Impronta SHA-256: %1")
                            .arg(hexFingerprint(exchange.refused)),
                        exchange.refused);
    Reply answer = std::move(exchange.answer);
    if (reply->isOpen())
        answer.body += reply->readAll();
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.url = exchange.url;
    if (answer.status == 0) {
        const bool timedOut = reply->error() == QNetworkReply::OperationCanceledError ||
                              reply->error() == QNetworkReply::TimeoutError;
        throw SyncError(SyncError::Network,
                        timedOut ? QStringLiteral("Il server %1 non risponde.").arg(exchange.url.host())
                                 : QStringLiteral("Server non raggiungibile: %1.").arg(reply->errorString()));
    }
    // A redirect's target travels in place of the ETag, which it never has.
    answer.etag = answer.status / 100 == 3 ? reply->rawHeader("Location") : reply->rawHeader("ETag");
    return answer;
}

Reply DavClient::sendOnce(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                          const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    const std::unique_ptr<Exchange> exchange = start(verb, url, body, headers);
    QEventLoop loop;
    QObject::connect(exchange->reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!exchange->reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return finish(*exchange);
}

void DavClient::sendAll(const std::vector<Request> &requests, int parallel,
                        const std::function<void(std::size_t, const Reply &)> &answered)
{
    std::vector<std::pair<std::size_t, std::unique_ptr<Exchange>>> flying;
    std::size_t next = 0;
    QEventLoop loop;
    while (next < requests.size() || !flying.empty()) {
        for (; next < requests.size() && int(flying.size()) < parallel; ++next) {
            const Request &request = requests[next];
            flying.emplace_back(next, start(request.verb, request.url, request.body, request.headers));
            QObject::connect(flying.back().second->reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        }
        const auto done = std::find_if(flying.begin(), flying.end(), [](const auto &f) { return f.second->reply->isFinished(); });
        if (done == flying.end()) {
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            continue;
        }
        const auto [index, exchange] = std::move(*done);
        flying.erase(done);
        const Reply reply = finish(*exchange);
        // A redirect is followed alone, as any request's is.
        answered(index, reply.status / 100 == 3 ? send(requests[index].verb, requests[index].url, requests[index].body,
                                                       requests[index].headers)
                                                : reply);
    }
}

Multistatus DavClient::propfind(const QUrl &url, int depth, const QByteArray &properties)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:propfind xmlns:d=\"DAV:\" "
                            "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>" + properties + "</d:prop></d:propfind>";
    return report(url, body, depth, "PROPFIND");
}

Multistatus DavClient::report(const QUrl &url, const QByteArray &body, int depth, const QByteArray &verb)
{
    const Reply reply = send(verb, url, body,
                             {{"Depth", QByteArray::number(depth)}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (reply.status != 207)
        fail(reply, QString::fromLatin1(verb));
    return parseMultistatus(reply.body, reply.url);
}

void DavClient::fail(const Reply &reply, const QString &what)
{
    switch (reply.status) {
    case 401: throw SyncError(SyncError::Password, QStringLiteral("Nome utente o password non accettati dal server."));
    case 403: throw SyncError(SyncError::Password, QStringLiteral("Il server nega l'accesso alla rubrica."));
    case 404:
    case 410: throw SyncError(SyncError::Gone, QStringLiteral("La rubrica non esiste più sul server."));
    case 507: throw SyncError(SyncError::Storage, QStringLiteral("Il server non ha più spazio per i contatti."));
    default:
        throw SyncError(SyncError::Server, QStringLiteral("Il server ha risposto %1 a %2.").arg(reply.status).arg(what));
    }
}

} // namespace carddav
