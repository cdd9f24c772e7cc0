#pragma once

// Where the list keeps its rows and their texts: a few large blocks instead of one allocation per text,
// so that a list of a hundred thousand contacts fills in a few page faults.

#include <QStringView>

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

    QStringView text(int k) const;
};

class TextStore
{
public:
    TextStore() = default;
    TextStore(const TextStore &) = delete;
    TextStore &operator=(const TextStore &) = delete;

    ListRow *newRow();
    // Replaces text k of the row; the row last written grows in place, any other moves to the end.
    void setText(ListRow &row, int k, QStringView value);

private:
    struct Free
    {
        void operator()(void *block) const;
    };
    using Block = std::unique_ptr<char16_t[], Free>;

    char16_t *take(qsizetype size);
    bool growLast(const char16_t *piece, qsizetype oldSize, qsizetype newSize);

    std::vector<Block> m_blocks;
    qsizetype m_blockSize = 0;
    qsizetype m_used = 0;
    std::vector<std::unique_ptr<ListRow[]>> m_rowChunks;
    qsizetype m_rowsInChunk = 0;
};
