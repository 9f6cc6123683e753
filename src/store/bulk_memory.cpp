#include "store/bulk_memory.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumora::memory {

namespace {

std::mutex mutex;
int active = 0;

#if defined(__GLIBC__)
// Blocks this large are mapped on their own, and a free top this large is
// given back: the C library's starting values.
constexpr int kIdleThreshold = 128 * 1024;
// Large enough for any mail's buffers to stay in the pool between mails.
constexpr int kBulkMmapThreshold = 64 << 20;
constexpr int kBulkTrimThreshold = 128 << 20;
#endif

} // namespace

void useOnePool()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
#endif
}

BulkWork::BulkWork()
{
    const std::lock_guard lock(mutex);
    if (active++ == 0) {
#if defined(__GLIBC__)
        mallopt(M_MMAP_THRESHOLD, kBulkMmapThreshold);
        mallopt(M_TRIM_THRESHOLD, kBulkTrimThreshold);
#endif
    }
}

BulkWork::~BulkWork()
{
    const std::lock_guard lock(mutex);
    if (--active == 0) {
#if defined(__GLIBC__)
        mallopt(M_MMAP_THRESHOLD, kIdleThreshold);
        mallopt(M_TRIM_THRESHOLD, kIdleThreshold);
        malloc_trim(0);
#endif
    }
}

} // namespace lumora::memory
