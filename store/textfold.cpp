#include "textfold.h"

QString foldCase(QStringView text)
{
    return text.toString().toUpper().toCaseFolded();
}

bool startsWithFolded(QStringView text, const QString &foldedPrefix)
{
    // Nearly every character of a cell is plain ASCII or a Latin-1 letter, which folds to its small letter alone (all
    // but ß and µ): compare those in place, and fold a copy only from the first other character on.
    qsizetype i = 0;
    for (; i < foldedPrefix.size() && i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x100 || c == u'ß' || c == u'µ')
            break;
        const char16_t folded = c < 0x80 ? (c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c) : char16_t(QChar::toLower(c));
        if (folded != foldedPrefix[i].unicode())
            return false;
    }
    if (i == foldedPrefix.size())
        return true;
    if (i == text.size())
        return false; // the text, folded, ends before the prefix
    // Folding never shortens a text, so the rest of the prefix's length (plus a possible low surrogate) is enough.
    const QStringView rest = QStringView(foldedPrefix).sliced(i);
    return foldCase(text.sliced(i).left(rest.size() + 1)).startsWith(rest);
}
