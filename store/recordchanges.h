#pragma once

// Records changed by their rowid, each change within the caller's transaction, with its statements made once: what
// editing in the list and taking back or repeating a change do to the contact file, however many records.

#include "contacts.h"

#include <optional>

class RecordChanges
{
public:
    explicit RecordChanges(Database &database);

    // The record's six texts, or nothing when the file has no such record.
    std::optional<Contact> read(qint64 rowid);
    void write(qint64 rowid, const Contact &texts);
    void remove(qint64 rowid);

private:
    sqlite::Statement m_read;
    sqlite::Statement m_write;
    sqlite::Statement m_remove;
};
