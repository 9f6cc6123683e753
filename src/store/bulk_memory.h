#pragma once

// A receive stores hundreds of mails one after another, and each is read,
// decoded and written through buffers of a few hundred kilobytes to a few
// megabytes. With the C library's usual thresholds every such buffer is
// mapped fresh and handed back when freed, so each mail pays again for
// zeroed pages: a third of the receiving thread's time went to page faults.
//
// While a BulkWork lives, freed memory is kept for the next mail. When the
// last one ends, the thresholds go down again and whatever is free is given
// back to the system, so a window that received a thousand mails holds no
// more afterwards than one that received a few.
namespace lumora::memory {

// Lets every thread allocate from one pool, so that giving memory back
// reaches all of it (each thread's own pool would keep its top). Called at
// start, before any thread is made.
void useOnePool();

class BulkWork {
public:
    BulkWork();
    ~BulkWork();
    BulkWork(const BulkWork&) = delete;
    BulkWork& operator=(const BulkWork&) = delete;
};

} // namespace lumora::memory
