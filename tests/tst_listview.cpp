#include "listview.h"
#include "support/storesupport.h"

#include <QAbstractItemModelTester>

class ListViewTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSortAsTheCollatorAndAddAfterEqualRows_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("plain ASCII") << QString("aAbByZ09 -_'.,@+/~\"^`").split(QString());
        QTest::newRow("accents, other scripts, ignorables") << QString("aA|b|à|É|e|ß|ss|æ|\u00a0|Ａ|ı|I|\u0301|\u200b|\x01|\t|Ω|中|😀|0|-| |'").split('|');
    }

    void shouldSortAsTheCollatorAndAddAfterEqualRows()
    {
        QFETCH(QStringList, pieces);
        QRandomGenerator random(seedFrom("BRISOLTA_TEST_SEED"));
        QCollator italian(QLocale(QLocale::Italian, QLocale::Italy));
        italian.setCaseSensitivity(Qt::CaseInsensitive);
        const auto before = [&](auto &a, auto &b) { return italian.compare(a.first, b.first) < 0; };
        ListView list;
        int announced = 0; // rows the model told its views about
        connect(&list.listModel(), &QAbstractItemModel::rowsInserted, [&](const QModelIndex &, int first, int last) { announced += last - first + 1; });
        for (int k = 0; k < 6; ++k)
            list.ColumnHeaders().Add(QString::number(k));
        // Fresh texts, and repeats and extensions of earlier ones: duplicates, empty texts, long shared beginnings.
        QStringList earlier{QString()};
        RowBatch batch = list.newRows();
        const auto add = [&](int tag, int key = 0, const QString &keyText = QString()) {
            QString texts[6];
            for (int k = 0; k < 6; ++k) {
                texts[k] = random.bounded(2) ? earlier[random.bounded(earlier.size())] : QString();
                for (int n = random.bounded(4) * random.bounded(6); n > 0; --n)
                    texts[k] += pieces[random.bounded(pieces.size())];
                earlier.append(texts[k]);
            }
            texts[key] = keyText.isNull() ? texts[key] : keyText;
            batch.Add({texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]}, 1, tag);
        };
        const auto rows = [&](int key) {
            QList<std::pair<QString, qint64>> shown;
            for (int index = 1; index <= list.ListItems().Count(); ++index) {
                const ListItem item = list.ListItems().Item(index);
                shown.append({key ? item.SubItems(key) : item.Text(), item.Tag()});
            }
            return shown;
        };
        for (int tag = 0; tag < 2000; ++tag)
            add(tag);
        list.ListItems().Add(std::move(batch));
        QAbstractItemModelTester tester(&list.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int key = 0; key < 6; ++key) {
            // WHEN sorted by a column THEN the rows stand as a stable sort by the collator puts them
            auto expected = rows(key);
            std::stable_sort(expected.begin(), expected.end(), before);
            list.setSorted(true);
            list.setSortKey(key);
            QCOMPARE(rows(key), expected);
            // and rows added with shown texts, in any case, one or several at once, each go after every row equal to it
            for (int tag = 10000 * (key + 1); tag < 10000 * (key + 1) + 10;) {
                batch = list.newRows();
                for (int count = random.bounded(1, 4); count > 0; --count, ++tag) {
                    const QString shown = expected[random.bounded(expected.size())].first;
                    const std::pair<QString, qint64> added{random.bounded(2) ? shown.toUpper() : shown, tag};
                    add(tag, key, added.first);
                    expected.insert(std::upper_bound(expected.begin(), expected.end(), added, before), added);
                }
                list.ListItems().Add(std::move(batch));
                QCOMPARE(rows(key), expected);
                QCOMPARE(announced, list.ListItems().Count());
            }
            // and a row is found from any start below the first row as from the first
            const QString last = expected.last().first;
            QVERIFY(key == 0 || (list.FindItem(last) && list.FindItem(last, 0) == list.FindItem(last) && list.FindItem(last, -5) == list.FindItem(last)));
        }
    }
};

QTEST_MAIN(ListViewTest)
#include "tst_listview.moc"
