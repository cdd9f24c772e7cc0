#pragma once

// The contact list's own menu and keys: editing a cell, deleting and copying the selected contact, taking back and
// repeating changes, importing and exporting contacts, and syncing with an address book on a server.

#include "contact.h"

#include <QObject>
#include <QPoint>

#include <optional>

class CellEditor;
class History;
class ListView;
class QAction;
class QLineEdit;
class QMenu;
class QMimeData;
class SyncRunner;
class frmGESTDB;

class ListMenu : public QObject
{
    Q_OBJECT
public:
    ListMenu(frmGESTDB &window, ListView &list, History &history);

    // The menu at a point on the screen, or, with none, below the selected row.
    void popUp(std::optional<QPoint> at = std::nullopt);

    QMenu *menu = nullptr;
    QAction *smModifica = nullptr;
    QAction *smElimina = nullptr;
    QAction *smCopia = nullptr;
    QAction *smAnnulla = nullptr;
    QAction *smRipeti = nullptr;
    QAction *smImporta = nullptr;
    QAction *smEsporta = nullptr;
    QAction *smSincronizza = nullptr;
    // The syncs with the address book on the server, which the menu's last item sets up and runs.
    SyncRunner *sync = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void editSelected();
    void removeSelected();
    void copySelected();
    void importChosen();
    void exportChosen();
    void storeCell(qint64 tag, int column, const QString &text);

    frmGESTDB &m_window;
    ListView &m_list;
    History &m_history;
    CellEditor *m_editor = nullptr;
};

// The contact as a vCard (text/vcard) and as one line of its six texts between tabs (plain text).
QMimeData *clipboardData(const Contact &contact);
