#pragma once

// Markdown parser driven by a table of rendering callbacks. One parser object per conversion:
// md_parser_new(), one md_parser_render(), md_parser_free(). All state lives in the parser object
// and the buffers of one call, so separate parser objects may be used on separate threads.
//
// Text passed to callbacks is a buffer that is not NUL-terminated and that the callback must not
// keep: it is scratch space the parser reuses.

#include "buffer.h"

// Parser extensions (flag bits of md_parser_new). The application's renderer sets none of them;
// the grammar of the extensions is not built, the bits are reserved so stored flag sets keep
// their meaning.
enum md_extensions {
    MKDEXT_NO_INTRA_EMPHASIS = (1 << 0), // no emphasis inside words
    MKDEXT_TABLES = (1 << 1),            // pipe tables with an alignment row
    MKDEXT_FENCED_CODE = (1 << 2),       // fenced code blocks with a language
    MKDEXT_AUTOLINK = (1 << 3),          // bare web and e-mail addresses become links
    MKDEXT_STRIKETHROUGH = (1 << 4),     // ~~text~~
    MKDEXT_SPACE_HEADERS = (1 << 6),     // "#" must be followed by a space to start a header
    MKDEXT_SUPERSCRIPT = (1 << 7),       // ^text
    MKDEXT_LAX_SPACING = (1 << 8),       // a list marker, HTML block or fence may end a paragraph
};

// Automatic-link types passed to the autolink callback.
enum md_autolink {
    MKDA_NOT_AUTOLINK = 0,
    MKDA_NORMAL = 1, // a URL
    MKDA_EMAIL = 2,  // an e-mail address (without "mailto:")
};

// List flags passed to list and listitem.
enum md_list_flags {
    MKD_LIST_ORDERED = 1, // <ol> rather than <ul>
    MKD_LI_BLOCK = 2,     // the item holds blocks: its content is rendered as paragraphs
    MKD_LI_END = 8,       // last item of the list
};

// Table-cell flags passed to table_cell.
enum md_table_flags {
    MKD_TABLE_ALIGN_L = 1,
    MKD_TABLE_ALIGN_R = 2,
    MKD_TABLE_ALIGN_CENTER = 3,
    MKD_TABLE_ALIGNMASK = 3,
    MKD_TABLE_HEADER = 4,
};

// The callback table. Every callback receives the output buffer first and the opaque pointer of
// md_parser_new() last. A null block slot skips the block; a null span slot, or a span callback
// returning 0, makes the parser write the source characters as plain text; a null entity or
// normal_text slot copies the input unchanged. The comments give what the HTML renderer writes.
struct md_callbacks {
    // Block level. Text is the rendered content unless said otherwise.
    void (*blockcode)(buf *ob, const buf *text, const buf *lang, void *opaque); // <pre><code>; raw text, lang null
    void (*blockquote)(buf *ob, const buf *text, void *opaque);                 // <blockquote>
    void (*blockhtml)(buf *ob, const buf *text, void *opaque);                  // the raw block, unchanged
    void (*header)(buf *ob, const buf *text, int level, void *opaque);          // <h1> .. <h6>
    void (*hrule)(buf *ob, void *opaque);                                       // <hr>
    void (*list)(buf *ob, const buf *text, int flags, void *opaque);            // <ul> or <ol>; md_list_flags
    void (*listitem)(buf *ob, const buf *text, int flags, void *opaque);        // <li>; md_list_flags
    void (*paragraph)(buf *ob, const buf *text, void *opaque);                  // <p>
    void (*table)(buf *ob, const buf *header, const buf *body, void *opaque);   // <table> (extension)
    void (*table_row)(buf *ob, const buf *text, void *opaque);                  // <tr> (extension)
    void (*table_cell)(buf *ob, const buf *text, int flags, void *opaque);      // <td>, <th> (extension)

    // Span level: non-zero when rendered.
    int (*autolink)(buf *ob, const buf *link, enum md_autolink type, void *opaque); // <a href> around the address
    int (*codespan)(buf *ob, const buf *text, void *opaque);        // <code>; raw text, null when empty
    int (*double_emphasis)(buf *ob, const buf *text, void *opaque); // <strong>
    int (*emphasis)(buf *ob, const buf *text, void *opaque);        // <em>
    int (*image)(buf *ob, const buf *link, const buf *title, const buf *alt, void *opaque); // <img>; raw alt
    int (*linebreak)(buf *ob, void *opaque);                        // <br>
    int (*link)(buf *ob, const buf *link, const buf *title, const buf *content, void *opaque); // <a href>
    int (*raw_html_tag)(buf *ob, const buf *tag, void *opaque);     // the tag, unchanged
    int (*triple_emphasis)(buf *ob, const buf *text, void *opaque); // <strong><em>
    int (*strikethrough)(buf *ob, const buf *text, void *opaque);   // <del> (extension)
    int (*superscript)(buf *ob, const buf *text, void *opaque);     // <sup> (extension)

    // Low level: raw source text.
    void (*entity)(buf *ob, const buf *entity, void *opaque);   // unset: copied
    void (*normal_text)(buf *ob, const buf *text, void *opaque); // escaped

    // Document.
    void (*doc_header)(buf *ob, void *opaque); // unset
    void (*doc_footer)(buf *ob, void *opaque); // unset
};

struct md_parser;

// Makes a parser; the callback table is copied. Null when memory runs out. max_nesting must be
// positive: content nested deeper (block plus span levels) is not read further; its text is
// written as it stands (blocks as paragraphs split at empty lines), so nothing is lost.
md_parser *md_parser_new(unsigned int extensions, size_t max_nesting, const md_callbacks *callbacks,
                         void *opaque);

// Appends the rendering of document (size bytes, any content) to ob. 0 on success; -1 when a
// buffer could not grow (memory, or BUFFER_MAX_ALLOC_SIZE): the output is then incomplete.
int md_parser_render(buf *ob, const uint8_t *document, size_t doc_size, md_parser *md);

// Releases the parser, its pooled buffers and pools; null is allowed.
void md_parser_free(md_parser *md);

// Version of the library: 1.16.0.
void md_version(int *major, int *minor, int *revision);
