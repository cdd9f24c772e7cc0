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

// Shares the texts of the stored form: no text is copied.
Key keyOf(const Contact &stored)
{
    Key key;
    for (std::size_t k = 0; k < key.size(); ++k)
        key[k] = stored[k].value_or(QString());
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
    const std::vector<Field> fields = modDB::ContactFields(*records);
    for (; !records->Eof(); records->MoveNext()) {
        Contact &contact = contacts.emplace_back();
        for (std::size_t k = 0; k < contact.size(); ++k)
            contact[k] = fields[k].Value();
    }
    return contacts;
}

ImportResult importContacts(Database &database, const Contacts &contacts, bool dryRun, const ImportProgress &progress)
{
    // Read and write under one lock, so that what counts as a duplicate is what the file holds when it is written.
    Transaction transaction(database, !dryRun);
    const Contacts stored = storedContacts(database);
    std::unordered_set<Key, KeyHash> known(stored.size() + contacts.size());
    for (const Contact &contact : stored)
        known.insert(keyOf(contact));

    ImportResult result;
    result.added.reserve(contacts.size());
    for (const Contact &contact : contacts) {
        Contact fresh = storedForm(contact);
        if (known.insert(keyOf(fresh)).second)
            result.added.push_back(std::move(fresh));
        else
            ++result.duplicates;
    }
    if (dryRun)
        return result;

    result.bookmarks = appendContacts(database, result.added, progress);
    transaction.Commit();
    return result;
}

std::vector<qint64> appendContacts(Database &database, const Contacts &contacts, const ImportProgress &progress)
{
    const std::unique_ptr<Recordset> records = database.OpenRecordset(modDB::TableName);
    std::vector<Field> fields = modDB::ContactFields(*records);
    std::vector<qint64> bookmarks;
    bookmarks.reserve(contacts.size());
    for (const Contact &contact : contacts) {
        records->AddNew();
        for (std::size_t k = 0; k < contact.size(); ++k) {
            if (contact[k])
                fields[k].setValue(*contact[k]);
        }
        records->Update();
        bookmarks.push_back(*records->LastModified());
        if (progress && (bookmarks.size() % 4096 == 0 || bookmarks.size() == contacts.size()))
            progress(bookmarks.size(), contacts.size());
    }
    return bookmarks;
}
