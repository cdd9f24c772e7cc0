#include "largememory.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

void *allocateLarge(std::size_t bytes)
{
#ifdef Q_OS_LINUX
    // From a quarter of a huge page up, one fault saves more than the rest of the page wastes.
    constexpr std::size_t HugePage = std::size_t(2) << 20;
    if (bytes >= HugePage / 4) {
        const std::size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
        void *block = std::aligned_alloc(HugePage, rounded);
        if (block)
            madvise(block, rounded, MADV_HUGEPAGE);
        return block;
    }
#endif
    return std::malloc(bytes > 0 ? bytes : 1);
}
