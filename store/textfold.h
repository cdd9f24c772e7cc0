#pragma once

// "Begins with, capitals and small letters alike", the one comparison every search uses: the store's FindFirst, the
// list's find and the command line's --find. Full case folding, so that "Straße" begins with "STRASSE".

#include <QString>

QString foldCase(QStringView text);
// Whether `text` begins with a prefix already folded by foldCase.
bool startsWithFolded(QStringView text, const QString &foldedPrefix);
