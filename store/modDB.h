#pragma once

// The contact store: the one database file, its table and the one recordset over it.

#include "contacts.h"

#include <QString>

#include <array>
#include <memory>
#include <vector>

namespace modDB {

inline const QString FileName = QStringLiteral("archivio.mdb");
inline const QString TableName = QStringLiteral("Rubrica");
// The table's six columns, in their order: the entry fields and the list's columns follow it too.
inline const std::array<QString, 6> FieldNames = {QStringLiteral("Nome"),      QStringLiteral("Cognome"),
                                                  QStringLiteral("Telefono"),  QStringLiteral("Cellulare"),
                                                  QStringLiteral("Fax"),       QStringLiteral("Email")};
// How a new contact file gets its table, one statement after the other (createSchema runs them).
inline const std::array<const char *, 5> SchemaStatements = {
    "CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT)", "ALTER TABLE Rubrica ADD COLUMN Telefono TEXT",
    "ALTER TABLE Rubrica ADD COLUMN Cellulare TEXT", "ALTER TABLE Rubrica ADD COLUMN Fax TEXT",
    "ALTER TABLE Rubrica ADD COLUMN Email TEXT"};

extern bool DBLoaded;
extern std::unique_ptr<Database> ContactDB;
extern std::unique_ptr<Recordset> ContactRS;
extern QString DBPath;

// Where the contact file lives when no folder is given: beside the executable when the file is there or may be
// made there, otherwise (a copy installed under /usr) in the user's data folder, which this makes on first use
// and which is named after the application ("Brisolta"), so the caller names the application first.
QString ContactFolder();
// The same for a program kept in `programFolder`.
QString ContactFolder(const QString &programFolder);
// Opens (creating on first use) the contact file in `directory`, ContactFolder() by default.
void LoadDB(const QString &directory = QString());
void CreateDB(const QString &path);
// Opens ContactRS; false, opening nothing, while no database is loaded (the window then warns).
[[nodiscard]] bool LoadRecordset();

// The contact file at `path`, for work beside the module's own: made first as CreateDB makes it when `create` is
// set and there is none (why it could not be made is the error then), otherwise it must exist. The module's state
// is left as it is.
std::unique_ptr<Database> OpenContactFile(const QString &path, bool create);
// An empty contact file in memory, which nothing is written to: what a dry run counts against before the first start.
std::unique_ptr<Database> EmptyContactFile();

// The six contact fields of a recordset, in FieldNames' order, each looked up by its name once.
std::vector<Field> ContactFields(Recordset &records);

} // namespace modDB
