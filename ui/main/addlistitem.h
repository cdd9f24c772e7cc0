#pragma once

#include <QString>

namespace modDB {

// Appends one row to the main window's list for the record just stored.
void AddListItem(const QString &Nome, const QString &Cognome, const QString &Telefono, const QString &Cellulare,
                 const QString &Fax, const QString &Email);

} // namespace modDB
