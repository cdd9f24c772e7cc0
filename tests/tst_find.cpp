#include "testsupport.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

namespace {

// Two surnames begin with "Ross" and come in three different orders: as added, by surname, by telephone.
const QList<QStringList> Contacts = {
    {"Mario", "Rossi", "0511234", "3331112222", "0519998", "mario.rossi@posta.it"},
    {"Anna", "Rossetti", "0612345", "3204445555", "0617776", "anna@rete.com"},
    {"Carla", "Rossini", "0400111", "3391234000", "0405550", "carla@rete.com"},
    {"Giuseppe", "Verdi", "0498765", "3401234567", "0491111", "g.verdi@musica.it"},
};

// Enough rows ahead of the contacts that finding one has to scroll the list.
QList<QStringList> fillersThenContacts()
{
    QList<QStringList> rows;
    for (int k = 0; k < 40; ++k)
        rows << QStringList{"Riempitivo", "Zanetti" + QString::number(k), "09" + QString::number(k), "", "", ""};
    return rows + Contacts;
}

// Writes the contact file with these rows, then loads a window over it and shows it.
bool showWindow(LoadedWindow &loaded, const QList<QStringList> &rows)
{
    QByteArray sql = "CREATE TABLE Rubrica (Nome TEXT, Cognome TEXT, Telefono TEXT, Cellulare TEXT, Fax TEXT, "
                     "Email TEXT);";
    for (const QStringList &row : rows)
        sql += "INSERT INTO Rubrica VALUES ('" + row.join("','").toUtf8() + "');";
    runSql(loaded.path(), sql.constData());
    if (QTest::currentTestFailed())
        return false;
    loaded.load();
    loaded.window->show();
    return QTest::qWaitForWindowActive(loaded.window.get());
}

struct FindDialog
{
    QDialog *dialog = nullptr;
    QLineEdit *text = nullptr;
    QPushButton *find = nullptr;
    QPushButton *close = nullptr;
    QLabel *label = nullptr;
};

struct Opening
{
    bool opened = false;
    QPointer<QDialog> dialog;
};

// Presses "Ricerca" and runs `inside` in the find dialog's modal loop; a dialog still open afterwards is dismissed.
Opening whileFindOpen(frmGESTDB &window, const std::function<void(const FindDialog &)> &inside)
{
    Opening opening;
    QTimer timer;
    timer.setSingleShot(true);
    timer.callOnTimeout([&] {
        opening.dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!opening.dialog)
            return;
        const FindDialog found{opening.dialog, opening.dialog->findChild<QLineEdit *>("Text1"),
                               opening.dialog->findChild<QPushButton *>("Command1_0"),
                               opening.dialog->findChild<QPushButton *>("Command1_1"),
                               opening.dialog->findChild<QLabel *>("Label1")};
        opening.opened = found.text && found.find && found.close && found.label;
        if (opening.opened)
            inside(found);
        if (opening.dialog && opening.dialog->isVisible())
            opening.dialog->done(QDialog::Rejected);
    });
    timer.start(0);
    window.Command1_Click(2);
    return opening;
}

QString selectedName(frmGESTDB &window)
{
    const std::optional<ListItem> selected = window.lstADD->SelectedItem();
    return selected ? selected->Text() : QStringLiteral("<none>");
}

void clickHeader(ListView *list, int section)
{
    QHeaderView *header = list->header();
    const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

QString withoutMnemonics(QString text)
{
    return text.remove(QLatin1Char('&'));
}

} // namespace

class tst_find : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenModalDialogAfreshWithItsLayoutAndTabOrder();
    void shouldWarnFirstWhenDatabaseNotLoaded();
    void shouldSelectAndShowFirstRowWhoseSubItemBeginsWithText_data();
    void shouldSelectAndShowFirstRowWhoseSubItemBeginsWithText();
    void shouldKeepDialogAndTextWhenNothingFound_data();
    void shouldKeepDialogAndTextWhenNothingFound();
    void shouldCloseWithoutSearchingOrChangingSelection_data();
    void shouldCloseWithoutSearchingOrChangingSelection();
    void shouldIgnoreEscape();
    void shouldPopUpContactMenuAndOpenOnlyTheChosenLink_data();
    void shouldPopUpContactMenuAndOpenOnlyTheChosenLink();
    void shouldFrameLogoWhilePressedAndOpenEMailOnRelease_data();
    void shouldFrameLogoWhilePressedAndOpenEMailOnRelease();
    void shouldEndEventLoopWithStatusZero_data();
    void shouldEndEventLoopWithStatusZero();
    void shouldShowItalianYesNoBoxUnderApplicationTitle();
};

void tst_find::shouldOpenModalDialogAfreshWithItsLayoutAndTabOrder()
{
    // GIVEN a loaded window
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, Contacts));
    AnsweredBoxes boxes;

    // WHEN "Ricerca" is pressed, a text typed and the dialog closed
    const Opening first = whileFindOpen(*loaded.window, [&](const FindDialog &find) {
        // THEN a parentless modal dialog shows its layout, with the focus in the text and Tab going round
        QVERIFY(find.dialog->isModal());
        QCOMPARE(find.dialog->parentWidget(), nullptr);
        QCOMPARE(find.dialog->windowTitle(), QStringLiteral("Trova..."));
        QCOMPARE(find.dialog->size(), QSize(275, 103));
        QCOMPARE(find.label->text(), QStringLiteral("Cognome:"));
        QCOMPARE(find.label->pos(), QPoint(24, 16));
        QCOMPARE(find.text->geometry(), QRect(24, 32, 233, 20));
        QCOMPARE(find.close->text(), QStringLiteral("Chiudi"));
        QCOMPARE(find.close->geometry(), QRect(104, 64, 73, 23));
        QCOMPARE(find.close->palette().color(QPalette::Button), QColor(255, 255, 192));
        QCOMPARE(find.find->text(), QStringLiteral("Trova"));
        QCOMPARE(find.find->geometry(), QRect(184, 64, 73, 23));
        QCOMPARE(find.find->palette().color(QPalette::Button), QColor(224, 224, 224));
        QVERIFY(find.find->isDefault());
        QVERIFY(find.text->text().isEmpty());
        QTRY_COMPARE(QApplication::focusWidget(), find.text);
        for (QWidget *next : QList<QWidget *>{find.find, find.close, find.text}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTRY_COMPARE(QApplication::focusWidget(), next);
        }
        QTest::keyClicks(find.text, "Rossi");
        QTest::mouseClick(find.close, Qt::LeftButton);
    });
    QVERIFY(first.opened);
    QVERIFY(first.dialog.isNull());

    // THEN opening it again starts with an empty text
    QString textOnReopening = "<not opened>";
    const Opening second =
        whileFindOpen(*loaded.window, [&](const FindDialog &find) { textOnReopening = find.text->text(); });
    QVERIFY(second.opened);
    QCOMPARE(textOnReopening, QString());
    QCOMPARE(boxes.boxes.size(), 0);
}

void tst_find::shouldWarnFirstWhenDatabaseNotLoaded()
{
    // GIVEN a window whose database counts as not loaded
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, Contacts));
    modDB::DBLoaded = false;
    const auto reload = qScopeGuard([] { modDB::DBLoaded = true; });
    bool dialogShownAtBox = true;
    AnsweredBoxes boxes([&](const ShownBox &) {
        dialogShownAtBox = QApplication::activeModalWidget() != nullptr;
        return vbOK;
    });

    // WHEN "Ricerca" is pressed
    int boxesWhileOpen = -1;
    const Opening opening =
        whileFindOpen(*loaded.window, [&](const FindDialog &) { boxesWhileOpen = int(boxes.boxes.size()); });

    // THEN the error comes before the dialog, which opens anyway
    QVERIFY(opening.opened);
    QCOMPARE(boxesWhileOpen, 1);
    QVERIFY(!dialogShownAtBox);
    QCOMPARE(boxes.boxes.value(0).prompt, QStringLiteral("Il database non è stato caricato."));
    QCOMPARE(boxes.boxes.value(0).style, 16);
    QCOMPARE(boxes.boxes.value(0).title, QStringLiteral("Errore"));
}

void tst_find::shouldSelectAndShowFirstRowWhoseSubItemBeginsWithText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<QString>("expectedName");

    QTest::newRow("surname") << "verdi" << -1 << false << "Giuseppe";
    QTest::newRow("surname prefix in capitals, Enter") << "VER" << -1 << true << "Giuseppe";
    QTest::newRow("telephone") << "0498" << -1 << false << "Giuseppe";
    QTest::newRow("mobile") << "340" << -1 << false << "Giuseppe";
    QTest::newRow("fax") << "0491" << -1 << false << "Giuseppe";
    QTest::newRow("e-mail in mixed case") << "G.VeRdI@" << -1 << true << "Giuseppe";
    QTest::newRow("several, as added") << "ross" << -1 << false << "Mario";
    QTest::newRow("several, sorted by surname") << "Ross" << 1 << false << "Anna";
    QTest::newRow("several, sorted by telephone") << "ROSS" << 2 << true << "Carla";
}

void tst_find::shouldSelectAndShowFirstRowWhoseSubItemBeginsWithText()
{
    QFETCH(QString, text);
    QFETCH(int, sortColumn);
    QFETCH(bool, byEnter);
    QFETCH(QString, expectedName);

    // GIVEN a long list, maybe sorted by a header click, with its first row selected and texts in the fields
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, fillersThenContacts()));
    frmGESTDB &window = *loaded.window;
    if (sortColumn >= 0)
        clickHeader(window.lstADD, sortColumn);
    window.lstADD->ListItems().Item(1).setSelected(true);
    const QStringList fields{"a", "b", "c", "d", "e", "f"};
    typeContact(window, fields);
    AnsweredBoxes boxes;

    // WHEN the text is searched
    bool closedBySearch = false;
    const Opening opening = whileFindOpen(window, [&](const FindDialog &find) {
        QTest::keyClicks(find.text, text);
        if (byEnter)
            QTest::keyClick(find.text, Qt::Key_Return);
        else
            QTest::mouseClick(find.find, Qt::LeftButton);
        closedBySearch = !find.dialog->isVisible();
    });

    // THEN that row is selected and scrolled into view, the dialog is gone and the focus is on the list
    QVERIFY(opening.opened);
    QCOMPARE(boxes.boxes.size(), 0);
    QVERIFY(closedBySearch);
    QVERIFY(opening.dialog.isNull());
    QCOMPARE(selectedName(window), expectedName);
    const QModelIndex shown = window.lstADD->model()->index(window.lstADD->SelectedItem()->Index() - 1, 0);
    QVERIFY(window.lstADD->visualRect(shown).intersects(window.lstADD->viewport()->rect()));
    QTRY_COMPARE(QApplication::focusWidget(), window.lstADD);
    QCOMPARE(fieldTexts(window), fields);
}

void tst_find::shouldKeepDialogAndTextWhenNothingFound_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("emptyList");
    QTest::addColumn<QString>("prompt");

    const QString notFound = QStringLiteral("Non è stata trovata alcuna voce come (%1)");
    QTest::newRow("empty text") << "" << false << "Specificare un cognome valido.";
    QTest::newRow("empty list") << "Rossi" << true << notFound.arg("Rossi");
    QTest::newRow("only a first name begins so") << "Giu" << false << notFound.arg("Giu");
    QTest::newRow("inside a surname") << "erdi" << false << notFound.arg("erdi");
    QTest::newRow("longer than every match") << "Rossa" << false << notFound.arg("Rossa");
    QTest::newRow("blanks") << "   " << false << notFound.arg("   ");
    QTest::newRow("leading blank kept") << " verdi" << false << notFound.arg(" verdi");
}

void tst_find::shouldKeepDialogAndTextWhenNothingFound()
{
    QFETCH(QString, text);
    QFETCH(bool, emptyList);
    QFETCH(QString, prompt);

    // GIVEN a window whose second row, if any, is selected
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, emptyList ? QList<QStringList>() : Contacts));
    frmGESTDB &window = *loaded.window;
    if (!emptyList)
        window.lstADD->ListItems().Item(2).setSelected(true);
    const QString selectedBefore = selectedName(window);
    AnsweredBoxes boxes;

    // WHEN Trova is pressed with that text
    bool stillOpen = false;
    QString textAfter;
    const Opening opening = whileFindOpen(window, [&](const FindDialog &find) {
        QTest::keyClicks(find.text, text);
        QTest::mouseClick(find.find, Qt::LeftButton);
        stillOpen = find.dialog->isVisible();
        textAfter = find.text->text();
    });

    // THEN one error box says so, and the dialog stays open with its text; the selection is as it was
    QVERIFY(opening.opened);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].prompt, prompt);
    QCOMPARE(boxes.boxes[0].style, 16);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Errore"));
    QVERIFY(stillOpen);
    QCOMPARE(textAfter, text);
    QCOMPARE(selectedName(window), selectedBefore);
}

void tst_find::shouldCloseWithoutSearchingOrChangingSelection_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Chiudi clicked") << "click";
    QTest::newRow("Enter on Chiudi") << "enter";
    QTest::newRow("close box") << "close box";
}

void tst_find::shouldCloseWithoutSearchingOrChangingSelection()
{
    QFETCH(QString, how);

    // GIVEN the find dialog holding a text that would be found, with the second row selected
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, Contacts));
    frmGESTDB &window = *loaded.window;
    window.lstADD->ListItems().Item(2).setSelected(true);
    AnsweredBoxes boxes;

    // WHEN it is closed without searching
    bool closed = false;
    const Opening opening = whileFindOpen(window, [&](const FindDialog &find) {
        QTest::keyClicks(find.text, "Verdi");
        if (how == "click") {
            QTest::mouseClick(find.close, Qt::LeftButton);
        } else if (how == "enter") {
            find.close->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), find.close);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else {
            find.dialog->close();
        }
        closed = !find.dialog->isVisible();
    });

    // THEN the dialog is gone, nothing was said and the selection is as it was
    QVERIFY(opening.opened);
    QVERIFY(closed);
    QVERIFY(opening.dialog.isNull());
    QCOMPARE(boxes.boxes.size(), 0);
    QCOMPARE(selectedName(window), QStringLiteral("Anna"));
}

void tst_find::shouldIgnoreEscape()
{
    // GIVEN the find dialog with a text
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, Contacts));
    AnsweredBoxes boxes;

    // WHEN Escape is pressed in it
    bool stillOpen = false;
    const Opening opening = whileFindOpen(*loaded.window, [&](const FindDialog &find) {
        QTest::keyClicks(find.text, "Verdi");
        QTRY_COMPARE(QApplication::focusWidget(), find.text);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCoreApplication::processEvents();
        stillOpen = find.dialog->isVisible() && find.text->text() == "Verdi";
    });

    // THEN the dialog stays open with its text
    QVERIFY(opening.opened);
    QVERIFY(stillOpen);
    QCOMPARE(boxes.boxes.size(), 0);
}

void tst_find::shouldPopUpContactMenuAndOpenOnlyTheChosenLink_data()
{
    QTest::addColumn<QString>("choice");
    QTest::newRow("E-Mail") << "E-Mail";
    QTest::newRow("Vai al sito") << "Vai al sito";
    QTest::newRow("closed without a choice") << "";
}

void tst_find::shouldPopUpContactMenuAndOpenOnlyTheChosenLink()
{
    QFETCH(QString, choice);

    // GIVEN a shown window
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, {}));
    frmGESTDB &window = *loaded.window;
    RecordedShell shell;

    // WHEN "Contattami" is pressed and the popup answered
    QPointer<QMenu> popup;
    QPoint popupAt;
    QStringList items;
    QAction *defaultAction = nullptr;
    QTimer timer;
    timer.setSingleShot(true);
    timer.callOnTimeout([&] {
        popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!popup)
            return;
        const auto dismiss = qScopeGuard([&] {
            if (popup && popup->isVisible())
                popup->close();
        });
        popupAt = popup->pos();
        defaultAction = popup->defaultAction();
        for (QAction *action : popup->actions())
            items << action->text();
        for (QAction *action : popup->actions()) {
            if (!choice.isEmpty() && action->text() == choice)
                QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(action).center());
        }
        if (choice.isEmpty())
            QTest::keyClick(popup, Qt::Key_Escape);
    });
    timer.start(0);
    window.Command1_Click(4);

    // THEN the menu stood at the button's corner with E-Mail as its default, and only the chosen link opened
    QCOMPARE(popup.data(), window.a1);
    QCOMPARE(popupAt, window.Command1[4]->mapToGlobal(QPoint(0, 0)));
    QCOMPARE(items, QStringList({"E-Mail", "Vai al sito"}));
    QCOMPARE(defaultAction, window.smEMail);
    const QString caption = window.windowTitle();
    const QString prefix = QStringLiteral("Rubrica Brisolta - Quarlo64- ");
    QVERIFY(caption.startsWith(prefix) && caption.endsWith(QLatin1Char(' ')));
    const QUrl site(QStringLiteral("http://") + caption.mid(prefix.size()).chopped(1));
    QCOMPARE(frmGESTDB::SiteUrl, site);
    QCOMPARE(frmGESTDB::EMailUrl.scheme(), QStringLiteral("mailto"));
    const QList<QUrl> expected = choice == "E-Mail"        ? QList<QUrl>{frmGESTDB::EMailUrl}
                                 : choice == "Vai al sito" ? QList<QUrl>{site}
                                                           : QList<QUrl>{};
    QCOMPARE(shell.urls, expected);
}

void tst_find::shouldFrameLogoWhilePressedAndOpenEMailOnRelease_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("right") << Qt::RightButton;
}

void tst_find::shouldFrameLogoWhilePressedAndOpenEMailOnRelease()
{
    QFETCH(Qt::MouseButton, button);

    // GIVEN a shown window
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, {}));
    PictureBox *logo = loaded.window->Image1;
    RecordedShell shell;

    // WHEN a mouse button goes down on the logo
    QTest::mousePress(logo, button);

    // THEN it is framed and nothing opens yet
    QCOMPARE(logo->BorderStyle(), 1);
    QVERIFY(shell.urls.isEmpty());

    // WHEN the button comes up
    QTest::mouseRelease(logo, button);

    // THEN the frame goes and the e-mail address opens once
    QCOMPARE(logo->BorderStyle(), 0);
    QCOMPARE(shell.urls, QList<QUrl>{frmGESTDB::EMailUrl});
}

void tst_find::shouldEndEventLoopWithStatusZero_data()
{
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("Esci") << false;
    QTest::newRow("close box") << true;
}

void tst_find::shouldEndEventLoopWithStatusZero()
{
    QFETCH(bool, byCloseBox);

    // GIVEN a shown window, and a way out should it not end the loop
    LoadedWindow loaded;
    QVERIFY(showWindow(loaded, Contacts));
    frmGESTDB &window = *loaded.window;
    AnsweredBoxes boxes;
    QTimer leave;
    leave.setSingleShot(true);
    leave.callOnTimeout([] { QCoreApplication::exit(99); });
    leave.start(5000);

    // WHEN the program is left
    QTimer::singleShot(0, &window, [&] {
        if (byCloseBox)
            window.close();
        else
            window.Command1_Click(3);
    });

    // THEN the event loop ends at once with status 0 and the window is gone from the screen
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
    QCOMPARE(boxes.boxes.size(), 0);
}

void tst_find::shouldShowItalianYesNoBoxUnderApplicationTitle()
{
    // GIVEN no answerer: the real box shows
    QString title;
    QStringList buttons;
    QTimer timer;
    timer.setSingleShot(true);
    timer.callOnTimeout([&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        const auto dismiss = qScopeGuard([box] {
            if (box->isVisible())
                box->done(0);
        });
        title = box->windowTitle();
        QAbstractButton *no = nullptr;
        for (QAbstractButton *button : box->buttons()) {
            buttons << withoutMnemonics(button->text());
            if (buttons.last() == "No")
                no = button;
        }
        if (no)
            QTest::mouseClick(no, Qt::LeftButton);
    });
    timer.start(0);

    // WHEN a Yes/No question is asked and "No" clicked
    const int answer = MsgBox(QStringLiteral("Eliminare Mario Rossi definitivamente dal database?."), 36);

    // THEN the box had the application's title and Italian buttons, and No answers 7
    QCOMPARE(title, QStringLiteral("Brisolta"));
    buttons.sort();
    QCOMPARE(buttons, QStringList({"No", "Sì"}));
    QCOMPARE(answer, int(vbNo));
}

BRISOLTA_TEST_MAIN(tst_find)
#include "tst_find.moc"
