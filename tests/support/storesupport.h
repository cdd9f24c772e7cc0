#pragma once

// What the suites share about files: the contact file as SQLite itself sees it, files made and read whole, and seeds
// to replay. A helper that cannot do its work ends the test run at once, never returns something that reads as
// "nothing there".

#include "modDB.h"

#include <QtCore>
#include <QtTest>

#include <sqlite3.h>

#include <stdexcept>

// Records why a helper failed where the test log shows it, and ends the run.
[[noreturn]] inline void helperFailed(const QString &why)
{
    QTest::qFail(qPrintable(why), __FILE__, __LINE__);
    throw std::runtime_error(why.toStdString());
}

// The rows `sql` reads (every contact, in record order, by default); a null reads as "␀", never as an empty text.
// The file is opened for writing, as the program opens it, so that an interrupted change is rolled back first.
inline QList<QStringList> rowsInFile(const QString &path, const char *sql = "SELECT * FROM Rubrica ORDER BY rowid")
{
    QList<QStringList> rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *query = nullptr;
    const auto failed = [&] { helperFailed(QStringLiteral("%1: %2").arg(path, sqlite3_errmsg(db))); };
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK || sqlite3_prepare_v2(db, sql, -1, &query, nullptr) != SQLITE_OK)
        failed();
    // A leading byte-order mark is part of a stored text.
    QStringDecoder decoder = storedTextDecoder();
    int status = SQLITE_ROW;
    for (QStringList row; (status = sqlite3_step(query)) == SQLITE_ROW; rows << row, row.clear()) {
        for (int c = 0; c < sqlite3_column_count(query); ++c)
            row << (sqlite3_column_type(query, c) == SQLITE_NULL ? QStringLiteral("␀")
                                                                    : decoder(QByteArrayView(sqlite3_column_text(query, c), sqlite3_column_bytes(query, c))));
    }
    if (status != SQLITE_DONE)
        failed();
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

// Makes a contact file as the program makes it, then runs `sql` on it.
inline void makeFile(const QString &path, const QString &sql = QString())
{
    sqlite3 *db = nullptr;
    const QString all = QStringList(modDB::SchemaStatements.begin(), modDB::SchemaStatements.end()).join(';') + ';' + sql;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK || sqlite3_exec(db, all.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        helperFailed(QStringLiteral("%1: %2").arg(path, sqlite3_errmsg(db)));
    sqlite3_close(db);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        helperFailed(path + QStringLiteral(": ") + file.errorString());
    return file.readAll();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        helperFailed(path + QStringLiteral(": ") + file.errorString());
}

inline QStringList filesIn(const QString &folder) { return QFileInfo(folder).isDir() ? QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) : (helperFailed(folder + ": no such folder"), QStringList()); }

inline qint64 addRecord(Recordset &records, const QStringList &texts)
{
    records.AddNew();
    for (int k = 0; k < 6; ++k)
        records.Fields().Item(modDB::FieldNames[k]).setValue(texts.value(k));
    records.Update();
    return *records.LastModified();
}

// The seed comes from the named variable when it is set, so that a failing run can be replayed.
inline quint32 seedFrom(const char *variable)
{
    const quint32 seed = qEnvironmentVariableIsSet(variable) ? qEnvironmentVariable(variable).toUInt() : QRandomGenerator::global()->generate();
    return qDebug("%s=%u", variable, seed), seed;
}
