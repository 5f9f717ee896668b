#pragma once

// Tells ThreadSanitizer about a hand-over it cannot see (a queue whose locks live in a library
// built without the sanitizer): everything before happensBefore(token) on one thread is
// ordered before everything after happensAfter(token) on another. Nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define PELLWORTH_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PELLWORTH_TSAN 1
#endif
#endif

#ifdef PELLWORTH_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace Platform {

inline void happensBefore(const void* token)
{
#ifdef PELLWORTH_TSAN
    __tsan_release(const_cast<void*>(token));
#else
    (void)token;
#endif
}

inline void happensAfter(const void* token)
{
#ifdef PELLWORTH_TSAN
    __tsan_acquire(const_cast<void*>(token));
#else
    (void)token;
#endif
}

} // namespace Platform
