#include "frmFIND.h"

#include "design.h"

#include "frmGESTDB.h"
#include "modDB.h"
#include "runtime.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

frmFIND::frmFIND(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFIND"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Trova..."));
    setWindowIcon(resourceIcon(QStringLiteral(":/find.ico")));
    setFont(formFont());
    setFixedSize(4125 / 15, 1545 / 15);

    const struct
    {
        const char *caption;
        int left;
        QColor backColour;
    } buttons[2] = {{"Trova", 2760, QColor(224, 224, 224)}, {"Chiudi", 1560, QColor(255, 255, 192)}};
    // Created in their stacking order: Chiudi, Trova, the text box, the label.
    for (qint16 index : {1, 0}) {
        QPushButton *button = graphicalButton(this, QStringLiteral("Command1_%1").arg(index),
                                              QString::fromLatin1(buttons[index].caption),
                                              twips(buttons[index].left, 960, 1095, 350), buttons[index].backColour);
        connect(button, &QPushButton::clicked, this, [this, index] { Command1_Click(index); });
        Command1[std::size_t(index)] = button;
    }
    Command1[0]->setDefault(true);

    Text1 = textBox(this, QStringLiteral("Text1"), twips(360, 480, 3495, 300));

    Label1 = new QLabel(QStringLiteral("Cognome:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(360 / 15, 240 / 15);
    Label1->adjustSize();
    Label1->setBuddy(Text1);

    setTabOrder(Text1, Command1[0]);
    setTabOrder(Command1[0], Command1[1]);
    Text1->setFocus();

    Form_Load();
}

void frmFIND::Form_Load()
{
    if (!modDB::DBLoaded)
        MsgBox(QStringLiteral("Il database non è stato caricato."), 16, QStringLiteral("Errore"));
}

void frmFIND::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreOnScreen(this);
}

void frmFIND::Command1_Click(qint16 index)
{
    switch (index) {
    case 0: find(); break;
    case 1: done(QDialog::Rejected); break;
    default: break;
    }
}

void frmFIND::find()
{
    if (Text1->text().isEmpty()) {
        MsgBox(QStringLiteral("Specificare un cognome valido."), 16, QStringLiteral("Errore"));
        return;
    }
    frmGESTDB *main = frmGESTDB::instance();
    const std::optional<ListItem> row = main->lstADD->FindItem(Text1->text());
    if (!row) {
        MsgBox(QStringLiteral("Non è stata trovata alcuna voce come (") + Text1->text() + QLatin1Char(')'), 16,
               QStringLiteral("Errore"));
        return;
    }
    row->EnsureVisible();
    row->setSelected(true);
    done(QDialog::Accepted);
    // The dialog has no owner, so nothing hands the activation back to the main window when it goes.
    main->activateWindow();
    main->lstADD->SetFocus();
}

void frmFIND::keyPressEvent(QKeyEvent *event)
{
    // There is no cancel button: Escape does nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
