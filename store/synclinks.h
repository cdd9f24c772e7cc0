#pragma once

// What a contact file keeps about its address book on a server, in tables of its own beside Rubrica: the settings,
// each contact's link to its card (UID, address, ETag and the texts last synced) and the links of contacts removed
// here that the server has not yet been told of. A file without these tables is simply not synced.

#include "contacts.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace links {

// A contact's card on the server and the six texts both sides held when they last agreed.
struct Link
{
    QString uid;
    QString href;
    QByteArray etag;
    Contact synced;
};

// Every contact as the file holds it now, by record, in record order.
using Records = std::vector<std::pair<qint64, Contact>>;

bool isSynced(Database &database);
// Adds the tables and the triggers that keep links true whoever changes Rubrica; already there, nothing changes.
void createTables(Database &database);
// Forgets settings and every link: the file is as it was before sync was set up.
void dropTables(Database &database);

std::optional<QString> setting(Database &database, const char *key);
void setSetting(Database &database, const char *key, const QString &value);

Records records(Database &database);
// Keyed by record; those of removed contacts keyed by the record they had.
std::map<qint64, Link> linked(Database &database);
std::vector<std::pair<qint64, Link>> removed(Database &database);

// The record linked to the card at `href`, and its link.
std::optional<std::pair<qint64, Link>> linkOf(Database &database, const QString &href);
void link(Database &database, qint64 record, const Link &link);
void unlink(Database &database, qint64 record);
void forgetRemoved(Database &database, const QString &href);
// A removed contact brought back under a new record (taking a removal back) gets its card again; a file without
// sync tables, or a contact that never had a card, is left as it is.
void relinkRemoved(Database &database, qint64 removedRecord, qint64 newRecord);
// Each record's UID in record order, empty for contacts without a card: what an export writes.
std::vector<QString> uids(Database &database);

// Null and empty texts are the same to a card: both are no value.
Contact comparable(const Contact &contact);

} // namespace links
