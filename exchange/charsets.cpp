#include "charsets.h"

#include "engine.h"

#include <QStringDecoder>

#include <algorithm>

namespace charsets {

std::optional<QString> fromUtf8(QByteArrayView bytes)
{
    if (!bytes.isValidUtf8())
        return std::nullopt;
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    // QString::fromUtf8 would drop the byte-order mark, which here begins a text: decoded as the store decodes.
    QStringDecoder decoder = storedTextDecoder();
    return QString(decoder(bytes));
}

QString fromWindows1252(QByteArrayView bytes)
{
    // 0x80 to 0x9F; the five bytes the code page leaves unassigned keep their C1 control, as browsers read them.
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const uchar code = uchar(byte);
        *out++ = code >= 0x80 && code < 0xA0 ? QChar(high[code - 0x80]) : QChar(code);
    }
    return text;
}

std::optional<QString> fromUtf16(QByteArrayView bytes)
{
    std::optional<QStringDecoder::Encoding> encoding;
    if (bytes.startsWith("\xFF\xFE"))
        encoding = QStringDecoder::Utf16LE;
    else if (bytes.startsWith("\xFE\xFF"))
        encoding = QStringDecoder::Utf16BE;
    else if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
        // The zero bytes at even and at odd places among the first pairs: enough to tell, and no more work for a
        // large file than for a small one.
        const qsizetype sample = std::min<qsizetype>(bytes.size(), 8192);
        qsizetype zeros[2] = {};
        for (qsizetype i = 0; i < sample; ++i)
            zeros[i % 2] += bytes[i] == 0;
        const qsizetype pairs = sample / 2;
        if (zeros[1] * 4 >= pairs && zeros[0] * 8 <= zeros[1])
            encoding = QStringDecoder::Utf16LE;
        else if (zeros[0] * 4 >= pairs && zeros[1] * 8 <= zeros[0])
            encoding = QStringDecoder::Utf16BE;
    }
    if (!encoding)
        return std::nullopt;
    // The byte-order mark goes with the encoding; a text that is not UTF-16 after all is no text.
    QStringDecoder decoder(*encoding);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    // Unpaired surrogates, which no UTF-8 file can hold, as the store keeps them.
    return storableText(text);
}

std::optional<QString> decode(QByteArrayView bytes, QByteArrayView charset)
{
    // Cards that name no character set and are not UTF-8 come from older Windows programs and phones.
    if (charset.isEmpty())
        return fromUtf8(bytes).value_or(fromWindows1252(bytes));
    if (charset.compare("utf-8", Qt::CaseInsensitive) == 0)
        return fromUtf8(bytes);
    const QByteArray name = charset.toByteArray().toLower();
    // Files labelled Latin-1 mostly come from Windows, as browsers assume too.
    if (name == "windows-1252" || name == "cp1252" || name == "iso-8859-1")
        return fromWindows1252(bytes);
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    if (!decoder.isValid())
        return fromUtf8(bytes);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    // Some decoders pass unpaired surrogates through, which no UTF-8 file can hold.
    return storableText(text);
}

} // namespace charsets
