#pragma once

// Contact files on disk: which format a file is by its extension, reading one whole, and writing one safely.

#include "contact.h"
#include "vcard.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

enum class FileKind { VCard, Csv, OldFile };

// By extension, whatever its case: .vcf (and .vcard), .csv, .mdb.
std::optional<FileKind> kindOf(const QString &path);

// The contacts of a vCard, CSV or old contact file; throws FileError. The cards and rows of a vCard or CSV file
// that give no contact are counted in `skipped`, when given.
Contacts readContactFile(const QString &path, int *skipped = nullptr);

// The contacts of all the files, in their order; throws FileError for the first that cannot be read.
Contacts readContactFiles(const QStringList &paths, int *skipped = nullptr);

// Writes the contacts as a vCard or CSV file, replacing it only once it is complete; throws FileError. A vCard file
// carries the contacts' UIDs where `uids` (in the contacts' order) gives them.
void writeContactFile(const QString &path, const Contacts &contacts, vcard::Version version = vcard::Version::V3,
                      const std::vector<QString> &uids = {});
