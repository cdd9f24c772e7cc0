#include "addlistitem.h"

#include "frmGESTDB.h"
#include "modDB.h"

namespace modDB {

void AddListItem(const QString &Nome, const QString &Cognome, const QString &Telefono, const QString &Cellulare,
                 const QString &Fax, const QString &Email)
{
    // The row shows what the file holds, which is the typed text made storable.
    ListView::ListItemList items = frmGESTDB::instance()->lstADD->ListItems();
    ListItem row = items.Add(storableText(Nome), 1);
    row.setSubItems(1, storableText(Cognome));
    row.setSubItems(2, storableText(Telefono));
    row.setSubItems(3, storableText(Cellulare));
    row.setSubItems(4, storableText(Fax));
    row.setSubItems(5, storableText(Email));
    row.setTag(*ContactRS->LastModified());
}

} // namespace modDB
