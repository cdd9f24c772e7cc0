#include "history.h"

#include "contacts.h"
#include "importer.h"
#include "listrecords.h"
#include "listview.h"
#include "modDB.h"
#include "runtime.h"
#include "synclinks.h"

#include <unordered_set>

namespace {

const QString ChangedElsewhere = QStringLiteral("Il contatto è stato cambiato da un'altra copia del programma: ");

void sayChangedElsewhere(const QString &outcome)
{
    MsgBox(ChangedElsewhere + outcome, 48, QStringLiteral("Attenzione"));
}

// "Mario Rossi": the first name and surname a step names its contact by.
QString nameOf(const Contact &texts)
{
    QStringList name;
    for (const FieldValue &text : {texts[field::Nome], texts[field::Cognome]}) {
        if (text && !text->isEmpty())
            name << *text;
    }
    return name.isEmpty() ? QStringLiteral("un contatto") : name.join(QLatin1Char(' '));
}

} // namespace

History::History(ListView &list, QObject *parent) : QObject(parent), m_list(list) {}

std::shared_ptr<History::Record> History::recordOf(qint64 rowid)
{
    std::weak_ptr<Record> &known = m_records[rowid];
    if (std::shared_ptr<Record> record = known.lock())
        return record;
    auto record = std::make_shared<Record>(Record{rowid});
    known = record;
    return record;
}

void History::push(Step step)
{
    m_done.push_back(std::move(step));
    m_undone.clear();
    emit changed();
}

void History::added(qint64 record, const Contact &texts)
{
    push({QStringLiteral("aggiunta di ") + nameOf(texts), {{recordOf(record), std::nullopt, texts}}});
}

void History::removed(qint64 record, const Contact &texts)
{
    std::shared_ptr<Record> gone = recordOf(record);
    m_records.erase(record);
    push({QStringLiteral("eliminazione di ") + nameOf(texts), {{gone, texts, std::nullopt}}});
}

void History::imported(const std::vector<qint64> &records, Contacts contacts)
{
    Step step{QStringLiteral("importazione di ") + contactsCount(qsizetype(records.size())), {}};
    step.changes.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        step.changes.push_back({recordOf(records[i]), std::nullopt, std::move(contacts[i])});
    push(std::move(step));
}

bool History::edit(qint64 record, int column, const QString &text)
{
    const std::optional<Contact> before = ContactRecords(*modDB::ContactDB).read(record);
    Step step{QString(), {{recordOf(record), before, before}}};
    if (before) {
        (*step.changes[0].after)[std::size_t(column)] = storableText(text);
        step.what = QStringLiteral("modifica di ") + nameOf(*step.changes[0].after);
    }
    if (!before || !apply(step, true)) {
        // The list shows what the file holds: the row of a contact another copy of the program removed goes too.
        const std::optional<ListItem> gone = before ? std::nullopt : m_list.ItemWithTag(record);
        if (gone)
            m_list.ListItems().Remove(gone->Index());
        sayChangedElsewhere(QStringLiteral("la modifica non è stata salvata."));
        return false;
    }
    // The edited row stays the selected one, where it now stands.
    if (const std::optional<ListItem> row = m_list.ItemWithTag(record, viewsOf(*step.changes[0].after)))
        row->setSelected(true);
    push(std::move(step));
    return true;
}

bool History::remove(qint64 record, const std::optional<Contact> &texts)
{
    Step step{texts ? QStringLiteral("eliminazione di ") + nameOf(*texts) : QString(), {{recordOf(record), texts, std::nullopt}}};
    if (!texts || !apply(step, true)) {
        sayChangedElsewhere(QStringLiteral("il contatto non è stato eliminato."));
        return false;
    }
    push(std::move(step));
    return true;
}

QString History::undoText() const
{
    return m_done.empty() ? QString() : QStringLiteral("Annulla ") + m_done.back().what;
}

QString History::redoText() const
{
    return m_undone.empty() ? QString() : QStringLiteral("Ripeti ") + m_undone.back().what;
}

void History::undo()
{
    move(m_done, m_undone, false);
}

void History::redo()
{
    move(m_undone, m_done, true);
}

void History::move(std::vector<Step> &from, std::vector<Step> &to, bool forward)
{
    if (from.empty())
        return;
    const bool applied = apply(from.back(), forward);
    if (applied)
        to.push_back(std::move(from.back()));
    from.pop_back();
    emit changed();
    if (!applied)
        sayChangedElsewhere(forward ? QStringLiteral("l'operazione non può essere ripetuta.")
                                    : QStringLiteral("l'operazione non può essere annullata."));
}

bool History::apply(Step &step, bool forward)
{
    Database &database = *modDB::ContactDB;
    Transaction transaction(database);
    ContactRecords records(database);
    for (const Change &change : step.changes) {
        const std::optional<Contact> &from = forward ? change.before : change.after;
        if (from && records.read(change.record->rowid) != from)
            return false;
    }
    Contacts inserted;
    std::vector<const Change *> insertedAs;
    std::unordered_set<qint64> removed;
    for (const Change &change : step.changes) {
        const std::optional<Contact> &from = forward ? change.before : change.after;
        const std::optional<Contact> &to = forward ? change.after : change.before;
        if (from && to) {
            records.write(change.record->rowid, *to);
        } else if (from) {
            records.remove(change.record->rowid);
            removed.insert(change.record->rowid);
        } else {
            inserted.push_back(*to);
            insertedAs.push_back(&change);
        }
    }
    const std::vector<qint64> rowids = inserted.empty() ? std::vector<qint64>() : appendContacts(database, inserted);
    // A removal taken back before sync told the server keeps the contact's card.
    const bool synced = !rowids.empty() && links::isSynced(database);
    for (std::size_t i = 0; synced && i < rowids.size(); ++i)
        links::relinkRemoved(database, insertedAs[i]->record->rowid, rowids[i]);
    transaction.Commit();

    for (const qint64 rowid : removed)
        m_records.erase(rowid);
    for (std::size_t i = 0; i < rowids.size(); ++i) {
        insertedAs[i]->record->rowid = rowids[i];
        m_records[rowids[i]] = insertedAs[i]->record;
    }

    // The list follows the file: rows of removed records go, changed ones show their new texts, new ones come in.
    if (removed.size() > 1)
        m_list.listModel().removeRowsWithTags(removed);
    for (const Change &change : step.changes) {
        const std::optional<Contact> &from = forward ? change.before : change.after;
        const std::optional<Contact> &to = forward ? change.after : change.before;
        const std::optional<ListItem> row =
            from && (to || removed.size() == 1) ? m_list.ItemWithTag(change.record->rowid, viewsOf(*from)) : std::nullopt;
        if (row)
            showRecord(m_list, *row, to);
    }
    listRecords(m_list, inserted, rowids);
    return true;
}
