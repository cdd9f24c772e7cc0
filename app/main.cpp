#include "application.h"
#include "commandline.h"

#include "oldfile.h"
#include "runtime.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
    // The old-file reader is this program in a process of its own, which never opens a window.
    if (argc == 3 && std::strcmp(argv[1], oldfile::ReaderOption) == 0)
        return oldfile::runReader(argv[2]);
    if (brisolta::isCommandLine(argc, argv)) {
#ifdef _WIN32
        // A windowed program has no console of its own: it writes to the one it was started from.
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            std::freopen("CONOUT$", "w", stdout);
            std::freopen("CONOUT$", "w", stderr);
        }
#endif
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
