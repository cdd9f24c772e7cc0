#include "testsupport.h"

#include <QIcon>
#include <QProcess>

#include <stdexcept>


namespace {

enum ResourceType { Icon = 3, GroupIcon = 14, Version = 16 };

// One entry of a compiled resource file (.res): type and name as ordinals, language, the raw data.
struct Resource
{
    int type;
    int name;
    quint16 language;
    QByteArray data;
};

// One node of a VS_VERSIONINFO tree: a key, a binary or text value, and the nodes below it.
struct VersionNode
{
    QString key;
    QByteArray value;
    QString text;
    QList<VersionNode> children;

    const VersionNode *child(const QString &name) const
    {
        for (const VersionNode &node : children)
            if (node.key == name)
                return &node;
        return nullptr;
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
    // A zero-terminated UTF-16 string starting at `offset`; `offset` moves past its terminator.
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

QList<Resource> readResFile(const QByteArray &file)
{
    const Bytes bytes{file};
    QList<Resource> resources;
    for (qsizetype entry = 0; entry < file.size(); ) {
        const auto dataSize = bytes.at<quint32>(entry);
        const auto headerSize = bytes.at<quint32>(entry + 4);
        qsizetype offset = entry + 8;
        Resource resource;
        resource.type = ordinalAt(bytes, offset);
        resource.name = ordinalAt(bytes, offset);
        offset = aligned(offset) + 6; // DataVersion, MemoryFlags
        resource.language = bytes.at<quint16>(offset);
        resource.data = bytes.slice(entry + headerSize, dataSize);
        // The file starts with an empty entry that only marks it as 32-bit.
        if (resource.type != 0 || dataSize != 0)
            resources << resource;
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

private slots:
    void initTestCase();
    void shouldTagEveryResourceItalian();
    void shouldCarryVersionNumbers();
    void shouldCarryVersionStrings_data();
    void shouldCarryVersionStrings();
    void shouldOfferOnlyTheItalianTranslation();
    void shouldShowApplicationIconFirst();
    void shouldCarryEveryIconImage_data();
    void shouldCarryEveryIconImage();
    void shouldUseBuiltInIconAsWindowIcon();

private:
    QList<Resource> resourcesOfType(int type) const;

    QList<Resource> m_resources;
    QByteArray m_iconFile;
    VersionNode m_versionInfo;
};

QList<Resource> ResourcesTest::resourcesOfType(int type) const
{
    QList<Resource> found;
    for (const Resource &resource : m_resources)
        if (resource.type == type)
            found << resource;
    return found;
}

void ResourcesTest::initTestCase()
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
    process.start(windres, {QStringLiteral("--preprocessor=" BRISOLTA_PREPROCESSOR),
                            QStringLiteral("--preprocessor-arg=-E"), QStringLiteral("--preprocessor-arg=-xc"),
                            QStringLiteral("--preprocessor-arg=-DRC_INVOKED"), QStringLiteral("-O"), QStringLiteral("res"),
                            QStringLiteral(BRISOLTA_RESOURCES_DIR "/brisolta.rc"), compiled});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QFile file(compiled);
    QVERIFY(file.open(QIODevice::ReadOnly));
    try {
        m_resources = readResFile(file.readAll());
        const QList<Resource> versions = resourcesOfType(Version);
        QCOMPARE(versions.size(), 1);
        m_versionInfo = readVersionNode(Bytes{versions.first().data}, 0);
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
}

// Without windres the Windows resources cannot be compiled here; CTest reports the test as skipped.
#define REQUIRE_COMPILED_RESOURCES()                                                                                   \
    if (m_resources.isEmpty())                                                                                         \
        QSKIP("windres is not installed: the Windows resources were not compiled")

void ResourcesTest::shouldTagEveryResourceItalian()
{
    REQUIRE_COMPILED_RESOURCES();
    // GIVEN the compiled script THEN icons, icon group and version information are all in Italian
    for (const Resource &resource : std::as_const(m_resources))
        QCOMPARE(resource.language, quint16(0x0410));
}

void ResourcesTest::shouldCarryVersionNumbers()
{
    REQUIRE_COMPILED_RESOURCES();
    // GIVEN the fixed part of the version information
    QCOMPARE(m_versionInfo.key, QStringLiteral("VS_VERSION_INFO"));
    const QByteArray &fixed = m_versionInfo.value;
    QCOMPARE(fixed.size(), 52);
    const Bytes bytes{fixed};
    // THEN it is well formed and says 1.0.0.1 for the file and the product, for an application
    QCOMPARE(bytes.at<quint32>(0), 0xFEEF04BDu);
    QCOMPARE(bytes.at<quint32>(8), 0x00010000u);
    QCOMPARE(bytes.at<quint32>(12), 0x00000001u);
    QCOMPARE(bytes.at<quint32>(16), 0x00010000u);
    QCOMPARE(bytes.at<quint32>(20), 0x00000001u);
    QCOMPARE(bytes.at<quint32>(36), 1u);
}

void ResourcesTest::shouldCarryVersionStrings_data()
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

void ResourcesTest::shouldCarryVersionStrings()
{
    REQUIRE_COMPILED_RESOURCES();
    QFETCH(QString, key);
    QFETCH(QString, value);
    // GIVEN the Italian string table (language 0x0410, code page 1200)
    const VersionNode *strings = m_versionInfo.child(QStringLiteral("StringFileInfo"));
    QVERIFY(strings);
    const VersionNode *italian = strings->child(QStringLiteral("041004B0"));
    QVERIFY(italian);
    // THEN it holds the string with its exact value
    const VersionNode *string = italian->child(key);
    QVERIFY2(string, qPrintable(key));
    QCOMPARE(string->text, value);
}

void ResourcesTest::shouldOfferOnlyTheItalianTranslation()
{
    REQUIRE_COMPILED_RESOURCES();
    // GIVEN the version information THEN it has one string table, holding only the strings listed above,
    // and the translation list names it alone
    const VersionNode *strings = m_versionInfo.child(QStringLiteral("StringFileInfo"));
    QVERIFY(strings);
    QCOMPARE(strings->children.size(), 1);
    QCOMPARE(strings->children.first().children.size(), 6);
    const VersionNode *variables = m_versionInfo.child(QStringLiteral("VarFileInfo"));
    QVERIFY(variables);
    const VersionNode *translation = variables->child(QStringLiteral("Translation"));
    QVERIFY(translation);
    QCOMPARE(translation->value.size(), 4);
    QCOMPARE(Bytes{translation->value}.at<quint16>(0), quint16(0x0410));
    QCOMPARE(Bytes{translation->value}.at<quint16>(2), quint16(1200));
}

void ResourcesTest::shouldShowApplicationIconFirst()
{
    REQUIRE_COMPILED_RESOURCES();
    // GIVEN the icon groups THEN the application's is the only one, so Windows shows it for the program
    const QList<Resource> groups = resourcesOfType(GroupIcon);
    QCOMPARE(groups.size(), 1);
    QCOMPARE(Bytes{groups.first().data}.at<quint16>(4), quint16(3));
}

void ResourcesTest::shouldCarryEveryIconImage_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("colours");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::newRow("32x32 two colours") << 0 << 32 << 2 << 1;
    QTest::newRow("32x32 sixteen colours") << 1 << 32 << 16 << 4;
    QTest::newRow("16x16 sixteen colours") << 2 << 16 << 16 << 4;
}

void ResourcesTest::shouldCarryEveryIconImage()
{
    REQUIRE_COMPILED_RESOURCES();
    QFETCH(int, index);
    QFETCH(int, size);
    QFETCH(int, colours);
    QFETCH(int, bitsPerPixel);
    // GIVEN the group's entry for the image
    const QByteArray group = resourcesOfType(GroupIcon).first().data;
    const Bytes entries{group};
    const qsizetype entry = 6 + 14 * index;
    QCOMPARE(int(quint8(group.at(entry))), size);
    QCOMPARE(int(quint8(group.at(entry + 1))), size);
    QCOMPARE(int(quint8(group.at(entry + 2))), colours);
    QCOMPARE(int(entries.at<quint16>(entry + 6)), bitsPerPixel);
    // WHEN the icon it names is looked up
    const int id = entries.at<quint16>(entry + 12);
    const QList<Resource> icons = resourcesOfType(Icon);
    const auto icon = std::find_if(icons.begin(), icons.end(), [id](const Resource &r) { return r.name == id; });
    QVERIFY2(icon != icons.end(), "the group names an icon that is not there");
    // THEN it is a bitmap of that size and depth (height doubled for the mask) ...
    const Bytes bitmap{icon->data};
    QCOMPARE(bitmap.at<quint32>(4), quint32(size));
    QCOMPARE(bitmap.at<quint32>(8), quint32(2 * size));
    QCOMPARE(int(bitmap.at<quint16>(14)), bitsPerPixel);
    QCOMPARE(entries.at<quint32>(entry + 8), quint32(icon->data.size()));
    // ... and exactly the image of brisolta.ico at the same place
    const Bytes ico{m_iconFile};
    const qsizetype icoEntry = 6 + 16 * index;
    QCOMPARE(icon->data, ico.slice(ico.at<quint32>(icoEntry + 12), ico.at<quint32>(icoEntry + 8)));
}

void ResourcesTest::shouldUseBuiltInIconAsWindowIcon()
{
    // GIVEN the application set up as the program does THEN its window icon is the built-in brisolta.ico
    // at both sizes, which also proves the icon reader is available on this system
    QVERIFY(QFile::exists(QStringLiteral(":/brisolta.ico")));
    const QList<QSize> sizes = QApplication::windowIcon().availableSizes();
    QVERIFY2(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)),
             qPrintable(QDebug::toString(sizes)));
}

BRISOLTA_TEST_MAIN(ResourcesTest)

#include "tst_resources.moc"
