#include "importer.h"

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
