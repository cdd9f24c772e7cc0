#pragma once

// The main window: the entry fields, the contact list and the command buttons.

#include "listview.h"

#include <QLabel>
#include <QWidget>

#include <array>

class History;
class ListMenu;
class QAction;
class QFrame;
class QLineEdit;
class QMenu;
class QPushButton;

// A picture that works as a small button: it shows a border while a mouse button is down on it.
class PictureBox : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
    int BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(int style);

signals:
    void MouseDown();
    void MouseUp();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int m_borderStyle = 0;
};

class frmGESTDB : public QWidget
{
    Q_OBJECT
public:
    inline static const QString SiteHost = QStringLiteral("www.example.org");
    inline static const QUrl EMailUrl = QUrl(QStringLiteral("mailto:quarlo64@example.org"));
    inline static const QUrl SiteUrl = QUrl(QStringLiteral("http://") + SiteHost);

    // `directory` holds the contact file; empty means the executable's own directory.
    explicit frmGESTDB(const QString &directory = QString(), QWidget *parent = nullptr);
    ~frmGESTDB() override;

    // The single main window, for the store's AddListItem and the find dialog.
    static frmGESTDB *instance() { return s_instance; }

    // The Load event: opens the contact store and fills the list. Engine errors pass to the caller.
    void Form_Load();
    void CreateCol();
    void ListRecord();

    void Command1_Click(qint16 index);
    // Adds the contacts of vCard, CSV or old contact files, after asking; as a drop on the window does.
    void importFiles(const QStringList &paths);

    std::array<QLineEdit *, 6> Text1{};
    std::array<QPushButton *, 5> Command1{};
    ListView *lstADD = nullptr;
    PictureBox *Image1 = nullptr;
    QList<QIcon> ImageList1;
    QMenu *a1 = nullptr;
    QAction *smEMail = nullptr;
    QAction *smSito = nullptr;
    qint16 LoopIndex = 0;
    // Every change made in the window, to take back and repeat, and the list's own menu that does so.
    History *history = nullptr;
    ListMenu *listMenu = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildDesign();
    void addContact();
    void removeContact();
    void findContact();
    void exitProgram();
    void showContactMenu();
    void lstADD_ItemClick();
    void lstADD_ColumnClick(const ColumnHeader &header);

    static inline frmGESTDB *s_instance = nullptr;
    QString m_directory;
};
