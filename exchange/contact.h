#pragma once

// A contact as it travels in and out of the program: the table's six texts in their order.

#include "contacts.h"

#include <QString>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>


// Where each text sits in a Contact.
namespace field {
enum : std::size_t { Nome, Cognome, Telefono, Cellulare, Fax, Email };
}

// A contact without a single text, which no file is worth a record for.
inline bool isEmptyContact(const Contact &contact)
{
    return std::all_of(contact.begin(), contact.end(), [](const FieldValue &text) { return !text || text->isEmpty(); });
}

// A file that cannot be read as what it claims to be: where it went wrong (1-based; 0 when unknown) and why,
// in Italian, for the user.
class FormatError : public std::runtime_error
{
public:
    FormatError(int line, int column, const QString &reason)
        : std::runtime_error(reason.toStdString()), m_line(line), m_column(column), m_reason(reason)
    {
    }
    int line() const { return m_line; }
    int column() const { return m_column; }
    QString reason() const { return m_reason; }

private:
    int m_line;
    int m_column;
    QString m_reason;
};

// A file that cannot be read or written, said for the user in one line: which file, where, why.
class FileError : public std::runtime_error
{
public:
    explicit FileError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};
