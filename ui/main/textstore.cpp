#include "textstore.h"

#include <cstdlib>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

// Two megabytes: one huge page where the system offers them.
constexpr qsizetype BlockBytes = qsizetype(2) << 20;
constexpr qsizetype RowsPerChunk = 4096;

void *allocateBlock(qsizetype bytes)
{
    if (bytes != BlockBytes)
        return std::malloc(std::size_t(bytes));
#ifdef Q_OS_LINUX
    void *block = std::aligned_alloc(std::size_t(BlockBytes), std::size_t(BlockBytes));
    if (block)
        madvise(block, std::size_t(BlockBytes), MADV_HUGEPAGE);
    return block;
#else
    return std::malloc(std::size_t(bytes));
#endif
}

} // namespace

void TextStore::Free::operator()(void *block) const
{
    std::free(block);
}

ListRow *TextStore::newRow(const std::array<QStringView, ListRow::TextCount> &texts)
{
    if (m_rowChunks.empty() || m_rowsInChunk == RowsPerChunk) {
        m_rowChunks.push_back(std::make_unique<ListRow[]>(RowsPerChunk));
        m_rowsInChunk = 0;
    }
    ListRow *row = &m_rowChunks.back()[m_rowsInChunk++];
    qsizetype total = 0;
    for (int k = 0; k < ListRow::TextCount; ++k) {
        total += texts[std::size_t(k)].size();
        row->ends[k] = quint32(total);
    }
    row->chars = take(total);
    char16_t *out = row->chars;
    for (const QStringView text : texts) {
        if (!text.isEmpty())
            std::memcpy(out, text.utf16(), std::size_t(text.size()) * sizeof(char16_t));
        out += text.size();
    }
    return row;
}

char16_t *TextStore::take(qsizetype size)
{
    if (m_blocks.empty() || m_used + size > m_blockSize) {
        const qsizetype chars = std::max(BlockBytes / qsizetype(sizeof(char16_t)), size);
        void *block = allocateBlock(chars * qsizetype(sizeof(char16_t)));
        if (!block)
            throw std::bad_alloc();
        m_blocks.emplace_back(static_cast<char16_t *>(block));
        m_blockSize = chars;
        m_used = 0;
    }
    char16_t *piece = m_blocks.back().get() + m_used;
    m_used += size;
    return piece;
}
