#pragma once

// Where the list keeps its rows and their texts: a few large blocks instead of one allocation per text,
// so that a list of a hundred thousand contacts fills in a few page faults.

#include <QStringView>

#include <array>
#include <memory>
#include <vector>

// One row: its six texts side by side in the text store, its small icon and the record it shows.
struct ListRow
{
    static constexpr int TextCount = 6;
    char16_t *chars = nullptr;
    quint32 ends[TextCount] = {};
    int smallIcon = 0;
    qint64 tag = 0;

    QStringView text(int k) const
    {
        const quint32 start = k == 0 ? 0 : ends[k - 1];
        return QStringView(chars + start, ends[k] - start);
    }
};

class TextStore
{
public:
    TextStore() = default;
    TextStore(const TextStore &) = delete;
    TextStore &operator=(const TextStore &) = delete;

    // A row holding these texts, side by side in one piece.
    ListRow *newRow(const std::array<QStringView, ListRow::TextCount> &texts);

private:
    struct Free
    {
        void operator()(void *block) const;
    };
    using Block = std::unique_ptr<char16_t[], Free>;

    char16_t *take(qsizetype size);

    std::vector<Block> m_blocks;
    qsizetype m_blockSize = 0;
    qsizetype m_used = 0;
    std::vector<std::unique_ptr<ListRow[]>> m_rowChunks;
    qsizetype m_rowsInChunk = 0;
};
