#pragma once

// What the suites share: the contact file as SQLite itself sees it, seeds to replay, and, for the windows, answered
// message boxes, a recorded shell and a window over a fresh folder.

#include "modDB.h"

#include <QtCore>
#include <QtTest>

#include <sqlite3.h>

// The rows `sql` reads (every contact, in record order, by default); a null reads as "␀", never as an empty text.
// The file is opened for writing, as the program opens it, so that an interrupted change is rolled back first.
inline QList<QStringList> rowsInFile(const QString &path, const char *sql = "SELECT * FROM Rubrica ORDER BY rowid")
{
    QList<QStringList> rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *query = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_prepare_v2(db, sql, -1, &query, nullptr);
    // A leading byte-order mark is part of a stored text.
    QStringDecoder decoder = storedTextDecoder();
    for (QStringList row; sqlite3_step(query) == SQLITE_ROW; rows << row, row.clear()) {
        for (int c = 0; c < sqlite3_column_count(query); ++c)
            row << (sqlite3_column_type(query, c) == SQLITE_NULL ? QStringLiteral("␀")
                                                                    : decoder(QByteArrayView(sqlite3_column_text(query, c), sqlite3_column_bytes(query, c))));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

// Makes a contact file as the program makes it, then runs `sql` on it.
inline void makeFile(const QString &path, const QString &sql = QString())
{
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const QString all = QStringList(modDB::SchemaStatements.begin(), modDB::SchemaStatements.end()).join(';') + ';' + sql;
    QVERIFY2(sqlite3_exec(db, all.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK, sqlite3_errmsg(db));
    sqlite3_close(db);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

inline QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); }

inline qint64 addRecord(Recordset &records, const QStringList &texts)
{
    records.AddNew();
    for (int k = 0; k < 6; ++k)
        records.Fields().Item(modDB::FieldNames[k]).setValue(texts.value(k));
    records.Update();
    return *records.LastModified();
}

// The seed comes from the named variable when it is set, so that a failing run can be replayed.
inline quint32 seedFrom(const char *variable)
{
    const quint32 seed = qEnvironmentVariableIsSet(variable) ? qEnvironmentVariable(variable).toUInt() : QRandomGenerator::global()->generate();
    return qDebug("%s=%u", variable, seed), seed;
}

#ifdef QT_WIDGETS_LIB
#if __has_include("application.h")
#include "application.h"
#endif
#include "frmGESTDB.h"
#include "runtime.h"

#include <QtWidgets>

// Answers every message box while it lives, and keeps what each one said: prompt, style and title.
struct AnsweredBoxes
{
    explicit AnsweredBoxes(const std::function<int()> &answer = [] { return int(vbOK); })
    {
        setMsgBoxAnswerer([this, answer](const QString &prompt, int style, const QString &title) {
            return boxes.append({prompt, QString::number(style), title}), answer();
        });
    }
    ~AnsweredBoxes() { setMsgBoxAnswerer({}); }
    QList<QStringList> boxes;
};

// Keeps the URLs handed to the shell while it lives.
struct RecordedShell
{
    RecordedShell() { setUrlOpener([this](const QUrl &url) { urls.append(url); }); }
    ~RecordedShell() { setUrlOpener([](const QUrl &) {}); }
    QList<QUrl> urls;
};

// The six texts of every row of the list, in display order, and of the entry fields.
inline QList<QStringList> listRows(frmGESTDB &window)
{
    QList<QStringList> rows;
    for (int index = 1; index <= window.lstADD->ListItems().Count(); ++index) {
        const ListItem item = window.lstADD->ListItems().Item(index);
        rows << QStringList{item.Text(), item.SubItems(1), item.SubItems(2), item.SubItems(3), item.SubItems(4), item.SubItems(5)};
    }
    return rows;
}
inline QStringList fieldTexts(frmGESTDB &w) { return {w.Text1[0]->text(), w.Text1[1]->text(), w.Text1[2]->text(), w.Text1[3]->text(), w.Text1[4]->text(), w.Text1[5]->text()}; }

inline void typeContact(frmGESTDB &window, const QStringList &texts) { for (int k = 0; k < 6; ++k) window.Text1[std::size_t(k)]->setText(texts.value(k)); }

inline void clickHeader(frmGESTDB &window, int section) { QTest::mouseClick(window.lstADD->header()->viewport(), Qt::LeftButton, {}, QPoint(window.lstADD->header()->sectionViewportPosition(section) + 5, 5)); }

inline void clickRow(frmGESTDB &window, int position) { QTest::mouseClick(window.lstADD->viewport(), Qt::LeftButton, {}, window.lstADD->visualRect(window.lstADD->model()->index(position, 1)).center()); }

// A main window shown over its own fresh folder, its list watched by a model tester.
struct LoadedWindow
{
    QTemporaryDir dir;
    std::unique_ptr<frmGESTDB> window;
    std::unique_ptr<QAbstractItemModelTester> tester;

    QString path() const { return dir.filePath(modDB::FileName); }
    frmGESTDB &load(const QString &sql = QString())
    {
        makeFile(path(), sql);
        window = std::make_unique<frmGESTDB>(dir.path());
        window->Form_Load();
        window->show();
        tester = std::make_unique<QAbstractItemModelTester>(window->lstADD->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        return *window;
    }
};

// Calls `open` and, once the popup or modal window it shows is up, runs `inside` on it and closes it if still shown.
// False when no such window came.
template <typename W> bool whileShown(const std::function<void()> &open, const std::function<void(W *)> &inside)
{
    bool came = false;
    QObject waiting;
    QTimer::singleShot(0, &waiting, [&] {
        const QPointer<W> shown = qobject_cast<W *>(QApplication::activePopupWidget() ? QApplication::activePopupWidget() : QApplication::activeModalWidget());
        if ((came = shown))
            inside(shown);
        if (shown && shown->isVisible())
            shown->close();
    });
    open();
    return came;
}
#endif
