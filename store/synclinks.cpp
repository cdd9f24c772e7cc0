#include "synclinks.h"

#include "modDB.h"

namespace links {

namespace {

const char *const Tables[] = {
    "CREATE TABLE IF NOT EXISTS SyncSettings (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS SyncLink (contact INTEGER PRIMARY KEY, uid TEXT NOT NULL, href TEXT NOT NULL UNIQUE,"
    " etag TEXT NOT NULL, t0 TEXT, t1 TEXT, t2 TEXT, t3 TEXT, t4 TEXT, t5 TEXT)",
    "CREATE TABLE IF NOT EXISTS SyncRemoved (href TEXT PRIMARY KEY, contact INTEGER NOT NULL, uid TEXT NOT NULL,"
    " etag TEXT NOT NULL, t0 TEXT, t1 TEXT, t2 TEXT, t3 TEXT, t4 TEXT, t5 TEXT)",
    // SQLite gives a removed last record's rowid to the next new one: a link kept by rowid alone would hand the new
    // contact the removed one's card. The link moves aside when its contact goes, and a new record never finds one.
    "CREATE TRIGGER IF NOT EXISTS SyncContactRemoved AFTER DELETE ON Rubrica BEGIN"
    " INSERT OR REPLACE INTO SyncRemoved SELECT href, contact, uid, etag, t0, t1, t2, t3, t4, t5 FROM SyncLink"
    " WHERE contact = OLD.rowid; DELETE FROM SyncLink WHERE contact = OLD.rowid; END",
    "CREATE TRIGGER IF NOT EXISTS SyncContactAdded AFTER INSERT ON Rubrica BEGIN"
    " DELETE FROM SyncLink WHERE contact = NEW.rowid; END"};

const char *const Drops[] = {"DROP TRIGGER IF EXISTS SyncContactRemoved", "DROP TRIGGER IF EXISTS SyncContactAdded",
                             "DROP TABLE IF EXISTS SyncLink", "DROP TABLE IF EXISTS SyncRemoved",
                             "DROP TABLE IF EXISTS SyncSettings"};

// Columns `first` to first + 5 of a row as a contact.
Contact textsAt(const sqlite::Statement &row, int first)
{
    Contact texts;
    for (int k = 0; k < 6; ++k)
        texts[std::size_t(k)] = row.text(first + k).value_or(QString());
    return texts;
}

Link linkAt(const sqlite::Statement &row, int first)
{
    return Link{*row.text(first), *row.text(first + 1), row.text(first + 2)->toLatin1(), textsAt(row, first + 3)};
}

void bindLink(sqlite::Statement &statement, int first, const Link &link)
{
    statement.bind(first, link.uid);
    statement.bind(first + 1, link.href);
    statement.bind(first + 2, QString::fromLatin1(link.etag));
    for (int k = 0; k < 6; ++k)
        statement.bind(first + 3 + k, link.synced[std::size_t(k)].value_or(QString()));
}

void run(Database &database, const char *sql, qint64 number)
{
    sqlite::Statement statement(database.handle(), sql);
    statement.bind(1, number);
    statement.step();
}

} // namespace

bool isSynced(Database &database)
{
    return database.HasTable(QStringLiteral("SyncLink")) && database.HasTable(QStringLiteral("SyncRemoved")) &&
           database.HasTable(QStringLiteral("SyncSettings"));
}

void createTables(Database &database)
{
    for (const char *statement : Tables)
        database.Execute(QString::fromLatin1(statement));
}

void dropTables(Database &database)
{
    for (const char *statement : Drops)
        database.Execute(QString::fromLatin1(statement));
}

std::optional<QString> setting(Database &database, const char *key)
{
    sqlite::Statement lookup(database.handle(), "SELECT value FROM SyncSettings WHERE key = ?");
    lookup.bind(1, QString::fromLatin1(key));
    if (!lookup.step())
        return std::nullopt;
    return lookup.text(0);
}

void setSetting(Database &database, const char *key, const QString &value)
{
    sqlite::Statement store(database.handle(), "INSERT OR REPLACE INTO SyncSettings (key, value) VALUES (?, ?)");
    store.bind(1, QString::fromLatin1(key));
    store.bind(2, value);
    store.step();
}

Records records(Database &database)
{
    Records all;
    const std::unique_ptr<Recordset> rows = database.OpenRecordset(modDB::TableName);
    const std::vector<Field> fields = modDB::ContactFields(*rows);
    for (; !rows->Eof(); rows->MoveNext()) {
        auto &[record, texts] = all.emplace_back(*rows->Bookmark(), Contact());
        for (std::size_t k = 0; k < texts.size(); ++k)
            texts[k] = fields[k].Value();
    }
    return all;
}

std::map<qint64, Link> linked(Database &database)
{
    std::map<qint64, Link> all;
    sqlite::Statement rows(database.handle(), "SELECT contact, uid, href, etag, t0, t1, t2, t3, t4, t5 FROM SyncLink");
    while (rows.step())
        all.emplace(rows.int64(0), linkAt(rows, 1));
    return all;
}

std::vector<std::pair<qint64, Link>> removed(Database &database)
{
    std::vector<std::pair<qint64, Link>> all;
    sqlite::Statement rows(database.handle(),
                           "SELECT contact, uid, href, etag, t0, t1, t2, t3, t4, t5 FROM SyncRemoved ORDER BY rowid");
    while (rows.step())
        all.emplace_back(rows.int64(0), linkAt(rows, 1));
    return all;
}

std::optional<std::pair<qint64, Link>> linkOf(Database &database, const QString &href)
{
    sqlite::Statement row(database.handle(),
                          "SELECT contact, uid, href, etag, t0, t1, t2, t3, t4, t5 FROM SyncLink WHERE href = ?");
    row.bind(1, href);
    if (!row.step())
        return std::nullopt;
    return std::make_pair(row.int64(0), linkAt(row, 1));
}

void link(Database &database, qint64 record, const Link &link)
{
    sqlite::Statement store(database.handle(),
                            "INSERT OR REPLACE INTO SyncLink (contact, uid, href, etag, t0, t1, t2, t3, t4, t5)"
                            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    store.bind(1, record);
    bindLink(store, 2, link);
    store.step();
}

void unlink(Database &database, qint64 record)
{
    run(database, "DELETE FROM SyncLink WHERE contact = ?", record);
}

void forgetRemoved(Database &database, const QString &href)
{
    sqlite::Statement forget(database.handle(), "DELETE FROM SyncRemoved WHERE href = ?");
    forget.bind(1, href);
    forget.step();
}

void relinkRemoved(Database &database, qint64 removedRecord, qint64 newRecord)
{
    if (!isSynced(database))
        return;
    sqlite::Statement latest(database.handle(), "SELECT uid, href, etag, t0, t1, t2, t3, t4, t5 FROM SyncRemoved"
                                                " WHERE contact = ? ORDER BY rowid DESC LIMIT 1");
    latest.bind(1, removedRecord);
    if (!latest.step())
        return;
    const Link card = linkAt(latest, 0);
    forgetRemoved(database, card.href);
    link(database, newRecord, card);
}

std::vector<QString> uids(Database &database)
{
    std::vector<QString> all;
    if (!isSynced(database))
        return all;
    sqlite::Statement rows(database.handle(),
                           "SELECT SyncLink.uid FROM Rubrica LEFT JOIN SyncLink ON contact = Rubrica.rowid ORDER BY Rubrica.rowid");
    while (rows.step())
        all.push_back(rows.text(0).value_or(QString()));
    return all;
}

Contact comparable(const Contact &contact)
{
    Contact texts;
    for (std::size_t k = 0; k < texts.size(); ++k)
        texts[k] = contact[k].value_or(QString());
    return texts;
}

} // namespace links
