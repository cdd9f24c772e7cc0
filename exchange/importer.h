#pragma once

// The one import step: a batch of contacts added to a contact file in one transaction, those already stored left out.
// The store reads and writes the table (store/contacts.h).

#include "contact.h"

#include <functional>

class Database;

struct ImportResult
{
    Contacts added;               // what was added (or would be, on a dry run), in the order given, as stored
    std::vector<qint64> bookmarks; // their records, when added
    int duplicates = 0;           // contacts already stored, or given twice
};

using ImportProgress = AppendProgress;

// Adds the contacts whose six texts are not all equal to a stored contact's (null counts as empty), all or nothing.
// A dry run counts without writing.
ImportResult importContacts(Database &database, const Contacts &contacts, bool dryRun = false,
                            const ImportProgress &progress = {});

// " Saltati: K (vuoti)." after an import's counts, for the cards and rows that gave no contact; nothing when none did.
inline QString skippedCount(int skipped)
{
    return skipped > 0 ? QStringLiteral(" Saltati: %1 (vuoti).").arg(skipped) : QString();
}

// "1 contatto", "N contatti".
inline QString contactsCount(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 contatto") : QStringLiteral("%1 contatti").arg(count);
}
