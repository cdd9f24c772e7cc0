#pragma once

// What changed on the server since the last sync, asked in as few requests as the server allows, and the cards
// themselves, fetched in batches.

#include "davclient.h"
#include "synclinks.h"

#include <functional>
#include <map>
#include <set>

namespace carddav {

// A card as the server has it now.
struct Card
{
    QString path;
    QByteArray etag;
    QByteArray text;
    Contact texts;
};

// What changed on the server since the last sync: cards new or changed (their paths and ETags) and paths gone.
struct ServerChanges
{
    std::map<QString, QByteArray> changed;
    std::set<QString> gone;
    QString token;
};

// The cards the file knows, linked or removed here, with the ETag each had when they last agreed.
std::map<QString, QByteArray> knownCards(Database &database);
// Every card on the server, by ETag, against the links: what differs changed, what is missing went.
ServerChanges compareAll(DavClient &client, const QUrl &book, Database &database);
// The changes since `token` in one report, or nothing when the server no longer knows the token (or never offered
// sync reports): then every ETag is compared.
std::optional<ServerChanges> changesSince(DavClient &client, const QUrl &book, const QString &token);
// Every card of the address book in one query: what a first sync wants of a large address book, which some servers
// answer far sooner than multigets of every card by name (Xandikos reads its whole index for each name). Nothing
// when the answer would be too large; then multigets fetch them in batches.
std::optional<std::vector<Card>> fetchAllCards(DavClient &client, const QUrl &book);
// The cards at `paths`, fetched in batches with addressbook-multiget; one the server no longer has is left out.
std::vector<Card> fetchCards(DavClient &client, const QUrl &book, const std::vector<QString> &paths, int batch,
                             const std::function<void(const QString &step, int done, int total)> &progress = {});

} // namespace carddav
