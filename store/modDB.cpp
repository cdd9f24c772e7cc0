#include "modDB.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <optional>

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
    std::optional<EngineError> creationError;
    try {
        ContactDB = DBEngine::CreateDatabase(path);
        for (const char *statement : SchemaStatements)
            ContactDB->Execute(QString::fromLatin1(statement));
        ContactDB->Close();
        ContactDB.reset();
    } catch (const EngineError &error) {
        // Expected on every start after the first: the file exists. Whatever failed, opening decides.
        if (!QFileInfo::exists(path))
            creationError = error;
    }
    try {
        ContactDB = DBEngine::OpenDatabase(path);
    } catch (const EngineError &) {
        // A file that could not be made cannot be opened either: why it could not be made is the cause to report.
        if (creationError)
            throw *creationError;
        throw;
    }
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
