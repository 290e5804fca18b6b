#pragma once

// Shared between the block pass (parser_block.cpp) and the span pass (parser_inline.cpp).

#include "parser.h"

#include <cstdint>

// The longest link label (between its brackets) that names a reference, in bytes; a longer one is
// never looked up, and a definition with a longer one is not a definition.
#define MD_LINK_LABEL_MAX 999

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

// One link definition. Names that differ only in the case of ASCII letters are the same name,
// and the later definition replaces the earlier.
struct link_ref {
    const buf *link;  // link_bytes
    const buf *title; // title_bytes; null when the definition has none
    buf link_bytes, title_bytes; // the bytes follow the entry, in the same allocation
    const uint8_t *name;         // after them, as the definition wrote it
    size_t name_size;
};

// The definitions of one render, by the hash of their name: an open table (each name in its
// first free cell from where its hash falls) at most half full, doubled as definitions are added,
// so that a lookup reads about one cell; a cell holds the hash, so that a lookup compares the
// name of no entry but those of the same hash.
struct link_ref_cell {
    unsigned int id;
    link_ref *ref; // null: free
};
struct link_ref_chunk;
struct link_ref_table {
    link_ref_cell *cells; // null until the first definition
    size_t cell_count;    // a power of two
    size_t count;
    link_ref_chunk *chunks; // where the entries lie, freed together
};

// What the scans of one kind that step over backslash pairs ("\\x" is stepped over whole) found
// in a span. A position not after a backslash is one no scan steps over: every scan that starts
// before it passes it, and from there on all such scans go the same way. So when a scan failed,
// from the first such position it reached nothing it looks for follows: a later scan that reaches
// one at or after it fails there. And when one found its end at ok_at, a later scan that reaches
// such a position in [ok_from, ok_until) finds the same end.
struct md_scan_memo {
    size_t fail_from = SIZE_MAX;
    size_t ok_from = SIZE_MAX, ok_until = 0, ok_at = 0;
};

// Backtick runs of a span, found on the first code span that does not close: for each run, its
// end and the length of the longest run after it. A code span opened by n backticks closes only
// when a later run holds n.
struct md_backtick_runs {
    uint32_t *end;     // offset just after each run, ascending
    uint32_t *longest; // longest run from this one (included) to the span's end
    size_t count;
};

// What the scans of a span learnt where they failed, so that they do not run over the same
// bytes again and again: made on the first failure. The scan memos keep where the link
// destination and title scans found nothing (and, from then on, where they last found their end);
// emph_doomed marks the closer candidates from which a kind of emphasis scan fails (bit: kind), so
// that an opener whose scan reaches one fails there; runs: see md_backtick_runs.
struct md_span_memos {
    md_scan_memo dest, title_open[2], title_closed;
    uint8_t *emph_doomed; // owned; null until an emphasis scan fails
    md_backtick_runs runs; // owned; null until a code span fails to close
};

// The span parse_inline is reading; every search in it costs, over the whole span, a bounded
// number of passes over it, whatever its shape. Once the searches for closing brackets have read
// as many bytes as the span holds, close_table gives for every "[" the position of its closing
// "]" plus 1 (0: none): one pass instead of a scan per bracket. Found on first need: where the
// span's last byte of each kind in md_span_last lies (offset plus 1; 0 when none); an opener
// after the last byte that could close it is text at once. next_from/next_at keep the last answer
// of "the first ']' (or ')') at or after": a scan that asks again from inside a stretch already
// crossed gets the answer at once.
struct md_span {
    uint8_t *data;
    size_t size;
    uint32_t *close_table; // owned; null until needed
    size_t bracket_scanned; // bytes read by searches for closing brackets
    size_t last[MD_SPAN_LAST_COUNT];
    bool last_known[MD_SPAN_LAST_COUNT];
    size_t next_from[2], next_at[2]; // ']' and ')': [from, at] holds no such byte but at
    md_span_memos *memos;            // owned; null until a scan fails
};

struct md_parser {
    md_callbacks cb;
    void *opaque;
    link_ref_table refs;
    uint8_t active_char[256];
    stack work_bufs[2]; // pools; size is the number of buffers in use
    unsigned int ext_flags;
    size_t max_nesting;
    int in_link_body;

    md_span *span; // the span parse_inline is reading; null outside it

    // Positions of the closer candidates the emphasis scan under way has passed; reused.
    uint32_t *emph_path;
    size_t emph_path_size, emph_path_asize;
};

// Takes the next scratch buffer of a pool, emptied. Aborts when memory runs out.
buf *rndr_newbuf(md_parser *md, int type);
// Gives back the most recently taken buffer of the pool.
void rndr_popbuf(md_parser *md, int type);

// True when the nesting limit is exceeded: the caller reads no further constructs and writes its
// text as it stands (md_put_text), so that the limit bounds the depth of the parser's calls and
// loses nothing.
inline bool md_nesting_exceeded(const md_parser *md)
{
    return md->work_bufs[BUFFER_BLOCK].size + md->work_bufs[BUFFER_SPAN].size > md->max_nesting;
}

// The definition named name; null when none.
link_ref *find_link_ref(const link_ref_table *refs, const uint8_t *name, size_t length);

// Writes data as text, through the normal_text callback when there is one.
void md_put_text(buf *ob, md_parser *md, const uint8_t *data, size_t size);

void parse_block(buf *ob, md_parser *md, uint8_t *data, size_t size);
void parse_inline(buf *ob, md_parser *md, uint8_t *data, size_t size);

// A line of only spaces: its length including the line feed (the rest of the data when it ends
// first); 0 otherwise, and for empty data.
size_t is_empty(const uint8_t *data, size_t size);

// Set up the active-character table for the callbacks that are present.
void md_setup_active_chars(md_parser *md);

// Every byte md_setup_active_chars may make active.
constexpr uint8_t md_active_candidates[] = {'*', '_', '`', '\n', '[', '<', '\\', '&'};
