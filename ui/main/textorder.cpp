#include "textorder.h"

#include <QHash>

#include <algorithm>
#include <numeric>

struct TextOrder::Keyed
{
    quint64 high = 0;
    quint64 low = 0;
    int index = 0;
};

namespace {

// A key holds a text's first 18 ranks, seven bits each, nine to a word: keys order as their texts do that far.
constexpr int RankBits = 7;
constexpr int RanksPerWord = 9;
constexpr int KeyRanks = 2 * RanksPerWord;

int sign(qsizetype value)
{
    return (value > 0) - (value < 0);
}

// Rank by rank; a text that begins another comes before it.
int compareRanks(const std::array<quint8, 128> &rank, QStringView a, QStringView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        if (const int difference = rank[a[i].unicode()] - rank[b[i].unicode()])
            return difference;
    }
    return sign(a.size() - b.size());
}

// False for a text with a character the table leaves to the collator.
bool pack(const std::array<quint8, 128> &rank, QStringView text, quint64 &high, quint64 &low)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const quint64 r = c < 128 ? rank[c] : 0;
        if (r == 0)
            return false;
        if (i < KeyRanks)
            (i < RanksPerWord ? high : low) |= r << (RankBits * (RanksPerWord - 1 - i % RanksPerWord));
    }
    return true;
}

// Stable, least significant byte first, passing over any byte that every key shares.
template<typename Keyed> void radixSort(std::vector<Keyed> &keys)
{
    const auto digit = [](const Keyed &key, int byte) {
        return std::size_t(((byte < 8 ? key.low : key.high) >> (byte % 8 * 8)) & 0xff);
    };
    std::vector<std::array<std::size_t, 257>> starts(16);
    for (const Keyed &key : keys) {
        for (int byte = 0; byte < 16; ++byte)
            ++starts[std::size_t(byte)][digit(key, byte) + 1];
    }
    std::vector<Keyed> sorted(keys.size());
    for (int byte = 0; byte < 16; ++byte) {
        std::array<std::size_t, 257> &start = starts[std::size_t(byte)];
        if (std::find(start.begin(), start.end(), keys.size()) != start.end())
            continue;
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (const Keyed &key : keys)
            sorted[start[digit(key, byte)]++] = key;
        keys.swap(sorted);
    }
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
    std::stable_sort(alphabet.begin(), alphabet.end(), [&](const QString &a, const QString &b) { return order(a, b) < 0; });
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
    std::sort(samples.begin(), samples.end(), [&](const QString &a, const QString &b) { return compareRanks(rank, a, b) < 0; });
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (sign(compareRanks(rank, samples[i - 1], samples[i])) != order(samples[i - 1], samples[i]))
            return Ranks{};
    }
    return rank;
}

bool TextOrder::ranked(QStringView text)
{
    const Ranks &rank = ranks();
    return std::all_of(text.begin(), text.end(), [&rank](QChar c) { return c.unicode() < 128 && rank[c.unicode()] != 0; });
}

int TextOrder::compare(QStringView a, QStringView b)
{
    if (ranked(a) && ranked(b))
        return compareRanks(ranks(), a, b);
    return m_collator.compare(a, b);
}

std::vector<int> TextOrder::sorted(const std::vector<QStringView> &texts)
{
    const Ranks &rank = ranks();
    std::vector<Keyed> keyed;
    keyed.reserve(texts.size());
    std::vector<int> others;
    for (int i = 0; i < int(texts.size()); ++i) {
        Keyed key;
        key.index = i;
        if (pack(rank, texts[std::size_t(i)], key.high, key.low))
            keyed.push_back(key);
        else
            others.push_back(i);
    }
    const std::vector<int> order = sortedByKeys(keyed, texts);
    return others.empty() ? order : mergedWithOthers(order, others, texts);
}

std::vector<int> TextOrder::sortedByKeys(std::vector<Keyed> &keyed, const std::vector<QStringView> &texts)
{
    radixSort(keyed);
    // Texts that fill a key and share it are ordered by the rest of their ranks.
    const auto rest = [&texts](const Keyed &key) { return texts[std::size_t(key.index)].sliced(KeyRanks); };
    for (auto run = keyed.begin(); run != keyed.end();) {
        const Keyed first = *run;
        const auto end = std::find_if(run, keyed.end(), [&](const Keyed &key) { return key.high != first.high || key.low != first.low; });
        if (end - run > 1 && texts[std::size_t(first.index)].size() >= KeyRanks) {
            std::stable_sort(run, end, [&](const Keyed &a, const Keyed &b) { return compareRanks(ranks(), rest(a), rest(b)) < 0; });
        }
        run = end;
    }
    std::vector<int> order(keyed.size());
    std::transform(keyed.begin(), keyed.end(), order.begin(), [](const Keyed &key) { return key.index; });
    return order;
}

std::vector<int> TextOrder::mergedWithOthers(const std::vector<int> &ranked, const std::vector<int> &others,
                                             const std::vector<QStringView> &texts) const
{
    // One collation key per distinct text: accented names repeat.
    QHash<QStringView, int> distinct;
    std::vector<QCollatorSortKey> keys;
    std::vector<std::pair<int, int>> byKey; // a key and the index of its text
    byKey.reserve(others.size());
    for (const int index : others) {
        const QStringView text = texts[std::size_t(index)];
        auto found = distinct.constFind(text);
        if (found == distinct.constEnd()) {
            found = distinct.insert(text, int(keys.size()));
            keys.push_back(m_collator.sortKey(text.toString()));
        }
        byKey.emplace_back(*found, index);
    }
    const auto keyOf = [&keys](const std::pair<int, int> &item) -> const QCollatorSortKey & {
        return keys[std::size_t(item.first)];
    };
    std::stable_sort(byKey.begin(), byKey.end(), [&](const auto &a, const auto &b) { return keyOf(a).compare(keyOf(b)) < 0; });

    // Each group of equal texts finds its place among the ranked ones by galloping from the last group's place,
    // so that a few groups cost a few comparisons.
    std::vector<int> order;
    order.reserve(ranked.size() + others.size());
    auto next = ranked.begin();
    for (auto group = byKey.begin(); group != byKey.end();) {
        const auto groupEnd = std::find_if(group, byKey.end(), [&](const auto &item) { return keyOf(item).compare(keyOf(*group)) != 0; });
        const QStringView text = texts[std::size_t(group->second)];
        const auto below = [&](int index) { return m_collator.compare(texts[std::size_t(index)], text) < 0; };
        auto low = next;
        auto high = next;
        for (std::ptrdiff_t step = 1; high != ranked.end() && below(*high); step *= 2) {
            low = high + 1;
            high += std::min(step, ranked.end() - high);
        }
        const auto place = std::partition_point(low, high, below);
        order.insert(order.end(), next, place);
        next = std::find_if(place, ranked.end(), [&](int index) { return m_collator.compare(texts[std::size_t(index)], text) != 0; });
        // Equal texts, ranked or not, keep their present order.
        std::vector<int> equal(place, next);
        const auto ranksEnd = equal.size();
        for (auto item = group; item != groupEnd; ++item)
            equal.push_back(item->second);
        std::inplace_merge(equal.begin(), equal.begin() + std::ptrdiff_t(ranksEnd), equal.end());
        order.insert(order.end(), equal.begin(), equal.end());
        group = groupEnd;
    }
    order.insert(order.end(), next, ranked.end());
    return order;
}
