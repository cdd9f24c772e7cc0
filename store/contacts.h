#pragma once

// The contact table as a whole: how a new file gets it, every contact it holds, and many contacts added at once.

#include "engine.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Nome, Cognome, Telefono, Cellulare, Fax, Email; null where the source had no value at all.
using Contact = std::array<FieldValue, 6>;
using Contacts = std::vector<Contact>;

// Told how many of the new contacts are written, now and then while a large batch goes in.
using AppendProgress = std::function<void(std::size_t done, std::size_t total)>;

// Makes the table Rubrica in a new, empty contact file.
void createSchema(Database &database);

// Every stored contact, in record order.
Contacts storedContacts(Database &database);

// Adds every one of the contacts, null texts as null, in their order, through one recordset's AddNew and Update, and
// returns their records; within the caller's transaction.
std::vector<qint64> appendContacts(Database &database, const Contacts &contacts, const AppendProgress &progress = {});

// Contacts read, changed and removed by their records' bookmarks through one recordset, within the caller's
// transaction, however many: what editing in the list and taking a change back or repeating it do to the file.
class ContactRecords
{
public:
    explicit ContactRecords(Database &database);

    // The record's six texts, or nothing when the file has no such record.
    std::optional<Contact> read(qint64 bookmark);
    void write(qint64 bookmark, const Contact &texts);
    void remove(qint64 bookmark);

private:
    // The record with that bookmark made current; the engine's "not found" when the file has none.
    void seek(qint64 bookmark);

    std::unique_ptr<Recordset> m_records;
    std::vector<Field> m_fields;
};
