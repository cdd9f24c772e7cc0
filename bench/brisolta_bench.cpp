// Measures the program on a contact file (bench/README.md); prints one "figure<TAB>value" line per measurement.

#include "application.h"
#include "engine.h"
#include "files.h"
#include "frmGESTDB.h"
#include "history.h"
#include "importer.h"
#include "measure.h"
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
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using measure::fail;
using measure::millisecondsSince;
using measure::report;

const char *const ColumnNames[6] = {"Nome", "Cognome", "Telefono", "Cellulare", "Fax", "Email"};

int startup(QApplication &app, const QString &directory, double started, double mainEntered, long faultsAtMain,
            double appReady)
{
    frmGESTDB window(directory);
    const double built = millisecondsSince(started);
    try {
        window.Form_Load();
    } catch (const EngineError &error) {
        fail(engineErrorText(error));
    }
    const double loaded = millisecondsSince(started);
    window.show();
    const double shown = millisecondsSince(started);
    double painted = 0;
    double rss = 0;
    long faults = 0;
    measure::FirstPaint watcher(window.lstADD->viewport(), [&] {
        painted = millisecondsSince(started);
        rss = measure::peakRssMiB();
        faults = measure::minorFaults();
        app.quit();
    });
    QApplication::exec();

    report(QStringLiteral("contacts"), window.lstADD->ListItems().Count());
    report(QStringLiteral("start-up (ms)"), painted);
    report(QStringLiteral("peak RSS (MiB)"), rss);
    // Where the start-up went: each step's end, counted from the process start.
    report(QStringLiteral("· main() entered at (ms)"), mainEntered);
    report(QStringLiteral("· QApplication set up at (ms)"), appReady);
    report(QStringLiteral("· window built at (ms)"), built);
    report(QStringLiteral("· Form_Load done at (ms)"), loaded);
    report(QStringLiteral("· show() returned at (ms)"), shown);
    report(QStringLiteral("· page faults before main()"), double(faultsAtMain));
    report(QStringLiteral("· page faults until first paint"), double(faults));
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

// What no add or remove can beat: the same insert and delete straight through SQLite's C API, with the program's
// pragmas, on a copy of its file that receives the same changes.
class BareStatements
{
public:
    explicit BareStatements(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
            sqlite3_exec(m_db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=EXTRA", nullptr, nullptr, nullptr) ||
            sqlite3_prepare_v2(m_db, "INSERT INTO Rubrica VALUES (?,?,?,?,?,?)", -1, &m_insert, nullptr) ||
            sqlite3_prepare_v2(m_db, "DELETE FROM Rubrica WHERE rowid = ?", -1, &m_delete, nullptr) ||
            sqlite3_prepare_v2(m_db, "UPDATE Rubrica SET Nome=?,Cognome=?,Telefono=?,Cellulare=?,Fax=?,Email=? WHERE rowid = ?",
                               -1, &m_update, nullptr))
            fail(QString::fromUtf8(sqlite3_errmsg(m_db)));
    }
    ~BareStatements()
    {
        sqlite3_finalize(m_insert);
        sqlite3_finalize(m_delete);
        sqlite3_finalize(m_update);
        sqlite3_close(m_db);
    }

    double insert(const QStringList &texts)
    {
        const Stopwatch watch;
        for (int k = 0; k < 6; ++k) {
            const QByteArray text = texts[k].toUtf8();
            sqlite3_bind_text(m_insert, k + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
        return run(m_insert, watch);
    }

    double update(qint64 rowid, const QStringList &texts)
    {
        const Stopwatch watch;
        for (int k = 0; k < 6; ++k) {
            const QByteArray text = texts[k].toUtf8();
            sqlite3_bind_text(m_update, k + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int64(m_update, 7, rowid);
        return run(m_update, watch);
    }

    qint64 lastInsert() const { return sqlite3_last_insert_rowid(m_db); }

    double remove(qint64 rowid)
    {
        const Stopwatch watch;
        sqlite3_bind_int64(m_delete, 1, rowid);
        return run(m_delete, watch);
    }

private:
    double run(sqlite3_stmt *statement, const Stopwatch &watch)
    {
        const int result = sqlite3_step(statement);
        sqlite3_reset(statement);
        const double elapsed = watch.milliseconds();
        if (result != SQLITE_DONE)
            fail(QString::fromUtf8(sqlite3_errmsg(m_db)));
        return elapsed;
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    sqlite3_stmt *m_update = nullptr;
};

int rowCount(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *count = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_prepare_v2(db, "SELECT count(*) FROM Rubrica", -1, &count, nullptr);
    const int rows = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int(count, 0) : -1;
    sqlite3_finalize(count);
    sqlite3_close(db);
    return rows;
}

// Imports every contact of the file into a new one through a window, as a drop does, then takes the import back and
// repeats it.
void undoImport(const QString &directory)
{
    const QString cards = QDir(directory).filePath(QStringLiteral("all.vcf"));
    writeContactFile(cards, storedContacts(*modDB::ContactDB));
    const QString folder = QDir(directory).filePath(QStringLiteral("undo-import"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    frmGESTDB window(folder);
    window.Form_Load();
    window.show();
    window.importFiles({cards});
    const int imported = window.lstADD->ListItems().Count();
    for (const bool back : {true, false}) {
        settle();
        const Stopwatch watch;
        back ? window.history->undo() : window.history->redo();
        window.lstADD->viewport()->repaint();
        report(back ? QStringLiteral("undo import (ms)") : QStringLiteral("redo import (ms)"), watch.milliseconds());
        if (window.lstADD->ListItems().Count() != (back ? 0 : imported))
            fail(QStringLiteral("the import of %1 contacts was not taken back and repeated").arg(imported));
    }
}

int ops(QApplication &app, const QString &directory, int repetitions)
{
    QStringList errors;
    setMsgBoxAnswerer([&errors](const QString &prompt, int style, const QString &) {
        if ((style & 0x70) == 16)
            errors << prompt;
        return (style & 0x07) == 4 ? vbYes : vbOK;
    });
    const QString barePath = QDir(directory).filePath(QStringLiteral("bare.mdb"));
    QFile::remove(barePath);
    if (!QFile::copy(QDir(directory).filePath(modDB::FileName), barePath))
        fail(QStringLiteral("cannot copy the contact file to %1").arg(barePath));
    frmGESTDB window(directory);
    try {
        window.Form_Load();
    } catch (const EngineError &error) {
        fail(engineErrorText(error));
    }
    window.show();
    measure::FirstPaint watcher(window.lstADD->viewport(), [&app] { app.quit(); });
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

    // Remove a contact from the middle of the list sorted by surname, as the user sees it, then type it in again;
    // after each, the bare statement does the same to the copy.
    BareStatements bare(barePath);
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

        const qint64 record = list.ListItems().Item(index).Tag();
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
        const double bareDelete = bare.remove(record);
        report(QStringLiteral("remove (ms)"), removed);
        report(QStringLiteral("bare delete (ms)"), bareDelete);
        report(QStringLiteral("remove − bare delete (ms)"), removed - bareDelete);

        for (int k = 0; k < 6; ++k)
            window.Text1[std::size_t(k)]->setText(texts[k]);
        settle();
        Stopwatch addition;
        window.Command1_Click(0);
        list.viewport()->repaint();
        const double added = addition.milliseconds();
        if (list.ListItems().Count() != contacts)
            fail(QStringLiteral("adding %1 %2 left %3 rows").arg(texts[0], texts[1]).arg(list.ListItems().Count()));
        const double bareInsert = bare.insert(texts);
        report(QStringLiteral("add (ms)"), added);
        report(QStringLiteral("bare insert (ms)"), bareInsert);
        report(QStringLiteral("add − bare insert (ms)"), added - bareInsert);

        // Edit the contact's telephone number, then take back and repeat the edit, the add and the removal; beside
        // each, the bare statement that makes the same change to the copy.
        const qint64 addedRecord = *modDB::ContactRS->LastModified();
        qint64 bareRecord = bare.lastInsert();
        QStringList edited = texts;
        edited[2] += QLatin1Char('1');
        const auto timed = [&](const QString &figure, const char *bareFigure, const std::function<void()> &change,
                               const std::function<double()> &bareChange) {
            settle();
            Stopwatch watch;
            change();
            list.viewport()->repaint();
            const double changed = watch.milliseconds();
            const double bareChanged = bareChange();
            report(figure + QStringLiteral(" (ms)"), changed);
            report(QStringLiteral("bare %1 (ms)").arg(QLatin1String(bareFigure)), bareChanged);
            report(QStringLiteral("%1 − bare %2 (ms)").arg(figure, QLatin1String(bareFigure)), changed - bareChanged);
        };
        History &history = *window.history;
        // As a user edits it: the row is selected, then a cell of it edited.
        list.ItemWithTag(addedRecord)->setSelected(true);
        timed(QStringLiteral("edit"), "update", [&] { history.edit(addedRecord, 2, edited[2]); }, [&] { return bare.update(bareRecord, edited); });
        timed(QStringLiteral("undo edit"), "update", [&] { history.undo(); }, [&] { return bare.update(bareRecord, texts); });
        timed(QStringLiteral("undo add"), "delete", [&] { history.undo(); }, [&] { return bare.remove(bareRecord); });
        timed(QStringLiteral("undo remove"), "insert", [&] { history.undo(); }, [&] { return bare.insert(texts); });
        bareRecord = bare.lastInsert();
        timed(QStringLiteral("redo remove"), "delete", [&] { history.redo(); }, [&] { return bare.remove(bareRecord); });
        timed(QStringLiteral("redo add"), "insert", [&] { history.redo(); }, [&] { return bare.insert(texts); });
        bareRecord = bare.lastInsert();
        timed(QStringLiteral("redo edit"), "update", [&] { history.redo(); }, [&] { return bare.update(bareRecord, edited); });
        if (list.ListItems().Count() != contacts || rowCount(barePath) != contacts)
            fail(QStringLiteral("taking back and repeating left %1 rows").arg(list.ListItems().Count()));
    }
    if (contacts >= 100000)
        undoImport(directory);
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
    const double started = measure::processStart();
    const double mainEntered = millisecondsSince(started);
    const long faultsAtMain = measure::minorFaults();
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
    const double appReady = millisecondsSince(started);
    if (mode == "startup")
        return startup(app, directory, started, mainEntered, faultsAtMain, appReady);
    return ops(app, directory, repetitions);
}
