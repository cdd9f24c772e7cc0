#include "listview.h"

#include <QAbstractItemModelTester>
#include <QCollator>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

class ListViewTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSortAsTheCollatorAndAddAfterEqualRows_data();
    void shouldSortAsTheCollatorAndAddAfterEqualRows();
};

void ListViewTest::shouldSortAsTheCollatorAndAddAfterEqualRows_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("plain ASCII") << QString("aAbByZ09 -_'.,@+/~\"^`").split(QString());
    QTest::newRow("accents, other scripts, ignorables") << (QStringList{"aA", "b", "à", "É", "e", "ß", "ss", "æ", "\u00a0",
        "Ａ", "ı", "I", "\u0301", "\u200b", "\x01", "\t", "Ω", "中", "😀", "0", "-", " ", "'"});
}

void ListViewTest::shouldSortAsTheCollatorAndAddAfterEqualRows()
{
    QFETCH(QStringList, pieces);
    const QByteArray given = qgetenv("BRISOLTA_TEST_SEED");
    const quint32 seed = given.isEmpty() ? QRandomGenerator::global()->generate() : given.toUInt();
    qInfo("seed %u (BRISOLTA_TEST_SEED=%u replays it)", seed, seed);
    QRandomGenerator random(seed);
    QCollator italian(QLocale(QLocale::Italian, QLocale::Italy));
    italian.setCaseSensitivity(Qt::CaseInsensitive);
    ListView list;
    for (int k = 0; k < 6; ++k)
        list.ColumnHeaders().Add(QString::number(k));
    // Fresh texts, and repeats and extensions of earlier ones: duplicates, empty texts, long shared beginnings.
    QStringList earlier{QString()};
    const auto text = [&] {
        QString made = random.bounded(2) ? earlier[random.bounded(earlier.size())] : QString();
        for (int n = random.bounded(4) * random.bounded(6); n > 0; --n)
            made += pieces[random.bounded(pieces.size())];
        earlier.append(made);
        return made;
    };
    const auto add = [&](int tag, std::optional<QString> keyText = std::nullopt, int key = 0) {
        QString texts[6];
        for (int k = 0; k < 6; ++k)
            texts[k] = k == key && keyText ? *keyText : text();
        list.ListItems().Add({texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]}, 1).setTag(tag);
    };
    const auto rows = [&](int key) {
        QList<std::pair<QString, qint64>> shown;
        for (int index = 1; index <= list.ListItems().Count(); ++index) {
            const ListItem item = list.ListItems().Item(index);
            shown.append({key == 0 ? item.Text() : item.SubItems(key), item.Tag()});
        }
        return shown;
    };
    for (int tag = 0; tag < 600; ++tag)
        add(tag);
    QAbstractItemModelTester tester(&list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int key = 0; key < 6; ++key) {
        // WHEN sorted by a column THEN the rows stand as a stable sort by the collator puts them
        auto expected = rows(key);
        std::stable_sort(expected.begin(), expected.end(), [&](auto &a, auto &b) { return italian.compare(a.first, b.first) < 0; });
        list.setSorted(true);
        list.setSortKey(key);
        QCOMPARE(rows(key), expected);
        // and a row added with a shown text, in any case, goes after every row equal to it
        const QString shownText = expected[random.bounded(expected.size())].first;
        const QString same = random.bounded(2) ? shownText.toUpper() : shownText;
        const auto place = std::count_if(expected.begin(), expected.end(), [&](auto &row) { return italian.compare(row.first, same) <= 0; });
        add(1000 + key, same, key);
        QCOMPARE(rows(key).at(place).second, qint64(1000 + key));
    }
}

QTEST_MAIN(ListViewTest)
#include "tst_listview.moc"
