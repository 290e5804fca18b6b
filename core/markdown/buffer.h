#pragma once

// Growable byte buffer and pointer stack of the Markdown renderer. Plain C-style code: no Qt, no
// exceptions. Buffer contents are bytes, not NUL-terminated unless bufcstr() made them so.

#include <cstddef>
#include <cstdint>
#include <cstring>

// The longest Markdown text KRMarkdown renders, in UTF-8 bytes.
#define MD_INPUT_MAX_SIZE (16 * 1024 * 1024)

// A request to grow a buffer beyond this many bytes fails. Well above what any text within the
// input limit renders to, except through repetition (a long reference destination used over and
// over); a render that hits it fails as a whole.
#define BUFFER_MAX_ALLOC_SIZE (128 * 1024 * 1024)

// Aborts with the condition and location when a programming error is detected. Always on,
// release builds included: the renderer's invariants are cheap to check.
#define MD_ASSERT(cond, text) ((cond) ? (void)0 : md_assert_fail(text, __FILE__, __LINE__))
[[noreturn]] void md_assert_fail(const char *text, const char *file, int line);

struct buf {
    uint8_t *data; // owned by the buffer
    size_t size;   // bytes in use
    size_t asize;  // bytes allocated
    size_t unit;   // growth step in bytes, never 0
    int failed = 0; // set when a write was dropped because the buffer could not grow
};

// Makes an empty buffer growing in steps of unit bytes; null when memory runs out. The caller
// owns it and releases it with bufrelease().
buf *bufnew(size_t unit);

// Makes room for at least size bytes: 0 on success, -1 beyond BUFFER_MAX_ALLOC_SIZE or when
// memory runs out. The buffer grows to asize + k * unit (k >= 1): the smallest that holds size,
// or, when that is less, the smallest that holds one and a half times asize (up to the limit),
// so that a long series of appends copies the contents only a few times.
int bufgrow(buf *b, size_t size);

// Appends. A write that cannot grow the buffer is dropped whole and marks the buffer failed.
// The common case (room enough) is inline; growing goes through the out-of-line half.
void bufput_slow(buf *b, const void *data, size_t len);
void bufputc_slow(buf *b, int c);

inline void bufput(buf *b, const void *data, size_t len)
{
    if (len <= b->asize - b->size) {
        if (len) {
            std::memcpy(b->data + b->size, data, len);
            b->size += len;
        }
        return;
    }
    bufput_slow(b, data, len);
}

// The length of a literal is known where it is inlined.
inline void bufputs(buf *b, const char *str)
{
    bufput(b, str, std::strlen(str));
}

inline void bufputc(buf *b, int c)
{
    if (b->size < b->asize) {
        b->data[b->size++] = static_cast<uint8_t>(c);
        return;
    }
    bufputc_slow(b, c);
}

void bufprintf(buf *b, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// The contents NUL-terminated (size unchanged); null when the extra byte cannot be had.
const char *bufcstr(buf *b);

// 0 when the buffer starts with prefix, otherwise non-zero. A buffer shorter than the prefix
// does not start with it.
int bufprefix(const buf *b, const char *prefix);

// Removes the first len bytes.
void bufslurp(buf *b, size_t len);

// Frees the contents and zeroes data, size, asize and the failed mark; the buffer stays usable.
void bufreset(buf *b);

// Frees contents and buffer; null is allowed.
void bufrelease(buf *b);

// Array of pointers that grows by doubling; the stack does not own what the pointers point to.
struct stack {
    void **item;
    size_t size;  // pointers in use
    size_t asize; // slots allocated
};

// 0 on success, -1 when memory runs out. An initial size of 0 means 8.
int stack_init(stack *st, size_t initial_size);
void stack_free(stack *st);
int stack_grow(stack *st, size_t new_size);
int stack_push(stack *st, void *item);
void *stack_pop(stack *st);
void *stack_top(const stack *st);
