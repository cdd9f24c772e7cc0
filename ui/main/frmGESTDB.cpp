#include "frmGESTDB.h"

#include "addlistitem.h"
#include "design.h"
#include "files.h"
#include "frmFIND.h"
#include "history.h"
#include "importer.h"
#include "listmenu.h"
#include "listrecords.h"
#include "modDB.h"
#include "runtime.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>

namespace {

using modDB::FieldNames;

QLabel *label(QWidget *parent, const char *name, const QString &caption, int left, int top)
{
    auto *created = new QLabel(caption, parent);
    created->setObjectName(QLatin1String(name));
    created->move(left / 15, top / 15);
    created->adjustSize();
    return created;
}

QFrame *line(QWidget *parent, const char *name, int x1, int x2, int y, const QColor &colour)
{
    auto *created = new QFrame(parent);
    created->setObjectName(QLatin1String(name));
    created->setGeometry(x1 / 15, y / 15, (x2 - x1) / 15 + 1, 1);
    created->setAutoFillBackground(true);
    QPalette palette = created->palette();
    palette.setColor(QPalette::Window, colour);
    created->setPalette(palette);
    return created;
}

} // namespace

void PictureBox::setBorderStyle(int style)
{
    m_borderStyle = style;
    setFrameStyle(style == 1 ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
    setLineWidth(1);
}

void PictureBox::mousePressEvent(QMouseEvent *)
{
    emit MouseDown();
}

void PictureBox::mouseReleaseEvent(QMouseEvent *)
{
    emit MouseUp();
}

frmGESTDB::frmGESTDB(const QString &directory, QWidget *parent) : QWidget(parent), m_directory(directory)
{
    s_instance = this;
    buildDesign();
}

frmGESTDB::~frmGESTDB()
{
    if (s_instance == this)
        s_instance = nullptr;
}

void frmGESTDB::buildDesign()
{
    setObjectName(QStringLiteral("frmGESTDB"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Qt counts tool windows out of "last window closed": without this, closing any dialog or message box quits.
    setAttribute(Qt::WA_QuitOnClose);
    setWindowTitle(QStringLiteral("Rubrica Brisolta - Quarlo64- ") + SiteHost + QLatin1Char(' '));
    // Contact files dropped on the window are imported; nothing in the layout shows it.
    setAcceptDrops(true);
    setFont(formFont());
    resize(6285 / 15, 5940 / 15);

    QLabel *fieldLabels[6] = {label(this, "Label1", QStringLiteral("Nome:"), 240, 240),
                              label(this, "Label2", QStringLiteral("Cognome:"), 2280, 240),
                              label(this, "Label4", QStringLiteral("Telefono:"), 240, 840),
                              label(this, "Label5", QStringLiteral("Cellulare:"), 2280, 840),
                              label(this, "Label3", QStringLiteral("Fax:"), 240, 1440),
                              label(this, "Label6", QStringLiteral("Email:"), 2280, 1440)};
    QLabel *version = label(this, "Label7", QStringLiteral("Versione 1- 3/11/08"), 1560, 5400);
    QFont calibri(QStringLiteral("Calibri"));
    calibri.setPointSizeF(9.75);
    calibri.setBold(true);
    version->setFont(calibri);
    version->adjustSize();

    const int fieldLeft[6] = {240, 2280, 240, 2280, 240, 2280};
    const int fieldTop[6] = {480, 480, 1080, 1080, 1680, 1680};
    const int fieldWidth[6] = {1935, 2415, 1935, 2415, 1935, 2415};
    for (int k = 0; k < 6; ++k) {
        Text1[k] = textBox(this, QStringLiteral("Text1_%1").arg(k), twips(fieldLeft[k], fieldTop[k], fieldWidth[k], 300));
        // A screen reader names each field after the label above it.
        fieldLabels[k]->setBuddy(Text1[k]);
        Text1[k]->installEventFilter(this);
    }

    const struct
    {
        const char *caption;
        int left, top;
        QColor backColour;
    } buttons[5] = {{"Aggiungi", 4920, 480, QColor(255, 255, 192)},
                    {"Rimuovi", 4920, 960, QColor(255, 255, 192)},
                    {"Ricerca", 4920, 1440, QColor(255, 255, 192)},
                    {"Esci", 4920, 5280, QColor(224, 224, 224)},
                    {"Contattami", 3600, 5280, QColor(255, 224, 192)}};
    for (qint16 index = 0; index < 5; ++index) {
        QPushButton *button = graphicalButton(this, QStringLiteral("Command1_%1").arg(index),
                                              QString::fromLatin1(buttons[index].caption),
                                              twips(buttons[index].left, buttons[index].top, 1095, 350),
                                              buttons[index].backColour);
        // Enter presses the button that has the focus.
        button->setAutoDefault(true);
        connect(button, &QPushButton::clicked, this, [this, index] { Command1_Click(index); });
        Command1[index] = button;
    }
    Command1[0]->setDefault(true);

    ImageList1 = {resourceIcon(QStringLiteral(":/list.ico"))};
    lstADD = new ListView(this);
    lstADD->setObjectName(QStringLiteral("lstADD"));
    lstADD->setGeometry(twips(240, 2040, 5775, 2655));
    lstADD->setSmallIcons(ImageList1);
    lstADD->setAccessibleName(QStringLiteral("Contatti"));
    connect(lstADD, &ListView::ItemClick, this, [this] { lstADD_ItemClick(); });
    connect(lstADD, &ListView::ColumnClick, this, [this](const ColumnHeader &header) { lstADD_ColumnClick(header); });

    line(this, "Line2", -240, 6000, 4800, Qt::white);
    line(this, "Line1", 0, 6240, 5040, Qt::black);

    Image1 = new PictureBox(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twips(240, 5280, 990, 450));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(resourcePicture(QStringLiteral(":/logo.jpg")));
    Image1->setBorderStyle(0);
    Image1->setAccessibleName(QStringLiteral("Scrivi all'autore"));
    Image1->setAccessibleDescription(QStringLiteral("Un clic apre un nuovo messaggio di posta elettronica per l'autore del programma."));
    connect(Image1, &PictureBox::MouseDown, this, [this] { Image1->setBorderStyle(1); });
    connect(Image1, &PictureBox::MouseUp, this, [this] {
        Image1->setBorderStyle(0);
        ShellExecute(EMailUrl);
    });

    a1 = new QMenu(QStringLiteral("PopUp"), this);
    a1->setObjectName(QStringLiteral("a1"));
    smEMail = a1->addAction(QStringLiteral("E-Mail"));
    smEMail->setObjectName(QStringLiteral("smEMail"));
    smSito = a1->addAction(QStringLiteral("Vai al sito"));
    smSito->setObjectName(QStringLiteral("smSito"));
    connect(smEMail, &QAction::triggered, this, [] { ShellExecute(EMailUrl); });
    connect(smSito, &QAction::triggered, this, [] { ShellExecute(SiteUrl); });

    history = new History(*lstADD, this);
    listMenu = new ListMenu(*this, *lstADD, *history);

    QWidget *tabOrder[] = {Text1[0], Text1[1], Text1[2], Text1[3], Text1[4], Text1[5], lstADD,
                           Command1[0], Command1[1], Command1[2], Command1[3], Command1[4]};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    Text1[0]->setFocus();
}

void frmGESTDB::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        centreOnScreen(this);
}

void frmGESTDB::Form_Load()
{
    modDB::LoadDB(m_directory);
    if (!modDB::LoadRecordset())
        MsgBox(QStringLiteral("Impossibile caricare il recordset poichè il db risulta non caricato."), 48,
               QStringLiteral("Attenzione"));
    CreateCol();
    ListRecord();
}

void frmGESTDB::CreateCol()
{
    const qint16 last = qint16(modDB::ContactRS->Fields().Count() - 1);
    for (LoopIndex = 0; LoopIndex <= last; ++LoopIndex)
        lstADD->ColumnHeaders().Add(modDB::ContactRS->Fields().Item(LoopIndex).Name());
}

void frmGESTDB::ListRecord()
{
    Recordset &records = *modDB::ContactRS;
    if (records.Eof())
        return;
    // Each field is looked up by its name once, not record after record.
    const std::vector<Field> fields = modDB::ContactFields(records);
    // Every record's row joins the list in one insert.
    RowBatch rows = lstADD->newRows();
    while (!records.Eof()) {
        std::array<QStringView, ListRow::TextCount> texts;
        for (std::size_t k = 0; k < texts.size(); ++k)
            texts[k] = fields[k].View().value_or(QStringView());
        rows.Add(texts, 1, *records.Bookmark());
        records.MoveNext();
    }
    lstADD->ListItems().Add(std::move(rows));
}

void frmGESTDB::Command1_Click(qint16 index)
{
    reportingEngineErrors([this, index] {
        switch (index) {
        case 0: addContact(); break;
        case 1: removeContact(); break;
        case 2: findContact(); break;
        case 3: exitProgram(); break;
        case 4: showContactMenu(); break;
        default: break;
        }
    });
}

void frmGESTDB::addContact()
{
    const QString nome = Text1[0]->text();
    const QString cognome = Text1[1]->text();
    const QString telefono = Text1[2]->text();
    if (nome.isEmpty() || cognome.isEmpty() || telefono.isEmpty()) {
        MsgBox(QStringLiteral("Ci sono dei campi non compiati . Inserire i dati e riprovare."), 16, QStringLiteral("Errore"));
        return;
    }
    if (!modDB::DBLoaded) {
        MsgBox(QStringLiteral("Il database risulta non caricato. Provare a caricare il db."), 16, QStringLiteral("Errore"));
        return;
    }

    Recordset &records = *modDB::ContactRS;
    records.AddNew();
    try {
        for (int k = 0; k < 6; ++k)
            records.Fields().Item(FieldNames[k]).setValue(Text1[k]->text());
        records.Update();
    } catch (const EngineError &) {
        records.CancelUpdate();
        throw;
    }
    modDB::AddListItem(Text1[0]->text(), Text1[1]->text(), Text1[2]->text(), Text1[3]->text(), Text1[4]->text(),
                       Text1[5]->text());
    Contact stored;
    for (std::size_t k = 0; k < stored.size(); ++k)
        stored[k] = storableText(Text1[k]->text());
    history->added(*records.LastModified(), stored);
    MsgBox(QStringLiteral("Dati salvati con successo!."), 64, QStringLiteral("Info"));

    const qint16 highest = qint16(Text1.size() - 1);
    const qint16 lowest = 0;
    for (LoopIndex = lowest; LoopIndex <= highest; ++LoopIndex)
        Text1[std::size_t(LoopIndex)]->setText(QString());
}

void frmGESTDB::removeContact()
{
    if (lstADD->ListItems().Count() == 0)
        return;

    // The selected contact is the one meant, when its surname fits what was typed.
    const std::optional<ListItem> selected = lstADD->SelectedItem();
    Recordset &records = *modDB::ContactRS;
    records.FindFirst(QStringLiteral("Cognome"), Text1[1]->text(),
                      selected ? std::optional<qint64>(selected->Tag()) : std::nullopt);
    if (records.NoMatch()) {
        MsgBox(QStringLiteral("Voce (") + Text1[1]->text() + QStringLiteral(") non trovata nel database. Riprovare."), 16,
               QStringLiteral("Errore"));
        return;
    }
    // The question names the contact that will go, as the file holds it.
    const QString prompt = QStringLiteral("Eliminare ") + records.Fields().Item(FieldNames[0]).Value().value_or(QString()) +
                           QLatin1Char(' ') + records.Fields().Item(FieldNames[1]).Value().value_or(QString()) +
                           QStringLiteral(" definitivamente dal database?.");
    if (MsgBox(prompt, 36) != vbYes)
        return;

    const qint64 record = *records.Bookmark();
    Contact texts;
    for (std::size_t k = 0; k < texts.size(); ++k)
        texts[k] = records.Fields().Item(FieldNames[k]).Value();
    records.Delete();
    history->removed(record, texts);
    if (const std::optional<ListItem> row = lstADD->ItemWithTag(record))
        lstADD->ListItems().Remove(row->Index());
}

void frmGESTDB::findContact()
{
    frmFIND find;
    find.exec();
}

void frmGESTDB::exitProgram()
{
    close();
}

void frmGESTDB::showContactMenu()
{
    const QPoint corner(Command1[4]->x(), Command1[4]->y());
    a1->setDefaultAction(smEMail);
    a1->exec(mapToGlobal(corner));
}

void frmGESTDB::lstADD_ItemClick()
{
    if (!lstADD->SelectedItem())
        return;
    Text1[0]->setText(lstADD->SelectedItem()->Text());
    for (int k = 1; k < 6; ++k)
        Text1[std::size_t(k)]->setText(lstADD->SelectedItem()->SubItems(k));
}

void frmGESTDB::lstADD_ColumnClick(const ColumnHeader &header)
{
    lstADD->setSorted(true);
    lstADD->setSortKey(qint16(header.Index() - 1));
}

void frmGESTDB::importFiles(const QStringList &paths)
{
    Contacts read;
    int skipped = 0;
    try {
        read = readContactFiles(paths, &skipped);
    } catch (const FileError &error) {
        MsgBox(error.message(), 16, QStringLiteral("Errore"));
        return;
    }
    QStringList names;
    for (const QString &path : paths)
        names << QFileInfo(path).fileName();
    const ImportResult preview = importContacts(*modDB::ContactDB, read, true);
    if (preview.added.empty()) {
        MsgBox(QStringLiteral("Nessun contatto nuovo in %1. Già presenti: %2.").arg(names.join(QStringLiteral(", ")))
                       .arg(preview.duplicates) + skippedCount(skipped),
               64, QStringLiteral("Info"));
        return;
    }
    if (MsgBox(QStringLiteral("Importare %1 da %2?").arg(contactsCount(qsizetype(preview.added.size())),
                                                         names.join(QStringLiteral(", "))),
               36) != vbYes)
        return;

    const ImportResult result = importContacts(*modDB::ContactDB, read);
    listRecords(*lstADD, result.added, result.bookmarks);
    history->imported(result.bookmarks, result.added);
    MsgBox(QStringLiteral("Contatti aggiunti: %1. Già presenti: %2.").arg(result.added.size()).arg(result.duplicates) +
               skippedCount(skipped),
           64,
           QStringLiteral("Info"));
}

namespace {

bool holdsContactFiles(const QMimeData *data)
{
    const QList<QUrl> urls = data->urls();
    return !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl &url) {
        return url.isLocalFile() && kindOf(url.toLocalFile());
    });
}

} // namespace

void frmGESTDB::dragEnterEvent(QDragEnterEvent *event)
{
    if (holdsContactFiles(event->mimeData()))
        event->acceptProposedAction();
}

void frmGESTDB::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        paths << url.toLocalFile();
    event->acceptProposedAction();
    // The program the files came from waits until the drop returns: the questions come after it.
    QMetaObject::invokeMethod(
        this, [this, paths] { reportingEngineErrors([this, &paths] { importFiles(paths); }); }, Qt::QueuedConnection);
}

bool frmGESTDB::eventFilter(QObject *watched, QEvent *event)
{
    // Contact files dropped on an entry field are imported, as anywhere on the window, not typed in as their names.
    const auto type = event->type();
    if ((type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) &&
        holdsContactFiles(static_cast<QDropEvent *>(event)->mimeData())) {
        static_cast<QDropEvent *>(event)->acceptProposedAction();
        if (type == QEvent::Drop)
            dropEvent(static_cast<QDropEvent *>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmGESTDB::keyPressEvent(QKeyEvent *event)
{
    // Enter anywhere but on a button (which presses itself) presses the default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Command1[0]->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmGESTDB::closeEvent(QCloseEvent *event)
{
    // Closing the main window ends the program; tool windows do not count as last windows for Qt.
    event->accept();
    QCoreApplication::exit(0);
}
