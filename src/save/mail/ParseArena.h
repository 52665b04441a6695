#pragma once
// The memory of one page parse. The parser makes and frees millions of small blocks for a large
// message; the C library's allocator, and the page faults of its scattered blocks, were most of
// the parse's time. Blocks are carved from large chunks instead, a freed block is kept for the
// parse's next block of its size, and all is given back at once when the arena goes.
//
// The bytes held, chunks and large blocks alike, count against the arena's own bound and a bound
// shared by every parse of the process: the parses of a save run at once, and together they must
// stay within what the machine gives.

#include <cstddef>
#include <cstdint>

class ParseArena {
public:
    // Every parse of the process together holds at most this much.
    static constexpr size_t kSharedLimitBytes = size_t(1) << 30;

    explicit ParseArena(size_t maxBytes);
    ~ParseArena();
    ParseArena(const ParseArena &) = delete;
    ParseArena &operator=(const ParseArena &) = delete;

    // A block of at least size bytes, aligned for any of the parser's types; null when it would
    // pass either bound or the system gives no more.
    void *allocate(size_t size);
    // Takes back a block allocate gave; null is ignored.
    void release(void *block);

    // Bytes this arena holds from the system.
    size_t heldBytes() const { return held_; }
    // Bytes every arena of the process holds.
    static size_t sharedHeldBytes();

private:
    struct Chunk;
    struct Large;
    static constexpr unsigned kClasses = 128 + 4 * 8;

    void *carve(size_t bytes);
    bool newChunk(size_t atLeast);
    bool take(size_t bytes);
    void giveBack(size_t bytes);

    size_t maxBytes_;
    size_t held_ = 0;
    Chunk *chunks_ = nullptr;
    unsigned char *next_ = nullptr;  // the current chunk's first free byte
    unsigned char *end_ = nullptr;
    size_t nextChunkBytes_;
    Large *large_ = nullptr;
    void *freed_[kClasses] = {};
};
