#pragma once

// The thin layer over SQLite's C API: one error type, one check, a statement, a transaction guard, and how texts
// go in and out as UTF-8.

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <memory>
#include <optional>
#include <stdexcept>

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

// The one UTF-8 decoding of stored texts: QString::fromUtf8 would drop a leading byte-order mark, which is part of
// a stored text.
QStringDecoder storedTextDecoder();

namespace sqlite {

// The one place where an engine result becomes an error.
void check(sqlite3 *db, int result);
// Throws the engine's error with that number and text when `failed`.
void failIf(bool failed, int number, const QString &text);

// A connection on `path` with SQLITE_OPEN_* `flags`; a read-only one trusts nothing in the file's schema.
std::shared_ptr<sqlite3> open(const QString &path, int flags);

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql);
    Statement(sqlite3 *db, const QString &sql);
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

// All or nothing: what is changed while it lives is stored by Commit, and dropped when it ends without one.
class Transaction
{
public:
    // A writer takes the write lock at once; one that only reads (`writing` false) lets other writers go on meanwhile.
    Transaction(std::shared_ptr<sqlite3> db, bool writing);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void Commit();

private:
    std::shared_ptr<sqlite3> m_db;
    bool m_open = true;
};

} // namespace sqlite
