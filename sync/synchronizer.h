#pragma once

// Two-way sync of a contact file with one address book on a CardDAV server: what each side changed since they last
// agreed travels to the other, through the file's one write path; nothing is lost when both changed a contact.

#include "davclient.h"
#include "synclinks.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class Database;

namespace carddav {

// Where a file syncs to, kept in the file itself beside its links.
struct Settings
{
    QUrl server; // as the user gave it
    QString user;
    QUrl addressBook;
    QByteArray pinned;
    bool cleartext = false;
    bool syncCollection = false; // the address book answers sync-collection reports
    QString token;
};

Settings readSettings(Database &database);
// Makes the file a synced one (its tables) and keeps the settings; within the caller's transaction.
void writeSettings(Database &database, const Settings &settings);

struct AddressBook
{
    QUrl url;
    QString name;
    bool syncCollection = false;
};

// The address books the user has on the server at `server`: the address itself when it is one, otherwise those
// found through the principal's home (found at the address or at /.well-known/carddav).
std::vector<AddressBook> discoverAddressBooks(DavClient &client, const QUrl &server);

struct SyncOptions
{
    bool dryRun = false;
    bool force = false; // past the guard against removing most contacts
    bool syncCollection = true; // false compares every ETag even where the server offers sync tokens
    int batch = 100;
};

struct SyncResult
{
    int sent = 0, received = 0, removed = 0, conflicts = 0;
    QStringList conflictNames;
    // Records the sync added, changed or removed here, for a list that shows them.
    std::vector<qint64> added, changed, removedRecords;
    QString summary() const;
};

// Told what the sync is doing, now and then: a step and how far it is.
using SyncProgress = std::function<void(const QString &step, int done, int total)>;

// Runs one sync of the contact file at `path`; SyncError for what stops it, EngineError for the file. A sync that
// stops leaves the file consistent: the next one finishes the work.
SyncResult synchronize(const QString &path, const QString &password, const SyncOptions &options,
                       const SyncProgress &progress = {});

} // namespace carddav
