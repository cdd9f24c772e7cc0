#include "oldfile.h"

#include "importer.h"
#include "modDB.h"

#include <glib.h>
#include <mdbtools.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringDecoder>
#include <QtEndian>

#include <QList>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace oldfile {

namespace {

enum ReaderStatus { Done = 0, NoTable = 3, Unreadable = 4 };

constexpr char RowTag = 'R';
constexpr char EndTag = 'E';
constexpr char TextFlag = 0;
constexpr char NullFlag = 1;
// A contact's frame holds at least its tag and, per field, a flag and a length.
constexpr qsizetype MinFrameBytes = 1 + std::tuple_size_v<Contact> * 5;
// A Jet text holds 255 characters and a memo rarely more than a page; anything near these is not an address book.
constexpr quint32 MaxFieldBytes = 1 << 20;
constexpr qsizetype MaxOutputBytes = qsizetype(256) << 20;
// Jet allows 255 columns in a table.
constexpr guint MaxColumns = 255;

QString noTableText()
{
    return QStringLiteral("Il file non contiene la tabella Rubrica: non è un archivio di Brisolta.");
}

QString unreadableText()
{
    return QStringLiteral("Il file è danneggiato o illeggibile.");
}

QString &readerProgram()
{
    static QString program;
    return program;
}

// A reader that hangs, on a damaged file or a slow disk, is ended after this long.
std::chrono::milliseconds &readerTimeLimit()
{
    static std::chrono::milliseconds limit = std::chrono::minutes(1);
    return limit;
}

void appendNumber(QByteArray &output, quint32 number)
{
    char bytes[4];
    qToLittleEndian(number, bytes);
    output.append(bytes, 4);
}

void appendContact(QByteArray &output, const Contact &contact)
{
    output += RowTag;
    for (const FieldValue &field : contact) {
        const QByteArray bytes = field ? storableText(*field).toUtf8() : QByteArray();
        output += field ? TextFlag : NullFlag;
        appendNumber(output, quint32(bytes.size()));
        output += bytes;
    }
}

void appendEnd(QByteArray &output, quint32 count)
{
    output += EndTag;
    appendNumber(output, count);
}

// Jet 4 keeps a text as UTF-16, or "compressed": after FF FE, runs of one byte per character and runs of two,
// each zero byte switching between them. Decoded here as libmdb does, but into UTF-16 directly: libmdb's own
// conversion goes through UCS-2 and turns each character beyond the Basic Multilingual Plane into "??".
QString jet4Text(const uchar *bytes, int size)
{
    const bool compressible = size >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe;
    bool compressed = compressible;
    QString text;
    text.reserve(size);
    for (int i = compressible ? 2 : 0; i < size;) {
        if (compressible && bytes[i] == 0) {
            compressed = !compressed;
            ++i;
        } else if (compressed) {
            text += QChar(bytes[i++]);
        } else if (i + 1 < size) {
            text += QChar(char16_t(bytes[i] | bytes[i + 1] << 8));
            i += 2;
        } else {
            break;
        }
    }
    return text;
}

// The field's value as text: Jet 4 texts decoded here, anything else (Jet 3 code-page texts, memos, numbers)
// as libmdb writes it.
QString fieldText(MdbHandle *mdb, const MdbColumn &column, const MdbField &field)
{
    if (IS_JET4(mdb) && column.col_type == MDB_TEXT)
        return jet4Text(mdb->pg_buf + field.start, field.siz);
    const std::unique_ptr<char, decltype(&g_free)> text(
        mdb_col_to_string(mdb, mdb->pg_buf, field.start, column.col_type, field.siz), g_free);
    return QString::fromUtf8(text.get());
}

// How a column of a type Jet knows sits in a row: fixed, with the size it always has, or of variable length (size
// -1), or either (-2, binary); nothing for a type Jet does not know, which is a byte of the definition gone wrong.
std::optional<int> layoutOf(int type)
{
    switch (type) {
    case MDB_BOOL: return 0; // kept in the null mask: neither
    case MDB_BYTE: return 1;
    case MDB_INT: return 2;
    case MDB_LONGINT: case MDB_FLOAT: case MDB_COMPLEX: return 4;
    case MDB_MONEY: case MDB_DOUBLE: case MDB_DATETIME: return 8;
    case MDB_REPID: return 16;
    case MDB_NUMERIC: return 17;
    case MDB_TEXT: case MDB_OLE: case MDB_MEMO: return -1;
    case MDB_BINARY: return -2;
    default: return std::nullopt;
    }
}

// Whether the table's definition, as libmdb read it, holds together. libmdb believes whatever the definition page
// says: one wrong byte there (the column count, a column entry, a name's length) shifts every entry after it, and
// the rows are then read as nulls or as other columns' bytes without an error. A damaged definition shows as
// columns of no known type, nameless or repeated columns, numbers that do not count up, or sizes past a page.
bool consistentDefinition(MdbHandle *mdb, const MdbTableDef &table, guint placesInRows)
{
    if (table.num_cols == 0 || table.num_cols > placesInRows || !table.columns || table.columns->len != table.num_cols ||
        table.num_var_cols > placesInRows)
        return false;
    std::vector<bool> numbers(MaxColumns), rowNumbers(MaxColumns), varNumbers(MaxColumns);
    QList<QString> names;
    guint variable = 0;
    for (guint i = 0; i < table.num_cols; ++i) {
        const MdbColumn &column = *static_cast<const MdbColumn *>(g_ptr_array_index(table.columns, i));
        const QByteArrayView name(column.name, qstrnlen(column.name, sizeof column.name));
        const QString text = QString::fromUtf8(name);
        const bool printable = name.isValidUtf8() && !text.trimmed().isEmpty() &&
                               std::none_of(text.begin(), text.end(), [](QChar c) {
                                   const QChar::Category category = c.category();
                                   return category == QChar::Other_Control || category == QChar::Other_Surrogate ||
                                          category == QChar::Other_PrivateUse || category == QChar::Other_NotAssigned ||
                                          c.isNonCharacter() || c == QChar::ReplacementCharacter;
                               });
        const std::optional<int> layout = layoutOf(column.col_type);
        if (!layout || !printable || names.contains(text, Qt::CaseInsensitive))
            return false;
        // A text is never fixed, a number always, and of its type's size.
        if ((*layout == -1 && column.is_fixed) ||
            (*layout > 0 && (!column.is_fixed || column.col_size != *layout)))
            return false;
        names.append(text);
        // col_num and row_col_num place the columns in a row, where deleted columns keep their places: each is below
        // the places a row has, and no two columns share one.
        if (column.col_num < 0 || column.col_num >= int(placesInRows) || numbers[column.col_num] ||
            column.row_col_num < 0 || column.row_col_num >= int(placesInRows) || rowNumbers[column.row_col_num])
            return false;
        numbers[column.col_num] = rowNumbers[column.row_col_num] = true;
        if (column.col_size < 0 || column.col_size > mdb->fmt->pg_size)
            return false;
        if (column.is_fixed) {
            if (column.fixed_offset < 0 || column.fixed_offset + column.col_size > mdb->fmt->pg_size)
                return false;
        } else {
            // A variable column's place in the row's table of offsets, below the count the definition gives.
            if (column.var_col_num >= table.num_var_cols || varNumbers[column.var_col_num])
                return false;
            varNumbers[column.var_col_num] = true;
            ++variable;
        }
        // A text column holds at most 255 characters, two bytes each in Jet 4.
        if (column.col_type == MDB_TEXT && (column.col_size == 0 || column.col_size > (IS_JET4(mdb) ? 510 : 255)))
            return false;
    }
    return variable <= table.num_var_cols;
}

// Whether `name` is `ours` with one character changed, its beginning alone (a name cut at a zero) or it followed by
// more (a name's length grown), whatever the case: what one wrong byte of a name makes of it.
bool isDamagedName(const QString &name, const QString &ours)
{
    if (name.isEmpty() || name.compare(ours, Qt::CaseInsensitive) == 0)
        return false;
    if (name.size() != ours.size())
        return ours.startsWith(name, Qt::CaseInsensitive) || name.startsWith(ours, Qt::CaseInsensitive);
    int differences = 0;
    for (qsizetype i = 0; i < name.size(); ++i)
        differences += name[i].toCaseFolded() != ours[i].toCaseFolded();
    return differences == 1;
}

// Writes every row of Rubrica as a frame, in the table's order, the six fields found by name whatever their case.
int readRubrica(MdbHandle *mdb, QByteArray &output)
{
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        return Unreadable;
    QByteArray tableName = modDB::TableName.toUtf8();
    const std::unique_ptr<MdbTableDef, decltype(&mdb_free_tabledef)> table(
        mdb_read_table_by_name(mdb, tableName.data(), MDB_TABLE), mdb_free_tabledef);
    if (!table)
        return NoTable;
    // The places a row has for columns: the definition counts every column ever added, deleted ones too, just before
    // the counts of variable and of all columns (libmdb does not read it). Read before the columns, whose entries
    // may go on over further pages.
    const guint placesInRows = guint(mdb_get_int16(mdb->pg_buf, mdb->fmt->tab_num_cols_offset - 4));
    if (placesInRows > MaxColumns || !mdb_read_columns(table.get()) || !consistentDefinition(mdb, *table, placesInRows))
        return Unreadable;
    const auto column = [&table](guint i) { return static_cast<const MdbColumn *>(g_ptr_array_index(table->columns, i)); };
    // The place of each of the six fields among the table's columns; none for a column the table lacks.
    std::array<std::optional<guint>, std::tuple_size_v<Contact>> places;
    for (guint i = 0; i < table->num_cols; ++i) {
        for (std::size_t k = 0; k < places.size(); ++k) {
            if (modDB::FieldNames[k].compare(QString::fromUtf8(column(i)->name), Qt::CaseInsensitive) == 0)
                places[k] = i;
        }
    }
    // Rubrica holds texts; without one of its own columns, or with one of them of another type, it is not the
    // table earlier versions wrote, and its rows would come out as contacts with no text at all.
    if (std::none_of(places.begin(), places.end(), [](const std::optional<guint> &place) { return place.has_value(); }))
        return Unreadable;
    // A column of ours missing while another column's name is its name with one character changed, or cut short,
    // is a damaged name: its texts would be lost without a word.
    for (std::size_t k = 0; k < places.size(); ++k) {
        for (guint i = 0; i < table->num_cols && !places[k]; ++i) {
            if (isDamagedName(QString::fromUtf8(column(i)->name), modDB::FieldNames[k]))
                return Unreadable;
        }
    }
    for (const std::optional<guint> &place : places) {
        if (place && column(*place)->col_type != MDB_TEXT && column(*place)->col_type != MDB_MEMO)
            return Unreadable;
    }
    std::vector<MdbField> fields(table->num_cols);
    quint32 count = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        // The row just fetched is still on the current page: cracked again for its null mask, which tells a null
        // field from an empty text where the bound strings cannot.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(table->cur_row) - 1, &start, &size) != 0 || size < 2 ||
            mdb_crack_row(table.get(), start & 0x1fff, size, fields.data()) < 0)
            return Unreadable;
        // A row holds at most as many columns as the definition has places for.
        const guint rowColumns = IS_JET4(mdb) ? guint(mdb_get_int16(mdb->pg_buf, start & 0x1fff))
                                              : guint(mdb_get_byte(mdb->pg_buf, start & 0x1fff));
        if (rowColumns == 0 || rowColumns > placesInRows)
            return Unreadable;
        Contact contact;
        for (std::size_t k = 0; k < places.size(); ++k) {
            if (!places[k])
                continue;
            // A null text takes no bytes in its row; one that does is a null mask gone wrong, which would lose it.
            if (fields[*places[k]].is_null) {
                if (!fields[*places[k]].is_fixed && fields[*places[k]].siz > 0)
                    return Unreadable;
                continue;
            }
            const MdbField &field = fields[*places[k]];
            // Within the row, and a text no longer than its column allows.
            const int rowStart = start & 0x1fff;
            if (field.start < rowStart || field.siz < 0 || field.start + field.siz > rowStart + int(size) ||
                field.start + field.siz > mdb->fmt->pg_size ||
                (column(*places[k])->col_type == MDB_TEXT && field.siz > column(*places[k])->col_size + 2))
                return Unreadable;
            contact[k] = fieldText(mdb, *column(*places[k]), field);
        }
        appendContact(output, contact);
        ++count;
    }
    // The definition counts the table's rows; rows read that disagree with it (none, where the pages the definition
    // maps were lost, or twice as many, where they were mapped twice) are contacts lost or repeated. A file closed
    // improperly may count none.
    if (table->num_rows != 0 && count != table->num_rows)
        return Unreadable;
    appendEnd(output, count);
    return Done;
}

} // namespace

bool isOldFile(const QString &path)
{
    static constexpr char Signature[] = "\x00\x01\x00\x00Standard Jet DB";
    constexpr int VersionOffset = 0x14;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(VersionOffset + 1);
    return head.size() == VersionOffset + 1 && head.startsWith(QByteArrayView(Signature, sizeof Signature - 1)) &&
           (head[VersionOffset] == MDB_VER_JET3 || head[VersionOffset] == MDB_VER_JET4);
}

void setReaderProgram(const QString &program)
{
    readerProgram() = program;
}

void setReaderTimeLimit(std::chrono::milliseconds limit)
{
    readerTimeLimit() = limit;
}

Contacts read(const QString &path)
{
    QProcess reader;
    reader.setStandardErrorFile(QProcess::nullDevice());
    reader.start(readerProgram().isEmpty() ? QCoreApplication::applicationFilePath() : readerProgram(),
                 {QString::fromLatin1(ReaderOption), path}, QIODevice::ReadOnly);
    const QDeadlineTimer deadline(readerTimeLimit());
    QByteArray output;
    reader.waitForStarted(int(deadline.remainingTime()));
    while (reader.state() == QProcess::Running && !deadline.hasExpired() && output.size() <= MaxOutputBytes) {
        // Nothing more to read: the reader has ended, or closed its output and is ending (or hangs).
        if (!reader.waitForReadyRead(int(deadline.remainingTime())))
            reader.waitForFinished(int(deadline.remainingTime()));
        output += reader.readAllStandardOutput();
    }
    if (reader.state() != QProcess::NotRunning) {
        // A reader that hangs or will not stop talking
        reader.kill();
        reader.waitForFinished(-1);
        throw FileError(unreadableText());
    }
    output += reader.readAllStandardOutput();
    if (reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == NoTable)
        throw FileError(noTableText());
    if (reader.error() == QProcess::FailedToStart)
        throw FileError(QStringLiteral("Il programma non ha potuto avviare il lettore dei file delle versioni precedenti."));
    if (reader.exitStatus() != QProcess::NormalExit ||
        reader.exitCode() != Done || output.size() > MaxOutputBytes)
        throw FileError(unreadableText());
    return decodeFrames(output);
}

void convert(const QString &path)
{
    const Contacts contacts = read(path);
    const std::unique_ptr<Database> converted = DBEngine::CreateReplacement(path, path + QLatin1String(".jet"));
    // Another start may have converted it while this one read it; that conversion stands.
    if (!isOldFile(path))
        return;
    Transaction transaction(*converted);
    createSchema(*converted);
    appendContacts(*converted, contacts);
    transaction.Commit();
    converted->Close();
}

QByteArray encodeFrames(const Contacts &contacts)
{
    QByteArray output;
    for (const Contact &contact : contacts)
        appendContact(output, contact);
    appendEnd(output, quint32(contacts.size()));
    return output;
}

Contacts decodeFrames(QByteArrayView output)
{
    qsizetype at = 0;
    const auto take = [&](qsizetype size) {
        if (size > output.size() - at)
            throw FileError(unreadableText());
        at += size;
        return output.sliced(at - size, size);
    };
    const auto number = [&] { return qFromLittleEndian<quint32>(take(4).data()); };
    // As the store decodes: a leading byte-order mark is part of the text.
    QStringDecoder decoder = storedTextDecoder();
    Contacts contacts;
    // The count at the end, bounded by what the output can hold, sizes the list once.
    if (output.size() >= 5 && output[output.size() - 5] == EndTag)
        contacts.reserve(qMin(qsizetype(qFromLittleEndian<quint32>(output.data() + output.size() - 4)),
                              output.size() / MinFrameBytes));
    char tag;
    while ((tag = take(1)[0]) == RowTag) {
        Contact &contact = contacts.emplace_back();
        for (FieldValue &field : contact) {
            const char flag = take(1)[0];
            const quint32 size = number();
            if (flag == NullFlag && size == 0)
                continue;
            if (flag != TextFlag || size > MaxFieldBytes)
                throw FileError(unreadableText());
            const QByteArrayView bytes = take(size);
            if (!bytes.isValidUtf8())
                throw FileError(unreadableText());
            field = QString(decoder(bytes));
        }
    }
    if (tag != EndTag || number() != contacts.size() || at != output.size())
        throw FileError(unreadableText());
    return contacts;
}

int runReader(const char *path)
{
    const std::unique_ptr<MdbHandle, decltype(&mdb_close)> mdb(mdb_open(path, MDB_NOFLAGS), mdb_close);
    if (!mdb)
        return Unreadable;
    QByteArray output;
    if (const int status = readRubrica(mdb.get(), output); status != Done)
        return status;
    const bool written = std::fwrite(output.constData(), 1, std::size_t(output.size()), stdout) == std::size_t(output.size());
    return written && std::fflush(stdout) == 0 ? Done : Unreadable;
}

} // namespace oldfile
