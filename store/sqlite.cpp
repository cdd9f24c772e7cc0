#include "sqlite.h"

#include <sqlite3.h>

#include <QFile>

EngineError::EngineError(int number, const QString &text)
    : std::runtime_error(text.toStdString()), m_number(number), m_text(text)
{
}

QString storableText(const QString &text)
{
    QString result = text;
    const qsizetype size = result.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = result.at(i);
        if (c.isHighSurrogate() && i + 1 < size && result.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            result[i] = QChar::ReplacementCharacter;
    }
    return result;
}

QStringDecoder storedTextDecoder()
{
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
}

namespace sqlite {

namespace {

void configure(sqlite3 *db, int flags)
{
    check(db, sqlite3_extended_result_codes(db, 1));
    check(db, sqlite3_busy_timeout(db, 5000));
    if (flags & SQLITE_OPEN_READONLY) {
        // Another program's file: its schema may hold anything, and nothing of the file is changed.
        check(db, sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr));
        check(db, sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr));
        return;
    }
    for (const char *pragma : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=EXTRA"}) {
        Statement statement(db, pragma);
        while (statement.step()) {
        }
    }
}

} // namespace

void check(sqlite3 *db, int result)
{
    if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE)
        return;
    throw EngineError(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

void failIf(bool failed, int number, const QString &text)
{
    if (failed)
        throw EngineError(number, text);
}

std::shared_ptr<sqlite3> open(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    // Each connection is used by one thread only: the engine need not lock it around every call.
#ifdef _WIN32
    const QByteArray name = path.toUtf8(); // SQLite takes UTF-8 names on Windows, not the ANSI code page
#else
    const QByteArray name = QFile::encodeName(path);
#endif
    const int result = sqlite3_open_v2(name.constData(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    std::shared_ptr<sqlite3> db(raw, [](sqlite3 *handle) { sqlite3_close_v2(handle); });
    if (result != SQLITE_OK) {
        const int number = raw ? sqlite3_extended_errcode(raw) : result;
        throw EngineError(number, QString::fromUtf8(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(result)));
    }
    configure(db.get(), flags);
    return db;
}

void Statement::Finalizer::operator()(sqlite3_stmt *statement) const
{
    sqlite3_finalize(statement);
}

Statement::Statement(sqlite3 *db, const char *sql) : m_db(db)
{
    sqlite3_stmt *raw = nullptr;
    const int result = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    m_statement.reset(raw);
    check(db, result);
}

Statement::Statement(sqlite3 *db, const QString &sql) : Statement(db, storableText(sql).toUtf8().constData())
{
}

void Statement::bind(int index, qint64 value)
{
    check(m_db, sqlite3_bind_int64(m_statement.get(), index, value));
}

void Statement::bind(int index, const QString &text)
{
    const QByteArray bytes = storableText(text).toUtf8();
    // A null pointer would bind NULL: the empty text stays an empty text.
    check(m_db, sqlite3_bind_text(m_statement.get(), index, bytes.isNull() ? "" : bytes.constData(),
                                  int(bytes.size()), SQLITE_TRANSIENT));
}

bool Statement::step()
{
    const int result = sqlite3_step(m_statement.get());
    if (result != SQLITE_ROW && result != SQLITE_DONE) {
        sqlite3_reset(m_statement.get());
        check(m_db, result);
    }
    return result == SQLITE_ROW;
}

void Statement::reset()
{
    check(m_db, sqlite3_reset(m_statement.get()));
}

void Statement::clearBindings()
{
    check(m_db, sqlite3_clear_bindings(m_statement.get()));
}

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_statement.get(), column);
}

QByteArrayView Statement::bytes(int column) const
{
    const auto text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement.get(), column));
    if (!text) {
        // A null result is also how the engine says it ran out of memory converting a value.
        if (sqlite3_errcode(m_db) == SQLITE_NOMEM)
            check(m_db, SQLITE_NOMEM);
        return QByteArrayView();
    }
    return QByteArrayView(text, sqlite3_column_bytes(m_statement.get(), column));
}

FieldValue Statement::text(int column) const
{
    const QByteArrayView stored = bytes(column);
    if (stored.isNull())
        return std::nullopt;
    QStringDecoder decoder = storedTextDecoder();
    return QString(decoder(stored));
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_statement.get());
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement.get(), column));
}

Transaction::Transaction(std::shared_ptr<sqlite3> db, bool writing) : m_db(std::move(db))
{
    // A writer takes the write lock at once: a reader that later wants to write could not wait for it.
    Statement begin(m_db.get(), writing ? "BEGIN IMMEDIATE" : "BEGIN");
    begin.step();
}

Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit()
{
    Statement commit(m_db.get(), "COMMIT");
    commit.step();
    m_open = false;
}

} // namespace sqlite
