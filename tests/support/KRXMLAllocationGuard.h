#pragma once

// For tests of programs that link core: what the XML library asks of the allocator while a
// guard lives, and a cap past which it is refused, so that a parse that starts expanding text
// without end fails (out of memory) within a few megabytes instead of taking gigabytes.

#include <core/KRXMLMemory.h>

#include <libxml/xmlmemory.h>

#include <cstddef>
#include <cstring>

namespace KRTest {

class XMLAllocationGuard
{
public:
    explicit XMLAllocationGuard(std::size_t cap)
    {
        // The pool first: installed later, it would replace the guard's functions.
        KRXMLMemoryPool::installForXMLLibrary();
        xmlMemGet(&s().free, &s().malloc, &s().realloc, &s().strdup);
        s().requested = 0;
        s().cap = cap;
        xmlMemSetup(guardFree, guardMalloc, guardRealloc, guardStrdup);
    }
    ~XMLAllocationGuard() { xmlMemSetup(s().free, s().malloc, s().realloc, s().strdup); }
    XMLAllocationGuard(const XMLAllocationGuard &) = delete;
    XMLAllocationGuard &operator=(const XMLAllocationGuard &) = delete;

    // Bytes asked for since the guard was made (or since the last reset), refused ones included.
    std::size_t requested() const { return s().requested; }
    void reset() { s().requested = 0; }

private:
    struct State
    {
        xmlFreeFunc free = nullptr;
        xmlMallocFunc malloc = nullptr;
        xmlReallocFunc realloc = nullptr;
        xmlStrdupFunc strdup = nullptr;
        std::size_t requested = 0;
        std::size_t cap = 0;
    };
    static State &s()
    {
        static State state;
        return state;
    }
    static bool allowed(std::size_t size)
    {
        s().requested += size;
        return s().requested <= s().cap;
    }
    static void guardFree(void *block) { s().free(block); }
    static void *guardMalloc(std::size_t size) { return allowed(size) ? s().malloc(size) : nullptr; }
    static void *guardRealloc(void *block, std::size_t size)
    {
        return allowed(size) ? s().realloc(block, size) : nullptr;
    }
    static char *guardStrdup(const char *text)
    {
        return allowed(std::strlen(text) + 1) ? s().strdup(text) : nullptr;
    }
};

} // namespace KRTest
