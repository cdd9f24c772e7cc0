#include "synchronizer.h"

#include "backup.h"
#include "cardtext.h"
#include "contacts.h"
#include "modDB.h"
#include "serverchanges.h"
#include "vcard.h"

#include <QUuid>

#include <map>
#include <set>

namespace carddav {

namespace {

QString nameOf(const Contact &contact)
{
    return vcard::formattedName(contact);
}

// How many new cards are on their way to the server at once.
constexpr int ParallelSends = 4;

void keepToken(Database &database, const QString &token)
{
    Transaction transaction(database);
    links::setSetting(database, "token", token);
    transaction.Commit();
}

// One sync of one file: the file, the server and what the sync did so far.
class Sync
{
public:
    Sync(Database &database, DavClient &client, const Settings &settings, const SyncOptions &options,
         const SyncProgress &progress)
        : m_db(database), m_client(client), m_settings(settings), m_book(settings.addressBook), m_options(options),
          m_progress(progress)
    {
    }

private:
    // Takes a card the server changed into the file: merged with the contact's own changes, or, where both sides
    // changed a text differently, the card's texts for the contact and its own as a new contact.
    void absorb(const Card &card, ContactRecords &records)
    {
        std::optional<std::pair<qint64, links::Link>> owner = links::linkOf(m_db, card.path);
        // A link to a record the file no longer has (another tool removed it without the triggers) is dropped.
        std::optional<Contact> stored = owner ? records.read(owner->first) : std::nullopt;
        if (owner && !stored)
            links::unlink(m_db, owner->first);
        if (!stored) {
            absorbNew(card);
            return;
        }
        auto [record, link] = *owner;
        const Contact local = links::comparable(*stored);
        Contact merged = local;
        bool conflict = false;
        for (std::size_t k = 0; k < merged.size(); ++k) {
            if (local[k] == link.synced[k])
                merged[k] = card.texts[k];
            else if (card.texts[k] != link.synced[k] && card.texts[k] != local[k])
                conflict = true;
        }
        if (conflict) {
            merged = card.texts;
            const qint64 copy = appendContacts(m_db, {local}).front();
            m_result.added.push_back(copy);
            ++m_result.conflicts;
            m_result.conflictNames << nameOf(local);
        }
        if (merged != local) {
            records.write(record, merged);
            m_result.changed.push_back(record);
            ++m_result.received;
        }
        link.etag = card.etag;
        link.synced = card.texts;
        links::link(m_db, record, link);
    }

    // A card the file has no link to: a contact removed here comes back changed; a contact with the same six texts
    // is linked to it; otherwise it becomes a new contact.
    void absorbNew(const Card &card)
    {
        links::forgetRemoved(m_db, card.path);
        const QString uid = cardUid(card.text);
        if (isEmptyContact(card.texts))
            return;
        const auto twin = m_unlinked.find(card.texts);
        qint64 record;
        if (twin != m_unlinked.end() && !twin->second.empty()) {
            record = twin->second.back();
            twin->second.pop_back();
        } else {
            record = appendContacts(m_db, {card.texts}).front();
            m_result.added.push_back(record);
            ++m_result.received;
        }
        links::link(m_db, record, {uid.isEmpty() ? card.path.section(u'/', -1) : uid, card.path, card.etag, card.texts});
    }

    // A card gone from the server: its contact goes too, unless it was changed here since; then it stays, to be
    // sent as a new card.
    void absorbGone(const QString &path, ContactRecords &records)
    {
        links::forgetRemoved(m_db, path);
        const std::optional<std::pair<qint64, links::Link>> owner = links::linkOf(m_db, path);
        if (!owner)
            return;
        const auto &[record, link] = *owner;
        const std::optional<Contact> stored = records.read(record);
        if (!stored || links::comparable(*stored) != link.synced) {
            links::unlink(m_db, record);
            return;
        }
        records.remove(record);
        links::forgetRemoved(m_db, path);
        m_result.removedRecords.push_back(record);
        ++m_result.removed;
    }

    // How many contacts taking the server's removals would remove here.
    int removalsFrom(const ServerChanges &changes)
    {
        // Only the contacts of cards gone are read: most syncs have none.
        ContactRecords records(m_db);
        int removals = 0;
        for (const QString &path : changes.gone) {
            const std::optional<std::pair<qint64, links::Link>> owner = links::linkOf(m_db, path);
            const std::optional<Contact> stored = owner ? records.read(owner->first) : std::nullopt;
            removals += stored && links::comparable(*stored) == owner->second.synced;
        }
        return removals;
    }

    // Unlinked contacts by their texts, so that a card with the same texts is linked to one rather than doubled.
    void indexUnlinked()
    {
        const std::map<qint64, links::Link> linked = links::linked(m_db);
        m_unlinked.clear();
        for (const auto &[record, texts] : links::records(m_db)) {
            if (!linked.count(record))
                m_unlinked[links::comparable(texts)].push_back(record);
        }
    }

    // The server's changes into the file, one transaction per batch of cards; a card whose ETag is the one the
    // file knows (this program's own change, reported back) is not fetched.
    void pull(const ServerChanges &changes)
    {
        const std::map<QString, QByteArray> known = knownCards(m_db);
        std::vector<QString> paths;
        for (const auto &[path, etag] : changes.changed) {
            const auto stored = known.find(path);
            if (stored == known.end() || stored->second != etag || etag.isEmpty())
                paths.push_back(path);
        }
        // A first sync of a large address book takes every card in one query; otherwise cards come by name.
        std::optional<std::vector<Card>> all;
        if (m_first && paths.size() > std::size_t(2 * m_options.batch))
            all = fetchAllCards(m_client, m_book);
        if (all) {
            const std::set<QString> wanted(paths.begin(), paths.end());
            all->erase(std::remove_if(all->begin(), all->end(), [&](const Card &card) { return !wanted.count(card.path); }),
                       all->end());
        }
        for (std::size_t first = 0; first < paths.size(); first += std::size_t(m_options.batch)) {
            const std::size_t last = std::min(paths.size(), first + std::size_t(m_options.batch));
            const std::vector<Card> cards =
                all ? std::vector<Card>(std::make_move_iterator(all->begin() + qsizetype(std::min(first, all->size()))),
                                        std::make_move_iterator(all->begin() + qsizetype(std::min(last, all->size()))))
                    : fetchCards(m_client, m_book, {paths.begin() + qsizetype(first), paths.begin() + qsizetype(last)},
                                 m_options.batch);
            Transaction transaction(m_db);
            ContactRecords records(m_db);
            for (const Card &card : cards)
                absorb(card, records);
            transaction.Commit();
            report(QStringLiteral("Ricezione"), last, paths.size());
        }
        Transaction transaction(m_db);
        ContactRecords records(m_db);
        for (const QString &path : changes.gone)
            absorbGone(path, records);
        transaction.Commit();
    }

    // Contacts removed here: their cards go from the server, unless a card changed there meanwhile; then it comes
    // back here as it is now.
    void pushRemovals()
    {
        for (const auto &[record, link] : links::removed(m_db)) {
            const Reply reply = m_client.send("DELETE", onServer(m_book, link.href), {}, {{"If-Match", link.etag}});
            Transaction transaction(m_db);
            if (reply.status == 412) {
                for (const Card &card : fetchCards(m_client, m_book, {link.href}, 1, {}))
                    absorbNew(card);
            } else if (reply.status / 100 != 2 && reply.status != 404 && reply.status != 410) {
                DavClient::fail(reply, QStringLiteral("DELETE"));
            } else {
                links::forgetRemoved(m_db, link.href);
                ++m_result.removed;
            }
            transaction.Commit();
        }
    }

    // Contacts changed here: each change merged into the card's own text and written back only if the card is
    // still the one merged into; otherwise the card's news is taken first, and the merge tried again.
    void pushChanges()
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::map<QString, qint64> changed;
            const links::Records all = links::records(m_db);
            const std::map<qint64, links::Link> linked = links::linked(m_db);
            for (const auto &[record, texts] : all) {
                const auto link = linked.find(record);
                if (link != linked.end() && links::comparable(texts) != link->second.synced)
                    changed.emplace(link->second.href, record);
            }
            if (changed.empty())
                return;
            std::vector<QString> paths;
            for (const auto &[path, record] : changed)
                paths.push_back(path);
            const std::vector<Card> cards = fetchCards(m_client, m_book, paths, m_options.batch, {});
            std::set<QString> found;
            int done = 0;
            for (const Card &card : cards) {
                found.insert(card.path);
                pushChange(card, changed.at(card.path), linked.at(changed.at(card.path)));
                report(QStringLiteral("Invio"), ++done, int(cards.size()));
            }
            // A card gone meanwhile: the contact is sent as a new card.
            Transaction transaction(m_db);
            for (const auto &[path, record] : changed) {
                if (!found.count(path))
                    links::unlink(m_db, record);
            }
            transaction.Commit();
        }
    }

    void pushChange(const Card &card, qint64 record, links::Link link)
    {
        Transaction transaction(m_db);
        ContactRecords records(m_db);
        if (card.etag != link.etag) {
            // The card changed since the last sync: its news is taken first; the next attempt sends the merge.
            absorb(card, records);
            transaction.Commit();
            return;
        }
        const std::optional<Contact> stored = records.read(record);
        if (!stored)
            return; // removed meanwhile: its card goes with the next sync's removals
        const Contact local = links::comparable(*stored);
        const QByteArray merged = mergeIntoCard(card.text, link.synced, local);
        const Reply reply = m_client.send("PUT", onServer(m_book, card.path), merged,
                                          {{"If-Match", card.etag}, {"Content-Type", "text/vcard; charset=utf-8"}});
        if (reply.status == 412)
            return; // the next attempt fetches the card again
        if (reply.status / 100 != 2)
            DavClient::fail(reply, QStringLiteral("PUT"));
        link.etag = reply.etag;
        link.synced = local;
        links::link(m_db, record, link);
        transaction.Commit();
        ++m_result.sent;
    }

    // Contacts without a card, each sent as a new card; their links written one transaction per batch.
    void pushNew()
    {
        const std::map<qint64, links::Link> linked = links::linked(m_db);
        std::vector<std::pair<qint64, Contact>> unlinked;
        for (const auto &[record, texts] : links::records(m_db)) {
            if (!linked.count(record) && !isEmptyContact(texts))
                unlinked.emplace_back(record, links::comparable(texts));
        }
        std::vector<std::pair<qint64, links::Link>> made;
        const auto store = [&] {
            Transaction transaction(m_db);
            for (const auto &[record, link] : made)
                links::link(m_db, record, link);
            transaction.Commit();
            made.clear();
        };
        // A batch's cards go out a few at a time, their links stored when the batch is answered.
        for (std::size_t first = 0; first < unlinked.size(); first += std::size_t(m_options.batch)) {
            const std::size_t last = std::min(unlinked.size(), first + std::size_t(m_options.batch));
            std::vector<DavClient::Request> requests;
            std::vector<links::Link> cards;
            for (std::size_t i = first; i < last; ++i) {
                const QString uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
                const QString path = m_book.path(QUrl::FullyDecoded) + uid + QLatin1String(".vcf");
                cards.push_back({uid, path, {}, unlinked[i].second});
                requests.push_back({"PUT", onServer(m_book, path), newCard(unlinked[i].second, uid),
                                    {{"If-None-Match", "*"}, {"Content-Type", "text/vcard; charset=utf-8"}}});
            }
            std::optional<Reply> refused;
            const auto answered = [&](std::size_t index, const Reply &reply) {
                if (reply.status / 100 != 2) {
                    refused = refused.value_or(reply);
                    return;
                }
                cards[index].etag = reply.etag;
                made.emplace_back(unlinked[first + index].first, cards[index]);
                ++m_result.sent;
                report(QStringLiteral("Invio"), std::size_t(m_result.sent), unlinked.size());
            };
            try {
                m_client.sendAll(requests, ParallelSends, answered);
            } catch (...) {
                // Cards the server took before the failure keep their links.
                store();
                throw;
            }
            store();
            if (refused)
                DavClient::fail(*refused, QStringLiteral("PUT"));
        }
    }

    // What the sync would do, counted without changing anything on either side.
    SyncResult preview(const ServerChanges &changes, int removals)
    {
        std::vector<QString> paths;
        for (const auto &[cardPath, etag] : changes.changed)
            paths.push_back(cardPath);
        SyncResult result;
        indexUnlinked();
        for (const Card &card : fetchCards(m_client, m_book, paths, m_options.batch, m_progress)) {
            const auto twin = m_unlinked.find(card.texts);
            if (twin != m_unlinked.end() && !twin->second.empty())
                twin->second.pop_back();
            else if (!isEmptyContact(card.texts))
                ++result.received;
        }
        for (const auto &[texts, records] : m_unlinked)
            result.sent += isEmptyContact(texts) ? 0 : int(records.size());
        const std::map<qint64, links::Link> linked = links::linked(m_db);
        for (const auto &[record, texts] : links::records(m_db)) {
            const auto link = linked.find(record);
            result.sent += link != linked.end() && links::comparable(texts) != link->second.synced;
        }
        result.removed = removals + int(links::removed(m_db).size());
        return result;
    }

public:
    // The server's changes first, with the token after them; then this file's removals, changes and new
    // contacts; each step's state stored as it completes.
    SyncResult run(const QString &path)
    {
        m_first = m_settings.token.isEmpty() && links::linked(m_db).empty() && links::removed(m_db).empty();
        // A first sync asks for every card by a report without a token too, which some servers answer far sooner
        // than a PROPFIND (Radicale: 3 s against 20 s for 10,000 cards); it tells no removals, which a first sync
        // has none of.
        std::optional<ServerChanges> changes;
        if (m_settings.syncCollection && m_options.syncCollection && (!m_settings.token.isEmpty() || m_first))
            changes = changesSince(m_client, m_settings.addressBook, m_settings.token);
        if (!changes)
            changes = compareAll(m_client, m_settings.addressBook, m_db);

        const int removals = removalsFrom(*changes);
        // The contacts are counted only when the removals are many enough to matter.
        const int contacts = removals > 20 ? int(links::records(m_db).size()) : 0;
        if (removals > 20 && removals * 2 > contacts && !m_options.force)
            throw SyncError(SyncError::Guard,
                            QStringLiteral("La sincronizzazione eliminerebbe %1 dei %2 contatti; nulla è stato cambiato.")
                                .arg(removals).arg(contacts));

        if (m_options.dryRun)
            return preview(*changes, removals);

        if (m_first || removals > 0)
            keepCopy(m_db, path);
        const int tombstones = int(links::removed(m_db).size());
        indexUnlinked();
        pull(*changes);
        keepToken(m_db, changes->token);
        pushRemovals();
        pushChanges();
        pushNew();
        // A token from before this sync's own changes would hide a card sent now and removed by another client before
        // the next sync (a server reports differences between states): the changes since it are taken once more, this
        // program's own skipped by their ETags, and the token after them kept.
        const bool pushed = m_result.sent > 0 || int(links::removed(m_db).size()) < tombstones;
        if (pushed && !changes->token.isEmpty() && m_settings.syncCollection && m_options.syncCollection) {
            if (const std::optional<ServerChanges> after = changesSince(m_client, m_settings.addressBook, changes->token)) {
                pull(*after);
                keepToken(m_db, after->token);
            }
        }
        return m_result;
    }

private:
    void report(const QString &step, std::size_t done, std::size_t total)
    {
        if (m_progress)
            m_progress(step, int(done), int(total));
    }

    Database &m_db;
    DavClient &m_client;
    Settings m_settings;
    QUrl m_book;
    SyncResult m_result;
    std::map<Contact, std::vector<qint64>> m_unlinked;
    bool m_first = false; // no card linked yet, and no token
    SyncOptions m_options;
    SyncProgress m_progress;
};

} // namespace

QString SyncResult::summary() const
{
    QString text = QStringLiteral("Inviati %1, ricevuti %2, eliminati %3, conflitti %4.")
                       .arg(sent).arg(received).arg(removed).arg(conflicts);
    if (!conflictNames.isEmpty())
        text += QStringLiteral(" Copie per i conflitti: %1.").arg(conflictNames.join(QLatin1String(", ")));
    return text;
}

SyncResult synchronize(const QString &path, const QString &password, const SyncOptions &options,
                       const SyncProgress &progress)
{
    const std::unique_ptr<Database> database = modDB::OpenContactFile(path, false);
    Database &db = *database;
    if (!links::isSynced(db))
        throw SyncError(SyncError::Usage, QStringLiteral("La sincronizzazione non è impostata per %1.").arg(path));
    Settings settings = readSettings(db);
    DavClient client({settings.user, password, settings.pinned, settings.cleartext});
    return Sync(db, client, settings, options, progress).run(path);
}

} // namespace carddav
