#include "celleditor.h"

#include "listview.h"

#include <QKeyEvent>
#include <QLineEdit>

CellEditor::CellEditor(ListView &list, Store store) : QStyledItemDelegate(&list), m_list(list), m_store(std::move(store))
{
}

void CellEditor::edit(int row, int column)
{
    const QModelIndex index = m_list.model()->index(row, column);
    m_list.setCurrentIndex(index);
    m_list.edit(index);
}

QWidget *CellEditor::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    auto *editor = new QLineEdit(parent);
    editor->setObjectName(QStringLiteral("lstADDEditor"));
    editor->setFrame(false);
    editor->setMaxLength(std::numeric_limits<int>::max());
    // A screen reader names the editor after its column.
    editor->setAccessibleName(m_list.model()->headerData(index.column(), Qt::Horizontal).toString());
    m_editing = index;
    return editor;
}

void CellEditor::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    static_cast<QLineEdit *>(editor)->setText(index.data().toString());
}

void CellEditor::setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const
{
    // The editor is left by moving the focus: the text is stored once the view has closed it, as storing may move the
    // row it stands on.
    const QString text = static_cast<QLineEdit *>(editor)->text();
    const qint64 tag = m_list.listModel().rowAt(index.row())->tag;
    const int column = index.column();
    QMetaObject::invokeMethod(
        const_cast<CellEditor *>(this), [editing = const_cast<CellEditor *>(this), tag, column, text] { editing->store(tag, column, text); }, Qt::QueuedConnection);
}

void CellEditor::store(qint64 tag, int column, const QString &text)
{
    const std::optional<ListItem> row = m_list.ItemWithTag(tag);
    if (row && text != (column == 0 ? row->Text() : row->SubItems(column)))
        m_store(tag, column, text);
}

bool CellEditor::eventFilter(QObject *watched, QEvent *event)
{
    const int key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent *>(event)->key() : 0;
    const bool next = key == Qt::Key_Tab, previous = key == Qt::Key_Backtab;
    if (!next && !previous && key != Qt::Key_Return && key != Qt::Key_Enter)
        return QStyledItemDelegate::eventFilter(watched, event);
    // Enter stores the cell here, so that it does not go on to press the window's default button; Tab and Shift+Tab
    // store it and go on to the next or previous cell of the same row, wherever the row then stands.
    const QString text = static_cast<QLineEdit *>(watched)->text();
    const qint64 tag = m_list.listModel().rowAt(m_editing.row())->tag;
    const int column = m_editing.column();
    emit closeEditor(static_cast<QWidget *>(watched), QAbstractItemDelegate::NoHint);
    store(tag, column, text);
    const int following = column + (next ? 1 : -1);
    const std::optional<ListItem> row = m_list.ItemWithTag(tag);
    if ((next || previous) && row && following >= 0 && following < ListRow::TextCount)
        edit(row->Index() - 1, following);
    return true;
}
