#include "importer.h"

#include "modDB.h"

#include <QHash>

#include <unordered_set>

namespace {

// A contact as the file compares it: the texts as stored, null taken as empty.
using Key = std::array<QString, 6>;

struct KeyHash
{
    std::size_t operator()(const Key &key) const { return qHashRange(key.begin(), key.end()); }
};

Key keyOf(const Contact &contact)
{
    Key key;
    for (std::size_t k = 0; k < key.size(); ++k)
        key[k] = storableText(contact[k].value_or(QString()));
    return key;
}

Contact storedForm(const Contact &contact)
{
    Contact stored;
    for (std::size_t k = 0; k < stored.size(); ++k) {
        if (contact[k])
            stored[k] = storableText(*contact[k]);
    }
    return stored;
}

} // namespace

Contacts storedContacts(Database &database)
{
    Contacts contacts;
    const std::unique_ptr<Recordset> records = database.OpenRecordset(modDB::TableName);
    for (; !records->Eof(); records->MoveNext()) {
        Contact &contact = contacts.emplace_back();
        for (std::size_t k = 0; k < contact.size(); ++k)
            contact[k] = records->Fields().Item(modDB::FieldNames[k]).Value();
    }
    return contacts;
}

ImportResult importContacts(Database &database, const Contacts &contacts, bool dryRun, const ImportProgress &progress)
{
    // Read and write under one lock, so that what counts as a duplicate is what the file holds when it is written.
    Transaction transaction(database);
    std::unordered_set<Key, KeyHash> known;
    for (const Contact &stored : storedContacts(database))
        known.insert(keyOf(stored));

    ImportResult result;
    for (const Contact &contact : contacts) {
        if (known.insert(keyOf(contact)).second)
            result.added.push_back(storedForm(contact));
        else
            ++result.duplicates;
    }
    if (dryRun)
        return result;

    const std::unique_ptr<Recordset> records = database.OpenRecordset(modDB::TableName);
    for (const Contact &contact : result.added) {
        records->AddNew();
        for (std::size_t k = 0; k < contact.size(); ++k) {
            if (contact[k])
                records->Fields().Item(modDB::FieldNames[k]).setValue(*contact[k]);
        }
        records->Update();
        result.bookmarks.push_back(*records->LastModified());
        if (progress && (result.bookmarks.size() % 4096 == 0 || result.bookmarks.size() == result.added.size()))
            progress(result.bookmarks.size(), result.added.size());
    }
    transaction.Commit();
    return result;
}
