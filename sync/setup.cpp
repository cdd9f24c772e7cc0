#include "synchronizer.h"

namespace carddav {

namespace {

const QByteArray DiscoveryProperties = "<d:resourcetype/><d:displayname/><d:current-user-principal/>"
                                       "<c:addressbook-home-set/><d:supported-report-set/>";

AddressBook addressBookOf(const Resource &resource, const QUrl &base)
{
    QString name = resource.displayName.trimmed();
    if (name.isEmpty())
        name = resource.path.section(u'/', -2, -2);
    return {onServer(base, resource.path), name, resource.syncCollection};
}

// PROPFIND at depth 0, or nothing where the server has no such resource.
std::optional<Resource> describe(DavClient &client, const QUrl &url)
{
    const Reply reply = client.send("PROPFIND", url,
                                    "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:propfind xmlns:d=\"DAV:\" "
                                    "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>" + DiscoveryProperties +
                                        "</d:prop></d:propfind>",
                                    {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (reply.status == 404 || reply.status == 405 || reply.status == 501 || reply.status == 400)
        return std::nullopt;
    if (reply.status != 207)
        DavClient::fail(reply, QStringLiteral("PROPFIND"));
    const Multistatus answer = parseMultistatus(reply.body, reply.url);
    if (answer.resources.empty())
        return std::nullopt;
    Resource resource = answer.resources.front();
    // Where a redirect led, the resource's own address is the one that answered.
    resource.path = reply.url.path(QUrl::FullyDecoded);
    return resource;
}

} // namespace

Settings readSettings(Database &database)
{
    const auto value = [&](const char *key) { return links::setting(database, key).value_or(QString()); };
    Settings settings;
    settings.server = QUrl(value("server"));
    settings.user = value("user");
    settings.addressBook = QUrl(value("addressbook"));
    settings.pinned = QByteArray::fromHex(value("pinned").toLatin1());
    settings.cleartext = value("cleartext") == QLatin1String("1");
    settings.syncCollection = value("sync-collection") == QLatin1String("1");
    settings.token = value("token");
    return settings;
}

void writeSettings(Database &database, const Settings &settings)
{
    links::createTables(database);
    links::setSetting(database, "server", settings.server.toString());
    links::setSetting(database, "user", settings.user);
    links::setSetting(database, "addressbook", settings.addressBook.toString());
    links::setSetting(database, "pinned", QString::fromLatin1(settings.pinned.toHex()));
    links::setSetting(database, "cleartext", settings.cleartext ? QStringLiteral("1") : QStringLiteral("0"));
    links::setSetting(database, "sync-collection", settings.syncCollection ? QStringLiteral("1") : QStringLiteral("0"));
    links::setSetting(database, "token", settings.token);
}

std::vector<AddressBook> discoverAddressBooks(DavClient &client, const QUrl &server)
{
    std::optional<Resource> start = describe(client, server);
    if (start && start->addressBook)
        return {addressBookOf(*start, server)};
    // The principal, at the address given or where the server's well-known address leads.
    if (!start || (start->principal.isEmpty() && start->home.isEmpty()))
        start = describe(client, server.resolved(QUrl(QStringLiteral("/.well-known/carddav"))));
    if (!start || (start->principal.isEmpty() && start->home.isEmpty()))
        throw SyncError(SyncError::NotCardDav, QStringLiteral("Nessun server CardDAV a %1.").arg(server.toDisplayString()));
    QUrl home = start->home;
    if (home.isEmpty()) {
        const std::optional<Resource> principal = describe(client, start->principal);
        home = principal ? principal->home : QUrl();
    }
    if (home.isEmpty())
        throw SyncError(SyncError::NotCardDav, QStringLiteral("Il server non indica dove sono le rubriche dell'utente."));
    std::vector<AddressBook> books;
    for (const Resource &resource : client.propfind(home, 1, DiscoveryProperties).resources) {
        if (resource.addressBook && resource.status / 100 == 2)
            books.push_back(addressBookOf(resource, home));
    }
    return books;
}

} // namespace carddav
