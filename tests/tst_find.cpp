#include "testsupport.h"

#include "frmFIND.h"

#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Two surnames begin with "Ross" and come in three different orders: as added, by surname, by telephone.
const QList<QStringList> SampleContacts = {
    {"Mario", "Rossi", "0511234", "3331112222", "0519998", "mario.rossi@posta.it"},
    {"Anna", "Rossetti", "0612345", "3204445555", "0617776", "anna@rete.com"},
    {"Carla", "Rossini", "0400111", "3391234000", "0405550", "carla@rete.com"},
    {"Giuseppe", "Verdi", "0498765", "3401234567", "0491111", "g.verdi@musica.it"},
};

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

// Calls `open` and runs `inside` on the popup or modal window it shows, closing it if still shown; nullopt if none.
template <typename W>
std::optional<QPointer<W>> whileShown(const std::function<void()> &open, const std::function<void(W *)> &inside)
{
    std::optional<QPointer<W>> shown;
    QTimer timer;
    timer.setSingleShot(true);
    timer.callOnTimeout([&] {
        QWidget *active = QApplication::activePopupWidget();
        if (W *widget = qobject_cast<W *>(active ? active : QApplication::activeModalWidget()))
            shown = widget;
        if (shown)
            inside(shown->data());
        if (shown && *shown && (*shown)->isVisible())
            (*shown)->close();
    });
    timer.start(0);
    open();
    return shown;
}

std::optional<QPointer<frmFIND>> whileFindOpen(frmGESTDB &window, const std::function<void(frmFIND *)> &inside)
{
    return whileShown<frmFIND>([&] { window.Command1_Click(2); }, inside);
}

} // namespace

class tst_find : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenModalDialogAfreshAfterAnyDatabaseNotLoadedError_data()
    {
        QTest::addColumn<bool>("databaseLoaded");
        QTest::newRow("database loaded") << true;
        QTest::newRow("database not loaded") << false;
    }

    void shouldOpenModalDialogAfreshAfterAnyDatabaseNotLoadedError()
    {
        QFETCH(bool, databaseLoaded);

        // GIVEN a shown window whose database may count as not loaded
        LoadedWindow loaded;
        QVERIFY(showWindow(loaded, SampleContacts));
        modDB::DBLoaded = databaseLoaded;
        const auto reload = qScopeGuard([] { modDB::DBLoaded = true; });
        QList<bool> modalAtBox;
        AnsweredBoxes boxes([&](const ShownBox &) {
            modalAtBox << (QApplication::activeModalWidget() != nullptr);
            return vbOK;
        });

        // WHEN "Ricerca" is pressed, a text typed and the dialog closed
        int boxesWhileOpen = -1;
        const auto first = whileFindOpen(*loaded.window, [&](frmFIND *find) {
            boxesWhileOpen = int(boxes.boxes.size());
            // THEN a parentless modal dialog shows its layout, with the focus in the text and Tab going round
            QVERIFY(find->isModal());
            QCOMPARE(find->parentWidget(), nullptr);
            QCOMPARE(find->size(), QSize(275, 103));
            QCOMPARE((QStringList{find->windowTitle(), find->Label1->text(), find->Command1[0]->text(),
                                  find->Command1[1]->text()}),
                     QStringList({"Trova...", "Cognome:", "Trova", "Chiudi"}));
            QCOMPARE(find->Label1->pos(), QPoint(24, 16));
            QCOMPARE((QList<QRect>{find->Text1->geometry(), find->Command1[1]->geometry(),
                                   find->Command1[0]->geometry()}),
                     (QList<QRect>{{24, 32, 233, 20}, {104, 64, 73, 23}, {184, 64, 73, 23}}));
            QCOMPARE(find->Command1[1]->palette().color(QPalette::Button), QColor(255, 255, 192));
            QCOMPARE(find->Command1[0]->palette().color(QPalette::Button), QColor(224, 224, 224));
            QVERIFY(find->Command1[0]->isDefault());
            QVERIFY(find->Text1->text().isEmpty());
            QTRY_COMPARE(QApplication::focusWidget(), find->Text1);
            for (QWidget *next : QList<QWidget *>{find->Command1[0], find->Command1[1], find->Text1}) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QTRY_COMPARE(QApplication::focusWidget(), next);
            }
            QTest::keyClicks(find->Text1, "Rossi");
            QTest::mouseClick(find->Command1[1], Qt::LeftButton);
        });
        QVERIFY(first && first->isNull());

        // THEN opening it again starts with an empty text
        QString textOnReopening = "<not opened>";
        whileFindOpen(*loaded.window, [&](frmFIND *find) { textOnReopening = find->Text1->text(); });
        QCOMPARE(textOnReopening, QString());

        // THEN an unloaded database is reported before each opening, which goes ahead anyway
        QCOMPARE(boxesWhileOpen, databaseLoaded ? 0 : 1);
        QCOMPARE(modalAtBox, databaseLoaded ? QList<bool>() : QList<bool>({false, false}));
        for (const ShownBox &box : std::as_const(boxes.boxes)) {
            QCOMPARE(box.prompt, QStringLiteral("Il database non è stato caricato."));
            QCOMPARE(box.style, 16);
            QCOMPARE(box.title, QStringLiteral("Errore"));
        }
    }

    void shouldSelectFirstRowBeginningWithTextOrLeaveSelectionAlone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<bool>("emptyList");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("prompt");

        QTest::newRow("surname") << "verdi" << "Trova" << -1 << false << "Verdi" << "";
        QTest::newRow("surname prefix in capitals, Enter") << "VER" << "Enter" << -1 << false << "Verdi" << "";
        QTest::newRow("telephone") << "0498" << "Trova" << -1 << false << "Verdi" << "";
        QTest::newRow("mobile") << "340" << "Trova" << -1 << false << "Verdi" << "";
        QTest::newRow("fax") << "0491" << "Trova" << -1 << false << "Verdi" << "";
        QTest::newRow("e-mail in mixed case") << "G.VeRdI@" << "Enter" << -1 << false << "Verdi" << "";
        QTest::newRow("several, as added") << "ross" << "Trova" << -1 << false << "Rossi" << "";
        QTest::newRow("several, sorted by surname") << "Ross" << "Trova" << 1 << false << "Rossetti" << "";
        QTest::newRow("several, sorted by telephone") << "ROSS" << "Enter" << 2 << false << "Rossini" << "";

        const QString notFound = QStringLiteral("Non è stata trovata alcuna voce come (%1)");
        QTest::newRow("empty text") << "" << "Trova" << -1 << false << "" << "Specificare un cognome valido.";
        QTest::newRow("empty list") << "Rossi" << "Trova" << -1 << true << "" << notFound.arg("Rossi");
        QTest::newRow("only a first name begins so") << "Giu" << "Trova" << -1 << false << "" << notFound.arg("Giu");
        QTest::newRow("inside a surname") << "erdi" << "Trova" << -1 << false << "" << notFound.arg("erdi");
        QTest::newRow("longer than every match") << "Rossa" << "Trova" << -1 << false << "" << notFound.arg("Rossa");
        QTest::newRow("blanks") << "   " << "Trova" << -1 << false << "" << notFound.arg("   ");
        QTest::newRow("leading blank kept") << " verdi" << "Trova" << -1 << false << "" << notFound.arg(" verdi");

        QTest::newRow("Chiudi clicked") << "Verdi" << "Chiudi" << -1 << false << "" << "";
        QTest::newRow("Enter on Chiudi") << "Verdi" << "Enter on Chiudi" << -1 << false << "" << "";
        QTest::newRow("close box") << "Verdi" << "close box" << -1 << false << "" << "";
        QTest::newRow("Escape ignored") << "Verdi" << "Escape" << -1 << false << "" << "";
    }

    void shouldSelectFirstRowBeginningWithTextOrLeaveSelectionAlone()
    {
        QFETCH(QString, text);
        QFETCH(QString, how);
        QFETCH(int, sortColumn);
        QFETCH(bool, emptyList);
        QFETCH(QString, found);
        QFETCH(QString, prompt);

        // GIVEN a list long enough to scroll, maybe sorted by a header click, its first row selected, texts typed
        QList<QStringList> rows;
        for (int k = 0; k < 40 && !emptyList; ++k)
            rows << QStringList{"Riempitivo", "Zanetti" + QString::number(k), "09" + QString::number(k), "", "", ""};
        LoadedWindow loaded;
        QVERIFY(showWindow(loaded, emptyList ? rows : rows + SampleContacts));
        frmGESTDB &window = *loaded.window;
        QHeaderView *header = window.lstADD->header();
        if (sortColumn >= 0)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(sortColumn) + 5, header->height() / 2));
        if (!emptyList)
            window.lstADD->ListItems().Item(1).setSelected(true);
        const auto selected = [&] {
            const std::optional<ListItem> item = window.lstADD->SelectedItem();
            return item ? item->SubItems(1) : QStringLiteral("<none>");
        };
        const QString selectedBefore = selected();
        const QStringList fields{"a", "b", "c", "d", "e", "f"};
        typeContact(window, fields);
        AnsweredBoxes boxes;

        // WHEN the text is typed and the dialog answered that way
        bool stillOpen = false;
        QString textAfter;
        const auto shown = whileFindOpen(window, [&](frmFIND *find) {
            QTest::keyClicks(find->Text1, text);
            if (how == "close box") {
                find->close();
            } else if (how == "Trova" || how == "Chiudi") {
                QTest::mouseClick(find->Command1[how == "Trova" ? 0 : 1], Qt::LeftButton);
            } else {
                QWidget *target = how == "Enter on Chiudi" ? static_cast<QWidget *>(find->Command1[1]) : find->Text1;
                target->setFocus();
                QTRY_COMPARE(QApplication::focusWidget(), target);
                QTest::keyClick(target, how == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            }
            stillOpen = find->isVisible();
            textAfter = find->Text1->text();
        });

        // THEN a found row is selected, shown and focused; else the selection stays, and only errors keep it open
        QVERIFY(shown && shown->isNull());
        QCOMPARE(boxes.boxes.size(), prompt.isEmpty() ? 0 : 1);
        QCOMPARE(boxes.boxes.value(0).prompt, prompt);
        QCOMPARE(boxes.boxes.value(0).style, prompt.isEmpty() ? 0 : 16);
        QCOMPARE(boxes.boxes.value(0).title, prompt.isEmpty() ? QString() : QStringLiteral("Errore"));
        QCOMPARE(stillOpen, !prompt.isEmpty() || how == "Escape");
        QCOMPARE(textAfter, text);
        QCOMPARE(fieldTexts(window), fields);
        QCOMPARE(selected(), found.isEmpty() ? selectedBefore : found);
        if (!found.isEmpty()) {
            const QModelIndex row = window.lstADD->model()->index(window.lstADD->SelectedItem()->Index() - 1, 0);
            QVERIFY(window.lstADD->visualRect(row).intersects(window.lstADD->viewport()->rect()));
            QTRY_COMPARE(QApplication::focusWidget(), window.lstADD);
        }
    }

    void shouldPopUpContactMenuAndOpenOnlyTheChosenLink_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QList<QUrl>>("opened");
        QTest::newRow("E-Mail") << "E-Mail" << QList<QUrl>{frmGESTDB::EMailUrl};
        QTest::newRow("Vai al sito") << "Vai al sito" << QList<QUrl>{QUrl("http://" + frmGESTDB::SiteHost)};
        QTest::newRow("closed without a choice") << "" << QList<QUrl>{};
    }

    void shouldPopUpContactMenuAndOpenOnlyTheChosenLink()
    {
        QFETCH(QString, choice);
        QFETCH(QList<QUrl>, opened);

        // GIVEN a shown window
        LoadedWindow loaded;
        QVERIFY(showWindow(loaded, {}));
        frmGESTDB &window = *loaded.window;
        RecordedShell shell;

        // WHEN "Contattami" is pressed and the popup answered
        QPoint popupAt;
        QStringList items;
        QAction *defaultAction = nullptr;
        const auto shown = whileShown<QMenu>([&] { window.Command1_Click(4); }, [&](QMenu *popup) {
            popupAt = popup->pos();
            defaultAction = popup->defaultAction();
            for (QAction *action : popup->actions()) {
                items << action->text();
                if (action->text() == choice)
                    QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(action).center());
            }
            if (choice.isEmpty())
                QTest::keyClick(popup, Qt::Key_Escape);
        });

        // THEN the menu stood at the button's corner with E-Mail as its default, and only the chosen link opened
        QVERIFY(shown && *shown == window.a1);
        QCOMPARE(popupAt, window.Command1[4]->mapToGlobal(QPoint(0, 0)));
        QCOMPARE(items, QStringList({"E-Mail", "Vai al sito"}));
        QCOMPARE(defaultAction, window.smEMail);
        QCOMPARE(frmGESTDB::EMailUrl.scheme(), QStringLiteral("mailto"));
        QCOMPARE(shell.urls, opened);
    }

    void shouldFrameLogoWhilePressedAndOpenEMailOnRelease_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
    }

    void shouldFrameLogoWhilePressedAndOpenEMailOnRelease()
    {
        QFETCH(Qt::MouseButton, button);

        // GIVEN a shown window
        LoadedWindow loaded;
        QVERIFY(showWindow(loaded, {}));
        PictureBox *logo = loaded.window->Image1;
        RecordedShell shell;

        // WHEN a mouse button goes down on the logo THEN it is framed and nothing opens yet
        QTest::mousePress(logo, button);
        QCOMPARE(logo->BorderStyle(), 1);
        QVERIFY(shell.urls.isEmpty());

        // WHEN the button comes up THEN the frame goes and the e-mail address opens once
        QTest::mouseRelease(logo, button);
        QCOMPARE(logo->BorderStyle(), 0);
        QCOMPARE(shell.urls, QList<QUrl>{frmGESTDB::EMailUrl});
    }

    void shouldEndEventLoopWithStatusZero_data()
    {
        QTest::addColumn<bool>("byCloseBox");
        QTest::newRow("Esci") << false;
        QTest::newRow("close box") << true;
    }

    void shouldEndEventLoopWithStatusZero()
    {
        QFETCH(bool, byCloseBox);

        // GIVEN a shown window, and a way out should it not end the loop
        LoadedWindow loaded;
        QVERIFY(showWindow(loaded, SampleContacts));
        frmGESTDB &window = *loaded.window;
        AnsweredBoxes boxes;
        QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(99); });

        // WHEN the program is left
        QTimer::singleShot(0, &window, [&] { byCloseBox ? void(window.close()) : window.Command1_Click(3); });

        // THEN the event loop ends at once with status 0 and the window is gone from the screen
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window.isVisible());
        QCOMPARE(boxes.boxes.size(), 0);
    }

    void shouldShowItalianYesNoBoxUnderApplicationTitle()
    {
        // GIVEN no answerer, so the real box shows
        QString title;
        QStringList buttons;
        int answer = -1;

        // WHEN a Yes/No question is asked and "No" clicked
        const auto ask = [&] { answer = MsgBox(QStringLiteral("Eliminare Mario Rossi dal database?."), 36); };
        whileShown<QMessageBox>(ask, [&](QMessageBox *box) {
            title = box->windowTitle();
            for (QAbstractButton *button : box->buttons()) {
                buttons << button->text().remove(QLatin1Char('&'));
                if (buttons.last() == "No")
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        });

        // THEN the box had the application's title and Italian buttons, and No answers 7
        QCOMPARE(title, QStringLiteral("Brisolta"));
        buttons.sort();
        QCOMPARE(buttons, QStringList({"No", "Sì"}));
        QCOMPARE(answer, int(vbNo));
    }
};

BRISOLTA_TEST_MAIN(tst_find)
#include "tst_find.moc"
