#include "save/mail/ParseArena.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <sys/mman.h>

namespace {

std::atomic<size_t> gSharedHeld{0};

// Each block is preceded by 8 bytes that say its size class. Blocks are 8-byte aligned, which
// every type of the parser needs and no more; most of its blocks are of 8 or 16 bytes, and a
// larger header would take most of the memory.
constexpr size_t kHeaderBytes = 8;
constexpr uint64_t kLargeTag = ~uint64_t(0);

// Sizes up to 1 KiB in steps of 8 bytes, then four steps to each power of two up to 256 KiB:
// a block wastes at most a quarter of its size. Larger blocks are the system's own.
constexpr size_t kSmallLimit = 1024;
constexpr unsigned kSmallClasses = kSmallLimit / 8;
constexpr unsigned kFirstPower = 10;
constexpr size_t kClassLimit = size_t(1) << 18;

constexpr size_t kFirstChunkBytes = size_t(64) << 10;
constexpr size_t kLastChunkBytes = size_t(4) << 20;

unsigned highestBit(size_t value)
{
    return unsigned(sizeof(unsigned long long) * 8 - 1 - unsigned(__builtin_clzll(value)));
}

// The class of a block of size bytes (size <= kClassLimit).
unsigned classOf(size_t size)
{
    if (size <= kSmallLimit)
        return unsigned(size == 0 ? 0 : (size - 1) / 8);
    const unsigned power = highestBit(size - 1);
    const size_t step = size_t(1) << (power - 2);
    const size_t steps = (size - (size_t(1) << power) + step - 1) / step;
    return kSmallClasses + (power - kFirstPower) * 4 + unsigned(steps) - 1;
}

size_t classBytes(unsigned sizeClass)
{
    if (sizeClass < kSmallClasses)
        return (size_t(sizeClass) + 1) * 8;
    const unsigned power = kFirstPower + (sizeClass - kSmallClasses) / 4;
    const size_t step = size_t(1) << (power - 2);
    return (size_t(1) << power) + ((sizeClass - kSmallClasses) % 4 + 1) * step;
}

// Chunks are whole pages, mapped with their pages made at once: a page fault is far dearer than
// the kernel filling the chunk in one call, above all on a busy virtual machine, and the parser
// uses its chunks from the first byte to the last.
constexpr size_t kPageBytes = 4096;

void *mapChunk(size_t bytes)
{
    void *chunk = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return chunk == MAP_FAILED ? nullptr : chunk;
}

uint64_t &tagOf(void *block)
{
    return static_cast<uint64_t *>(block)[-1];
}

}  // namespace

struct ParseArena::Chunk {
    Chunk *next;
    size_t bytes;
};

struct ParseArena::Large {
    Large *prev;
    Large *next;
    size_t bytes;
    uint64_t tag;
};

ParseArena::ParseArena(size_t maxBytes) : maxBytes_(maxBytes), nextChunkBytes_(kFirstChunkBytes)
{
    static_assert(sizeof(void *) <= 8, "a freed block holds the next freed block's address");
    static_assert(sizeof(Large) % 8 == 0 && sizeof(Chunk) % 8 == 0, "blocks stay aligned");
}

ParseArena::~ParseArena()
{
    for (Chunk *chunk = chunks_; chunk;) {
        Chunk *next = chunk->next;
        munmap(chunk, chunk->bytes);
        chunk = next;
    }
    for (Large *block = large_; block;) {
        Large *next = block->next;
        std::free(block);
        block = next;
    }
    giveBack(held_);
}

size_t ParseArena::sharedHeldBytes()
{
    return gSharedHeld.load();
}

bool ParseArena::take(size_t bytes)
{
    if (bytes > maxBytes_ - held_)
        return false;
    if (gSharedHeld.fetch_add(bytes) + bytes > kSharedLimitBytes) {
        gSharedHeld -= bytes;
        return false;
    }
    held_ += bytes;
    return true;
}

void ParseArena::giveBack(size_t bytes)
{
    held_ -= bytes;
    gSharedHeld -= bytes;
}

bool ParseArena::newChunk(size_t atLeast)
{
    const size_t least = sizeof(Chunk) + kHeaderBytes + atLeast;
    // Near a bound, a chunk just large enough may still be had.
    for (size_t bytes : {std::max(nextChunkBytes_, least), least}) {
        bytes = (bytes + kPageBytes - 1) & ~(kPageBytes - 1);
        if (!take(bytes))
            continue;
        auto *chunk = static_cast<Chunk *>(mapChunk(bytes));
        if (!chunk) {
            giveBack(bytes);
            continue;
        }
        chunk->next = chunks_;
        chunk->bytes = bytes;
        chunks_ = chunk;
        next_ = reinterpret_cast<unsigned char *>(chunk + 1);
        end_ = reinterpret_cast<unsigned char *>(chunk) + bytes;
        nextChunkBytes_ = std::min(nextChunkBytes_ * 2, kLastChunkBytes);
        return true;
    }
    return false;
}

void *ParseArena::carve(size_t bytes)
{
    if (size_t(end_ - next_) < kHeaderBytes + bytes && !newChunk(bytes))
        return nullptr;
    void *block = next_ + kHeaderBytes;
    next_ += kHeaderBytes + bytes;
    return block;
}

void *ParseArena::allocate(size_t size)
{
    if (size > kClassLimit) {
        if (size > maxBytes_ || !take(sizeof(Large) + size))
            return nullptr;
        auto *block = static_cast<Large *>(std::malloc(sizeof(Large) + size));
        if (!block) {
            giveBack(sizeof(Large) + size);
            return nullptr;
        }
        block->prev = nullptr;
        block->next = large_;
        if (large_)
            large_->prev = block;
        large_ = block;
        block->bytes = sizeof(Large) + size;
        block->tag = kLargeTag;
        return block + 1;
    }
    const unsigned sizeClass = classOf(size);
    void *block = freed_[sizeClass];
    if (block) {
        freed_[sizeClass] = *static_cast<void **>(block);
        return block;
    }
    block = carve(classBytes(sizeClass));
    if (block)
        tagOf(block) = sizeClass;
    return block;
}

void ParseArena::release(void *block)
{
    if (!block)
        return;
    const uint64_t tag = tagOf(block);
    if (tag != kLargeTag) {
        *static_cast<void **>(block) = freed_[tag];
        freed_[tag] = block;
        return;
    }
    Large *large = static_cast<Large *>(block) - 1;
    (large->prev ? large->prev->next : large_) = large->next;
    if (large->next)
        large->next->prev = large->prev;
    const size_t bytes = large->bytes;
    std::free(large);
    giveBack(bytes);
}
