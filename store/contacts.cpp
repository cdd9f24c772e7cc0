#include "contacts.h"

#include "modDB.h"

#include <sqlite3.h>

void createSchema(Database &database)
{
    for (const char *statement : modDB::SchemaStatements)
        database.Execute(QString::fromLatin1(statement));
}

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

std::vector<qint64> appendContacts(Database &database, const Contacts &contacts, const AppendProgress &progress)
{
    const std::unique_ptr<Recordset> records = database.OpenRecordset(modDB::TableName);
    std::vector<Field> fields = modDB::ContactFields(*records);
    std::vector<qint64> bookmarks;
    bookmarks.reserve(contacts.size());
    for (const Contact &contact : contacts) {
        records->AddNew();
        for (std::size_t k = 0; k < contact.size(); ++k)
            fields[k].setValue(contact[k]);
        records->Update();
        bookmarks.push_back(*records->LastModified());
        if (progress && (bookmarks.size() % 4096 == 0 || bookmarks.size() == contacts.size()))
            progress(bookmarks.size(), contacts.size());
    }
    return bookmarks;
}

ContactRecords::ContactRecords(Database &database)
    : m_records(database.OpenRecordset(modDB::TableName)), m_fields(modDB::ContactFields(*m_records))
{
}

void ContactRecords::seek(qint64 bookmark)
{
    m_records->Seek(bookmark);
    if (m_records->NoMatch())
        throw EngineError(SQLITE_NOTFOUND, QStringLiteral("Segnalibro non valido."));
}

std::optional<Contact> ContactRecords::read(qint64 bookmark)
{
    m_records->Seek(bookmark);
    if (m_records->NoMatch())
        return std::nullopt;
    Contact texts;
    for (std::size_t k = 0; k < texts.size(); ++k)
        texts[k] = m_fields[k].Value();
    return texts;
}

void ContactRecords::write(qint64 bookmark, const Contact &texts)
{
    seek(bookmark);
    m_records->Edit();
    // Only the texts that change are written: the others stay as the file holds them, byte for byte.
    for (std::size_t k = 0; k < texts.size(); ++k) {
        if (m_fields[k].Value() != texts[k])
            m_fields[k].setValue(texts[k]);
    }
    m_records->Update();
}

void ContactRecords::remove(qint64 bookmark)
{
    seek(bookmark);
    m_records->Delete();
}
