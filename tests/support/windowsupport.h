#pragma once

// What the window suites share: answered message boxes, a recorded shell, and a window over a fresh folder, reached
// as a user reaches it, by its controls' names and through its list's view.

#include "support/storesupport.h"

#include "application.h"
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

// The control or action of that name in `window`.
template <typename T> T &child(QObject &window, const QString &name) { T *found = window.findChild<T *>(name); return found ? *found : (helperFailed(window.objectName() + " has no " + name), *found); }

// The main window the program shows.
inline QWidget &mainWindow() { for (QWidget *window : QApplication::topLevelWidgets()) if (window->objectName() == "frmGESTDB") return *window; helperFailed("no main window"); }

inline QTreeView &listOf(QWidget &window) { return child<QTreeView>(window, QStringLiteral("lstADD")); }

// The list's model, as its view shows it.
inline QAbstractItemModel &shownList(QWidget &window) { QAbstractItemModel *model = listOf(window).model(); return model ? *model : (helperFailed("the list shows no rows yet"), *model); }

// The six texts of every row of the list, in display order.
inline QList<QStringList> listRows(QWidget &window)
{
    const QAbstractItemModel &list = shownList(window);
    QList<QStringList> rows;
    for (QStringList row; rows.size() < list.rowCount(); rows << row, row.clear())
        for (int k = 0; k < 6; ++k)
            row << list.index(int(rows.size()), k).data().toString();
    return rows;
}

inline QLineEdit &entry(QWidget &window, int k) { return child<QLineEdit>(window, QStringLiteral("Text1_%1").arg(k)); }
inline QPushButton &button(QWidget &window, int k) { return child<QPushButton>(window, QStringLiteral("Command1_%1").arg(k)); }

inline QStringList fieldTexts(QWidget &w) { QStringList texts; for (int k = 0; k < 6; ++k) texts << entry(w, k).text(); return texts; }

inline void typeContact(QWidget &window, const QStringList &texts) { for (int k = 0; k < 6; ++k) entry(window, k).setText(texts.value(k)); }

inline void clickHeader(QWidget &window, int section) { QTest::mouseClick(listOf(window).header()->viewport(), Qt::LeftButton, {}, QPoint(listOf(window).header()->sectionViewportPosition(section) + 5, 5)); }

// Where the row at `position` stands in the list's view; empty when the view has not laid it out.
inline QRect rowRect(QWidget &window, int position) { return listOf(window).visualRect(shownList(window).index(position, 1)); }

inline void clickRow(QWidget &window, int position) { QTest::mouseClick(listOf(window).viewport(), Qt::LeftButton, {}, rowRect(window, position).center()); }

// A main window shown, and active, over its own fresh folder, its list watched by a model tester.
struct LoadedWindow
{
    QTemporaryDir dir;
    std::unique_ptr<frmGESTDB> window;
    std::unique_ptr<QAbstractItemModelTester> tester;

    QString path() const { return dir.filePath(modDB::FileName); }
    QWidget &load(const QString &sql = QString())
    {
        makeFile(path(), sql);
        window = std::make_unique<frmGESTDB>(dir.path());
        window->Form_Load();
        window->show();
        QApplication::setActiveWindow(window.get());
        tester = std::make_unique<QAbstractItemModelTester>(&shownList(*window), QAbstractItemModelTester::FailureReportingMode::QtTest);
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
