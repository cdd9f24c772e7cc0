#include "backup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

QString keepCopy(Database &database, const QString &path, int keep)
{
    const QFileInfo original(path);
    const QString prefix = original.fileName() + QLatin1String(".copia-");
    const QString base = original.absoluteFilePath() + QLatin1String(".copia-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copyPath = base;
    for (int n = 2; QFileInfo::exists(copyPath); ++n)
        copyPath = base + QLatin1Char('_') + QString::number(n);

    const std::shared_ptr<sqlite3> copy = sqlite::open(copyPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup *backup = sqlite3_backup_init(copy.get(), "main", database.handle(), "main");
    int result = backup ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(copy.get());
    if (backup)
        result = result == SQLITE_DONE ? sqlite3_backup_finish(backup) : (sqlite3_backup_finish(backup), result);
    if (result != SQLITE_OK) {
        QFile::remove(copyPath);
        sqlite::check(copy.get(), result);
    }
    // As private as the contact file it copies.
    QFile::setPermissions(copyPath, QFile::ReadOwner | QFile::WriteOwner);

    QStringList copies = original.dir().entryList({prefix + QLatin1Char('*')}, QDir::Files, QDir::Name);
    while (copies.size() > keep)
        original.dir().remove(copies.takeFirst());
    return copyPath;
}
