#include "textfold.h"

QString foldCase(QStringView text)
{
    return text.toString().toUpper().toCaseFolded();
}

bool startsWithFolded(QStringView text, const QString &foldedPrefix)
{
    // While both sides are plain ASCII, which nearly every cell and search is, a character folds to its small letter
    // alone: compare in place, without folding a copy.
    qsizetype i = 0;
    for (; i < foldedPrefix.size() && i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const char16_t p = foldedPrefix[i].unicode();
        if (c >= 0x80 || p >= 0x80)
            break;
        if ((c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c) != p)
            return false;
    }
    if (i == foldedPrefix.size())
        return true;
    // Folding never shortens a text, so the rest of the prefix's length (plus a possible low surrogate) is enough.
    const QStringView rest = QStringView(foldedPrefix).sliced(i);
    return foldCase(text.sliced(i).left(rest.size() + 1)).startsWith(rest);
}
