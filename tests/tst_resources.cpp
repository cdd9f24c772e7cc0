#include "testsupport.h"

#include <QIcon>
#include <QProcess>

#include <stdexcept>

namespace {

enum ResourceType { Icon = 3, GroupIcon = 14, Version = 16 };

// One entry of a compiled resource file (.res): type and name as ordinals, language, the raw data.
struct Resource
{
    int type, name;
    quint16 language;
    QByteArray data;
};

// One node of a VS_VERSIONINFO tree; a missing child reads as an empty node, which no check accepts.
struct VersionNode
{
    QString key, text;
    QByteArray value;
    QList<VersionNode> children;

    const VersionNode &child(const QString &name) const
    {
        static const VersionNode missing;
        const auto found = std::find_if(children.begin(), children.end(), [&](auto &node) { return node.key == name; });
        return found == children.end() ? missing : *found;
    }
};

// Bounds-checked little-endian reads; a short or malformed file throws instead of reading past the end.
struct Bytes
{
    const QByteArray &data;

    template <typename T> T at(qsizetype offset) const
    {
        if (offset < 0 || offset + qsizetype(sizeof(T)) > data.size())
            throw std::runtime_error("read past the end of the data");
        T value = 0;
        for (auto k = qsizetype(sizeof(T)); k-- > 0;)
            value = T(value << 8 | quint8(data.at(offset + k)));
        return value;
    }
    // A zero-terminated UTF-16 string; `offset` moves past its terminator.
    QString string(qsizetype &offset) const
    {
        QString text;
        for (quint16 unit; (unit = at<quint16>(offset)) != 0; offset += 2)
            text += QChar(unit);
        offset += 2;
        return text;
    }
    QByteArray slice(qsizetype offset, qsizetype size) const
    {
        if (size < 0 || offset + size > data.size())
            throw std::runtime_error("a length runs past the end of the data");
        return data.mid(offset, size);
    }
};

qsizetype aligned(qsizetype offset)
{
    return (offset + 3) & ~qsizetype(3);
}

// A type or name in a .res header: 0xFFFF and an ordinal, or a string (reported as -1: we use ordinals only).
int ordinalAt(const Bytes &bytes, qsizetype &offset)
{
    if (bytes.at<quint16>(offset) == 0xFFFF) {
        offset += 4;
        return bytes.at<quint16>(offset - 2);
    }
    bytes.string(offset);
    return -1;
}

QMultiMap<int, Resource> readResFile(const QByteArray &file)
{
    const Bytes bytes{file};
    QMultiMap<int, Resource> resources;
    for (qsizetype entry = 0; entry < file.size();) {
        const auto dataSize = bytes.at<quint32>(entry);
        const auto headerSize = bytes.at<quint32>(entry + 4);
        qsizetype offset = entry + 8;
        const int type = ordinalAt(bytes, offset);
        const int name = ordinalAt(bytes, offset);
        const quint16 language = bytes.at<quint16>(aligned(offset) + 6); // past DataVersion and MemoryFlags
        // The file starts with an empty entry that only marks it as 32-bit.
        if (type != 0 || dataSize != 0)
            resources.insert(type, Resource{type, name, language, bytes.slice(entry + headerSize, dataSize)});
        entry = aligned(entry + headerSize + dataSize);
    }
    return resources;
}

VersionNode readVersionNode(const Bytes &bytes, qsizetype start)
{
    const auto length = bytes.at<quint16>(start);
    const auto valueLength = bytes.at<quint16>(start + 2);
    const bool isText = bytes.at<quint16>(start + 4) == 1;
    qsizetype offset = start + 6;
    VersionNode node;
    node.key = bytes.string(offset);
    offset = aligned(offset);
    if (isText) {
        qsizetype textOffset = offset;
        node.text = valueLength ? bytes.string(textOffset) : QString();
        offset += 2 * valueLength;
    } else {
        node.value = bytes.slice(offset, valueLength);
        offset += valueLength;
    }
    for (offset = aligned(offset); offset < start + length; offset = aligned(offset + bytes.at<quint16>(offset)))
        node.children << readVersionNode(bytes, offset);
    return node;
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

    QMultiMap<int, Resource> m_resources;
    QByteArray m_iconFile;
    VersionNode m_versionInfo;

private slots:
    void initTestCase()
    {
        QFile icon(QStringLiteral(BRISOLTA_RESOURCES_DIR "/brisolta.ico"));
        QVERIFY(icon.open(QIODevice::ReadOnly));
        m_iconFile = icon.readAll();

        const QString windres = QStringLiteral(BRISOLTA_WINDRES);
        if (!QFileInfo(windres).isExecutable())
            return;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString compiled = dir.filePath(QStringLiteral("brisolta.res"));
        // Our own C compiler preprocesses the script, so no MinGW compiler is needed beside windres.
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(windres, {"--preprocessor=" BRISOLTA_PREPROCESSOR, "--preprocessor-arg=-E",
                                "--preprocessor-arg=-xc", "--preprocessor-arg=-DRC_INVOKED", "-O", "res",
                                BRISOLTA_RESOURCES_DIR "/brisolta.rc", compiled});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        QFile file(compiled);
        QVERIFY(file.open(QIODevice::ReadOnly));
        try {
            m_resources = readResFile(file.readAll());
            const QList<Resource> versions = m_resources.values(Version);
            QCOMPARE(versions.size(), 1);
            m_versionInfo = readVersionNode(Bytes{versions.first().data}, 0);
        } catch (const std::exception &error) {
            QFAIL(error.what());
        }
    }

    // Without windres the Windows resources cannot be compiled here; CTest reports those tests as skipped.
    void init()
    {
        if (m_resources.isEmpty() && QByteArray(QTest::currentTestFunction()) != "shouldUseBuiltInIconAsWindowIcon")
            QSKIP("windres is not installed: the Windows resources were not compiled");
    }

    void shouldTagEveryResourceItalian()
    {
        // GIVEN the compiled script THEN icons, icon group and version information are all in Italian
        for (const Resource &resource : std::as_const(m_resources))
            QCOMPARE(resource.language, quint16(0x0410));
    }

    void shouldCarryVersionNumbers()
    {
        // GIVEN the fixed part of the version information THEN it says 1.0.0.1 for file and product, for an application
        QCOMPARE(m_versionInfo.key, QStringLiteral("VS_VERSION_INFO"));
        QCOMPARE(m_versionInfo.value.size(), 52);
        const Bytes fixed{m_versionInfo.value};
        QCOMPARE((QList<quint32>{fixed.at<quint32>(0), fixed.at<quint32>(8), fixed.at<quint32>(12),
                                 fixed.at<quint32>(16), fixed.at<quint32>(20), fixed.at<quint32>(36)}),
                 (QList<quint32>{0xFEEF04BD, 0x00010000, 1, 0x00010000, 1, 1}));
    }

    void shouldCarryVersionStrings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("FileDescription") << "FileDescription" << "Rubrica Brisolta";
        QTest::newRow("FileVersion") << "FileVersion" << "1.00.0001";
        QTest::newRow("InternalName") << "InternalName" << "Brisolta";
        QTest::newRow("OriginalFilename") << "OriginalFilename" << "Brisolta.exe";
        QTest::newRow("ProductName") << "ProductName" << "Brisolta";
        QTest::newRow("ProductVersion") << "ProductVersion" << "1.00.0001";
    }

    void shouldCarryVersionStrings()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        // GIVEN the Italian string table (language 0x0410, code page 1200) THEN it holds the string with its value
        QCOMPARE(m_versionInfo.child("StringFileInfo").child("041004B0").child(key).text, value);
    }

    void shouldOfferOnlyTheItalianTranslation()
    {
        // GIVEN the version information THEN it has one string table with only the strings above, the only translation
        const VersionNode &strings = m_versionInfo.child("StringFileInfo");
        QCOMPARE(strings.children.size(), 1);
        QCOMPARE(strings.children.first().children.size(), 6);
        // Language 0x0410, code page 1200, little-endian.
        QCOMPARE(m_versionInfo.child("VarFileInfo").child("Translation").value, QByteArray::fromHex("1004b004"));
    }

    void shouldShowApplicationIconFirst()
    {
        // GIVEN the icon groups THEN the application's is the only one, so Windows shows it for the program
        const QList<Resource> groups = m_resources.values(GroupIcon);
        QCOMPARE(groups.size(), 1);
        QCOMPARE(Bytes{groups.first().data}.at<quint16>(4), quint16(3));
    }

    void shouldCarryEveryIconImage_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("colours");
        QTest::addColumn<int>("bitsPerPixel");
        QTest::newRow("32x32 two colours") << 0 << 32 << 2 << 1;
        QTest::newRow("32x32 sixteen colours") << 1 << 32 << 16 << 4;
        QTest::newRow("16x16 sixteen colours") << 2 << 16 << 16 << 4;
    }

    void shouldCarryEveryIconImage()
    {
        QFETCH(int, index);
        QFETCH(int, size);
        QFETCH(int, colours);
        QFETCH(int, bitsPerPixel);
        // GIVEN the group's entry for the image
        const QByteArray group = m_resources.values(GroupIcon).value(0).data;
        const Bytes entries{group};
        const qsizetype entry = 6 + 14 * index;
        QCOMPARE((QList<int>{entries.at<quint8>(entry), entries.at<quint8>(entry + 1), entries.at<quint8>(entry + 2),
                             entries.at<quint16>(entry + 6)}),
                 (QList<int>{size, size, colours, bitsPerPixel}));
        // WHEN the icon it names is looked up
        const int id = entries.at<quint16>(entry + 12);
        const QList<Resource> icons = m_resources.values(Icon);
        const auto icon = std::find_if(icons.begin(), icons.end(), [id](const Resource &r) { return r.name == id; });
        QVERIFY2(icon != icons.end(), "the group names an icon that is not there");
        // THEN it is a bitmap of that size and depth (height doubled for the mask), exactly brisolta.ico's image there
        const Bytes bitmap{icon->data};
        QCOMPARE((QList<int>{int(bitmap.at<quint32>(4)), int(bitmap.at<quint32>(8)), bitmap.at<quint16>(14)}),
                 (QList<int>{size, 2 * size, bitsPerPixel}));
        QCOMPARE(entries.at<quint32>(entry + 8), quint32(icon->data.size()));
        const Bytes ico{m_iconFile};
        const qsizetype icoEntry = 6 + 16 * index;
        QCOMPARE(icon->data, ico.slice(ico.at<quint32>(icoEntry + 12), ico.at<quint32>(icoEntry + 8)));
    }

    void shouldUseBuiltInIconAsWindowIcon()
    {
        // GIVEN the application set up as the program does THEN its window icon is brisolta.ico at both sizes
        QVERIFY(QFile::exists(QStringLiteral(":/brisolta.ico")));
        const QList<QSize> sizes = QApplication::windowIcon().availableSizes();
        QVERIFY2(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)), qPrintable(QDebug::toString(sizes)));
    }
};

BRISOLTA_TEST_MAIN(ResourcesTest)
#include "tst_resources.moc"
