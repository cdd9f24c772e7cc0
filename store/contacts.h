#pragma once

// The contact table as a whole: how a new file gets it, every contact it holds, and many contacts added at once.

#include "engine.h"

#include <array>
#include <functional>
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
