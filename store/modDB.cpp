#include "modDB.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <optional>

namespace modDB {

bool DBLoaded = false;
std::unique_ptr<Database> ContactDB;
std::unique_ptr<Recordset> ContactRS;
QString DBPath;

QString ContactFolder()
{
    return ContactFolder(QCoreApplication::applicationDirPath());
}

QString ContactFolder(const QString &programFolder)
{
    if (QFileInfo::exists(programFolder + QLatin1Char('/') + FileName))
        return programFolder;
    // No new file under /usr, not even for root, who may write there: what is there belongs to the package. A file
    // made and dropped tells whether the user may write the folder where permissions alone do not (Windows).
    QTemporaryFile probe(programFolder + QLatin1String("/.brisolta-XXXXXX"));
    if (!programFolder.startsWith(QLatin1String("/usr/")) && probe.open())
        return programFolder;
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // Private like the file in it; a failure here shows up as the engine's failure to open the file.
    if (QDir().mkpath(QFileInfo(dataFolder).path()))
        QDir().mkdir(dataFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dataFolder;
}

void LoadDB(const QString &directory)
{
    DBPath = (directory.isEmpty() ? ContactFolder() : directory) + QLatin1Char('/') + FileName;
    CreateDB(DBPath);
    ContactDB = DBEngine::OpenDatabase(DBPath);
    DBLoaded = true;
}

void CreateDB(const QString &path)
{
    ContactDB = OpenContactFile(path, true);
}

std::unique_ptr<Database> OpenContactFile(const QString &path, bool create)
{
    std::optional<EngineError> creationError;
    if (create) {
        try {
            const std::unique_ptr<Database> created = DBEngine::CreateDatabase(path);
            createSchema(*created);
            created->Close();
        } catch (const EngineError &error) {
            // Expected on every start after the first: the file exists. Whatever failed, opening decides.
            if (!QFileInfo::exists(path))
                creationError = error;
        }
    }
    try {
        return DBEngine::OpenDatabase(path);
    } catch (const EngineError &) {
        // A file that could not be made cannot be opened either: why it could not be made is the cause to report.
        if (creationError)
            throw *creationError;
        throw;
    }
}

std::unique_ptr<Database> EmptyContactFile()
{
    std::unique_ptr<Database> empty = DBEngine::OpenDatabase(QStringLiteral(":memory:"));
    createSchema(*empty);
    return empty;
}

bool LoadRecordset()
{
    if (!DBLoaded)
        return false;
    ContactRS = ContactDB->OpenRecordset(TableName);
    return true;
}

std::vector<Field> ContactFields(Recordset &records)
{
    std::vector<Field> fields;
    for (const QString &name : FieldNames)
        fields.push_back(records.Fields().Item(name));
    return fields;
}

} // namespace modDB
