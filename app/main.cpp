#include "application.h"

#include "runtime.h"

#include <QApplication>

#include <exception>

int main(int argc, char *argv[])
{
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
