#include "engine.h"

#include "atomicfile.h"
#include "textfold.h"

#include <sqlite3.h>

#include <algorithm>

#include <QFileInfo>
#include <QStringList>

using sqlite::failIf;

namespace {

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

} // namespace

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
    auto pending = std::make_unique<PendingFile>(path, keptPath);
    std::shared_ptr<sqlite3> db = sqlite::open(pending->pendingPath(), SQLITE_OPEN_READWRITE);
    return std::unique_ptr<Database>(new Database(std::move(db), std::move(pending)));
}

std::unique_ptr<Database> DBEngine::OpenForReading(const QString &path)
{
    return std::unique_ptr<Database>(new Database(sqlite::open(path, SQLITE_OPEN_READONLY), nullptr));
}

std::unique_ptr<Database> DBEngine::OpenDatabase(const QString &path)
{
    return std::unique_ptr<Database>(new Database(sqlite::open(path, SQLITE_OPEN_READWRITE), nullptr));
}

Database::Database(std::shared_ptr<sqlite3> db, std::unique_ptr<PendingFile> pending)
    : m_db(std::move(db)), m_pending(std::move(pending))
{
}

Database::~Database()
{
    // The connection goes before the unfinished file it was building.
    m_db.reset();
}

const std::shared_ptr<sqlite3> &Database::open() const
{
    failIf(!m_db, SQLITE_MISUSE, QStringLiteral("Il database è chiuso."));
    return m_db;
}

void Database::Execute(const QString &statement)
{
    sqlite::Statement prepared(open().get(), statement);
    while (prepared.step()) {
    }
}

void Database::Close()
{
    m_db.reset();
    if (m_pending) {
        // Whether it is put in place or fails, the pending file is done with here.
        const std::unique_ptr<PendingFile> pending = std::move(m_pending);
        pending->putInPlace();
    }
}

Transaction::Transaction(Database &database, bool writing) : sqlite::Transaction(database.open(), writing)
{
}

bool Database::HasTable(const QString &name)
{
    sqlite::Statement lookup(open().get(), "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE");
    lookup.bind(1, name);
    return lookup.step();
}

std::unique_ptr<Recordset> Database::OpenRecordset(const QString &table)
{
    return std::unique_ptr<Recordset>(new Recordset(open(), table));
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
    setValue(FieldValue(text.isNull() ? QString(QLatin1String("")) : text));
}

void Field::setValue(const FieldValue &value)
{
    failIf(!m_recordset->m_editBuffer, SQLITE_MISUSE, QStringLiteral("Aggiornamento senza AddNew o Edit."));
    (*m_recordset->m_editBuffer)[std::size_t(m_ordinal)] = value;
    m_recordset->m_changed[std::size_t(m_ordinal)] = true;
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
    m_walk.emplace(m_db.get(), QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(m_quotedTable));
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
    if (!m_seek)
        m_seek.emplace(m_db.get(), QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid = ?").arg(m_quotedTable));
    m_seek->bind(1, rowid);
    const bool found = m_seek->step();
    if (found)
        readCurrent(*m_seek);
    m_seek->reset();
    return found;
}

void Recordset::MoveNext()
{
    failIf(!m_onRecord, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    if (!m_walk) {
        // Away from the forward walk: continue from the current record's place.
        m_walk.emplace(m_db.get(),
                       QStringLiteral("SELECT rowid, * FROM %1 WHERE rowid > ? ORDER BY rowid").arg(m_quotedTable));
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
    m_changed.assign(m_columns.size(), false);
    m_editing.reset();
}

void Recordset::Edit()
{
    failIf(!m_onRecord, SQLITE_MISUSE, QStringLiteral("Nessun record corrente."));
    std::vector<FieldValue> values(m_columns.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (const std::optional<QStringView> text = m_current.view(k))
            values[k] = text->toString();
    }
    m_editBuffer = std::move(values);
    m_changed.assign(m_columns.size(), false);
    m_editing = m_current.rowid;
}

void Recordset::CancelUpdate()
{
    m_editBuffer.reset();
    m_editing.reset();
}

void Recordset::bindBuffer(sqlite::Statement &statement, int first)
{
    for (std::size_t i = 0; i < m_editBuffer->size(); ++i) {
        if (const FieldValue &value = (*m_editBuffer)[i])
            statement.bind(first + int(i), *value);
    }
}

void Recordset::Update()
{
    failIf(!m_editBuffer, SQLITE_MISUSE, QStringLiteral("Aggiornamento senza AddNew o Edit."));
    if (m_editing) {
        const qint64 edited = *m_editing;
        writeChanges(edited);
        m_lastModified = edited;
        CancelUpdate();
        failIf(!load(edited), SQLITE_NOTFOUND, QStringLiteral("Il record modificato non esiste più."));
        return;
    }
    // Made once, on the first use, and reused for every record after.
    if (!m_insert) {
        QStringList names, marks;
        for (const QString &column : m_columns) {
            names << quoted(column);
            marks << QStringLiteral("?");
        }
        m_insert.emplace(m_db.get(), QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                         .arg(m_quotedTable, names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    }
    m_insert->clearBindings();
    bindBuffer(*m_insert, 1);
    m_insert->step();
    m_insert->reset();
    m_lastModified = sqlite3_last_insert_rowid(m_db.get());
    CancelUpdate();
}

void Recordset::writeChanges(qint64 rowid)
{
    if (std::find(m_changed.begin(), m_changed.end(), true) == m_changed.end())
        return;
    auto change = m_changes.find(m_changed);
    if (change == m_changes.end()) {
        QStringList assignments;
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            if (m_changed[i])
                assignments << quoted(m_columns[i]) + QStringLiteral(" = ?");
        }
        change = m_changes.emplace(m_changed, sqlite::Statement(m_db.get(), QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                                                                  .arg(m_quotedTable, assignments.join(QLatin1Char(','))))).first;
    }
    // The record keeps its rowid, so its bookmark and its place in the order.
    sqlite::Statement &statement = change->second;
    statement.clearBindings();
    int parameter = 1;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (!m_changed[i])
            continue;
        if (const FieldValue &value = (*m_editBuffer)[i])
            statement.bind(parameter, *value);
        ++parameter;
    }
    statement.bind(parameter, rowid);
    statement.step();
    statement.reset();
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
    sqlite::Statement scan(m_db.get(), QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid")
                                                .arg(quoted(m_columns[std::size_t(ordinal)]), m_quotedTable));
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
    if (!m_remove)
        m_remove.emplace(m_db.get(), QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_quotedTable));
    m_remove->bind(1, m_current.rowid);
    m_remove->step();
    m_remove->reset();
    m_onRecord = false;
}

std::optional<qint64> Recordset::Bookmark() const
{
    if (!m_onRecord)
        return std::nullopt;
    return m_current.rowid;
}

void Recordset::Seek(qint64 bookmark)
{
    m_noMatch = !load(bookmark);
    m_onRecord = !m_noMatch;
}

void Recordset::setBookmark(qint64 bookmark)
{
    failIf(!load(bookmark), SQLITE_NOTFOUND, QStringLiteral("Segnalibro non valido."));
}
