// The read floor: a fresh process that only reads every row's texts from the contact file into QStrings with
// SQLite's C API, timed from the same shell stamp as the bench times Brisolta's start-up.

#include "measure.h"

#include <sqlite3.h>

#include <algorithm>
#include <vector>

int main(int argc, char *argv[])
{
    const double started = measure::processStart();
    if (argc != 2)
        measure::fail(QStringLiteral("usage: brisolta_readfloor <contact file>"));
    std::vector<QString> texts;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        measure::fail(QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT * FROM Rubrica ORDER BY rowid", -1, &select, nullptr) != SQLITE_OK)
        measure::fail(QString::fromUtf8(sqlite3_errmsg(db)));
    const int columns = sqlite3_column_count(select);
    while (sqlite3_step(select) == SQLITE_ROW) {
        for (int column = 0; column < columns; ++column)
            texts.push_back(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, column)),
                                              sqlite3_column_bytes(select, column)));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    measure::report(QStringLiteral("read floor (ms)"), measure::millisecondsSince(started));
    measure::report(QStringLiteral("read floor rows"), double(texts.size() / std::size_t(std::max(columns, 1))));
    return 0;
}
