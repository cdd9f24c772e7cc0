#pragma once

// A report-style contact list: a QTreeView over our own model, offering the list operations
// the main window uses (column headers, rows with a main text and five sub-items, sorting, finding).

#include <QAbstractTableModel>
#include <QIcon>
#include <QTreeView>

#include "largememory.h"
#include "textorder.h"
#include "textstore.h"

#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

class ListView;

class ListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ListModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // A cell is edited by the list's delegate, which stores the text itself, never through setData.
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void appendColumn(const QString &header);
    ListRow *newRow(const std::array<QStringView, ListRow::TextCount> &texts, int smallIcon, qint64 tag);
    // The one way rows come in: in one insert, each after its equal rows when sorted by `sortKey` (-1: not sorted).
    // Returns where the first one stands.
    int addRows(LargeVector<ListRow *> &&rows, int sortKey);
    void removeRowAt(int position);
    // Puts `row` in place of the one at `position`, as a record's new texts.
    void replaceRow(int position, ListRow *row);
    // Removes the rows of these records, in one pass however many they are.
    void removeRowsWithTags(const std::unordered_set<qint64> &tags);
    void sortBy(int key);
    int findRow(const QString &text, int firstPosition) const;
    int positionOf(const ListRow *row, int hint = -1) const;
    int positionOfTag(qint64 tag, int hint) const;
    // Where the record `tag` showing `text` in column `key` stands, found by halving: the rows are in `key`'s order,
    // or in record order when `key` is -1.
    int positionOfRecord(qint64 tag, QStringView text, int key);

    ListRow *rowAt(int position) const { return m_rows[std::size_t(position)]; }
    void setSmallIcons(const QList<QIcon> &icons) { m_smallIcons = icons; }

private:
    int sortedPosition(const ListRow &row, int key);

    TextOrder m_order;
    QStringList m_headers;
    TextStore m_store;
    LargeVector<ListRow *> m_rows; // in display order
    QList<QIcon> m_smallIcons;
};

// A handle on one row; it follows the row through sorting, as the row keeps its identity.
class ListItem
{
public:
    ListItem(ListView *view, ListRow *row, int positionHint = -1) : m_view(view), m_row(row), m_hint(positionHint) {}

    QString Text() const;
    QString SubItems(int k) const;
    int Index() const;
    void EnsureVisible() const;
    void setSelected(bool selected) const;
    qint64 Tag() const;

    bool operator==(const ListItem &other) const { return m_row == other.m_row; }

private:
    int position() const;

    ListView *m_view;
    ListRow *m_row;
    mutable int m_hint; // where the row stood when last seen, so that filling a row costs no search
};

// Rows made ready to join the list in one insert, each tied to the record it shows from the start.
class RowBatch
{
public:
    // A row with its main text and its five sub-items, as a record comes from the file, and that record.
    void Add(const std::array<QStringView, ListRow::TextCount> &texts, int smallIcon, qint64 tag);

private:
    friend class ListView;
    explicit RowBatch(ListModel &model) : m_model(&model) {}
    ListModel *m_model;
    LargeVector<ListRow *> m_rows;
};

class ColumnHeader
{
public:
    explicit ColumnHeader(int index) : m_index(index) {}
    int Index() const { return m_index; }

private:
    int m_index;
};

class ListView : public QTreeView
{
    Q_OBJECT
public:
    explicit ListView(QWidget *parent = nullptr);

    class ColumnHeaderList
    {
    public:
        void Add(const QString &text);

    private:
        friend class ListView;
        explicit ColumnHeaderList(ListView *view) : m_view(view) {}
        ListView *m_view;
    };

    class ListItemList
    {
    public:
        // The batch's rows in one insert: at the end, or each after its equal rows while the list is sorted.
        void Add(RowBatch &&rows);
        // One row, as a batch of one.
        ListItem Add(const std::array<QStringView, ListRow::TextCount> &texts, int smallIcon, qint64 tag);
        int Count() const;
        void Remove(int index);
        ListItem Item(int index) const;

    private:
        friend class ListView;
        explicit ListItemList(ListView *view) : m_view(view) {}
        ListView *m_view;
    };

    ColumnHeaderList ColumnHeaders() { return ColumnHeaderList(this); }
    ListItemList ListItems() { return ListItemList(this); }
    RowBatch newRows() { return RowBatch(m_model); }
    std::optional<ListItem> SelectedItem();
    bool Sorted() const { return m_sorted; }
    void setSorted(bool sorted);
    int SortKey() const { return m_sortKey; }
    void setSortKey(int key);
    // The first row, in display order from `start`, one of whose sub-items begins with `text`.
    std::optional<ListItem> FindItem(const QString &text, int start = 1);
    // The row that shows the record with this bookmark.
    std::optional<ListItem> ItemWithTag(qint64 tag);
    // The same, for a record whose texts are known: found without going through the rows.
    std::optional<ListItem> ItemWithTag(qint64 tag, const std::array<QStringView, ListRow::TextCount> &texts);
    void SetFocus();
    void setSmallIcons(const QList<QIcon> &icons) { m_model.setSmallIcons(icons); }

    ListModel &listModel() { return m_model; }

protected:
    void showEvent(QShowEvent *event) override;

signals:
    void ItemClick(const ListItem &item);
    void ColumnClick(const ColumnHeader &header);

private:
    friend class ListItem;
    friend class ListItemList;
    int addRows(RowBatch &&rows);
    void sortNow();
    // The column the list keeps its rows in order by, or -1.
    int keptSortKey() const;
    // The view takes its model only when it is first shown or asked about a row: filling a
    // hidden list then costs nothing in the view.
    void attachModel();

    ListModel m_model;
    bool m_sorted = false;
    int m_sortKey = 0;
};
