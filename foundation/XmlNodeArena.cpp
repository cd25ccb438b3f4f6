// The block arena of an XML document's elements.
#include "XmlNodeArena.h"
#include <new>

namespace {

const std::size_t Alignment = alignof(std::max_align_t);
const std::size_t FirstChunkBlocks = 16;
const std::size_t LargestChunkBlocks = 1024;

std::size_t RoundUp(std::size_t size)
{
    return (size + Alignment - 1) / Alignment * Alignment;
}

} // namespace

CXmlNodeArena::CXmlNodeArena(std::size_t blockSize)
    : m_blockSize(RoundUp(blockSize < sizeof(FreeBlock) ? sizeof(FreeBlock) : blockSize)),
      m_nextChunkBlocks(FirstChunkBlocks)
{
}

CXmlNodeArena::~CXmlNodeArena()
{
    while (m_chunks) {
        Chunk* next = m_chunks->next;
        ::operator delete(m_chunks);
        m_chunks = next;
    }
}

void* CXmlNodeArena::Allocate()
{
    if (!m_free) {
        const std::size_t header = RoundUp(sizeof(Chunk));
        const std::size_t blocks = m_nextChunkBlocks;
        char* memory = static_cast<char*>(::operator new(header + blocks * m_blockSize));
        Chunk* chunk = reinterpret_cast<Chunk*>(memory);
        chunk->next = m_chunks;
        m_chunks = chunk;
        // Threaded from the last block down, so the first block is handed out first.
        for (std::size_t i = blocks; i-- > 0;) {
            FreeBlock* block = reinterpret_cast<FreeBlock*>(memory + header + i * m_blockSize);
            block->next = m_free;
            m_free = block;
        }
        if (m_nextChunkBlocks < LargestChunkBlocks)
            m_nextChunkBlocks *= 2;
    }
    FreeBlock* block = m_free;
    m_free = block->next;
    return block;
}

void CXmlNodeArena::Free(void* block)
{
    FreeBlock* freed = static_cast<FreeBlock*>(block);
    freed->next = m_free;
    m_free = freed;
}
