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

QStringView ListRow::text(int k) const
{
    const quint32 start = k == 0 ? 0 : ends[k - 1];
    return QStringView(chars + start, ends[k] - start);
}

void TextStore::Free::operator()(void *block) const
{
    std::free(block);
}

ListRow *TextStore::newRow()
{
    if (m_rowChunks.empty() || m_rowsInChunk == RowsPerChunk) {
        m_rowChunks.push_back(std::make_unique<ListRow[]>(RowsPerChunk));
        m_rowsInChunk = 0;
    }
    return &m_rowChunks.back()[m_rowsInChunk++];
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

bool TextStore::growLast(const char16_t *piece, qsizetype oldSize, qsizetype newSize)
{
    if (m_blocks.empty() || !piece)
        return false;
    const char16_t *begin = m_blocks.back().get();
    if (piece < begin || piece + oldSize != begin + m_used || m_used - oldSize + newSize > m_blockSize)
        return false;
    m_used += newSize - oldSize;
    return true;
}

void TextStore::setText(ListRow &row, int k, QStringView value)
{
    const qsizetype total = row.ends[ListRow::TextCount - 1];
    const qsizetype start = k == 0 ? 0 : row.ends[k - 1];
    const qsizetype oldEnd = row.ends[k];
    const qsizetype newTotal = total - (oldEnd - start) + value.size();
    char16_t *target = row.chars;
    if (!growLast(row.chars, total, newTotal)) {
        // Elsewhere in the store: the row moves to the end, and its old place is left unused.
        target = take(newTotal);
        if (start > 0)
            std::memcpy(target, row.chars, std::size_t(start) * sizeof(char16_t));
    }
    if (total > oldEnd)
        std::memmove(target + start + value.size(), row.chars + oldEnd, std::size_t(total - oldEnd) * sizeof(char16_t));
    if (!value.isEmpty())
        std::memcpy(target + start, value.utf16(), std::size_t(value.size()) * sizeof(char16_t));
    row.chars = target;
    const qsizetype shift = value.size() - (oldEnd - start);
    for (int i = k; i < ListRow::TextCount; ++i)
        row.ends[i] = quint32(row.ends[i] + shift);
}
