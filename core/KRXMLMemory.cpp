#include "KRXMLMemory.h"

#include <platform/foundation/KRAssert.h>

#include <libxml/xmlmemory.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define KR_XML_MEMORY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KR_XML_MEMORY_SANITIZED 1
#endif
#endif

namespace {

constexpr std::uint32_t kLive = 0x4c495645;  // "LIVE"
constexpr std::uint32_t kFreed = 0x46524545; // "FREE"
// The range is made usable in steps of this size, aligned to large pages.
constexpr std::size_t kStep = std::size_t(8) << 20;
constexpr std::size_t kLargePage = std::size_t(2) << 20;

std::size_t roundUp(std::size_t value, std::size_t to)
{
    return (value + to - 1) / to * to;
}

} // namespace

// Sits before every pooled block; 16 bytes, so that blocks keep the heap's alignment.
struct KRXMLMemoryPool::Header
{
    std::uint32_t sizeClass; // block size including the header, in granules
    std::uint32_t state;     // kLive or kFreed
    Header *next;            // the next freed block of the class
};

KRXMLMemoryPool::KRXMLMemoryPool(std::size_t reserve)
{
    static_assert(sizeof(Header) == 16, "the header keeps blocks 16-byte aligned");
    if (reserve < kStep)
        return;
    // Address space only: nothing is committed before it is made usable.
    m_mappingSize = roundUp(reserve, kLargePage) + kLargePage;
    void *mapping = ::mmap(nullptr, m_mappingSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    m_mapping = static_cast<char *>(mapping);
    m_base = reinterpret_cast<char *>(roundUp(reinterpret_cast<std::uintptr_t>(m_mapping), kLargePage));
    m_limit = m_base + roundUp(reserve, kLargePage);
    m_next = m_usable = m_base;
    m_end = m_limit;
}

KRXMLMemoryPool::~KRXMLMemoryPool()
{
    if (m_mapping)
        ::munmap(m_mapping, m_mappingSize);
}

KRXMLMemoryPool::Header *KRXMLMemoryPool::carve(std::size_t bytes)
{
    if (std::size_t(m_usable - m_next) < bytes) {
        if (m_usable == m_end)
            return nullptr;
        const std::size_t grow = std::min(kStep, std::size_t(m_end - m_usable));
        if (::mprotect(m_usable, grow, PROT_READ | PROT_WRITE) != 0) {
            m_end = m_usable; // the system grants no more: the heap takes over
            return nullptr;
        }
#ifdef MADV_HUGEPAGE
        ::madvise(m_usable, grow, MADV_HUGEPAGE);
#endif
        m_usable += grow;
        if (std::size_t(m_usable - m_next) < bytes)
            return nullptr;
    }
    auto *header = reinterpret_cast<Header *>(m_next);
    m_next += bytes;
    return header;
}

void *KRXMLMemoryPool::allocate(std::size_t size)
{
    if (size <= largestPooledSize && m_base) {
        const std::size_t sizeClass = roundUp(size + sizeof(Header), granule) / granule;
        Header *header = nullptr;
        {
            std::lock_guard lock(m_mutex);
            header = m_free[sizeClass];
            if (header)
                m_free[sizeClass] = header->next;
            else
                header = carve(sizeClass * granule);
        }
        if (header) {
            header->sizeClass = std::uint32_t(sizeClass);
            header->state = kLive;
            header->next = nullptr;
            return header + 1;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

void KRXMLMemoryPool::release(void *block)
{
    if (!block)
        return;
    if (!owns(block)) {
        std::free(block);
        return;
    }
    Header *header = static_cast<Header *>(block) - 1;
    if (header->state != kLive || header->sizeClass == 0 || header->sizeClass >= classCount)
        KR_FATAL("an XML block was released twice or its header was overwritten");
    header->state = kFreed;
    std::lock_guard lock(m_mutex);
    header->next = m_free[header->sizeClass];
    m_free[header->sizeClass] = header;
}

void *KRXMLMemoryPool::reallocate(void *block, std::size_t size)
{
    if (!block)
        return allocate(size);
    if (!owns(block))
        return std::realloc(block, size);
    const Header *header = static_cast<const Header *>(block) - 1;
    if (header->state != kLive)
        KR_FATAL("an XML block was resized after its release");
    const std::size_t capacity = header->sizeClass * granule - sizeof(Header);
    if (size <= capacity)
        return block;
    void *moved = allocate(size);
    if (!moved)
        return nullptr;
    std::memcpy(moved, block, capacity);
    release(block);
    return moved;
}

char *KRXMLMemoryPool::duplicate(const char *text)
{
    if (!text)
        return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(allocate(size));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

std::size_t KRXMLMemoryPool::carvedBytes() const
{
    std::lock_guard lock(m_mutex);
    return std::size_t(m_next - m_base);
}

#ifndef KR_XML_MEMORY_SANITIZED
namespace {

KRXMLMemoryPool *xmlPool = nullptr;

void poolFree(void *block)
{
    xmlPool->release(block);
}

void *poolMalloc(std::size_t size)
{
    return xmlPool->allocate(size);
}

void *poolRealloc(void *block, std::size_t size)
{
    return xmlPool->reallocate(block, size);
}

char *poolStrdup(const char *text)
{
    return xmlPool->duplicate(text);
}

} // namespace
#endif

void KRXMLMemoryPool::installForXMLLibrary()
{
#ifndef KR_XML_MEMORY_SANITIZED
    static std::once_flag once;
    std::call_once(once, [] {
        // Lives as long as the process: the library frees its blocks up to the very end.
        auto *pool = new KRXMLMemoryPool(std::size_t(16) << 30);
        if (!pool->m_base) {
            delete pool;
            return;
        }
        xmlPool = pool;
        xmlMemSetup(poolFree, poolMalloc, poolRealloc, poolStrdup);
    });
#endif
}
