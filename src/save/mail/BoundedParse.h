#pragma once
// A message's markup read by the HTML parser within bounds: the parser's CPU time and memory grow
// with the markup's size, the parses running at once share one memory budget, and a stop ends a
// parse within a fraction of a second, whatever the parser is doing.

#include <QByteArray>

#include <atomic>
#include <memory>

struct GumboInternalOutput;

class BoundedParse {
public:
    // Parses markup on the calling thread; stop, when set, ends the parse as soon as it is true,
    // else the save's stop does.
    explicit BoundedParse(const QByteArray &markup, const std::atomic<bool> *stop = nullptr);
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
