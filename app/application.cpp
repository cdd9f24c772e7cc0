#include "application.h"

#include "design.h"
#include "engine.h"
#include "frmGESTDB.h"
#include "modDB.h"
#include "oldfile.h"
#include "runtime.h"

#include <sqlite3.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace brisolta {

namespace {

enum class Conversion { Declined, Done, Failed };

void reportFailedConversion(const QString &reason)
{
    MsgBox(QStringLiteral("Impossibile convertire il file archivio.mdb.\n\n%1\n\nIl file non è stato modificato.").arg(reason),
           16, QStringLiteral("Errore"));
}

// An archivio.mdb that an earlier version left behind is converted when the user agrees; a failure is reported here.
Conversion offerConversion(const EngineError &error)
{
    if (error.number() != SQLITE_NOTADB || !oldfile::isOldFile(modDB::DBPath))
        return Conversion::Declined;
    if (MsgBox(QStringLiteral("Il file archivio.mdb è stato creato da una versione precedente di Brisolta.\n\n"
                              "Convertirlo ora nel nuovo formato? Il file originale sarà conservato come archivio.mdb.jet."),
               36) != vbYes)
        return Conversion::Declined;
    try {
        oldfile::convert(modDB::DBPath);
        return Conversion::Done;
    } catch (const FileError &failure) {
        reportFailedConversion(failure.message());
    } catch (const EngineError &failure) {
        reportFailedConversion(failure.text());
    }
    return Conversion::Failed;
}

} // namespace

void installQtTranslation(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

void setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(ApplicationTitle);
    QApplication::setDesktopFileName(QStringLiteral(BRISOLTA_APP_ID));
    QApplication::setWindowIcon(resourceIcon(QStringLiteral(":/brisolta.ico")));
    installQtTranslation(app);
}

int run(const QString &directory)
{
    frmGESTDB window(directory);
    try {
        try {
            window.Form_Load();
        } catch (const EngineError &error) {
            const Conversion conversion = offerConversion(error);
            if (conversion == Conversion::Failed)
                return 1;
            if (conversion == Conversion::Declined)
                throw;
            window.Form_Load();
        }
    } catch (const EngineError &error) {
        // Nothing more can be done without the contact file: report it and end.
        MsgBox(engineErrorText(error), 16);
        return 1;
    }
    window.show();
    return QApplication::exec();
}

} // namespace brisolta
