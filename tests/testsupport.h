#pragma once

// Shared by the suites: answered message boxes, a recorded shell, and a look at the file itself.

#include "application.h"
#include "filetesting.h"
#include "frmGESTDB.h"
#include "modDB.h"
#include "runtime.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <optional>

// Answers every message box while it lives, and remembers what each one said.
class AnsweredBoxes
{
public:
    explicit AnsweredBoxes(int answer = vbOK)
        : m_answer([answer](const ShownBox &) { return answer; })
    {
        install();
    }
    explicit AnsweredBoxes(std::function<int(const ShownBox &)> answer) : m_answer(std::move(answer)) { install(); }
    ~AnsweredBoxes() { setMsgBoxAnswerer({}); }

    QList<ShownBox> boxes;

private:
    void install()
    {
        setMsgBoxAnswerer([this](const QString &prompt, int style, const QString &title) {
            boxes.append({prompt, style, title});
            return m_answer(boxes.last());
        });
    }
    std::function<int(const ShownBox &)> m_answer;
};

// Records the URLs handed to the shell while it lives.
class RecordedShell
{
public:
    RecordedShell()
    {
        setUrlOpener([this](const QUrl &url) { urls.append(url); });
    }
    ~RecordedShell() { setUrlOpener([](const QUrl &) {}); }
    QList<QUrl> urls;
};

// The six texts of every row of the window's list, in display order.
inline QList<QStringList> listRows(frmGESTDB &window)
{
    QList<QStringList> rows;
    auto items = window.lstADD->ListItems();
    for (int index = 1; index <= items.Count(); ++index) {
        const ListItem item = items.Item(index);
        QStringList row{item.Text()};
        for (int k = 1; k <= 5; ++k)
            row << item.SubItems(k);
        rows << row;
    }
    return rows;
}

inline QStringList fieldTexts(frmGESTDB &window)
{
    QStringList texts;
    for (QLineEdit *field : window.Text1)
        texts << field->text();
    return texts;
}

inline void typeContact(frmGESTDB &window, const QStringList &texts)
{
    for (int k = 0; k < 6; ++k)
        window.Text1[std::size_t(k)]->setText(texts.value(k));
}

// A main window loaded from its own fresh folder.
struct LoadedWindow
{
    QTemporaryDir dir;
    std::unique_ptr<frmGESTDB> window;

    QString path() const { return dir.filePath(modDB::FileName); }
    void load()
    {
        window = std::make_unique<frmGESTDB>(dir.path());
        window->Form_Load();
    }
};

// The application as the program sets it up: its title and Qt's Italian buttons.
#define BRISOLTA_TEST_MAIN(TestClass)                                                                                  \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        brisolta::setUpApplication(app);                                                                               \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
