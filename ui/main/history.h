#pragma once

// What was changed in the window, to take back and repeat in order for as long as the window is open: each addition,
// removal, edit and import is one step.

#include "contact.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class ListView;

class History : public QObject
{
    Q_OBJECT
public:
    explicit History(ListView &list, QObject *parent = nullptr);

    // Each keeps a change already stored, with the texts as the file holds them.
    void added(qint64 record, const Contact &texts);
    void removed(qint64 record, const Contact &texts);
    void imported(const std::vector<qint64> &records, Contacts contacts);

    // Stores one text of a record, or deletes a record that holds `texts`, and keeps the change; when the file no
    // longer holds the record so (or at all), says it and changes nothing. Engine errors pass to the caller.
    bool edit(qint64 record, int column, const QString &text);
    bool remove(qint64 record, const std::optional<Contact> &texts);

    // "Annulla eliminazione di Mario Rossi", "Ripeti modifica di Anna Bianchi"; empty when there is none.
    QString undoText() const;
    QString redoText() const;
    // A step the file no longer fits (another copy of the program changed it) is said and dropped; on an engine
    // error it stays where it is, and the error passes to the caller.
    void undo();
    void redo();

signals:
    void changed();

private:
    // A contact's record: the steps that touch one contact share it, so that when one brings the record back under a
    // new rowid, the others follow it there.
    struct Record
    {
        qint64 rowid;
    };
    // One record before and after a step: no `before` for an addition, no `after` for a removal.
    struct Change
    {
        std::shared_ptr<Record> record;
        std::optional<Contact> before, after;
    };
    struct Step
    {
        QString what;
        std::vector<Change> changes;
    };

    std::shared_ptr<Record> recordOf(qint64 rowid);
    // Takes the file and the list from one side of the step to the other in one transaction; false, with nothing
    // changed, when the file does not hold the side it starts from.
    bool apply(Step &step, bool forward);
    void push(Step step);
    // Takes the step from one list to the other, or drops it, saying so, when the file no longer fits it.
    void move(std::vector<Step> &from, std::vector<Step> &to, bool forward);

    ListView &m_list;
    std::vector<Step> m_done;
    std::vector<Step> m_undone;
    std::unordered_map<qint64, std::weak_ptr<Record>> m_records; // by rowid, the records in the file that steps name
};
