#include "textfold.h"

QString foldCase(QStringView text)
{
    return text.toString().toUpper().toCaseFolded();
}

bool startsWithFolded(QStringView text, const QString &foldedPrefix)
{
    // Folding never shortens a text, so the prefix's length (plus a possible low surrogate) is enough.
    return foldCase(text.left(foldedPrefix.size() + 1)).startsWith(foldedPrefix);
}
