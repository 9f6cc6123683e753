#include "store/bulk_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

using namespace lumora;

namespace {

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// A mail's buffer: allocated, written through, as a receive does.
void* touchedBuffer(size_t size)
{
    void* buffer = std::malloc(size);
    std::memset(buffer, 'x', size);
    asm volatile("" : : "r"(buffer) : "memory"); // kept, not optimised away
    return buffer;
}

} // namespace

#if defined(__GLIBC__)
TEST(BulkMemory, FreedBuffersServeTheNextMailAndAllGoBackWhenTheWorkEnds)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator stands in for the C library's";
#endif
    constexpr size_t kBuffer = 16u << 20;
    constexpr long kBufferPages = kBuffer / 4096;
    memory::useOnePool();
    const long before = residentKiB();
    long during = 0;
    {
        const memory::BulkWork bulk;
        std::free(touchedBuffer(kBuffer));
        // The next mail's buffer is the memory the last one freed: it is
        // neither mapped afresh nor faulted in page by page again.
        const long faults = minorFaults();
        void* next = touchedBuffer(kBuffer);
        EXPECT_LT(minorFaults() - faults, kBufferPages / 8);
        std::free(next);
        during = residentKiB();
        EXPECT_GT(during - before, 12 * 1024);
        {
            // Work that overlaps (an index update beside a receive) leaves
            // the memory kept until the last of them ends.
            const memory::BulkWork overlapping;
        }
        EXPECT_GT(residentKiB() - before, 12 * 1024);
    }
    EXPECT_LT(residentKiB(), during - 12 * 1024);
}
#endif
