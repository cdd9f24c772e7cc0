#pragma once

// The contact store: the one database file, its table and the one recordset over it.

#include "engine.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace modDB {

inline const QString FileName = QStringLiteral("archivio.mdb");
inline const QString TableName = QStringLiteral("Rubrica");
// The table's six columns, in their order: the entry fields and the list's columns follow it too.
inline const std::array<QString, 6> FieldNames = {QStringLiteral("Nome"),      QStringLiteral("Cognome"),
                                                  QStringLiteral("Telefono"),  QStringLiteral("Cellulare"),
                                                  QStringLiteral("Fax"),       QStringLiteral("Email")};
// How a new contact file gets its table, one statement after the other.
inline const std::array<const char *, 5> SchemaStatements = {
    "CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT)", "ALTER TABLE Rubrica ADD COLUMN Telefono TEXT",
    "ALTER TABLE Rubrica ADD COLUMN Cellulare TEXT", "ALTER TABLE Rubrica ADD COLUMN Fax TEXT",
    "ALTER TABLE Rubrica ADD COLUMN Email TEXT"};

extern bool DBLoaded;
extern std::unique_ptr<Database> ContactDB;
extern std::unique_ptr<Recordset> ContactRS;
extern QString DBPath;

// Shows the store's warnings; the user interface installs its message box here.
extern std::function<void(const QString &prompt, int style, const QString &title)> Warn;

// Where the contact file lives when no folder is given: beside the executable when the file is there or may be
// made there, otherwise (a copy installed under /usr) in the user's data folder, which this makes on first use
// and which is named after the application ("Brisolta"), so the caller names the application first.
QString ContactFolder();
// Opens (creating on first use) the contact file in `directory`, ContactFolder() by default.
void LoadDB(const QString &directory = QString());
void CreateDB(const QString &path);
void LoadRecordset();

// The six contact fields of a recordset, in FieldNames' order, each looked up by its name once.
std::vector<Field> ContactFields(Recordset &records);

} // namespace modDB
