#pragma once

// Looking at a contact file with SQLite itself, beside the program's own store.

#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringDecoder>
#include <QtTest>

#include <sqlite3.h>

#include <optional>

struct ShownBox
{
    QString prompt;
    int style;
    QString title;
};

using Row = QList<std::optional<QString>>;

// Reads the contact file with SQLite itself, in rowid order, nulls kept apart from empty texts.
inline QList<Row> rowsInFile(const QString &path, const char *sql = "SELECT * FROM Rubrica ORDER BY rowid")
{
    QList<Row> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            Row row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const auto text = reinterpret_cast<const char *>(sqlite3_column_text(statement, c));
                const int bytes = sqlite3_column_bytes(statement, c);
                // Decoded as stored: a leading byte-order mark is part of the text.
                QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
                row.append(text ? std::optional<QString>(decoder(QByteArrayView(text, bytes))) : std::nullopt);
            }
            rows.append(row);
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// Runs statements on a contact file with SQLite itself (to prepare one, or to break it).
inline void runSql(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char *message = nullptr;
    const int result = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    const QString error = QString::fromUtf8(message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
    QVERIFY2(result == SQLITE_OK, qPrintable(error));
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The seed comes from the named variable when it is set, so that a failing run can be replayed.
inline quint32 seedFrom(const char *variable)
{
    bool given = false;
    const quint32 seed = qEnvironmentVariable(variable).toUInt(&given);
    const quint32 chosen = given ? seed : QRandomGenerator::global()->generate();
    qDebug("%s=%u", variable, chosen);
    return chosen;
}
