#include "save/mail/BoundedParse.h"

#include "save/SavePause.h"
#include "save/mail/ParseArena.h"

#include <gumbo.h>

#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace {

// Why a parse ended early: the parser failed a check of its own or ran out of its budget, or a
// stop was asked.
enum ParseEscape { kGaveUp = 1, kStopped = 2 };

// How often a running parse looks at its clock and the stop, by the wall clock: a stop is
// answered well within half a second.
constexpr long kTickNanoseconds = 50L * 1000 * 1000;

// The parse running on this thread. Read by the tick's signal handler, which runs on the parsing
// thread itself, so plain thread-local state suffices.
struct ParseState {
    sigjmp_buf *escape = nullptr;  // null outside a parse
    const std::atomic<bool> *stop = nullptr;
    qint64 cpuDeadline = 0;  // the thread's CPU time, in ns, at which the parse gives up
    // Set while the allocator works: the C library's allocator must not be left half-way, so a
    // tick then only notes why the parse is to end, and the allocator ends it on its way out.
    volatile std::sig_atomic_t inAllocator = 0;
    volatile std::sig_atomic_t pending = 0;
};

thread_local ParseState tParse;

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

[[noreturn]] void escapeParse(int why)
{
    tParse.inAllocator = 0;
    siglongjmp(*tParse.escape, why);
}

int reasonToEnd()
{
    const ParseState &s = tParse;
    if (s.stop ? s.stop->load() : SaveStopAsked())
        return kStopped;
    return threadCpuNanoseconds() > s.cpuDeadline ? kGaveUp : 0;
}

void onTick(int)
{
    if (!tParse.escape)
        return;
    const int savedErrno = errno;
    const int why = reasonToEnd();
    errno = savedErrno;
    if (!why)
        return;
    if (tParse.inAllocator) {
        tParse.pending = why;
        return;
    }
    escapeParse(why);
}

int tickSignal()
{
    return SIGRTMIN + 4;
}

// Sent by a thread of ours where no timer can be made: a signal below the real-time ones is
// delivered even when no more signals may be queued, which is what stops a timer being made.
// Nothing else here uses it.
int fallbackTickSignal()
{
    return SIGURG;
}

void installTickHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = onTick;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(tickSignal(), &action, nullptr);
        sigaction(fallbackTickSignal(), &action, nullptr);
    });
}

// Said once on stderr: a parse then ticks by a thread of its own, which costs more.
void reportNoTimer(int error)
{
    static std::once_flag once;
    std::call_once(once, [error] {
        std::fprintf(stderr, "page filter: no CPU tick timer could be made (%s); a thread ticks the parses instead\n",
                     std::strerror(error));
    });
}

// A timer that signals this thread every tick while it lives; where the system makes none, a
// thread of its own does.
class TickTimer {
public:
    TickTimer()
    {
        installTickHandler();
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = tickSignal();
        event.sigev_notify_thread_id = gettid();
        armed_ = timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0;
        if (!armed_) {
            reportNoTimer(errno);
            startTicker();
            return;
        }
        itimerspec every{};
        every.it_value.tv_nsec = kTickNanoseconds;
        every.it_interval.tv_nsec = kTickNanoseconds;
        timer_settime(timer_, 0, &every, nullptr);
    }
    ~TickTimer()
    {
        if (armed_)
            timer_delete(timer_);
        if (ticker_.joinable()) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                done_ = true;
            }
            wake_.notify_one();
            ticker_.join();
        }
    }
    TickTimer(const TickTimer &) = delete;
    TickTimer &operator=(const TickTimer &) = delete;

private:
    void startTicker()
    {
        const pthread_t parsing = pthread_self();
        try {
            ticker_ = std::thread([this, parsing] {
                std::unique_lock<std::mutex> lock(mutex_);
                while (!wake_.wait_for(lock, std::chrono::nanoseconds(kTickNanoseconds), [this] { return done_; }))
                    pthread_kill(parsing, fallbackTickSignal());
            });
        } catch (const std::system_error &) {
            // No thread either: the allocator's own look at the clock is left.
        }
    }

    timer_t timer_{};
    bool armed_ = false;
    std::thread ticker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
};

}  // namespace

// The parse's memory, and what it may spend. Freed at once at the end: gumbo's own release of the
// tree recurses once per level, and a deeply nested message would overflow the stack. Some markup
// makes the parser build far more than it reads (formatting elements re-opened in every
// paragraph) or search its stack at every character: bytes held and CPU time are bounded by the
// markup's size, so one message never holds a save for long nor takes the machine's memory.
struct BoundedParse::Blocks {
    ParseArena arena;
    unsigned allocations = 0;

    explicit Blocks(size_t markupBytes) : arena(maxBytesFor(markupBytes)) {}

    static size_t maxBytesFor(size_t markupBytes)
    {
        // The parser's tree of dense markup (a table of one-letter cells) takes about 100 times
        // its size; mail's usual markup far less.
        constexpr size_t kFloorBytes = size_t(64) << 20;
        constexpr size_t kBytesPerMarkupByte = 128;
        return qBound(kFloorBytes, markupBytes * kBytesPerMarkupByte, ParseArena::kSharedLimitBytes);
    }
};

namespace {

// Every few hundred blocks, the clock and the stop, also where no tick comes. The clock is a
// system call, dearer than many blocks.
void checkProgress(BoundedParse::Blocks &blocks)
{
    if (++blocks.allocations % 256 != 0)
        return;
    if (const int why = reasonToEnd())
        escapeParse(why);
}

// Never returns null: gumbo does not check, so a refused block ends the parse instead.
void *allocateBlock(void *userdata, size_t size)
{
    auto &blocks = *static_cast<BoundedParse::Blocks *>(userdata);
    tParse.inAllocator = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    checkProgress(blocks);
    void *block = blocks.arena.allocate(size);
    if (!block)
        escapeParse(kGaveUp);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tParse.inAllocator = 0;
    if (tParse.pending)
        escapeParse(tParse.pending);
    return block;
}

void freeBlock(void *userdata, void *pointer)
{
    auto &blocks = *static_cast<BoundedParse::Blocks *>(userdata);
    tParse.inAllocator = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    blocks.arena.release(pointer);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tParse.inAllocator = 0;
    if (tParse.pending)
        escapeParse(tParse.pending);
}

// CPU time a page's build may take: a second, and 0.4 s per MiB, many times what the parser needs
// for mail, at most 2.5 s. It is the thread's own time, so a busy machine does not turn a message
// into text.
thread_local int tBudgetScale = 1;

qint64 cpuBudgetNanoseconds(qint64 markupBytes)
{
    const qint64 ms = qMin<qint64>(2500, 1000 + (markupBytes * 400 >> 20));
    return ms * 1000 * 1000 * tBudgetScale;
}

}  // namespace

PageCpuBudgetScale::PageCpuBudgetScale(int factor) : previous_(tBudgetScale)
{
    tBudgetScale = qMax(1, factor);
}

PageCpuBudgetScale::~PageCpuBudgetScale()
{
    tBudgetScale = previous_;
}

qint64 PageCpuDeadline(qint64 markupBytes)
{
    return threadCpuNanoseconds() + cpuBudgetNanoseconds(markupBytes);
}

PageWorkEnd PageWorkShouldEnd(const std::atomic<bool> *stop, qint64 cpuDeadline)
{
    if (stop ? stop->load() : SaveStopAsked())
        return PageWorkEnd::Stopped;
    return threadCpuNanoseconds() > cpuDeadline ? PageWorkEnd::OutOfTime : PageWorkEnd::None;
}

BoundedParse::BoundedParse(const QByteArray &markup, const std::atomic<bool> *stop)
    : BoundedParse(markup, stop, PageCpuDeadline(markup.size()))
{
}

BoundedParse::BoundedParse(const QByteArray &markup, const std::atomic<bool> *stop, qint64 cpuDeadline)
    : blocks_(new Blocks(size_t(markup.size())))
{
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = allocateBlock;
    options.deallocator = freeBlock;
    options.userdata = blocks_.get();
    options.max_errors = 0;
    ParseState &s = tParse;
    s.stop = stop;
    s.pending = 0;
    s.inAllocator = 0;
    s.cpuDeadline = cpuDeadline;
    // Time already spent on this page may leave none for the parse.
    if (const PageWorkEnd end = PageWorkShouldEnd(stop, cpuDeadline); end != PageWorkEnd::None) {
        s.stop = nullptr;
        stopped_ = end == PageWorkEnd::Stopped;
        return;
    }
    const TickTimer ticks;
    sigjmp_buf escape;
    const GumboOutput *volatile out = nullptr;
    // sigsetjmp's value is only looked at where the language allows it: as a switch's. The mask
    // is restored on the way back, as the escape may leave the tick's handler.
    switch (sigsetjmp(escape, 1)) {
    case 0:
        s.escape = &escape;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        out = gumbo_parse_with_options(&options, markup.constData(), size_t(markup.size()));
        break;
    case kStopped:
        stopped_ = true;
        break;
    default:
        break;
    }
    s.escape = nullptr;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    s.stop = nullptr;
    tree_ = out;
}

BoundedParse::~BoundedParse() = default;

// Replaces the C library's for the whole process. gumbo checks its own state with assert(), and
// some malformed markup fails a check: a message must not end the program, so during a parse on
// this thread a failed check ends the parse instead (the parser's blocks are freed by their
// owner). Everywhere else a failed check reports and aborts as the C library's does, which a test
// holds to. This relies on gumbo being built with its checks on; without them such markup would
// read the parser's state wrongly rather than stop.
extern "C" void __assert_fail(const char *assertion, const char *file, unsigned int line, const char *function) noexcept
{
    if (tParse.escape)
        escapeParse(kGaveUp);
    std::fprintf(stderr, "%s:%u: %s: Assertion `%s' failed.\n", file, line, function, assertion);
    std::abort();
}
