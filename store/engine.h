#pragma once

// The database engine the contact store talks to: a DAO-shaped layer (DBEngine, Database, Recordset, Fields, Field)
// over the SQLite wrapper of sqlite.h.

#include "sqlite.h"

#include <QString>
#include <QStringDecoder>

#include <memory>
#include <map>
#include <optional>
#include <vector>

class PendingFile;

class Recordset;

class Database
{
public:
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    void Execute(const QString &statement);
    // Releases the file; a database made by CreateDatabase or CreateReplacement is put in place here.
    void Close();
    std::unique_ptr<Recordset> OpenRecordset(const QString &table);
    // A table of that name, not a view.
    bool HasTable(const QString &name);

    sqlite3 *handle() const { return m_db.get(); }

private:
    friend struct DBEngine;
    friend class Transaction;
    Database(std::shared_ptr<sqlite3> db, std::unique_ptr<PendingFile> pending);
    // The connection, or the engine's error for a closed database.
    const std::shared_ptr<sqlite3> &open() const;

    std::shared_ptr<sqlite3> m_db;
    // While set, the new database is still being built under its pending name.
    std::unique_ptr<PendingFile> m_pending;
};

// All or nothing: what is changed while it lives is stored by Commit, and dropped when it ends without one.
// It waits for another writer as long as any change does.
class Transaction : public sqlite::Transaction
{
public:
    // A writer takes the write lock at once; one that only reads (`writing` false) lets other writers go on meanwhile.
    explicit Transaction(Database &database, bool writing = true);
};

struct DBEngine
{
    // A new, empty database; fails when the file exists. It is built under a temporary name
    // and appears under `path` only, complete, when it is closed.
    static std::unique_ptr<Database> CreateDatabase(const QString &path);
    // A new, empty database to take the place of the file at `path`, built like CreateDatabase's. Close keeps
    // that file under `keptPath` (or keptPath.1, .2, ...: never over another file), then moves the new one over it.
    static std::unique_ptr<Database> CreateReplacement(const QString &path, const QString &keptPath);
    // An existing database, shared and read-write; never creates or alters the file.
    static std::unique_ptr<Database> OpenDatabase(const QString &path);
    // Another program's database, read only, as it is: no setting of the file is changed and its schema is not trusted.
    static std::unique_ptr<Database> OpenForReading(const QString &path);

private:
    static std::unique_ptr<Database> createPending(const QString &path, const QString &keptPath);
};

class Field
{
public:
    QString Name() const;
    FieldValue Value() const;
    // The value without a copy; it stays valid until the cursor moves.
    std::optional<QStringView> View() const;
    // Into the edit buffer of AddNew or Edit: a null QString is stored as the empty text, a null FieldValue as null.
    void setValue(const QString &text);
    void setValue(const FieldValue &value);

private:
    friend class Fields;
    Field(Recordset *recordset, int ordinal) : m_recordset(recordset), m_ordinal(ordinal) {}
    Recordset *m_recordset;
    int m_ordinal;
};

class Fields
{
public:
    qint16 Count() const;
    Field Item(qint16 ordinal) const;
    Field Item(const QString &name) const;

private:
    friend class Recordset;
    explicit Fields(Recordset *recordset) : m_recordset(recordset) {}
    Recordset *m_recordset;
};

// An updatable cursor over one table, in rowid order; a record's bookmark is its rowid.
class Recordset
{
public:
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    bool Eof() const { return !m_onRecord; }
    void MoveNext();
    ::Fields Fields() { return ::Fields(this); }

    // An empty new record in the edit buffer; Update appends it.
    void AddNew();
    // The current record's values in the edit buffer; Update stores them over it, and it stays the current record.
    void Edit();
    void Update();
    // Drops the edit buffer; the current record stays as stored.
    void CancelUpdate();

    // Makes the first record whose `column` begins with `prefix` (case folded) the current one;
    // the `preferred` record, when it is given and matches, is taken before any other.
    void FindFirst(const QString &column, const QString &prefix, std::optional<qint64> preferred = std::nullopt);
    bool NoMatch() const { return m_noMatch; }
    void Delete();

    std::optional<qint64> Bookmark() const;
    void setBookmark(qint64 bookmark);
    // Makes the record with this bookmark the current one, as setBookmark does; NoMatch tells when there is none.
    void Seek(qint64 bookmark);
    std::optional<qint64> LastModified() const { return m_lastModified; }

private:
    friend class Database;
    friend class Transaction;
    friend class Field;
    friend class ::Fields;
    Recordset(std::shared_ptr<sqlite3> db, const QString &table);

    int ordinalOf(const QString &name) const;
    void readCurrent(sqlite::Statement &statement);
    bool load(qint64 rowid);
    // Binds the edit buffer's values from `first` on, null as null.
    void bindBuffer(sqlite::Statement &statement, int first);
    // An Edit's changed columns written to the record.
    void writeChanges(qint64 rowid);

    // The current record's texts, decoded into one buffer that is reused from record to record.
    struct Current
    {
        qint64 rowid = 0;
        QString texts;
        std::vector<qsizetype> ends;
        std::vector<bool> nulls;
        std::optional<QStringView> view(std::size_t ordinal) const;
    };

    std::shared_ptr<sqlite3> m_db;
    QString m_table;
    std::vector<QString> m_columns;
    mutable std::vector<const QChar *> m_nameSeen; // the text each column was last asked for by
    QString m_quotedTable;
    std::optional<sqlite::Statement> m_walk; // live only while walking forward from the start
    std::optional<sqlite::Statement> m_insert; // prepared on the first Update of an AddNew, then reused
    // An Edit's Update writes only the columns given a value, so that the others stay byte for byte as they are (a
    // text another program stored in another encoding, a blob); one statement for each set of columns, then reused.
    std::map<std::vector<bool>, sqlite::Statement> m_changes;
    std::vector<bool> m_changed;
    std::optional<sqlite::Statement> m_seek; // the record with a rowid, prepared on first use, then reused
    std::optional<sqlite::Statement> m_remove; // likewise for Delete
    Current m_current;
    bool m_onRecord = false;
    std::vector<QByteArrayView> m_stored; // the current record as the engine holds it, while it is decoded
    QStringDecoder m_decoder;
    std::optional<std::vector<FieldValue>> m_editBuffer;
    std::optional<qint64> m_editing; // the record an Edit's buffer goes back to; none for an AddNew
    std::optional<qint64> m_lastModified;
    bool m_noMatch = false;
};
