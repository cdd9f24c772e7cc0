#include "recordchanges.h"

RecordChanges::RecordChanges(Database &database)
    : m_read(database.handle(), "SELECT Nome, Cognome, Telefono, Cellulare, Fax, Email FROM Rubrica WHERE rowid = ?"),
      m_write(database.handle(),
              "UPDATE Rubrica SET Nome = ?, Cognome = ?, Telefono = ?, Cellulare = ?, Fax = ?, Email = ? WHERE rowid = ?"),
      m_remove(database.handle(), "DELETE FROM Rubrica WHERE rowid = ?")
{
}

std::optional<Contact> RecordChanges::read(qint64 rowid)
{
    m_read.bind(1, rowid);
    std::optional<Contact> texts;
    if (m_read.step()) {
        texts.emplace();
        for (std::size_t k = 0; k < texts->size(); ++k)
            (*texts)[k] = m_read.text(int(k));
    }
    m_read.reset();
    return texts;
}

void RecordChanges::write(qint64 rowid, const Contact &texts)
{
    m_write.clearBindings();
    for (std::size_t k = 0; k < texts.size(); ++k) {
        if (texts[k])
            m_write.bind(int(k) + 1, *texts[k]);
    }
    m_write.bind(7, rowid);
    m_write.step();
    m_write.reset();
}

void RecordChanges::remove(qint64 rowid)
{
    m_remove.bind(1, rowid);
    m_remove.step();
    m_remove.reset();
}
