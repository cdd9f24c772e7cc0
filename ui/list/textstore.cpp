#include "textstore.h"

#include "largememory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Two megabytes: one huge page where the system offers them.
constexpr std::size_t BlockBytes = std::size_t(2) << 20;

} // namespace

void TextStore::Free::operator()(void *block) const
{
    std::free(block);
}

ListRow *TextStore::newRow(const std::array<QStringView, ListRow::TextCount> &texts)
{
    std::size_t total = 0;
    for (const QStringView text : texts)
        total += std::size_t(text.size());
    // The next row's place stays aligned for a row.
    const std::size_t bytes = (sizeof(ListRow) + total * sizeof(char16_t) + alignof(ListRow) - 1) / alignof(ListRow) *
                              alignof(ListRow);
    auto *row = new (take(bytes)) ListRow;
    auto *out = reinterpret_cast<char16_t *>(row + 1);
    for (int k = 0; k < ListRow::TextCount; ++k) {
        const QStringView text = texts[std::size_t(k)];
        if (!text.isEmpty())
            std::memcpy(out, text.utf16(), std::size_t(text.size()) * sizeof(char16_t));
        out += text.size();
        row->ends[k] = quint32(out - reinterpret_cast<char16_t *>(row + 1));
    }
    return row;
}

char *TextStore::take(std::size_t bytes)
{
    if (m_blocks.empty() || m_used + bytes > m_blockSize) {
        const std::size_t size = std::max(BlockBytes, bytes);
        void *block = allocateLarge(size);
        if (!block)
            throw std::bad_alloc();
        m_blocks.emplace_back(static_cast<char *>(block));
        m_blockSize = size;
        m_used = 0;
    }
    char *piece = m_blocks.back().get() + m_used;
    m_used += bytes;
    return piece;
}
