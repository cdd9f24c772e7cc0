#include "textorder.h"

#include <QHash>

#include <algorithm>
#include <numeric>

namespace {

using RankTable = std::array<quint8, 128>;

// A text's first ranks, packed, and where it stands among the texts being sorted.
struct Keyed
{
    quint64 high = 0;
    quint64 low = 0;
    int index = 0;
};

// A key holds a text's first 18 ranks, seven bits each, nine to a word: keys order as their texts do that far.
constexpr int RankBits = 7;
constexpr int RanksPerWord = 9;
constexpr int KeyRanks = 2 * RanksPerWord;
// Fewer keys than this are sorted faster by insertion than by another counting pass.
constexpr std::ptrdiff_t InsertionRun = 64;

int sign(qsizetype value)
{
    return (value > 0) - (value < 0);
}

// Rank by rank; a text that begins another comes before it.
int compareRanks(const RankTable &rank, QStringView a, QStringView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        if (const int difference = rank[a[i].unicode()] - rank[b[i].unicode()])
            return difference;
    }
    return sign(a.size() - b.size());
}

// The character's rank, or 0 when the table leaves it to the collator.
quint8 rankOf(const RankTable &rank, QChar c)
{
    return c.unicode() < 128 ? rank[c.unicode()] : 0;
}

// False for a text with a character the table leaves to the collator.
bool pack(const RankTable &rank, QStringView text, quint64 &high, quint64 &low)
{
    const auto packWord = [&](qsizetype from, quint64 &word) {
        const qsizetype to = std::min(text.size(), from + RanksPerWord);
        for (qsizetype i = from; i < to; ++i) {
            const quint8 r = rankOf(rank, text[i]);
            if (r == 0)
                return false;
            word = word << RankBits | r;
        }
        word <<= RankBits * (from + RanksPerWord - std::max(to, from));
        return true;
    };
    const auto ranked = [&rank](QChar c) { return rankOf(rank, c) != 0; };
    return packWord(0, high) && packWord(RanksPerWord, low) &&
           std::all_of(text.begin() + std::min(text.size(), qsizetype(KeyRanks)), text.end(), ranked);
}

bool keyBefore(const Keyed &a, const Keyed &b)
{
    return a.high < b.high || (a.high == b.high && a.low < b.low);
}

// Stable: a counting sort on the most significant byte in which the keys differ, then the same within each bucket
// on the bytes after it; small buckets are finished by insertion.
void radixSort(Keyed *begin, Keyed *end, Keyed *buffer, int byte)
{
    const auto digit = [&byte](const Keyed &key) {
        return std::size_t(((byte < 8 ? key.low : key.high) >> (byte % 8 * 8)) & 0xff);
    };
    for (; end - begin > InsertionRun && byte >= 0; --byte) {
        std::array<std::size_t, 257> start{};
        for (const Keyed *key = begin; key != end; ++key)
            ++start[digit(*key) + 1];
        if (std::find(start.begin(), start.end(), std::size_t(end - begin)) != start.end())
            continue;
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::array<std::size_t, 257> next = start;
        for (const Keyed *key = begin; key != end; ++key)
            buffer[next[digit(*key)]++] = *key;
        std::copy(buffer, buffer + (end - begin), begin);
        for (std::size_t bucket = 0; bucket < 256; ++bucket)
            radixSort(begin + start[bucket], begin + start[bucket + 1], buffer + start[bucket], byte - 1);
        return;
    }
    for (Keyed *key = begin + std::min<std::ptrdiff_t>(1, end - begin); key < end; ++key) {
        const Keyed moved = *key;
        Keyed *place = key;
        for (; place != begin && keyBefore(moved, place[-1]); --place)
            *place = place[-1];
        *place = moved;
    }
}

LargeVector<int> sortedByKeys(LargeVector<Keyed> &keyed, const LargeVector<QStringView> &texts,
                              const RankTable &rank)
{
    LargeVector<Keyed> buffer(keyed.size());
    radixSort(keyed.data(), keyed.data() + keyed.size(), buffer.data(), 15);
    // Texts that fill a key and share it are ordered by the rest of their ranks.
    const auto rest = [&texts](const Keyed &key) { return texts[std::size_t(key.index)].sliced(KeyRanks); };
    for (auto run = keyed.begin(); run != keyed.end();) {
        const Keyed first = *run;
        const auto end = std::find_if(run, keyed.end(), [&first](const Keyed &key) {
            return key.high != first.high || key.low != first.low;
        });
        if (end - run > 1 && texts[std::size_t(first.index)].size() >= KeyRanks) {
            std::stable_sort(run, end,
                             [&](const Keyed &a, const Keyed &b) { return compareRanks(rank, rest(a), rest(b)) < 0; });
        }
        run = end;
    }
    LargeVector<int> order(keyed.size());
    std::transform(keyed.begin(), keyed.end(), order.begin(), [](const Keyed &key) { return key.index; });
    return order;
}

} // namespace

TextOrder::TextOrder() : m_collator(QLocale(QLocale::Italian, QLocale::Italy))
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

const TextOrder::Ranks &TextOrder::ranks()
{
    if (!m_ranks)
        m_ranks = derivedRanks();
    return *m_ranks;
}

TextOrder::Ranks TextOrder::derivedRanks() const
{
    const auto order = [this](QStringView a, QStringView b) { return sign(m_collator.compare(a, b)); };
    // Only a character that weighs on its own can be ranked: one the collator passes over at first (were "a-b"
    // after "ab" while "-" comes before "a") leaves its texts to the collator.
    std::vector<QString> alphabet;
    for (char16_t c = u' '; c < 0x7f; ++c) {
        const QString alone(QChar{c});
        const int againstA = order(alone, u"a");
        if (againstA == 0 || againstA == order(alone + u'b', u"a"))
            alphabet.push_back(alone);
    }
    std::stable_sort(alphabet.begin(), alphabet.end(),
                     [&](const QString &a, const QString &b) { return order(a, b) < 0; });
    Ranks rank{};
    quint8 last = 0;
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        if (i == 0 || order(alphabet[i - 1], alphabet[i]) != 0)
            ++last;
        rank[alphabet[i][0].unicode()] = last;
    }
    // Trusted only when it orders every text of up to two such characters exactly as the collator does.
    std::vector<QString> samples{QString()};
    for (const QString &first : alphabet) {
        samples.push_back(first);
        for (const QString &second : alphabet)
            samples.push_back(first + second);
    }
    std::sort(samples.begin(), samples.end(),
              [&](const QString &a, const QString &b) { return compareRanks(rank, a, b) < 0; });
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (sign(compareRanks(rank, samples[i - 1], samples[i])) != order(samples[i - 1], samples[i]))
            return Ranks{};
    }
    return rank;
}

bool TextOrder::ranked(QStringView text)
{
    const Ranks &rank = ranks();
    return std::all_of(text.begin(), text.end(), [&rank](QChar c) { return rankOf(rank, c) != 0; });
}

int TextOrder::compare(QStringView a, QStringView b)
{
    if (ranked(a) && ranked(b))
        return compareRanks(ranks(), a, b);
    return m_collator.compare(a, b);
}

LargeVector<int> TextOrder::sorted(const LargeVector<QStringView> &texts)
{
    const Ranks &rank = ranks();
    LargeVector<Keyed> keyed;
    keyed.reserve(texts.size());
    LargeVector<int> others;
    for (int i = 0; i < int(texts.size()); ++i) {
        if (std::size_t(i) + PrefetchDistance < texts.size())
            prefetch(texts[std::size_t(i) + PrefetchDistance].data());
        Keyed key;
        key.index = i;
        if (pack(rank, texts[std::size_t(i)], key.high, key.low))
            keyed.push_back(key);
        else
            others.push_back(i);
    }
    const LargeVector<int> order = sortedByKeys(keyed, texts, rank);
    return others.empty() ? order : mergedWithOthers(order, others, texts);
}

TextOrder::Groups TextOrder::grouped(const LargeVector<int> &others, const LargeVector<QStringView> &texts) const
{
    // One collation key per distinct text, as accented names repeat; texts of equal keys form one group.
    QHash<QStringView, int> distinct;
    std::vector<QCollatorSortKey> keys;
    LargeVector<int> keyOf;
    keyOf.reserve(others.size());
    for (const int index : others) {
        const QStringView text = texts[std::size_t(index)];
        auto found = distinct.constFind(text);
        if (found == distinct.constEnd()) {
            found = distinct.insert(text, int(keys.size()));
            keys.push_back(m_collator.sortKey(text.toString()));
        }
        keyOf.push_back(*found);
    }
    const auto keyBelow = [&keys](int a, int b) { return keys[std::size_t(a)].compare(keys[std::size_t(b)]) < 0; };
    std::vector<int> byKey(keys.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::sort(byKey.begin(), byKey.end(), keyBelow);
    std::vector<int> groupOf(keys.size());
    int last = 0;
    for (std::size_t i = 0; i < byKey.size(); ++i) {
        if (i > 0 && keyBelow(byKey[i - 1], byKey[i]))
            ++last;
        groupOf[std::size_t(byKey[i])] = last;
    }
    // A counting sort by group keeps equal texts in their present order.
    Groups groups;
    groups.starts.assign(std::size_t(last) + 2, 0);
    for (const int key : keyOf)
        ++groups.starts[std::size_t(groupOf[std::size_t(key)]) + 1];
    std::partial_sum(groups.starts.begin(), groups.starts.end(), groups.starts.begin());
    groups.members.resize(others.size());
    std::vector<std::size_t> fill = groups.starts;
    for (std::size_t i = 0; i < others.size(); ++i)
        groups.members[fill[std::size_t(groupOf[std::size_t(keyOf[i])])]++] = others[i];
    return groups;
}

LargeVector<int> TextOrder::mergedWithOthers(const LargeVector<int> &ranked, const LargeVector<int> &others,
                                             const LargeVector<QStringView> &texts) const
{
    const Groups groups = grouped(others, texts);
    // Each group finds its place among the ranked texts by galloping from the last group's place, so that a few
    // groups cost a few comparisons.
    LargeVector<int> order;
    order.reserve(ranked.size() + others.size());
    auto next = ranked.begin();
    for (std::size_t group = 0; group + 1 < groups.starts.size(); ++group) {
        const auto members = groups.members.begin() + std::ptrdiff_t(groups.starts[group]);
        const auto membersEnd = groups.members.begin() + std::ptrdiff_t(groups.starts[group + 1]);
        const QStringView text = texts[std::size_t(*members)];
        const auto below = [&](int index) { return m_collator.compare(texts[std::size_t(index)], text) < 0; };
        auto low = next;
        auto high = next;
        for (std::ptrdiff_t step = 1; high != ranked.end() && below(*high); step *= 2) {
            low = high + 1;
            high += std::min(step, ranked.end() - high);
        }
        const auto place = std::partition_point(low, high, below);
        order.insert(order.end(), next, place);
        next = std::find_if(place, ranked.end(),
                            [&](int index) { return m_collator.compare(texts[std::size_t(index)], text) != 0; });
        // Equal texts, ranked or not, keep their present order.
        const auto equalStart = std::ptrdiff_t(order.size());
        order.insert(order.end(), place, next);
        const auto membersStart = std::ptrdiff_t(order.size());
        order.insert(order.end(), members, membersEnd);
        std::inplace_merge(order.begin() + equalStart, order.begin() + membersStart, order.end());
    }
    order.insert(order.end(), next, ranked.end());
    return order;
}
