#pragma once

// Shared between the block pass (parser_block.cpp) and the span pass (parser_inline.cpp).

#include "parser.h"

#define REF_TABLE_SIZE 8

enum { BUFFER_BLOCK = 0, BUFFER_SPAN = 1 };

// Action codes of active characters.
enum md_char_action {
    MD_CHAR_NONE = 0,
    MD_CHAR_EMPHASIS,
    MD_CHAR_CODESPAN,
    MD_CHAR_LINEBREAK,
    MD_CHAR_LINK,
    MD_CHAR_LANGLE,
    MD_CHAR_ESCAPE,
    MD_CHAR_ENTITY,
};

// Kinds of bytes whose last position in a span the span parser remembers.
enum md_span_last {
    MD_LAST_ANGLE,       // ">"
    MD_LAST_BRACKET,     // "]"
    MD_LAST_PAREN,       // ")"
    MD_LAST_STAR,        // "*" not after a space or line feed
    MD_LAST_UNDERSCORE,  // "_" not after a space or line feed
    MD_LAST_STAR2,       // "**" not after a space or line feed
    MD_LAST_UNDERSCORE2, // "__" not after a space or line feed
    MD_SPAN_LAST_COUNT
};

// One link definition. Names are known only by their hash: two names with the same hash are
// the same name.
struct link_ref {
    unsigned int id;
    buf *link;
    buf *title; // null when the definition has none
    link_ref *next;
};

struct md_parser {
    md_callbacks cb;
    void *opaque;
    link_ref *refs[REF_TABLE_SIZE];
    uint8_t active_char[256];
    stack work_bufs[2]; // pools; size is the number of buffers in use
    unsigned int ext_flags;
    size_t max_nesting;
    int in_link_body;

    // The span parse_inline is reading. After the first "[" of the span that finds no closing
    // bracket, close_table gives for every "[" the position of its closing "]" plus 1 (0: none),
    // so that a run of n unclosed brackets costs one pass instead of n scans to the span's end.
    // Likewise, found on first need: where the span's last byte of each kind in md_span_last
    // lies (offset plus 1; 0 when none). An opener after the last byte that could close it is
    // text at once instead of after a scan to the span's end.
    struct {
        uint8_t *data;
        size_t size;
        uint32_t *close_table; // owned; null until needed
        size_t last[MD_SPAN_LAST_COUNT];
        bool last_known[MD_SPAN_LAST_COUNT];
    } span;
};

// Takes the next scratch buffer of a pool, emptied. Aborts when memory runs out.
buf *rndr_newbuf(md_parser *md, int type);
// Gives back the most recently taken buffer of the pool.
void rndr_popbuf(md_parser *md, int type);

// True when the nesting limit is exceeded: the caller renders nothing.
inline bool md_nesting_exceeded(const md_parser *md)
{
    return md->work_bufs[BUFFER_BLOCK].size + md->work_bufs[BUFFER_SPAN].size > md->max_nesting;
}

link_ref *find_link_ref(link_ref **refs, const uint8_t *name, size_t length);

void parse_block(buf *ob, md_parser *md, uint8_t *data, size_t size);
void parse_inline(buf *ob, md_parser *md, uint8_t *data, size_t size);

// A line of only spaces: its length including the line feed (the rest of the data when it ends
// first); 0 otherwise, and for empty data.
size_t is_empty(const uint8_t *data, size_t size);

// Set up the active-character table for the callbacks that are present.
void md_setup_active_chars(md_parser *md);

// Every byte md_setup_active_chars may make active.
constexpr uint8_t md_active_candidates[] = {'*', '_', '`', '\n', '[', '<', '\\', '&'};
