#include "application.h"

#include "design.h"
#include "engine.h"
#include "frmGESTDB.h"
#include "modDB.h"
#include "runtime.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace brisolta {

void setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(ApplicationTitle);
    QApplication::setDesktopFileName(QStringLiteral("brisolta"));
    QApplication::setWindowIcon(resourceIcon(QStringLiteral(":/brisolta.ico")));
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    modDB::Warn = [](const QString &prompt, int style, const QString &title) { MsgBox(prompt, style, title); };
}

int run(const QString &directory)
{
    frmGESTDB window(directory);
    try {
        window.Form_Load();
    } catch (const EngineError &error) {
        // Nothing more can be done without the contact file: report it and end.
        MsgBox(engineErrorText(error), 16);
        return 1;
    }
    window.show();
    return QApplication::exec();
}

} // namespace brisolta
