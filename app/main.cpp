#include "application.h"
#include "commandline.h"

#include "runtime.h"

#include <QApplication>

#include <exception>

int main(int argc, char *argv[])
{
    if (brisolta::isCommandLine(argc, argv)) {
        // No display needed: it works in scripts and over ssh.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(brisolta::ApplicationTitle);
        brisolta::installQtTranslation(app);
        return brisolta::runCommandLine(QCoreApplication::arguments());
    }
    QApplication app(argc, argv);
    brisolta::setUpApplication(app);
    try {
        return brisolta::run();
    } catch (const std::exception &error) {
        // The report of last resort: whatever escaped every handler.
        MsgBox(QString::fromLocal8Bit(error.what()), 16);
        return 2;
    }
}
