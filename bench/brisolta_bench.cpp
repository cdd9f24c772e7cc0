// Measures the program on a contact file (bench/README.md); prints one "figure<TAB>value" line per measurement.

#include "application.h"
#include "engine.h"
#include "frmGESTDB.h"
#include "modDB.h"
#include "oldfile.h"
#include "runtime.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const ColumnNames[6] = {"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};

double secondsOf(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// "1733512345.123456", with either decimal separator: bash writes the locale's.
bool parseEpochSeconds(const char *text, double &seconds)
{
    char *end = nullptr;
    const long long whole = std::strtoll(text, &end, 10);
    if (end == text)
        return false;
    double fraction = 0;
    if (*end == '.' || *end == ',') {
        double scale = 0.1;
        for (const char *digit = end + 1; *digit >= '0' && *digit <= '9'; ++digit, scale /= 10)
            fraction += (*digit - '0') * scale;
    }
    seconds = double(whole) + fraction;
    return true;
}

// When this process began, in CLOCK_REALTIME seconds: the launcher's stamp, else the kernel's (in 10 ms steps).
double processStart()
{
    double given = 0;
    if (const char *text = std::getenv("BRISOLTA_BENCH_T0"); text && parseEpochSeconds(text, given))
        return given;
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // The fields after the command name, whose closing parenthesis is the last one; starttime is field 22.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
    }
    const double startedAfterBoot = std::strtod(field.c_str(), nullptr) / double(sysconf(_SC_CLK_TCK));
    return secondsOf(CLOCK_REALTIME) - (secondsOf(CLOCK_BOOTTIME) - startedAfterBoot);
}

// Each first touch of a page is a fault; on a virtual machine they can cost more than the work itself.
long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

double peakRssMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

void report(const QString &figure, double value)
{
    // QString's numbers ignore the locale, which QApplication has just set from the environment.
    std::printf("%s\t%s\n", figure.toUtf8().constData(), QString::number(value, 'f', 3).toUtf8().constData());
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "brisolta_bench: %s\n", qPrintable(why));
    std::exit(1);
}

// Calls back once the first paint of `widget` is complete, the rest of the window's paint and flush included.
class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget *widget, std::function<void()> painted) : m_painted(std::move(painted))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            watched->removeEventFilter(this);
            // Queued: it runs when the event loop regains control, after this paint has been flushed.
            QMetaObject::invokeMethod(this, m_painted, Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void()> m_painted;
    bool m_seen = false;
};

// What the program's reading can never beat: the same rows straight from SQLite into QStrings.
double floorMilliseconds(const QString &path, qsizetype &rows, long &faults)
{
    const long faultsBefore = minorFaults();
    QElapsedTimer timer;
    timer.start();
    std::vector<QString> texts;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        fail(QStringLiteral("cannot open %1").arg(path));
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT * FROM Rubrica ORDER BY rowid", -1, &select, nullptr) != SQLITE_OK)
        fail(QString::fromUtf8(sqlite3_errmsg(db)));
    while (sqlite3_step(select) == SQLITE_ROW) {
        for (int column = 0; column < 6; ++column)
            texts.push_back(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, column)),
                                              sqlite3_column_bytes(select, column)));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    faults = minorFaults() - faultsBefore;
    rows = qsizetype(texts.size() / 6);
    return elapsed;
}

int startup(QApplication &app, const QString &directory, double started, double mainEntered, long faultsAtMain,
            double appReady)
{
    const auto sinceStart = [started] { return (secondsOf(CLOCK_REALTIME) - started) * 1000.0; };
    frmGESTDB window(directory);
    const double built = sinceStart();
    try {
        window.Form_Load();
    } catch (const EngineError &error) {
        fail(engineErrorText(error));
    }
    const double loaded = sinceStart();
    window.show();
    const double shown = sinceStart();
    double painted = 0;
    double rss = 0;
    long faults = 0;
    FirstPaint watcher(window.lstADD->viewport(), [&] {
        painted = sinceStart();
        rss = peakRssMiB();
        faults = minorFaults();
        app.quit();
    });
    QApplication::exec();

    qsizetype floorRows = 0;
    long floorFaults = 0;
    const double floor = floorMilliseconds(QDir(directory).filePath(modDB::FileName), floorRows, floorFaults);
    const int listed = window.lstADD->ListItems().Count();
    if (listed != floorRows)
        fail(QStringLiteral("the list shows %1 rows, the file holds %2").arg(listed).arg(floorRows));

    report(QStringLiteral("contacts"), listed);
    report(QStringLiteral("start-up (ms)"), painted);
    report(QStringLiteral("floor (ms)"), floor);
    report(QStringLiteral("start-up ÷ floor"), painted / floor);
    report(QStringLiteral("peak RSS (MiB)"), rss);
    // Where the start-up went: each step's end, counted from the process start.
    report(QStringLiteral("· main() entered at (ms)"), mainEntered);
    report(QStringLiteral("· QApplication set up at (ms)"), appReady);
    report(QStringLiteral("· window built at (ms)"), built);
    report(QStringLiteral("· Form_Load done at (ms)"), loaded);
    report(QStringLiteral("· show() returned at (ms)"), shown);
    report(QStringLiteral("· page faults before main()"), double(faultsAtMain));
    report(QStringLiteral("· page faults until first paint"), double(faults));
    report(QStringLiteral("· page faults in the floor"), double(floorFaults));
    return 0;
}

class Stopwatch
{
public:
    Stopwatch() { m_timer.start(); }
    double milliseconds() const { return double(m_timer.nsecsElapsed()) / 1e6; }

private:
    QElapsedTimer m_timer;
};

// Lets whatever the last step posted run, so that no step is charged with its predecessor's leftovers.
void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

int ops(QApplication &app, const QString &directory, int repetitions)
{
    QStringList errors;
    setMsgBoxAnswerer([&errors](const QString &prompt, int style, const QString &) {
        if ((style & 0x70) == 16)
            errors << prompt;
        return (style & 0x07) == 4 ? vbYes : vbOK;
    });
    frmGESTDB window(directory);
    try {
        window.Form_Load();
    } catch (const EngineError &error) {
        fail(engineErrorText(error));
    }
    window.show();
    FirstPaint watcher(window.lstADD->viewport(), [&app] { app.quit(); });
    QApplication::exec();
    settle();

    ListView &list = *window.lstADD;
    const int contacts = list.ListItems().Count();
    report(QStringLiteral("contacts"), contacts);

    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (int key = 0; key < 6; ++key) {
            settle();
            const Stopwatch watch;
            list.setSorted(true);
            list.setSortKey(key);
            list.viewport()->repaint();
            report(QStringLiteral("sort by %1 (ms)").arg(QLatin1String(ColumnNames[key])), watch.milliseconds());
        }
    }

    // Begins like the many Rossi rows, so that those are compared beyond their first letter, and matches nothing.
    const QString nowhere = QStringLiteral("Rossi Zz");
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        settle();
        const Stopwatch watch;
        const std::optional<ListItem> found = list.FindItem(nowhere);
        const double elapsed = watch.milliseconds();
        if (found)
            fail(QStringLiteral("\"%1\" was found").arg(nowhere));
        report(QStringLiteral("find worst case (ms)"), elapsed);
    }

    if (contacts == 0)
        return errors.isEmpty() ? 0 : 1;

    // Remove a contact from the middle of the list sorted by surname, as the user sees it, then type it in again.
    list.setSortKey(1);
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        int index = list.ListItems().Count() / 2 + 1;
        QStringList texts;
        for (;; ++index) {
            if (index > list.ListItems().Count())
                fail(QStringLiteral("no contact with a name, a surname and a phone number"));
            const ListItem item = list.ListItems().Item(index);
            texts = QStringList{item.Text()};
            for (int k = 1; k < 6; ++k)
                texts << item.SubItems(k);
            if (!texts[0].isEmpty() && !texts[1].isEmpty() && !texts[2].isEmpty())
                break;
        }

        list.ListItems().Item(index).setSelected(true);
        window.Text1[0]->setText(texts[0]);
        window.Text1[1]->setText(texts[1]);
        settle();
        Stopwatch removal;
        window.Command1_Click(1);
        list.viewport()->repaint();
        const double removed = removal.milliseconds();
        if (list.ListItems().Count() != contacts - 1)
            fail(QStringLiteral("removing %1 %2 left %3 rows").arg(texts[0], texts[1]).arg(list.ListItems().Count()));
        report(QStringLiteral("remove (ms)"), removed);

        for (int k = 0; k < 6; ++k)
            window.Text1[std::size_t(k)]->setText(texts[k]);
        settle();
        Stopwatch addition;
        window.Command1_Click(0);
        list.viewport()->repaint();
        const double added = addition.milliseconds();
        if (list.ListItems().Count() != contacts)
            fail(QStringLiteral("adding %1 %2 left %3 rows").arg(texts[0], texts[1]).arg(list.ListItems().Count()));
        report(QStringLiteral("add (ms)"), added);
    }
    if (!errors.isEmpty())
        fail(errors.join(QLatin1Char('\n')));
    return 0;
}

} // namespace

// Reads an old file once, then converts it in place, with `reader` as the old-file reader.
int convertOldFile(const QString &file, const QString &reader)
{
    oldfile::setReaderProgram(reader);
    QElapsedTimer clock;
    clock.start();
    const std::size_t contacts = oldfile::read(file).size();
    const double read = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    oldfile::convert(file);
    const double converted = double(clock.nsecsElapsed()) / 1e6;
    std::printf("contacts\t%zu\nread (ms)\t%.2f\nconvert (ms)\t%.2f\nper contact (us)\t%.2f\n", contacts, read, converted,
                contacts ? converted * 1000.0 / double(contacts) : 0.0);
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 4 && std::string(argv[1]) == "convert") {
        QCoreApplication app(argc, argv);
        return convertOldFile(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    const double started = processStart();
    const double mainEntered = (secondsOf(CLOCK_REALTIME) - started) * 1000.0;
    const long faultsAtMain = minorFaults();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc < 3 || (mode != "startup" && mode != "ops")) {
        std::fprintf(stderr,
                     "usage: %s startup <directory>\n       %s ops <directory> [repetitions]\n"
                     "       %s convert <old archivio.mdb> <Brisolta>\n",
                     argv[0], argv[0], argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString directory = QString::fromLocal8Bit(argv[2]);
    const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    QApplication app(argc, argv);
    brisolta::setUpApplication(app);
    const double appReady = (secondsOf(CLOCK_REALTIME) - started) * 1000.0;
    if (mode == "startup")
        return startup(app, directory, started, mainEntered, faultsAtMain, appReady);
    return ops(app, directory, repetitions);
}
