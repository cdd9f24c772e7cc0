#pragma once

// The list following the file: rows for records just stored, and a record's new texts shown in its row. History and
// sync both go through these, so a row comes in and changes one way whoever changed its record.

#include "contacts.h"
#include "listview.h"

#include <optional>
#include <vector>

std::array<QStringView, ListRow::TextCount> viewsOf(const Contact &texts);

// Rows for records just stored, each tied to its record, in one insert.
void listRecords(ListView &list, const Contacts &contacts, const std::vector<qint64> &records);

// The record's new texts in its row: in place unless the list is sorted by a text that changed, then where it now
// belongs, still selected if it was. No texts: the row goes.
void showRecord(ListView &list, const ListItem &row, const std::optional<Contact> &texts);
