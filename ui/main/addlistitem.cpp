#include "addlistitem.h"

#include "frmGESTDB.h"
#include "modDB.h"

namespace modDB {

void AddListItem(const QString &Nome, const QString &Cognome, const QString &Telefono, const QString &Cellulare,
                 const QString &Fax, const QString &Email)
{
    // The row shows what the file holds, which is the typed text made storable.
    const QString texts[] = {storableText(Nome), storableText(Cognome), storableText(Telefono),
                             storableText(Cellulare), storableText(Fax), storableText(Email)};
    ListView::ListItemList items = frmGESTDB::instance()->lstADD->ListItems();
    items.Add({texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]}, 1, *ContactRS->LastModified());
}

} // namespace modDB
