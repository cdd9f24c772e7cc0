#include "listrecords.h"

std::array<QStringView, ListRow::TextCount> viewsOf(const Contact &texts)
{
    std::array<QStringView, ListRow::TextCount> views;
    for (std::size_t k = 0; k < views.size(); ++k)
        views[k] = texts[k] ? QStringView(*texts[k]) : QStringView();
    return views;
}

void listRecords(ListView &list, const Contacts &contacts, const std::vector<qint64> &records)
{
    RowBatch rows = list.newRows();
    for (std::size_t i = 0; i < contacts.size(); ++i)
        rows.Add(viewsOf(contacts[i]), 1, records[i]);
    list.ListItems().Add(std::move(rows));
}

void showRecord(ListView &list, const ListItem &row, const std::optional<Contact> &texts)
{
    const int position = row.Index() - 1;
    const qint64 record = row.Tag();
    ListModel &model = list.listModel();
    if (!texts) {
        model.removeRowAt(position);
        return;
    }
    ListRow *shown = model.newRow(viewsOf(*texts), 1, record);
    const int key = list.SortKey();
    if (!list.Sorted() || key >= ListRow::TextCount || model.rowAt(position)->text(key) == shown->text(key)) {
        model.replaceRow(position, shown);
        return;
    }
    const bool selected = list.selectionModel() && list.selectionModel()->isRowSelected(position);
    model.removeRowAt(position);
    const ListItem moved = list.ListItems().Add(viewsOf(*texts), 1, record);
    if (selected)
        moved.setSelected(true);
}
