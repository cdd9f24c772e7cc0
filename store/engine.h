#pragma once

// The database engine the contact store talks to: a DAO-shaped layer over SQLite's C API.

#include <QString>
#include <QStringDecoder>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Every failure of the engine, with its number (SQLite's extended result code) and its text.
class EngineError : public std::runtime_error
{
public:
    EngineError(int number, const QString &text);
    int number() const { return m_number; }
    QString text() const { return m_text; }

private:
    int m_number;
    QString m_text;
};

// A stored text: null is distinct from the empty text.
using FieldValue = std::optional<QString>;

// Lone surrogates cannot be stored as UTF-8; each becomes U+FFFD.
QString storableText(const QString &text);

namespace sqlite {

// The one place where an engine result becomes an error.
void check(sqlite3 *db, int result);

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql);
    Statement(Statement &&) noexcept = default;
    Statement &operator=(Statement &&) noexcept = default;

    void bind(int index, qint64 value);
    void bind(int index, const QString &text);
    // True while a row came; false once the statement is done.
    bool step();
    void reset();
    void clearBindings();

    qint64 int64(int column) const;
    FieldValue text(int column) const;
    // The column's UTF-8 bytes, or a null view for a null value.
    QByteArrayView bytes(int column) const;
    int columnCount() const;
    QString columnName(int column) const;

private:
    struct Finalizer { void operator()(sqlite3_stmt *statement) const; };
    sqlite3 *m_db;
    std::unique_ptr<sqlite3_stmt, Finalizer> m_statement;
};

} // namespace sqlite

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
    Database(std::shared_ptr<sqlite3> db, const QString &path, const QString &pendingPath);

    friend class Transaction;
    std::shared_ptr<sqlite3> m_db;
    QString m_path;
    // While not empty, the new database is still being built under this name.
    QString m_pendingPath;
    // For a replacement: the name the replaced file is kept under (or the first free one after it).
    QString m_keptPath;
    // Held while it is built, so that another start waits for it instead of building over it.
    int m_pendingLock = -1;
};

// All or nothing: what is changed while it lives is stored by Commit, and dropped when it ends without one.
// It waits for another writer as long as any change does.
class Transaction
{
public:
    // A transaction that only reads (`writing` false) lets other writers go on meanwhile.
    explicit Transaction(Database &database, bool writing = true);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void Commit();

private:
    std::shared_ptr<sqlite3> m_db;
    bool m_open = true;
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
    void setValue(const QString &text);

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

    void AddNew();
    void Update();
    void CancelUpdate();

    // Makes the first record whose `column` begins with `prefix` (case folded) the current one;
    // the `preferred` record, when it is given and matches, is taken before any other.
    void FindFirst(const QString &column, const QString &prefix, std::optional<qint64> preferred = std::nullopt);
    bool NoMatch() const { return m_noMatch; }
    void Delete();

    std::optional<qint64> Bookmark() const;
    void setBookmark(qint64 bookmark);
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
    std::optional<sqlite::Statement> m_insert; // prepared on the first Update, then reused
    Current m_current;
    bool m_onRecord = false;
    std::vector<QByteArrayView> m_stored; // the current record as the engine holds it, while it is decoded
    QStringDecoder m_decoder;
    std::optional<std::vector<FieldValue>> m_editBuffer;
    std::optional<qint64> m_lastModified;
    bool m_noMatch = false;
};
