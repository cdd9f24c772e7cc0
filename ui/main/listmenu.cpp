#include "listmenu.h"

#include "celleditor.h"
#include "files.h"
#include "frmGESTDB.h"
#include "history.h"
#include "importer.h"
#include "listview.h"
#include "modDB.h"
#include "runtime.h"
#include "syncdialog.h"
#include "synclinks.h"
#include "syncrunner.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>

namespace {

QAction *item(QMenu *menu, const char *name, const QString &text, const QList<QKeySequence> &keys = {})
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(keys);
    return action;
}

} // namespace

QMimeData *clipboardData(const Contact &contact)
{
    auto *data = new QMimeData;
    data->setData(QStringLiteral("text/vcard"), vcard::encode({contact}));
    QStringList texts;
    for (const FieldValue &value : contact) {
        QString text = value.value_or(QString());
        // One line, one text a column: tabs and line breaks inside a text would split them.
        std::replace_if(text.begin(), text.end(), [](QChar c) { return c == u'\t' || c == u'\r' || c == u'\n'; }, u' ');
        texts << text;
    }
    data->setText(texts.join(QLatin1Char('\t')));
    return data;
}

ListMenu::ListMenu(frmGESTDB &window, ListView &list, History &history)
    : QObject(&window), m_window(window), m_list(list), m_history(history)
{
    menu = new QMenu(&list);
    menu->setObjectName(QStringLiteral("lstADDMenu"));
    smModifica = item(menu, "smModifica", QStringLiteral("Modifica"), {Qt::Key_F2});
    smElimina = item(menu, "smElimina", QStringLiteral("Elimina"), {Qt::Key_Delete});
    smCopia = item(menu, "smCopia", QStringLiteral("Copia"), {QKeySequence::Copy});
    menu->addSeparator();
    smAnnulla = item(menu, "smAnnulla", QStringLiteral("Annulla"), {Qt::CTRL | Qt::Key_Z});
    smRipeti = item(menu, "smRipeti", QStringLiteral("Ripeti"), {Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z});
    menu->addSeparator();
    smImporta = item(menu, "smImporta", QStringLiteral("Importa contatti…"));
    smEsporta = item(menu, "smEsporta", QStringLiteral("Esporta contatti…"));
    menu->addSeparator();
    smSincronizza = item(menu, "smSincronizza", QStringLiteral("Sincronizzazione…"));
    auto *popUpKey = new QAction(&list);
    popUpKey->setShortcut(Qt::SHIFT | Qt::Key_F10);

    // The keys of the selected row work while the list has the focus; taking back and repeating, anywhere in the window.
    for (QAction *action : {smModifica, smElimina, smCopia, popUpKey}) {
        action->setShortcutContext(Qt::WidgetShortcut);
        list.addAction(action);
    }
    window.addActions({smAnnulla, smRipeti});
    connect(smModifica, &QAction::triggered, this, [this] { editSelected(); });
    connect(smElimina, &QAction::triggered, this, [this] { removeSelected(); });
    connect(smCopia, &QAction::triggered, this, [this] { copySelected(); });
    connect(smAnnulla, &QAction::triggered, this, [this] { reportingEngineErrors([this] { m_history.undo(); }); });
    connect(smRipeti, &QAction::triggered, this, [this] { reportingEngineErrors([this] { m_history.redo(); }); });
    connect(smImporta, &QAction::triggered, this, [this] { importChosen(); });
    connect(smEsporta, &QAction::triggered, this, [this] { exportChosen(); });
    connect(popUpKey, &QAction::triggered, this, [this] { popUp(); });
    connect(&history, &History::changed, this, [this] { refresh(); });

    sync = new SyncRunner(window, list, this);
    connect(&history, &History::changed, sync, &SyncRunner::changed);
    connect(sync, &SyncRunner::stateChanged, this, [this] { smSincronizza->setText(sync->menuText()); });
    connect(smSincronizza, &QAction::triggered, this, [this] {
        SyncDialog dialog(*sync);
        dialog.exec();
    });

    m_editor = new CellEditor(list, [this](qint64 tag, int column, const QString &text) { storeCell(tag, column, text); });
    list.setItemDelegate(m_editor);
    list.setEditTriggers(QAbstractItemView::DoubleClicked);
    list.installEventFilter(this);
    list.viewport()->installEventFilter(this);
    for (QLineEdit *field : window.Text1)
        field->installEventFilter(this);
    refresh();
}

void ListMenu::refresh()
{
    const bool selected = m_list.selectionModel() && m_list.selectionModel()->hasSelection();
    for (QAction *action : {smModifica, smElimina, smCopia})
        action->setEnabled(selected);
    const QString undo = m_history.undoText(), redo = m_history.redoText();
    smAnnulla->setText(undo.isEmpty() ? QStringLiteral("Annulla") : undo);
    smAnnulla->setEnabled(!undo.isEmpty());
    smRipeti->setText(redo.isEmpty() ? QStringLiteral("Ripeti") : redo);
    smRipeti->setEnabled(!redo.isEmpty());
}

void ListMenu::popUp(std::optional<QPoint> at)
{
    refresh();
    const QRect row = m_list.visualRect(m_list.currentIndex());
    menu->exec(at.value_or(m_list.viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() : QPoint(0, 0))));
}

bool ListMenu::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ContextMenu && (watched == &m_list || watched == m_list.viewport())) {
        const auto *asked = static_cast<QContextMenuEvent *>(event);
        popUp(asked->reason() == QContextMenuEvent::Mouse ? std::optional<QPoint>(asked->globalPos()) : std::nullopt);
        return true;
    }
    if (event->type() == QEvent::FocusIn && watched == &m_list && m_list.selectionModel()) {
        // The view makes its selection model when it first shows its rows.
        connect(m_list.selectionModel(), &QItemSelectionModel::selectionChanged, this, &ListMenu::refresh,
                Qt::UniqueConnection);
        refresh();
    }
    // Ctrl+Z in an entry field undoes its typing while it has some; otherwise it is the window's, as anywhere else.
    if (event->type() == QEvent::ShortcutOverride && watched != &m_list && watched != m_list.viewport()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const auto *field = static_cast<QLineEdit *>(watched);
        const QKeySequence pressed(key->keyCombination());
        if ((smAnnulla->shortcuts().contains(pressed) && !field->isUndoAvailable()) ||
            (smRipeti->shortcuts().contains(pressed) && !field->isRedoAvailable())) {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ListMenu::editSelected()
{
    if (const std::optional<ListItem> selected = m_list.SelectedItem())
        m_editor->edit(selected->Index() - 1, 0);
}

void ListMenu::storeCell(qint64 tag, int column, const QString &text)
{
    const std::optional<ListItem> row = m_list.ItemWithTag(tag);
    if (!row)
        return;
    // As "Aggiungi" does, a contact keeps a name, a surname and a telephone number once it has them.
    if (column <= int(field::Telefono) && text.isEmpty() && !(column == 0 ? row->Text() : row->SubItems(column)).isEmpty()) {
        MsgBox(QStringLiteral("Ci sono dei campi non compiati . Inserire i dati e riprovare."), 16, QStringLiteral("Errore"));
        return;
    }
    reportingEngineErrors([&] { m_history.edit(tag, column, text); });
}

void ListMenu::removeSelected()
{
    const std::optional<ListItem> selected = m_list.SelectedItem();
    if (!selected)
        return;
    reportingEngineErrors([&] {
        const qint64 record = selected->Tag();
        // The question names the contact that will go, as the file holds it.
        const std::optional<Contact> texts = ContactRecords(*modDB::ContactDB).read(record);
        if (texts && MsgBox(QStringLiteral("Eliminare ") + (*texts)[field::Nome].value_or(QString()) + QLatin1Char(' ') +
                                (*texts)[field::Cognome].value_or(QString()) + QStringLiteral(" definitivamente dal database?."),
                            36) != vbYes)
            return;
        m_history.remove(record, texts);
    });
}

void ListMenu::copySelected()
{
    const std::optional<ListItem> selected = m_list.SelectedItem();
    if (!selected)
        return;
    Contact contact{selected->Text()};
    for (int k = 1; k < ListRow::TextCount; ++k)
        contact[std::size_t(k)] = selected->SubItems(k);
    QGuiApplication::clipboard()->setMimeData(clipboardData(contact));
}

void ListMenu::importChosen()
{
    const FileDialogAnswer chosen = FileDialog(FileDialogMode::Open, QStringLiteral("Importa contatti"),
                                               {QStringLiteral("Contatti (*.vcf *.vcard *.csv *.mdb)")});
    if (!chosen.paths.isEmpty())
        reportingEngineErrors([&] { m_window.importFiles(chosen.paths); });
}

void ListMenu::exportChosen()
{
    const QStringList types{QStringLiteral("vCard 3.0 (*.vcf)"), QStringLiteral("vCard 4.0 (*.vcf)"), QStringLiteral("CSV (*.csv)")};
    const FileDialogAnswer chosen = FileDialog(FileDialogMode::Save, QStringLiteral("Esporta contatti"), types);
    if (chosen.paths.isEmpty())
        return;
    QString path = chosen.paths.first();
    // A name typed without its extension takes the chosen type's.
    if (kindOf(path).value_or(FileKind::OldFile) == FileKind::OldFile)
        path += chosen.type == 2 ? QStringLiteral(".csv") : QStringLiteral(".vcf");
    reportingEngineErrors([&] {
        Database &database = *modDB::ContactDB;
        // The contacts and their cards' UIDs as of one moment: a sync may be writing the file meanwhile.
        Transaction reading(database, false);
        const Contacts stored = storedContacts(database);
        const std::vector<QString> uids = links::uids(database);
        reading.Commit();
        try {
            writeContactFile(path, stored, chosen.type == 1 ? vcard::Version::V4 : vcard::Version::V3, uids);
        } catch (const FileError &error) {
            MsgBox(error.message(), 16, QStringLiteral("Errore"));
            return;
        }
        MsgBox(QStringLiteral("Esportati %1 in %2.").arg(contactsCount(qsizetype(stored.size())), path), 64, QStringLiteral("Info"));
    });
}
