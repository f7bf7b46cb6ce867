// Counts the heap and lock calls a thread makes while counting is armed on
// it. A program that links tapestop_heap_lock_counter (with its symbols
// exported, ENABLE_EXPORTS) defines malloc, calloc, realloc, free, the
// aligned allocators, every form of operator new and delete and the pthread
// lock functions itself, so a plug-in's calls land here before they reach the
// C library. Counting is per thread: only calls made on the armed thread
// between arm and disarm count, whatever other threads do meanwhile.
//
// Under AddressSanitizer or ThreadSanitizer the sanitizer runtime owns these
// functions; there nothing is interposed and available() answers false.
#pragma once

#include <cstddef>

namespace host {

struct HeapLockCounts {
    int mallocs = 0;   // malloc, aligned_alloc, memalign, posix_memalign
    int callocs = 0;
    int reallocs = 0;
    int frees = 0;     // free of a non-null pointer
    int news = 0;      // every form of operator new
    int deletes = 0;   // every form of operator delete, non-null
    int locks = 0;     // calls that may wait: mutex lock and timedlock, rwlock read and write locks, spin locks
    int tryLocks = 0;  // pthread_mutex_trylock, which never waits
    int unlocks = 0;   // mutex, rwlock and spin unlocks
    std::size_t largestBytes = 0;

    int allocations() const { return mallocs + callocs + reallocs + news; }
    int heapCalls() const { return allocations() + frees + deletes; }
};

namespace heaplock {

// Whether this build interposes the functions at all.
bool available();
// Starts counting on this thread from zero.
void arm();
// Stops counting on this thread and answers what was counted.
HeapLockCounts disarm();
// Whether this thread is counting; used to pause around the host's own work.
bool armed();
void setArmed(bool on);

}  // namespace heaplock

// Runs the calls with counting armed on this thread; answers the counts.
template <typename Calls>
HeapLockCounts countHeapAndLockCalls(Calls&& calls) {
    heaplock::arm();
    calls();
    return heaplock::disarm();
}

// Suspends counting on this thread for its lifetime: the host's own work
// inside a plug-in's call (answering a callback) is not the plug-in's.
class HeapLockCountingPause {
public:
    HeapLockCountingPause() : wasArmed_(heaplock::armed()) { heaplock::setArmed(false); }
    ~HeapLockCountingPause() { heaplock::setArmed(wasArmed_); }
    HeapLockCountingPause(const HeapLockCountingPause&) = delete;
    HeapLockCountingPause& operator=(const HeapLockCountingPause&) = delete;

private:
    bool wasArmed_;
};

}  // namespace host
