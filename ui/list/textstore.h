#pragma once

// Where the list keeps its rows and their texts: each row with its texts right behind it, in a few large blocks
// instead of one allocation per text, so that a list of a hundred thousand contacts fills in a few page faults.

#include <QStringView>

#include <array>
#include <memory>
#include <vector>

// One row: where each of its six texts ends, its small icon and the record it shows; the texts follow it.
struct ListRow
{
    static constexpr int TextCount = 6;
    quint32 ends[TextCount] = {};
    int smallIcon = 0;
    qint64 tag = 0;

    QStringView text(int k) const
    {
        const quint32 start = k == 0 ? 0 : ends[k - 1];
        return QStringView(reinterpret_cast<const char16_t *>(this + 1) + start, ends[k] - start);
    }
};

class TextStore
{
public:
    TextStore() = default;
    TextStore(const TextStore &) = delete;
    TextStore &operator=(const TextStore &) = delete;

    // A row holding these texts.
    ListRow *newRow(const std::array<QStringView, ListRow::TextCount> &texts);

private:
    struct Free
    {
        void operator()(void *block) const;
    };
    using Block = std::unique_ptr<char[], Free>;

    char *take(std::size_t bytes);

    std::vector<Block> m_blocks;
    std::size_t m_blockSize = 0;
    std::size_t m_used = 0;
};
