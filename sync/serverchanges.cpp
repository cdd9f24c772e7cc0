#include "serverchanges.h"

#include "cardtext.h"

namespace carddav {

namespace {

const QByteArray CardProperties = "<d:getetag/><c:address-data/>";

} // namespace

std::map<QString, QByteArray> knownCards(Database &database)
{
    std::map<QString, QByteArray> known;
    for (const auto &[record, link] : links::linked(database))
        known.emplace(link.href, link.etag);
    for (const auto &[record, link] : links::removed(database))
        known.emplace(link.href, link.etag);
    return known;
}

ServerChanges compareAll(DavClient &client, const QUrl &book, Database &database)
{
    const Multistatus listing = client.propfind(book, 1, "<d:getetag/><d:sync-token/>");
    ServerChanges changes;
    const std::map<QString, QByteArray> known = knownCards(database);
    std::set<QString> present;
    for (const Resource &resource : listing.resources) {
        if (resource.path == book.path(QUrl::FullyDecoded)) {
            changes.token = resource.syncToken;
            continue;
        }
        if (resource.status / 100 != 2 || !resource.path.startsWith(book.path(QUrl::FullyDecoded)))
            continue;
        present.insert(resource.path);
        const auto stored = known.find(resource.path);
        if (stored == known.end() || stored->second != resource.etag || resource.etag.isEmpty())
            changes.changed.emplace(resource.path, resource.etag);
    }
    for (const auto &[path, etag] : known) {
        if (!present.count(path))
            changes.gone.insert(path);
    }
    return changes;
}

std::optional<ServerChanges> changesSince(DavClient &client, const QUrl &book, const QString &token)
{
    QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>";
    body += token.toHtmlEscaped().toUtf8();
    body += "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>";
    const Reply reply = client.send("REPORT", book, body, {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (reply.status == 401 || reply.status == 404 || reply.status == 410 || reply.status == 507)
        DavClient::fail(reply, QStringLiteral("REPORT"));
    if (reply.status != 207)
        return std::nullopt;
    const Multistatus listing = parseMultistatus(reply.body, reply.url);
    ServerChanges changes;
    changes.token = listing.syncToken;
    const QString prefix = book.path(QUrl::FullyDecoded);
    for (const Resource &resource : listing.resources) {
        if (!resource.path.startsWith(prefix) || resource.path == prefix)
            continue;
        if (resource.status == 404)
            changes.gone.insert(resource.path);
        else if (resource.status / 100 == 2)
            changes.changed.emplace(resource.path, resource.etag);
    }
    return changes;
}

// The cards of a multiget or query answer, those said to be outside the address book left out.
void addCards(std::vector<Card> &cards, Multistatus &&answer, const QUrl &book)
{
    const QString prefix = book.path(QUrl::FullyDecoded);
    for (Resource &resource : answer.resources) {
        if (resource.status / 100 == 2 && !resource.card.isEmpty() && resource.path.startsWith(prefix)) {
            const Contact texts = cardContact(resource.card);
            cards.push_back({std::move(resource.path), std::move(resource.etag), std::move(resource.card), texts});
        }
    }
}

std::optional<std::vector<Card>> fetchAllCards(DavClient &client, const QUrl &book)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><c:addressbook-query xmlns:d=\"DAV:\" "
                            "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>" + CardProperties + "</d:prop></c:addressbook-query>";
    std::vector<Card> cards;
    try {
        addCards(cards, client.report(book, body, 1), book);
    } catch (const SyncError &error) {
        if (error.kind() != SyncError::TooLarge)
            throw;
        return std::nullopt;
    }
    return cards;
}

std::vector<Card> fetchCards(DavClient &client, const QUrl &book, const std::vector<QString> &paths, int batch,
                             const std::function<void(const QString &step, int done, int total)> &progress)
{
    std::vector<Card> cards;
    for (std::size_t first = 0; first < paths.size(); first += std::size_t(batch)) {
        QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><c:addressbook-multiget xmlns:d=\"DAV:\" "
                          "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>" + CardProperties + "</d:prop>";
        for (std::size_t i = first; i < std::min(paths.size(), first + std::size_t(batch)); ++i)
            body += "<d:href>" + onServer(book, paths[i]).path(QUrl::FullyEncoded).toHtmlEscaped().toUtf8() + "</d:href>";
        body += "</c:addressbook-multiget>";
        addCards(cards, client.report(book, body, 1), book);
        if (progress)
            progress(QStringLiteral("Ricezione"), int(std::min(paths.size(), first + std::size_t(batch))), int(paths.size()));
    }
    return cards;
}

} // namespace carddav
