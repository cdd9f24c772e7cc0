#pragma once

// The one import step: a batch of contacts added to a contact file in one transaction, and its counterpart that
// reads every stored contact for an export.

#include "contact.h"

#include <functional>

class Database;

struct ImportResult
{
    Contacts added;               // what was added (or would be, on a dry run), in the order given, as stored
    std::vector<qint64> bookmarks; // their records, when added
    int duplicates = 0;           // contacts already stored, or given twice
};

// Told how many of the new contacts are written, now and then while a large batch goes in.
using ImportProgress = std::function<void(std::size_t done, std::size_t total)>;

// Adds the contacts whose six texts are not all equal to a stored contact's (null counts as empty), all or nothing.
// A dry run counts without writing.
ImportResult importContacts(Database &database, const Contacts &contacts, bool dryRun = false,
                            const ImportProgress &progress = {});

// Adds every one of the contacts, null texts as null, in their order, and returns their records; within the caller's
// transaction.
std::vector<qint64> appendContacts(Database &database, const Contacts &contacts, const ImportProgress &progress = {});

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

// Every stored contact, in record order.
Contacts storedContacts(Database &database);
