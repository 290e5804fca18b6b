#pragma once

#include <array>
#include <cstddef>
#include <mutex>

// Memory for the XML library's nodes and short strings, kept apart from everything else.
//
// A project's model is tens of thousands of small XML nodes that every build reads one after
// the other. Taken from the general heap they lie scattered among the objects, documents and
// strings made around them, and reading them waits on memory at nearly every node. A pool
// keeps them together in one reserved address range, in the order they were made, and what
// XML frees is reused for XML only. Blocks of more than a kilobyte, and everything once the
// range is used up, come from the general heap.
class KRXMLMemoryPool
{
public:
    // Reserves `reserve` bytes of address space, made usable a few megabytes at a time as
    // blocks are handed out. When nothing can be reserved the pool passes every request on
    // to the general heap.
    explicit KRXMLMemoryPool(std::size_t reserve);
    ~KRXMLMemoryPool(); // only for a pool that no block is outstanding from
    KRXMLMemoryPool(const KRXMLMemoryPool &) = delete;
    KRXMLMemoryPool &operator=(const KRXMLMemoryPool &) = delete;

    // The C library's contracts, for blocks of this pool or of the general heap alike. A
    // block released twice, or one whose header was overwritten, ends the process.
    void *allocate(std::size_t size);
    void release(void *block);
    void *reallocate(void *block, std::size_t size);
    char *duplicate(const char *text);

    bool owns(const void *block) const { return m_base && block >= m_base && block < m_limit; }
    // Bytes of the range handed out so far, freed blocks included.
    std::size_t carvedBytes() const;

    // Blocks of at most this many bytes come from the pool.
    static constexpr std::size_t largestPooledSize = 1024 - 16;

    // Routes the XML library's allocations through one process-wide pool from now on
    // (blocks it allocated before go back to the general heap). Idempotent and thread-safe;
    // does nothing under the address sanitizer, which is to see the library's blocks itself.
    static void installForXMLLibrary();

private:
    struct Header;
    static constexpr std::size_t granule = 16;
    static constexpr std::size_t classCount = (largestPooledSize + 16) / granule + 1;

    Header *carve(std::size_t bytes); // with the lock held

    char *m_base = nullptr;  // the reserved range (null: none)
    char *m_limit = nullptr; // its end
    char *m_mapping = nullptr;
    std::size_t m_mappingSize = 0;
    char *m_next = nullptr;   // first byte never handed out
    char *m_usable = nullptr; // end of the part made usable
    char *m_end = nullptr;    // end of what may still be made usable
    mutable std::mutex m_mutex;
    std::array<Header *, classCount> m_free{}; // freed blocks by size class
};
