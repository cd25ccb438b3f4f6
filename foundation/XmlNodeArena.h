// Memory for the elements of one XML document: blocks of one size carved from chunks that the
// document owns, and a free list of the blocks whose nodes were deleted. A large settings file is
// tens of thousands of small elements; from the process heap each costs an allocation and a free
// under the heap's lock (under Wine about as long as parsing the element), from here a few pointer
// moves, and the elements of one document lie together in memory.
//
// Rules: not thread-safe (a document is used by one thread at a time); the chunks go back to the
// heap when the arena is destroyed, so every block must have been freed, or be abandoned, by then.
#pragma once
#include <cstddef>

class CXmlNodeArena
{
public:
    // blockSize: the size of every block; blocks are aligned for any object.
    explicit CXmlNodeArena(std::size_t blockSize);
    ~CXmlNodeArena();
    CXmlNodeArena(const CXmlNodeArena&) = delete;
    CXmlNodeArena& operator=(const CXmlNodeArena&) = delete;

    // One block; throws std::bad_alloc.
    void* Allocate();
    // Gives back a block that Allocate returned.
    void Free(void* block);

private:
    struct Chunk
    {
        Chunk* next;
    };
    struct FreeBlock
    {
        FreeBlock* next;
    };

    std::size_t m_blockSize;
    std::size_t m_nextChunkBlocks;   // chunks grow, so a small document takes little memory
    Chunk* m_chunks = nullptr;
    FreeBlock* m_free = nullptr;
};
