// The toolkit floor: the least a Qt Widgets program showing a tree view and a few line edits needs to reach its
// first paint, timed exactly as the bench times Brisolta's start-up.

#include "measure.h"

#include <QApplication>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTreeView>

int main(int argc, char *argv[])
{
    const double started = measure::processStart();
    const double mainEntered = measure::millisecondsSince(started);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double appReady = measure::millisecondsSince(started);
    QWidget window;
    window.resize(419, 396);
    for (int k = 0; k < 6; ++k)
        (new QLineEdit(&window))->setGeometry(16 + k % 2 * 136, 32 + k / 2 * 40, 129, 20);
    QStandardItemModel model(0, 6);
    model.setHorizontalHeaderLabels({"1", "2", "3", "4", "5", "6"});
    auto *tree = new QTreeView(&window);
    tree->setModel(&model);
    tree->setGeometry(16, 136, 385, 177);
    const double built = measure::millisecondsSince(started);
    window.show();
    const double shown = measure::millisecondsSince(started);
    measure::FirstPaint watcher(tree->viewport(), [&] {
        measure::report(QStringLiteral("toolkit floor (ms)"), measure::millisecondsSince(started));
        // Its steps, to set beside the program's.
        measure::report(QStringLiteral("· toolkit floor: main() entered at (ms)"), mainEntered);
        measure::report(QStringLiteral("· toolkit floor: QApplication set up at (ms)"), appReady);
        measure::report(QStringLiteral("· toolkit floor: window built at (ms)"), built);
        measure::report(QStringLiteral("· toolkit floor: show() returned at (ms)"), shown);
        app.quit();
    });
    return QApplication::exec();
}
