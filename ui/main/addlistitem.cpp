#include "addlistitem.h"

#include "frmGESTDB.h"
#include "modDB.h"

namespace modDB {

void AddListItem(const QString &Nome, const QString &Cognome, const QString &Telefono, const QString &Cellulare,
                 const QString &Fax, const QString &Email)
{
    ListView::ListItemList items = frmGESTDB::instance()->lstADD->ListItems();
    ListItem row = items.Add(Nome, 1);
    row.setSubItems(1, Cognome);
    row.setSubItems(2, Telefono);
    row.setSubItems(3, Cellulare);
    row.setSubItems(4, Fax);
    row.setSubItems(5, Email);
    row.setTag(*ContactRS->LastModified());
}

} // namespace modDB
