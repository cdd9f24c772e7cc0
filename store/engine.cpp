#include "engine.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

QString foldCase(QStringView text)
{
    return text.toString().toUpper().toCaseFolded();
}

bool startsWithFolded(QStringView text, const QString &foldedPrefix)
{
    // Folding never shortens a text, so the prefix's length (plus a possible low surrogate) is enough.
    return foldCase(text.left(foldedPrefix.size() + 1)).startsWith(foldedPrefix);
}

namespace {

QByteArray utf8(const QString &text)
{
    return storableText(text).toUtf8();
}

// QString::fromUtf8 drops a leading byte-order mark, which is part of a stored text.
QString fromStored(const char *bytes, int size)
{
    static constexpr char bom[] = "\xEF\xBB\xBF";
    if (size >= 3 && std::memcmp(bytes, bom, 3) == 0)
        return QChar(0xFEFF) + fromStored(bytes + 3, size - 3);
    return QString::fromUtf8(bytes, size);
}

QString quoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

void failIf(bool failed, int number, const QString &text)
{
    if (failed)
        throw EngineError(number, text);
}

void configure(sqlite3 *db)
{
    sqlite::check(db, sqlite3_extended_result_codes(db, 1));
    sqlite::check(db, sqlite3_busy_timeout(db, 5000));
    for (const char *pragma : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=EXTRA"}) {
        sqlite::Statement statement(db, pragma);
        while (statement.step()) {
        }
    }
}

std::shared_ptr<sqlite3> open(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    const int result = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    std::shared_ptr<sqlite3> db(raw, [](sqlite3 *handle) { sqlite3_close_v2(handle); });
    if (result != SQLITE_OK) {
        const int number = raw ? sqlite3_extended_errcode(raw) : result;
        throw EngineError(number, QString::fromUtf8(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(result)));
    }
    configure(db.get());
    return db;
}

QString pendingName(const QString &path)
{
    return path + QLatin1String(".tmp");
}

void removeQuietly(const QString &path)
{
    QFile::remove(path);
}

// The new file is readable by its owner only: it holds personal data.
void createEmptyPrivateFile(const QString &path)
{
#ifdef _WIN32
    QFile file(path);
    failIf(!file.open(QIODevice::NewOnly | QIODevice::WriteOnly), SQLITE_CANTOPEN, file.errorString());
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    failIf(fd < 0, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)));
    const bool modeSet = ::fchmod(fd, 0600) == 0;
    const int error = errno;
    ::close(fd);
    failIf(!modeSet, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(error)));
#endif
}

// Moves the finished file into place, never over an existing one, and makes the move durable.
void moveIntoPlace(const QString &from, const QString &to)
{
#ifdef _WIN32
    const bool moved = MoveFileExW(reinterpret_cast<LPCWSTR>(from.utf16()), reinterpret_cast<LPCWSTR>(to.utf16()),
                                   MOVEFILE_WRITE_THROUGH);
    failIf(!moved, SQLITE_CANTOPEN, QStringLiteral("impossibile creare %1").arg(to));
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    int result = ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without an atomic no-replace rename: a hard link refuses an existing target too.
        result = ::link(source.constData(), target.constData());
        if (result == 0)
            ::unlink(source.constData());
    }
    failIf(result != 0, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)));
    const int dir = ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#endif
}

} // namespace

namespace sqlite {

void check(sqlite3 *db, int result)
{
    if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE)
        return;
    throw EngineError(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
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

void Statement::bind(int index, qint64 value)
{
    check(m_db, sqlite3_bind_int64(m_statement.get(), index, value));
}

void Statement::bind(int index, const QString &text)
{
    const QByteArray bytes = utf8(text);
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

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_statement.get(), column);
}

FieldValue Statement::text(int column) const
{
    const auto bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement.get(), column));
    if (!bytes) {
        // A null result is also how the engine says it ran out of memory converting a value.
        if (sqlite3_errcode(m_db) == SQLITE_NOMEM)
            check(m_db, SQLITE_NOMEM);
        return std::nullopt;
    }
    return fromStored(bytes, sqlite3_column_bytes(m_statement.get(), column));
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_statement.get());
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement.get(), column));
}

Transaction::Transaction(sqlite3 *db) : m_db(db)
{
    check(db, sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
}

Transaction::~Transaction()
{
    if (!m_done)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    check(m_db, sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr));
    m_done = true;
}

} // namespace sqlite

std::unique_ptr<Database> DBEngine::CreateDatabase(const QString &path)
{
    failIf(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), SQLITE_CANTOPEN,
           QStringLiteral("Il database %1 esiste già.").arg(path));
    // A temporary file left by an interrupted start is never finished; start it again.
    const QString pending = pendingName(path);
    removeQuietly(pending);
    removeQuietly(pending + QLatin1String("-journal"));
    createEmptyPrivateFile(pending);
    try {
        return std::unique_ptr<Database>(new Database(open(pending, SQLITE_OPEN_READWRITE), path, pending));
    } catch (...) {
        removeQuietly(pending);
        throw;
    }
}

std::unique_ptr<Database> DBEngine::OpenDatabase(const QString &path)
{
    return std::unique_ptr<Database>(new Database(open(path, SQLITE_OPEN_READWRITE), path, QString()));
}

Database::Database(std::shared_ptr<sqlite3> db, const QString &path, const QString &pendingPath)
    : m_db(std::move(db)), m_path(path), m_pendingPath(pendingPath)
{
}

Database::~Database()
{
    m_db.reset();
    if (!m_pendingPath.isEmpty()) {
        removeQuietly(m_pendingPath);
        removeQuietly(m_pendingPath + QLatin1String("-journal"));
    }
}

void Database::Execute(const QString &statement)
{
    failIf(!m_db, SQLITE_MISUSE, QStringLiteral("Il database è chiuso."));
    sqlite::Statement prepared(m_db.get(), utf8(statement).constData());
    while (prepared.step()) {
    }
}

void Database::Close()
{
    m_db.reset();
    if (!m_pendingPath.isEmpty()) {
        const QString pending = std::exchange(m_pendingPath, QString());
        try {
            moveIntoPlace(pending, m_path);
        } catch (...) {
            removeQuietly(pending);
            throw;
        }
    }
}

std::unique_ptr<Recordset> Database::OpenRecordset(const QString &table)
{
    failIf(!m_db, SQLITE_MISUSE, QStringLiteral("Il database è chiuso."));
    return std::unique_ptr<Recordset>(new Recordset(m_db, table));
}

QString Field::Name() const
{
    return m_recordset->m_columns.at(std::size_t(m_ordinal));
}

FieldValue Field::Value() const
{
    if (m_recordset->m_editBuffer)
        return m_recordset->m_editBuffer->at(std::size_t(m_ordinal));
    failIf(!m_recordset->m_current, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    return m_recordset->m_current->values.at(std::size_t(m_ordinal));
}

void Field::setValue(const QString &text)
{
    failIf(!m_recordset->m_editBuffer, SQLITE_MISUSE, QStringLiteral("Aggiornamento senza AddNew."));
    (*m_recordset->m_editBuffer)[std::size_t(m_ordinal)] = text.isNull() ? QString(QLatin1String("")) : text;
}

qint16 Fields::Count() const
{
    return qint16(m_recordset->m_columns.size());
}

Field Fields::Item(qint16 ordinal) const
{
    failIf(ordinal < 0 || ordinal >= Count(), SQLITE_RANGE, QStringLiteral("Elemento non trovato in questo insieme."));
    return Field(m_recordset, ordinal);
}

Field Fields::Item(const QString &name) const
{
    return Field(m_recordset, m_recordset->ordinalOf(name));
}

Recordset::Recordset(std::shared_ptr<sqlite3> db, const QString &table)
    : m_db(std::move(db)), m_table(table), m_quotedTable(quoted(table))
{
    m_walk.emplace(m_db.get(), utf8(QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(m_quotedTable)).constData());
    for (int column = 1; column < m_walk->columnCount(); ++column)
        m_columns.push_back(m_walk->columnName(column));
    if (m_walk->step())
        readCurrent(*m_walk);
    else
        m_walk.reset();
}

Recordset::~Recordset() = default;

int Recordset::ordinalOf(const QString &name) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    throw EngineError(SQLITE_RANGE, QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(name));
}

void Recordset::readCurrent(sqlite::Statement &statement)
{
    Current current{statement.int64(0), {}};
    current.values.reserve(m_columns.size());
    for (std::size_t column = 0; column < m_columns.size(); ++column)
        current.values.push_back(statement.text(int(column) + 1));
    m_current = std::move(current);
}

bool Recordset::load(qint64 rowid)
{
    m_walk.reset();
    sqlite::Statement statement(m_db.get(),
                                utf8(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid = ?").arg(m_quotedTable)).constData());
    statement.bind(1, rowid);
    if (!statement.step())
        return false;
    readCurrent(statement);
    return true;
}

void Recordset::MoveNext()
{
    failIf(!m_current, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    if (!m_walk) {
        // Away from the forward walk: continue from the current record's place.
        m_walk.emplace(m_db.get(),
                       utf8(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid > ? ORDER BY rowid").arg(m_quotedTable))
                           .constData());
        m_walk->bind(1, m_current->rowid);
    }
    if (m_walk->step()) {
        readCurrent(*m_walk);
    } else {
        m_walk.reset();
        m_current.reset();
    }
}

void Recordset::AddNew()
{
    m_editBuffer.emplace(m_columns.size());
}

void Recordset::CancelUpdate()
{
    m_editBuffer.reset();
}

void Recordset::Update()
{
    failIf(!m_editBuffer, SQLITE_MISUSE, QStringLiteral("Aggiornamento senza AddNew."));
    QStringList names;
    QStringList marks;
    for (const QString &column : m_columns) {
        names << quoted(column);
        marks << QStringLiteral("?");
    }
    sqlite::Statement insert(m_db.get(), utf8(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                  .arg(m_quotedTable, names.join(QLatin1Char(',')),
                                                       marks.join(QLatin1Char(','))))
                                             .constData());
    for (std::size_t i = 0; i < m_editBuffer->size(); ++i) {
        if (const FieldValue &value = (*m_editBuffer)[i])
            insert.bind(int(i) + 1, *value);
    }
    insert.step();
    m_lastModified = sqlite3_last_insert_rowid(m_db.get());
    m_editBuffer.reset();
}

void Recordset::FindFirst(const QString &column, const QString &prefix, std::optional<qint64> preferred)
{
    const int ordinal = ordinalOf(column);
    const QString folded = foldCase(prefix);
    if (preferred && load(*preferred)) {
        const FieldValue &value = m_current->values[std::size_t(ordinal)];
        if (value && startsWithFolded(*value, folded)) {
            m_noMatch = false;
            return;
        }
    }
    sqlite::Statement scan(m_db.get(), utf8(QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid")
                                                .arg(quoted(m_columns[std::size_t(ordinal)]), m_quotedTable))
                                           .constData());
    while (scan.step()) {
        const FieldValue value = scan.text(1);
        if (value && startsWithFolded(*value, folded)) {
            const qint64 rowid = scan.int64(0);
            scan.reset();
            m_noMatch = !load(rowid);
            return;
        }
    }
    m_noMatch = true;
}

void Recordset::Delete()
{
    failIf(!m_current, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    m_walk.reset();
    sqlite::Statement remove(m_db.get(), utf8(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_quotedTable)).constData());
    remove.bind(1, m_current->rowid);
    remove.step();
    m_current.reset();
}

std::optional<qint64> Recordset::Bookmark() const
{
    if (!m_current)
        return std::nullopt;
    return m_current->rowid;
}

void Recordset::setBookmark(qint64 bookmark)
{
    failIf(!load(bookmark), SQLITE_NOTFOUND, QStringLiteral("Segnalibro non valido."));
}
