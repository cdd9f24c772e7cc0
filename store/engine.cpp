#include "engine.h"
#include "textfold.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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

namespace {

QByteArray utf8(const QString &text)
{
    return storableText(text).toUtf8();
}

// QString::fromUtf8 would drop a leading byte-order mark, which is part of a stored text.
QStringDecoder storedTextDecoder()
{
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
}

std::optional<QByteArray> asciiOnly(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return std::nullopt;
    }
    return text.toLatin1();
}

enum class PrefixMatch { No, Yes, Unsure };

// Most surnames settle on their ASCII bytes; folding is needed only once a non-ASCII character shows up
// (a "ß" may fold to "ss", a Kelvin sign to "k").
PrefixMatch matchAsciiPrefix(QByteArrayView stored, const QByteArray &foldedPrefix)
{
    for (qsizetype i = 0; i < foldedPrefix.size(); ++i) {
        if (i == stored.size())
            return PrefixMatch::No;
        const char c = stored[i];
        if (static_cast<unsigned char>(c) >= 0x80)
            return PrefixMatch::Unsure;
        const char lower = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (lower != foldedPrefix[i])
            return PrefixMatch::No;
    }
    return PrefixMatch::Yes;
}

// Names, numbers and addresses are mostly ASCII: those bytes are copied straight, and the decoder takes the
// rest from the first other byte on, which always starts a character.
QChar *decodeStored(QStringDecoder &decoder, QChar *out, QByteArrayView stored)
{
    const auto *bytes = reinterpret_cast<const uchar *>(stored.data());
    qsizetype i = 0;
    for (; i < stored.size() && bytes[i] < 0x80; ++i)
        *out++ = QChar(bytes[i]);
    return i == stored.size() ? out : decoder.appendToBuffer(out, stored.sliced(i));
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

void configure(sqlite3 *db, int flags)
{
    sqlite::check(db, sqlite3_extended_result_codes(db, 1));
    sqlite::check(db, sqlite3_busy_timeout(db, 5000));
    if (flags & SQLITE_OPEN_READONLY) {
        // Another program's file: its schema may hold anything, and nothing of the file is changed.
        sqlite::check(db, sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr));
        sqlite::check(db, sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr));
        return;
    }
    for (const char *pragma : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=EXTRA"}) {
        sqlite::Statement statement(db, pragma);
        while (statement.step()) {
        }
    }
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

QString pendingName(const QString &path)
{
    return path + QLatin1String(".tmp");
}

void removeQuietly(const QString &path)
{
    QFile::remove(path);
}

// Takes the empty temporary file a new database is built in, readable by its owner only (it holds personal data),
// and returns the lock that keeps it. What an interrupted start left there is started again; a start building it
// right now holds the lock, so this one waits and then finds that start's database in place.
int takePendingFile(const QString &pending, const QString &path, bool replacing)
{
#ifdef _WIN32
    removeQuietly(pending);
    removeQuietly(pending + QLatin1String("-journal"));
    QFile file(pending);
    failIf(!file.open(QIODevice::NewOnly | QIODevice::WriteOnly), SQLITE_CANTOPEN, file.errorString());
    return -1;
#else
    const QByteArray name = QFile::encodeName(pending);
    for (int attempt = 0; attempt < 100; ++attempt) {
        failIf(!replacing && QFileInfo::exists(path), SQLITE_CANTOPEN,
               QStringLiteral("Il database %1 esiste già.").arg(path));
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == ELOOP) {
            ::unlink(name.constData());
            continue;
        }
        failIf(fd < 0, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)));
        // A file system without locks takes the file as it is.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            ::unlink((name + "-journal").constData());
            if (::ftruncate(fd, 0) == 0 && ::fchmod(fd, 0600) == 0)
                return fd;
            const int error = errno;
            ::close(fd);
            throw EngineError(SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(error)));
        }
        // Finished or given up while this start waited: look again.
        ::close(fd);
    }
    throw EngineError(SQLITE_CANTOPEN, QStringLiteral("impossibile creare %1").arg(path));
#endif
}

void releaseLock(int lock)
{
#ifndef _WIN32
    if (lock >= 0)
        ::close(lock);
#endif
}

void syncFolderOf(const QString &path)
{
#ifndef _WIN32
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#else
    Q_UNUSED(path);
#endif
}

// Moves the finished file into place, over the file it replaces or never over an existing one, and makes the
// move durable.
void moveIntoPlace(const QString &from, const QString &to, bool replacing)
{
#ifdef _WIN32
    const bool moved = MoveFileExW(reinterpret_cast<LPCWSTR>(from.utf16()), reinterpret_cast<LPCWSTR>(to.utf16()),
                                   MOVEFILE_WRITE_THROUGH | (replacing ? MOVEFILE_REPLACE_EXISTING : 0));
    failIf(!moved, SQLITE_CANTOPEN, QStringLiteral("impossibile creare %1").arg(to));
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    int result = replacing ? ::rename(source.constData(), target.constData())
                           : ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (!replacing && result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without an atomic no-replace rename: a hard link refuses an existing target too.
        result = ::link(source.constData(), target.constData());
        if (result == 0)
            ::unlink(source.constData());
    }
    failIf(result != 0, SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    syncFolderOf(to);
}

// Whether `name` already is the file at `path`: the second name an interrupted replacement gave it.
bool sameFile(const QString &path, const QString &name)
{
#ifdef _WIN32
    Q_UNUSED(path);
    Q_UNUSED(name);
    return false;
#else
    struct stat first {}, second {};
    return ::lstat(QFile::encodeName(path).constData(), &first) == 0 &&
           ::lstat(QFile::encodeName(name).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
#endif
}

bool hardLink(const QString &path, const QString &name)
{
#ifdef _WIN32
    return CreateHardLinkW(reinterpret_cast<LPCWSTR>(name.utf16()), reinterpret_cast<LPCWSTR>(path.utf16()), nullptr);
#else
    return ::link(QFile::encodeName(path).constData(), QFile::encodeName(name).constData()) == 0;
#endif
}

// Gives the file at `path` a second name, `kept` or the first free one of kept.1, kept.2, ..., and makes it
// durable: a hard link where the file system has them (atomic, and it costs nothing), a synced copy elsewhere.
// No existing file is ever overwritten.
void keepFile(const QString &path, const QString &kept)
{
    for (int n = 0;; ++n) {
        const QString name = n == 0 ? kept : kept + QLatin1Char('.') + QString::number(n);
        if (sameFile(path, name))
            return;
        if (QFileInfo::exists(name) || QFileInfo(name).isSymLink())
            continue;
        if (!hardLink(path, name)) {
            // Taken meanwhile: the next name.
            if (QFileInfo::exists(name))
                continue;
            QFile copy(name);
            failIf(!QFile::copy(path, name) || !copy.open(QIODevice::ReadWrite), SQLITE_CANTOPEN,
                   QStringLiteral("impossibile conservare %1 come %2").arg(path, name));
#ifdef _WIN32
            failIf(!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(copy.handle()))), SQLITE_IOERR_FSYNC,
                   QStringLiteral("impossibile salvare %1 sul disco").arg(name));
#else
            failIf(::fsync(copy.handle()) != 0, SQLITE_IOERR_FSYNC, QString::fromLocal8Bit(std::strerror(errno)));
#endif
        }
        syncFolderOf(name);
        return;
    }
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

} // namespace sqlite

std::unique_ptr<Database> DBEngine::CreateDatabase(const QString &path)
{
    failIf(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), SQLITE_CANTOPEN,
           QStringLiteral("Il database %1 esiste già.").arg(path));
    return createPending(path, QString());
}

std::unique_ptr<Database> DBEngine::CreateReplacement(const QString &path, const QString &keptPath)
{
    return createPending(path, keptPath);
}

std::unique_ptr<Database> DBEngine::createPending(const QString &path, const QString &keptPath)
{
    const QString pending = pendingName(path);
    const int lock = takePendingFile(pending, path, !keptPath.isEmpty());
    try {
        std::unique_ptr<Database> database(new Database(open(pending, SQLITE_OPEN_READWRITE), path, pending));
        database->m_pendingLock = lock;
        database->m_keptPath = keptPath;
        return database;
    } catch (...) {
        removeQuietly(pending);
        releaseLock(lock);
        throw;
    }
}

std::unique_ptr<Database> DBEngine::OpenForReading(const QString &path)
{
    return std::unique_ptr<Database>(new Database(open(path, SQLITE_OPEN_READONLY), path, QString()));
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
    releaseLock(m_pendingLock);
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
            if (!m_keptPath.isEmpty())
                keepFile(m_path, m_keptPath);
            moveIntoPlace(pending, m_path, !m_keptPath.isEmpty());
        } catch (...) {
            removeQuietly(pending);
            releaseLock(std::exchange(m_pendingLock, -1));
            throw;
        }
        releaseLock(std::exchange(m_pendingLock, -1));
    }
}

Transaction::Transaction(Database &database, bool writing) : m_db(database.m_db)
{
    failIf(!m_db, SQLITE_MISUSE, QStringLiteral("Il database è chiuso."));
    // A writer takes the write lock at once: a reader that later wants to write could not wait for it.
    sqlite::Statement begin(m_db.get(), writing ? "BEGIN IMMEDIATE" : "BEGIN");
    begin.step();
}

Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit()
{
    sqlite::Statement commit(m_db.get(), "COMMIT");
    commit.step();
    m_open = false;
}

bool Database::HasTable(const QString &name)
{
    failIf(!m_db, SQLITE_MISUSE, QStringLiteral("Il database è chiuso."));
    sqlite::Statement lookup(m_db.get(), "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE");
    lookup.bind(1, name);
    return lookup.step();
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
    if (const std::optional<QStringView> text = View())
        return text->toString();
    return std::nullopt;
}

std::optional<QStringView> Field::View() const
{
    if (m_recordset->m_editBuffer) {
        const FieldValue &edited = m_recordset->m_editBuffer->at(std::size_t(m_ordinal));
        return edited ? std::optional<QStringView>(*edited) : std::nullopt;
    }
    failIf(!m_recordset->m_onRecord, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    return m_recordset->m_current.view(std::size_t(m_ordinal));
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
    : m_db(std::move(db)), m_table(table), m_quotedTable(quoted(table)), m_decoder(storedTextDecoder())
{
    m_walk.emplace(m_db.get(), utf8(QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(m_quotedTable)).constData());
    for (int column = 1; column < m_walk->columnCount(); ++column)
        m_columns.push_back(m_walk->columnName(column));
    m_nameSeen.assign(m_columns.size(), nullptr);
    if (m_walk->step())
        readCurrent(*m_walk);
    else
        m_walk.reset();
}

Recordset::~Recordset() = default;

int Recordset::ordinalOf(const QString &name) const
{
    // Callers name columns with the same strings row after row: look first where that string was found.
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_nameSeen[i] == name.constData() && m_columns[i] == name)
            return int(i);
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i] == name) {
            m_nameSeen[i] = name.constData();
            return int(i);
        }
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    throw EngineError(SQLITE_RANGE, QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(name));
}

std::optional<QStringView> Recordset::Current::view(std::size_t ordinal) const
{
    if (nulls[ordinal])
        return std::nullopt;
    const qsizetype start = ordinal == 0 ? 0 : ends[ordinal - 1];
    return QStringView(texts).mid(start, ends[ordinal] - start);
}

void Recordset::readCurrent(sqlite::Statement &statement)
{
    const std::size_t count = m_columns.size();
    std::vector<QByteArrayView> &stored = m_stored;
    stored.resize(count);
    qsizetype total = 0;
    for (std::size_t column = 0; column < count; ++column) {
        stored[column] = statement.bytes(int(column) + 1);
        total += stored[column].size();
    }
    // UTF-8 never takes fewer code units than UTF-16, so the buffer holds the whole record.
    m_current.rowid = statement.int64(0);
    m_current.texts.resize(total);
    m_current.ends.resize(count);
    m_current.nulls.resize(count);
    QChar *const begin = m_current.texts.data();
    QChar *end = begin;
    for (std::size_t column = 0; column < count; ++column) {
        end = decodeStored(m_decoder, end, stored[column]);
        m_current.ends[column] = end - begin;
        m_current.nulls[column] = stored[column].isNull();
    }
    m_onRecord = true;
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
    failIf(!m_onRecord, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    if (!m_walk) {
        // Away from the forward walk: continue from the current record's place.
        m_walk.emplace(m_db.get(),
                       utf8(QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid > ? ORDER BY rowid").arg(m_quotedTable))
                           .constData());
        m_walk->bind(1, m_current.rowid);
    }
    if (m_walk->step()) {
        readCurrent(*m_walk);
    } else {
        m_walk.reset();
        m_onRecord = false;
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
    if (!m_insert) {
        QStringList names;
        QStringList marks;
        for (const QString &column : m_columns) {
            names << quoted(column);
            marks << QStringLiteral("?");
        }
        m_insert.emplace(m_db.get(), utf8(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                              .arg(m_quotedTable, names.join(QLatin1Char(',')),
                                                   marks.join(QLatin1Char(','))))
                                         .constData());
    }
    m_insert->clearBindings();
    for (std::size_t i = 0; i < m_editBuffer->size(); ++i) {
        if (const FieldValue &value = (*m_editBuffer)[i])
            m_insert->bind(int(i) + 1, *value);
    }
    m_insert->step();
    m_insert->reset();
    m_lastModified = sqlite3_last_insert_rowid(m_db.get());
    m_editBuffer.reset();
}

void Recordset::FindFirst(const QString &column, const QString &prefix, std::optional<qint64> preferred)
{
    const int ordinal = ordinalOf(column);
    const QString folded = foldCase(prefix);
    if (preferred && load(*preferred)) {
        const std::optional<QStringView> value = m_current.view(std::size_t(ordinal));
        if (value && startsWithFolded(*value, folded)) {
            m_noMatch = false;
            return;
        }
    }
    sqlite::Statement scan(m_db.get(), utf8(QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid")
                                                .arg(quoted(m_columns[std::size_t(ordinal)]), m_quotedTable))
                                           .constData());
    const std::optional<QByteArray> asciiPrefix = asciiOnly(folded);
    while (scan.step()) {
        const QByteArrayView stored = scan.bytes(1);
        if (stored.isNull())
            continue;
        const PrefixMatch quick = asciiPrefix ? matchAsciiPrefix(stored, *asciiPrefix) : PrefixMatch::Unsure;
        if (quick == PrefixMatch::No)
            continue;
        if (quick == PrefixMatch::Yes || startsWithFolded(*scan.text(1), folded)) {
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
    failIf(!m_onRecord, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    m_walk.reset();
    sqlite::Statement remove(m_db.get(), utf8(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_quotedTable)).constData());
    remove.bind(1, m_current.rowid);
    remove.step();
    m_onRecord = false;
}

std::optional<qint64> Recordset::Bookmark() const
{
    if (!m_onRecord)
        return std::nullopt;
    return m_current.rowid;
}

void Recordset::setBookmark(qint64 bookmark)
{
    failIf(!load(bookmark), SQLITE_NOTFOUND, QStringLiteral("Segnalibro non valido."));
}
