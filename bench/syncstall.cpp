// How long the window's event loop stands still at most while the window syncs on its own: a timer asks to run every
// millisecond, and the longest gap between two of its runs is printed with the time the sync took.
// Usage: brisolta_syncstall DIRECTORY (its archivio.mdb set up for sync; the password in BRISOLTA_PASSWORD).

#include "application.h"
#include "frmGESTDB.h"
#include "listmenu.h"
#include "syncrunner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    brisolta::setUpApplication(app);
    if (argc != 2)
        return 2;
    frmGESTDB window(QString::fromLocal8Bit(argv[1]));
    window.Form_Load();
    SyncRunner &runner = *window.listMenu->sync;
    runner.setPassword(qEnvironmentVariable("BRISOLTA_PASSWORD"));

    QElapsedTimer clock, sinceTick;
    qint64 longest = 0, took = 0;
    bool started = false;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
        started = started || runner.isBusy();
        if (started && !runner.isBusy() && !took)
            took = clock.elapsed();
        // Watched for a second more: a large sync's rows come in slices after it ends.
        if (took && clock.elapsed() > took + 1000) {
            std::printf("sync %lld ms, longest stall %lld ms, %d rows, %s\n", took, longest,
                        window.lstADD->ListItems().Count(), qPrintable(runner.menuText()));
            app.quit();
        }
    });
    clock.start();
    sinceTick.start();
    tick.start();
    window.show();
    return app.exec();
}
