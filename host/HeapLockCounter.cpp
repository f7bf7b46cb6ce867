#include "HeapLockCounter.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define TAPESTOP_INTERPOSE_HEAP_AND_LOCKS 1
#endif

#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

constinit thread_local bool armedHere = false;
constinit thread_local host::HeapLockCounts counted{};

}  // namespace

namespace host::heaplock {

bool available() {
#ifdef TAPESTOP_INTERPOSE_HEAP_AND_LOCKS
    return true;
#else
    return false;
#endif
}

void arm() {
    counted = HeapLockCounts{};
    armedHere = true;
}

HeapLockCounts disarm() {
    armedHere = false;
    return counted;
}

bool armed() { return armedHere; }
void setArmed(bool on) { armedHere = on; }

}  // namespace host::heaplock

#ifdef TAPESTOP_INTERPOSE_HEAP_AND_LOCKS

extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* pointer, std::size_t bytes);
void __libc_free(void* pointer);
void* __libc_memalign(std::size_t alignment, std::size_t bytes);
}  // extern "C"

namespace {

void noteBytes(std::size_t bytes) {
    if (bytes > counted.largestBytes) counted.largestBytes = bytes;
}

// The C library's own function of that name, looked up once. dlsym may
// allocate, which goes to the functions here and takes no lock of ours.
template <typename Function>
Function next(Function& slot, const char* name) {
    if (slot == nullptr) slot = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
    return slot;
}

template <typename Function, typename... Args>
int countedLock(int& counter, Function& slot, const char* name, Args... args) {
    if (armedHere) ++counter;
    return next(slot, name)(args...);
}

int (*realMutexLock)(pthread_mutex_t*) = nullptr;
int (*realMutexTrylock)(pthread_mutex_t*) = nullptr;
int (*realMutexTimedlock)(pthread_mutex_t*, const struct timespec*) = nullptr;
int (*realMutexUnlock)(pthread_mutex_t*) = nullptr;
int (*realRwlockRdlock)(pthread_rwlock_t*) = nullptr;
int (*realRwlockWrlock)(pthread_rwlock_t*) = nullptr;
int (*realRwlockUnlock)(pthread_rwlock_t*) = nullptr;
int (*realSpinLock)(pthread_spinlock_t*) = nullptr;
int (*realSpinUnlock)(pthread_spinlock_t*) = nullptr;

}  // namespace

extern "C" {
void* malloc(std::size_t bytes) {
    if (armedHere) ++counted.mallocs, noteBytes(bytes);
    return __libc_malloc(bytes);
}
void* calloc(std::size_t count, std::size_t bytes) {
    if (armedHere) ++counted.callocs, noteBytes(count * bytes);
    return __libc_calloc(count, bytes);
}
void* realloc(void* pointer, std::size_t bytes) {
    if (armedHere) ++counted.reallocs, noteBytes(bytes);
    return __libc_realloc(pointer, bytes);
}
void free(void* pointer) {
    if (armedHere && pointer != nullptr) ++counted.frees;
    __libc_free(pointer);
}
void* aligned_alloc(std::size_t alignment, std::size_t bytes) {
    if (armedHere) ++counted.mallocs, noteBytes(bytes);
    return __libc_memalign(alignment, bytes);
}
void* memalign(std::size_t alignment, std::size_t bytes) {
    if (armedHere) ++counted.mallocs, noteBytes(bytes);
    return __libc_memalign(alignment, bytes);
}
int posix_memalign(void** pointer, std::size_t alignment, std::size_t bytes) {
    if (armedHere) ++counted.mallocs, noteBytes(bytes);
    *pointer = __libc_memalign(alignment, bytes);
    return *pointer != nullptr ? 0 : ENOMEM;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    return countedLock(counted.locks, realMutexLock, "pthread_mutex_lock", mutex);
}
int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    return countedLock(counted.tryLocks, realMutexTrylock, "pthread_mutex_trylock", mutex);
}
int pthread_mutex_timedlock(pthread_mutex_t* mutex, const struct timespec* until) {
    return countedLock(counted.locks, realMutexTimedlock, "pthread_mutex_timedlock", mutex, until);
}
int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    return countedLock(counted.unlocks, realMutexUnlock, "pthread_mutex_unlock", mutex);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    return countedLock(counted.locks, realRwlockRdlock, "pthread_rwlock_rdlock", lock);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    return countedLock(counted.locks, realRwlockWrlock, "pthread_rwlock_wrlock", lock);
}
int pthread_rwlock_unlock(pthread_rwlock_t* lock) {
    return countedLock(counted.unlocks, realRwlockUnlock, "pthread_rwlock_unlock", lock);
}
int pthread_spin_lock(pthread_spinlock_t* lock) {
    return countedLock(counted.locks, realSpinLock, "pthread_spin_lock", lock);
}
int pthread_spin_unlock(pthread_spinlock_t* lock) {
    return countedLock(counted.unlocks, realSpinUnlock, "pthread_spin_unlock", lock);
}
}  // extern "C"

namespace {
void* countedNew(std::size_t bytes, std::size_t alignment, bool throwing) {
    if (armedHere) ++counted.news, noteBytes(bytes);
    void* pointer = alignment > alignof(std::max_align_t) ? __libc_memalign(alignment, bytes)
                                                          : __libc_malloc(bytes != 0 ? bytes : 1);
    if (pointer == nullptr && throwing) throw std::bad_alloc();
    return pointer;
}
void countedDelete(void* pointer) {
    if (armedHere && pointer != nullptr) ++counted.deletes;
    __libc_free(pointer);
}
constexpr std::size_t kPlain = alignof(std::max_align_t);
std::size_t align(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }
}  // namespace

void* operator new(std::size_t n) { return countedNew(n, kPlain, true); }
void* operator new[](std::size_t n) { return countedNew(n, kPlain, true); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return countedNew(n, kPlain, false); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return countedNew(n, kPlain, false); }
void* operator new(std::size_t n, std::align_val_t a) { return countedNew(n, align(a), true); }
void* operator new[](std::size_t n, std::align_val_t a) { return countedNew(n, align(a), true); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return countedNew(n, align(a), false);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return countedNew(n, align(a), false);
}
void operator delete(void* p) noexcept { countedDelete(p); }
void operator delete[](void* p) noexcept { countedDelete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedDelete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedDelete(p); }
void operator delete(void* p, std::size_t) noexcept { countedDelete(p); }
void operator delete[](void* p, std::size_t) noexcept { countedDelete(p); }
void operator delete(void* p, std::align_val_t) noexcept { countedDelete(p); }
void operator delete[](void* p, std::align_val_t) noexcept { countedDelete(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { countedDelete(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { countedDelete(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedDelete(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedDelete(p); }

#endif  // TAPESTOP_INTERPOSE_HEAP_AND_LOCKS
