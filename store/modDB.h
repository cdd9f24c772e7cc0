#pragma once

// The contact store: the one database file, its table and the one recordset over it.

#include "engine.h"

#include <QString>

#include <functional>
#include <memory>

namespace modDB {

inline const QString FileName = QStringLiteral("archivio.mdb");
inline const QString TableName = QStringLiteral("Rubrica");

extern bool DBLoaded;
extern std::unique_ptr<Database> ContactDB;
extern std::unique_ptr<Recordset> ContactRS;
extern QString DBPath;

// Shows the store's warnings; the user interface installs its message box here.
extern std::function<void(const QString &prompt, int style, const QString &title)> Warn;

// Opens (creating on first use) the contact file in `directory`, the executable's own by default.
void LoadDB(const QString &directory = QString());
void CreateDB(const QString &path);
void LoadRecordset();

} // namespace modDB
