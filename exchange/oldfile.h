#pragma once

// The archivio.mdb that earlier versions left behind, a Jet 4 (Access 2000) database: recognised, read apart from
// the program by a child process that uses libmdb, and converted in place into the program's own file.

#include "contact.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>


namespace oldfile {

// Started with this option and a path, the program reads that old file instead of starting: `Brisolta
// --read-old-file PATH` writes its contacts to standard output as frames and ends.
inline constexpr char ReaderOption[] = "--read-old-file";

// Whether the file begins as a Jet 3 or Jet 4 database does.
bool isOldFile(const QString &path);

// The reader is this program unless told otherwise (tests and tools name the built program).
void setReaderProgram(const QString &program);
// How long the reader may take before it counts as hung and is ended: a minute unless told otherwise.
void setReaderTimeLimit(std::chrono::milliseconds limit);

// The contacts of the old file's table Rubrica, in the table's order, read by a child process and checked whole
// before they are handed back; a FileError says why they could not be. Nothing is written anywhere.
Contacts read(const QString &path);

// Replaces the old file at `path` with a contact file holding the same contacts, and keeps the original as
// path.jet (or the first free path.jet.1, .2, ...). Until it returns, `path` is still the old file.
void convert(const QString &path);

// The reader's output: per contact the tag 'R' and six fields, each a null flag (0 text, 1 null), a 32-bit
// little-endian length and that many bytes of UTF-8; at the end the tag 'E' and the number of contacts.
QByteArray encodeFrames(const Contacts &contacts);
// Throws FileError for anything but a complete, well-formed output.
Contacts decodeFrames(QByteArrayView output);

// The child's side: writes the contacts of the file at `path` to standard output; returns the exit status.
int runReader(const char *path);

} // namespace oldfile
