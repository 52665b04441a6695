#pragma once
// A message's markup read by the HTML parser within bounds: the parser's CPU time and memory grow
// with the markup's size, the parses running at once share one memory budget, and a stop ends a
// parse within a fraction of a second, whatever the parser is doing.

#include <QByteArray>

#include <atomic>
#include <memory>

struct GumboInternalOutput;

// Why bounded work is to end: a stop was asked, or its CPU time ran out.
enum class PageWorkEnd { None, Stopped, OutOfTime };

// The calling thread's CPU time, in ns, at which a page built from markupBytes of markup gives
// up: the parse and the walk after it share it.
qint64 PageCpuDeadline(qint64 markupBytes);
// Whether work on the calling thread bounded by cpuDeadline is to end now; stop, when set, else
// the save's stop. A system call: asked every few hundred steps, not at each.
PageWorkEnd PageWorkShouldEnd(const std::atomic<bool> *stop, qint64 cpuDeadline);

// While it lives, pages built on this thread are given factor times their CPU time. For checks
// of what the other bounds let through (memory, nesting, the parser's own checks): whether the
// time suffices depends on how busy the machine is, and is measured by the page filter's bench.
class PageCpuBudgetScale {
public:
    explicit PageCpuBudgetScale(int factor);
    ~PageCpuBudgetScale();
    PageCpuBudgetScale(const PageCpuBudgetScale &) = delete;
    PageCpuBudgetScale &operator=(const PageCpuBudgetScale &) = delete;

private:
    int previous_;
};

class BoundedParse {
public:
    // Parses markup on the calling thread; stop, when set, ends the parse as soon as it is true,
    // else the save's stop does.
    explicit BoundedParse(const QByteArray &markup, const std::atomic<bool> *stop = nullptr);
    // The same, giving up at cpuDeadline (the thread's CPU clock, as PageCpuDeadline gives it).
    BoundedParse(const QByteArray &markup, const std::atomic<bool> *stop, qint64 cpuDeadline);
    ~BoundedParse();
    BoundedParse(const BoundedParse &) = delete;
    BoundedParse &operator=(const BoundedParse &) = delete;

    // The parsed tree, freed with this object; null when the parse ended early.
    const GumboInternalOutput *tree() const { return tree_; }
    // The parse ended early because a stop was asked.
    bool stopped() const { return stopped_; }

    struct Blocks;

private:
    std::unique_ptr<Blocks> blocks_;
    const GumboInternalOutput *tree_ = nullptr;
    bool stopped_ = false;
};
