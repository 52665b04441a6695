#pragma once
// A job handed from one thread to another through Qt (a thread pool's start, a queued call) as
// ThreadSanitizer sees it. Qt is not built for the checker, so the lock inside such a hand-over
// is invisible to it, and what one thread wrote before handing a job over would look like a race
// with the thread that takes it. The giver marks the job handed over, the taker marks it taken:
// every write before the one is then seen to happen before every read after the other. Without
// the checker both compile to nothing.

#if defined(__SANITIZE_THREAD__)
#define OLM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OLM_THREAD_SANITIZER 1
#endif
#endif

#ifdef OLM_THREAD_SANITIZER
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);

// Before the hand-over, on the giving thread; job is any address the two threads share for it.
inline void MarkHandedOver(const void *job)
{
    __tsan_release(const_cast<void *>(job));
}
// First thing on the taking thread, with the same address.
inline void MarkTaken(const void *job)
{
    __tsan_acquire(const_cast<void *>(job));
}
#else
inline void MarkHandedOver(const void *)
{
}
inline void MarkTaken(const void *)
{
}
#endif
