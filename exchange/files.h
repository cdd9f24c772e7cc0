#pragma once

// Contact files on disk: which format a file is by its extension, reading one whole, and writing one safely.

#include "contact.h"
#include "vcard.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

// A file that cannot be read or written, said for the user in one line: which file, where, why.
class FileError : public std::runtime_error
{
public:
    explicit FileError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

enum class FileKind { VCard, Csv, OldFile };

// By extension, whatever its case: .vcf (and .vcard), .csv, .mdb.
std::optional<FileKind> kindOf(const QString &path);

// The contacts of a vCard, CSV or old contact file; throws FileError.
Contacts readContactFile(const QString &path);

// The contacts of all the files, in their order; throws FileError for the first that cannot be read.
Contacts readContactFiles(const QStringList &paths);

// Writes the contacts as a vCard or CSV file, replacing it only once it is complete; throws FileError.
void writeContactFile(const QString &path, const Contacts &contacts, vcard::Version version = vcard::Version::V3);
