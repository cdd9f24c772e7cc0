#pragma once

// Records changed by their rowid, each change within the caller's transaction: what editing in the list and taking
// back or repeating a change do to the contact file.

#include "engine.h"

#include <array>
#include <optional>

// A record's six texts in the table's order, null where it holds no value.
using RecordTexts = std::array<FieldValue, 6>;

class RecordChanges
{
public:
    explicit RecordChanges(Database &database);

    // The record's six texts, or nothing when the file has no such record.
    std::optional<RecordTexts> read(qint64 rowid);
    void write(qint64 rowid, const RecordTexts &texts);
    void remove(qint64 rowid);

private:
    sqlite::Statement m_read;
    sqlite::Statement m_write;
    sqlite::Statement m_remove;
};
