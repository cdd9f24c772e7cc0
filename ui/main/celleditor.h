#pragma once

// Edits one cell of the contact list where it stands. What is typed goes to the window, which stores it in the file
// and shows it in the list; the model is never written to.

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

#include <functional>

class ListView;

class CellEditor : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // Stores the text typed in one cell of the row of record `tag`.
    using Store = std::function<void(qint64 tag, int column, const QString &text)>;
    CellEditor(ListView &list, Store store);

    // Opens an editor on the cell.
    void edit(int row, int column);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Stores the text when it differs from the cell's.
    void store(qint64 tag, int column, const QString &text);

    ListView &m_list;
    Store m_store;
    mutable QPersistentModelIndex m_editing;
};
