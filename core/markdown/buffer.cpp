#include "buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void md_assert_fail(const char *text, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, text);
    std::abort();
}

buf *bufnew(size_t unit)
{
    MD_ASSERT(unit, "unit");
    buf *b = static_cast<buf *>(std::malloc(sizeof(buf)));
    if (b) {
        b->data = nullptr;
        b->size = b->asize = 0;
        b->unit = unit;
        b->failed = 0;
    }
    return b;
}

int bufgrow(buf *b, size_t size)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    if (size > BUFFER_MAX_ALLOC_SIZE)
        return -1;
    if (b->asize >= size)
        return 0;
    // Grow by half at least: many small appends then cost amortised constant time.
    size_t target = b->asize + b->asize / 2;
    if (target < size || target > BUFFER_MAX_ALLOC_SIZE)
        target = size;
    size_t steps = (target - b->asize + b->unit - 1) / b->unit;
    size_t newasize = b->asize + steps * b->unit;
    void *neo = std::realloc(b->data, newasize);
    if (!neo)
        return -1;
    b->data = static_cast<uint8_t *>(neo);
    b->asize = newasize;
    return 0;
}

void bufput_slow(buf *b, const void *data, size_t len)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    if (len == 0)
        return;
    if (len > BUFFER_MAX_ALLOC_SIZE || (b->size + len > b->asize && bufgrow(b, b->size + len) < 0)) {
        b->failed = 1;
        return;
    }
    std::memcpy(b->data + b->size, data, len);
    b->size += len;
}

void bufputc_slow(buf *b, int c)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    if (b->size + 1 > b->asize && bufgrow(b, b->size + 1) < 0) {
        b->failed = 1;
        return;
    }
    b->data[b->size++] = static_cast<uint8_t>(c);
}

void bufprintf(buf *b, const char *fmt, ...)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    if (b->size >= b->asize && bufgrow(b, b->size + 1) < 0) {
        b->failed = 1;
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(reinterpret_cast<char *>(b->data + b->size), b->asize - b->size, fmt, ap);
    va_end(ap);
    if (n < 0) {
        b->failed = 1;
        return;
    }
    if (static_cast<size_t>(n) >= b->asize - b->size) {
        if (bufgrow(b, b->size + n + 1) < 0) {
            b->failed = 1;
            return;
        }
        va_start(ap, fmt);
        n = std::vsnprintf(reinterpret_cast<char *>(b->data + b->size), b->asize - b->size, fmt, ap);
        va_end(ap);
        if (n < 0 || static_cast<size_t>(n) >= b->asize - b->size) {
            b->failed = 1;
            return;
        }
    }
    b->size += n;
}

const char *bufcstr(buf *b)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    if (b->size < b->asize && b->data[b->size] == 0)
        return reinterpret_cast<const char *>(b->data);
    if (b->size + 1 <= b->asize || bufgrow(b, b->size + 1) == 0) {
        b->data[b->size] = 0;
        return reinterpret_cast<const char *>(b->data);
    }
    return nullptr;
}

int bufprefix(const buf *b, const char *prefix)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    for (size_t i = 0; prefix[i]; ++i) {
        // A buffer that ends before the prefix does cannot start with it.
        if (i >= b->size)
            return -static_cast<unsigned char>(prefix[i]);
        if (b->data[i] != static_cast<uint8_t>(prefix[i]))
            return b->data[i] - static_cast<unsigned char>(prefix[i]);
    }
    return 0;
}

void bufslurp(buf *b, size_t len)
{
    MD_ASSERT(b && b->unit, "buf && buf->unit");
    if (len >= b->size) {
        b->size = 0;
        return;
    }
    b->size -= len;
    std::memmove(b->data, b->data + len, b->size);
}

void bufreset(buf *b)
{
    if (!b)
        return;
    std::free(b->data);
    b->data = nullptr;
    b->size = b->asize = 0;
    b->failed = 0;
}

void bufrelease(buf *b)
{
    if (!b)
        return;
    std::free(b->data);
    std::free(b);
}

int stack_grow(stack *st, size_t new_size)
{
    if (st->asize >= new_size)
        return 0;
    void **neo = static_cast<void **>(std::realloc(st->item, new_size * sizeof(void *)));
    if (!neo)
        return -1;
    std::memset(neo + st->asize, 0, (new_size - st->asize) * sizeof(void *));
    st->item = neo;
    st->asize = new_size;
    if (st->size > new_size)
        st->size = new_size;
    return 0;
}

int stack_init(stack *st, size_t initial_size)
{
    st->item = nullptr;
    st->size = st->asize = 0;
    return stack_grow(st, initial_size ? initial_size : 8);
}

void stack_free(stack *st)
{
    if (!st)
        return;
    std::free(st->item);
    st->item = nullptr;
    st->size = st->asize = 0;
}

int stack_push(stack *st, void *item)
{
    if (st->size >= st->asize && stack_grow(st, st->asize ? st->asize * 2 : 8) < 0)
        return -1;
    st->item[st->size++] = item;
    return 0;
}

void *stack_pop(stack *st)
{
    if (!st->size)
        return nullptr;
    return st->item[--st->size];
}

void *stack_top(const stack *st)
{
    if (!st->size)
        return nullptr;
    return st->item[st->size - 1];
}
