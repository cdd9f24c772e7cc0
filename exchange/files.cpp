#include "files.h"

#include "csv.h"
#include "importer.h"
#include "modDB.h"
#include "oldfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Twenty times a file of 100,000 contacts: a file this large is not an address book.
constexpr qint64 LargestFile = qint64(256) << 20;

// Why a file could not be read or written, as far as the file system tells.
QString whyNot(const QString &path, QIODevice::OpenMode mode)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("è una cartella, non un file");
    if (mode == QIODevice::ReadOnly && !file.exists())
        return QStringLiteral("il file non esiste");
    if (mode == QIODevice::WriteOnly && !folder.isDir())
        return QStringLiteral("la cartella %1 non esiste").arg(folder.filePath());
    if (mode == QIODevice::ReadOnly ? !file.isReadable() : !folder.isWritable() || (file.exists() && !file.isWritable()))
        return QStringLiteral("permesso negato");
    return mode == QIODevice::ReadOnly ? QStringLiteral("impossibile leggere il file")
                                       : QStringLiteral("impossibile scrivere il file; il disco potrebbe essere pieno");
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("%1: %2.").arg(path, whyNot(path, QIODevice::ReadOnly)));
    if (file.size() > LargestFile)
        throw FileError(QStringLiteral("%1: il file è troppo grande.").arg(path));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw FileError(QStringLiteral("%1: %2.").arg(path, whyNot(path, QIODevice::ReadOnly)));
    return bytes;
}

// A contact file of this version, copied from another computer, say.
bool isContactFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16);
}

Contacts contactsOf(const QString &path)
{
    try {
        const std::unique_ptr<Database> file = DBEngine::OpenForReading(path);
        // A view could compute rows without end; a table holds what the file holds.
        if (!file->HasTable(modDB::TableName))
            throw FileError(QStringLiteral("%1: il file non contiene la tabella Rubrica.").arg(path));
        return storedContacts(*file);
    } catch (const EngineError &error) {
        throw FileError(QStringLiteral("%1: non è un file dei contatti leggibile (%2).").arg(path, error.text()));
    }
}

// The old-file reader says what went wrong with the file; this says which file it was.
Contacts oldFileContacts(const QString &path)
{
    try {
        return oldfile::read(path);
    } catch (const FileError &error) {
        throw FileError(QStringLiteral("%1: %2").arg(path, error.message()));
    }
}

} // namespace

std::optional<FileKind> kindOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("vcf") || suffix == QLatin1String("vcard"))
        return FileKind::VCard;
    if (suffix == QLatin1String("csv"))
        return FileKind::Csv;
    if (suffix == QLatin1String("mdb"))
        return FileKind::OldFile;
    return std::nullopt;
}

Contacts readContactFile(const QString &path, int *skipped)
{
    const std::optional<FileKind> kind = kindOf(path);
    if (!kind)
        throw FileError(QStringLiteral("%1: formato non riconosciuto (si leggono file .vcf, .csv e .mdb).").arg(path));
    try {
        switch (*kind) {
        case FileKind::VCard: return vcard::decode(readWhole(path), skipped);
        case FileKind::Csv: return csv::decode(readWhole(path), skipped);
        case FileKind::OldFile: return isContactFile(path) ? contactsOf(path) : oldFileContacts(path);
        }
    } catch (const FormatError &error) {
        if (error.line() > 0)
            throw FileError(QStringLiteral("%1, riga %2: %3.").arg(path).arg(error.line()).arg(error.reason()));
        throw FileError(QStringLiteral("%1: %2.").arg(path, error.reason()));
    }
    return {};
}

Contacts readContactFiles(const QStringList &paths, int *skipped)
{
    Contacts contacts;
    for (const QString &path : paths) {
        Contacts more = readContactFile(path, skipped);
        if (contacts.empty())
            contacts = std::move(more);
        else
            contacts.insert(contacts.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return contacts;
}

void writeContactFile(const QString &path, const Contacts &contacts, vcard::Version version,
                      const std::vector<QString> &uids)
{
    const std::optional<FileKind> kind = kindOf(path);
    if (kind != FileKind::VCard && kind != FileKind::Csv)
        throw FileError(QStringLiteral("%1: si scrivono solo file .vcf e .csv.").arg(path));
    QSaveFile file(path);
    const bool fresh = !QFileInfo::exists(path);
    const QByteArray bytes = kind == FileKind::VCard ? vcard::encode(contacts, version, uids) : csv::encode(contacts);
    // A new export is as private as the contact file it comes from; one that existed keeps its permissions.
    if (!file.open(QIODevice::WriteOnly) || (fresh && !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) ||
        file.write(bytes) != bytes.size() || !file.commit())
        throw FileError(QStringLiteral("%1: %2.").arg(path, whyNot(path, QIODevice::WriteOnly)));
}
