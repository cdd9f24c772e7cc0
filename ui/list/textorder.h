#pragma once

// The list's order of texts: an Italian, case-insensitive QCollator's. Plain-ASCII texts are ranked by a table
// derived from that very collator, as one collation key per text costs far more than sorting the texts.

#include <QCollator>
#include <QStringView>

#include "largememory.h"

#include <array>
#include <optional>
#include <vector>

class TextOrder
{
public:
    TextOrder();

    // Below, at or above zero as `a` comes before, together with or after `b`.
    int compare(QStringView a, QStringView b);
    // The indices of `texts` in order; equal texts keep theirs.
    LargeVector<int> sorted(const LargeVector<QStringView> &texts);

private:
    // The rank of each ASCII character, or 0 for one whose texts only the collator can place.
    using Ranks = std::array<quint8, 128>;

    // The texts the table cannot rank, grouped in order: equal texts share a group, in their present order.
    struct Groups
    {
        LargeVector<int> members;
        std::vector<std::size_t> starts; // where each group begins in `members`, and where the last ends
    };

    const Ranks &ranks();
    Ranks derivedRanks() const;
    bool ranked(QStringView text);
    Groups grouped(const LargeVector<int> &others, const LargeVector<QStringView> &texts) const;
    LargeVector<int> mergedWithOthers(const LargeVector<int> &ranked, const LargeVector<int> &others,
                                      const LargeVector<QStringView> &texts) const;

    QCollator m_collator;
    std::optional<Ranks> m_ranks; // derived when first needed: the start-up never pays for it
};
