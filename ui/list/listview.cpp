#include "listview.h"

#include "engine.h"
#include "textfold.h"

#include <QHeaderView>

#include <algorithm>

namespace {

// The list's own failures travel as the engine's do, with the list control's numbers.
constexpr int IndexOutOfBounds = 35600;

void failIfOutOfBounds(bool outOfBounds)
{
    if (outOfBounds)
        throw EngineError(IndexOutOfBounds, QStringLiteral("Indice non compreso nell'intervallo"));
}

} // namespace

int ListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant ListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const ListRow &row = *m_rows[std::size_t(index.row())];
    if (role == Qt::DisplayRole && index.column() < ListRow::TextCount)
        return row.text(index.column()).toString();
    if (role == Qt::DecorationRole && index.column() == 0 && row.smallIcon >= 1 && row.smallIcon <= m_smallIcons.size())
        return m_smallIcons.at(row.smallIcon - 1);
    return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
        return m_headers.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ListModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.isValid() && index.column() < ListRow::TextCount ? flags | Qt::ItemIsEditable : flags;
}

void ListModel::appendColumn(const QString &header)
{
    const int column = int(m_headers.size());
    beginInsertColumns(QModelIndex(), column, column);
    m_headers.append(header);
    endInsertColumns();
}

ListRow *ListModel::newRow(const std::array<QStringView, ListRow::TextCount> &texts, int smallIcon, qint64 tag)
{
    ListRow *row = m_store.newRow(texts);
    row->smallIcon = smallIcon;
    row->tag = tag;
    return row;
}

int ListModel::addRows(LargeVector<ListRow *> &&rows, int sortKey)
{
    if (rows.empty())
        return rowCount();
    // One row goes straight to its place: sorting every row again would make each add as slow as a sort.
    if (sortKey >= 0 && rows.size() == 1) {
        const int position = sortedPosition(*rows.front(), sortKey);
        beginInsertRows(QModelIndex(), position, position);
        m_rows.insert(m_rows.begin() + position, rows.front());
        endInsertRows();
        return position;
    }
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
    if (m_rows.empty())
        m_rows = std::move(rows); // the start-up's rows, taken without a copy
    else
        m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    endInsertRows();
    // A stable sort of the sorted rows and the new ones puts each new row after its equals, as adding one does.
    if (sortKey >= 0)
        sortBy(sortKey);
    return first;
}

void ListModel::removeRowAt(int position)
{
    beginRemoveRows(QModelIndex(), position, position);
    m_rows.erase(m_rows.begin() + position);
    endRemoveRows();
}

void ListModel::replaceRow(int position, ListRow *row)
{
    m_rows[std::size_t(position)] = row;
    emit dataChanged(index(position, 0), index(position, columnCount() - 1));
}

void ListModel::removeRowsWithTags(const std::unordered_set<qint64> &tags)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    LargeVector<int> newPosition(m_rows.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const bool removed = tags.count(m_rows[i]->tag) != 0;
        newPosition[i] = removed ? -1 : int(kept);
        if (!removed)
            m_rows[kept++] = m_rows[i];
    }
    m_rows.resize(kept);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &old : before) {
        const int position = newPosition[std::size_t(old.row())];
        after.append(position < 0 ? QModelIndex() : index(position, old.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListModel::sortBy(int key)
{
    const std::size_t count = m_rows.size();
    LargeVector<QStringView> texts(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + PrefetchDistance < count)
            prefetch(m_rows[i + PrefetchDistance]);
        texts[i] = m_rows[i]->text(key);
    }
    const LargeVector<int> order = m_order.sorted(texts);

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    LargeVector<ListRow *> sorted(count);
    LargeVector<int> newPosition(count);
    for (std::size_t i = 0; i < count; ++i) {
        sorted[i] = m_rows[std::size_t(order[i])];
        newPosition[std::size_t(order[i])] = int(i);
    }
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &old : before)
        after.append(index(newPosition[std::size_t(old.row())], old.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ListModel::sortedPosition(const ListRow &row, int key)
{
    const QStringView text = row.text(key);
    // After every equal row, so that the order stays stable.
    const auto place = std::upper_bound(m_rows.begin(), m_rows.end(), text,
                                        [&](QStringView value, const ListRow *other) {
                                            return m_order.compare(value, other->text(key)) < 0;
                                        });
    return int(place - m_rows.begin());
}

int ListModel::findRow(const QString &text, int firstPosition) const
{
    // Most cells differ from the text in their first character: settle those on ASCII alone. (A character
    // outside ASCII may still fold to an ASCII one, as the Kelvin sign does to "k", so it takes the full test.)
    const auto asciiLower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    const char16_t first = text.isEmpty() ? 0 : text.front().unicode();
    const bool quick = first != 0 && first < 0x80;
    const char16_t firstLower = asciiLower(first);
    const QString folded = foldCase(text);
    for (std::size_t position = std::size_t(firstPosition); position < m_rows.size(); ++position) {
        const ListRow &row = *m_rows[position];
        for (int k = 1; k < ListRow::TextCount; ++k) {
            const QStringView cell = row.text(k);
            if (quick && !cell.isEmpty() && cell.front().unicode() < 0x80 && asciiLower(cell.front().unicode()) != firstLower)
                continue;
            if (startsWithFolded(cell, folded))
                return int(position);
        }
    }
    return -1;
}

int ListModel::positionOf(const ListRow *row, int hint) const
{
    if (hint >= 0 && std::size_t(hint) < m_rows.size() && m_rows[std::size_t(hint)] == row)
        return hint;
    const auto found = std::find(m_rows.begin(), m_rows.end(), row);
    failIfOutOfBounds(found == m_rows.end());
    return int(found - m_rows.begin());
}

int ListModel::positionOfTag(qint64 tag, int hint) const
{
    if (hint >= 0 && std::size_t(hint) < m_rows.size() && m_rows[std::size_t(hint)]->tag == tag)
        return hint;
    const auto found = std::find_if(m_rows.begin(), m_rows.end(), [tag](const auto &own) { return own->tag == tag; });
    return found == m_rows.end() ? -1 : int(found - m_rows.begin());
}

int ListModel::positionOfRecord(qint64 tag, QStringView text, int key)
{
    const auto [first, last] = key < 0 ? std::equal_range(m_rows.begin(), m_rows.end(), tag, [](const auto &a, const auto &b) {
        if constexpr (std::is_same_v<std::decay_t<decltype(a)>, qint64>)
            return a < b->tag;
        else
            return a->tag < b;
    }) : std::equal_range(m_rows.begin(), m_rows.end(), text, [&](const auto &a, const auto &b) {
        if constexpr (std::is_same_v<std::decay_t<decltype(a)>, QStringView>)
            return m_order.compare(a, b->text(key)) < 0;
        else
            return m_order.compare(a->text(key), b) < 0;
    });
    const auto found = std::find_if(first, last, [tag](const ListRow *row) { return row->tag == tag; });
    // Rows out of that order (another program's records, say) are still found, by going through them all.
    return found != last ? int(found - m_rows.begin()) : positionOfTag(tag, -1);
}

int ListItem::position() const
{
    m_hint = m_view->m_model.positionOf(m_row, m_hint);
    return m_hint;
}

QString ListItem::Text() const
{
    return m_row->text(0).toString();
}

QString ListItem::SubItems(int k) const
{
    failIfOutOfBounds(k < 1 || k >= ListRow::TextCount);
    return m_row->text(k).toString();
}

int ListItem::Index() const
{
    return position() + 1;
}

void ListItem::EnsureVisible() const
{
    m_view->attachModel();
    m_view->scrollTo(m_view->m_model.index(position(), 0));
}

void ListItem::setSelected(bool selected) const
{
    m_view->attachModel();
    const QModelIndex index = m_view->m_model.index(position(), 0);
    if (selected) {
        m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        m_view->selectionModel()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
}

qint64 ListItem::Tag() const
{
    return m_row->tag;
}

ListView::ListView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setDefaultSectionSize(96);
    setIconSize(QSize(16, 16));
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int section) { emit ColumnClick(ColumnHeader(section + 1)); });
    connect(this, &QAbstractItemView::clicked, this,
            [this](const QModelIndex &index) { emit ItemClick(ListItem(this, m_model.rowAt(index.row()), index.row())); });
}

void ListView::ColumnHeaderList::Add(const QString &text)
{
    m_view->m_model.appendColumn(text);
}

void RowBatch::Add(const std::array<QStringView, ListRow::TextCount> &texts, int smallIcon, qint64 tag)
{
    m_rows.push_back(m_model->newRow(texts, smallIcon, tag));
}

void ListView::ListItemList::Add(RowBatch &&rows)
{
    m_view->addRows(std::move(rows));
}

ListItem ListView::ListItemList::Add(const std::array<QStringView, ListRow::TextCount> &texts, int smallIcon, qint64 tag)
{
    RowBatch row = m_view->newRows();
    row.Add(texts, smallIcon, tag);
    return Item(m_view->addRows(std::move(row)) + 1);
}

int ListView::ListItemList::Count() const
{
    return m_view->m_model.rowCount();
}

void ListView::ListItemList::Remove(int index)
{
    failIfOutOfBounds(index < 1 || index > Count());
    m_view->m_model.removeRowAt(index - 1);
}

ListItem ListView::ListItemList::Item(int index) const
{
    failIfOutOfBounds(index < 1 || index > Count());
    return ListItem(m_view, m_view->m_model.rowAt(index - 1), index - 1);
}

void ListView::attachModel()
{
    if (model() != &m_model) {
        setModel(&m_model);
        updateGeometries();
    }
}

void ListView::showEvent(QShowEvent *event)
{
    attachModel();
    QTreeView::showEvent(event);
}

std::optional<ListItem> ListView::SelectedItem()
{
    if (!selectionModel())
        return std::nullopt;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return ListItem(this, m_model.rowAt(rows.first().row()), rows.first().row());
}

void ListView::setSorted(bool sorted)
{
    const bool changed = sorted && !m_sorted;
    m_sorted = sorted;
    if (changed)
        sortNow();
}

void ListView::setSortKey(int key)
{
    failIfOutOfBounds(key < 0);
    const bool changed = key != m_sortKey;
    m_sortKey = key;
    if (changed && m_sorted)
        sortNow();
}

void ListView::sortNow()
{
    // A key past the row's texts (a table's extra column) sorts on empty cells: the order stays.
    if (m_sortKey < ListRow::TextCount)
        m_model.sortBy(m_sortKey);
}

std::optional<ListItem> ListView::FindItem(const QString &text, int start)
{
    // A start below the first row searches from the first row.
    const int position = m_model.findRow(text, std::max(start, 1) - 1);
    if (position < 0)
        return std::nullopt;
    return ListItem(this, m_model.rowAt(position), position);
}

int ListView::addRows(RowBatch &&rows)
{
    return m_model.addRows(std::move(rows.m_rows), keptSortKey());
}

int ListView::keptSortKey() const
{
    // Sorted on a column past the row's texts (a table's extra column), every row is equal: new ones go last.
    return m_sorted && m_sortKey < ListRow::TextCount ? m_sortKey : -1;
}

std::optional<ListItem> ListView::ItemWithTag(qint64 tag)
{
    // Most often the current row shows it, the one just acted on: it is looked at before every other.
    const int position = m_model.positionOfTag(tag, currentIndex().row());
    if (position < 0)
        return std::nullopt;
    return ListItem(this, m_model.rowAt(position), position);
}

std::optional<ListItem> ListView::ItemWithTag(qint64 tag, const std::array<QStringView, ListRow::TextCount> &texts)
{
    const int key = m_sorted ? keptSortKey() : -1;
    if (m_sorted && key < 0)
        return ItemWithTag(tag);
    const int position = m_model.positionOfRecord(tag, key < 0 ? QStringView() : texts[std::size_t(key)], key);
    if (position < 0)
        return std::nullopt;
    return ListItem(this, m_model.rowAt(position), position);
}

void ListView::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}
