#include "modDB.h"

#include <QCoreApplication>

namespace modDB {

bool DBLoaded = false;
std::unique_ptr<Database> ContactDB;
std::unique_ptr<Recordset> ContactRS;
QString DBPath;
std::function<void(const QString &, int, const QString &)> Warn;

void LoadDB(const QString &directory)
{
    DBPath = (directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory) + QLatin1Char('/') + FileName;
    CreateDB(DBPath);
    ContactDB = DBEngine::OpenDatabase(DBPath);
    DBLoaded = true;
}

void CreateDB(const QString &path)
{
    try {
        ContactDB = DBEngine::CreateDatabase(path);
        for (const char *statement : SchemaStatements)
            ContactDB->Execute(QString::fromLatin1(statement));
        ContactDB->Close();
        ContactDB.reset();
    } catch (const EngineError &) {
        // Expected on every start after the first: the file exists. Whatever failed, opening decides.
    }
    ContactDB = DBEngine::OpenDatabase(path);
}

void LoadRecordset()
{
    if (DBLoaded) {
        ContactRS = ContactDB->OpenRecordset(TableName);
    } else if (Warn) {
        Warn(QStringLiteral("Impossibile caricare il recordset poichè il db risulta non caricato."), 48,
             QStringLiteral("Attenzione"));
    }
}

} // namespace modDB
