#pragma once

// HTML renderer for the Markdown parser: fills a callback table whose callbacks write HTML.

#include "parser.h"

// Render flags of html_renderer_setup(). The application uses 0. Flags 1, 4, 8 and 512 take the
// matching callbacks out of the table; the other bits are reserved and render as 0 does.
enum html_render_mode {
    HTML_SKIP_HTML = (1 << 0),    // no raw HTML blocks
    HTML_SKIP_STYLE = (1 << 1),   // reserved: drop raw style tags
    HTML_SKIP_IMAGES = (1 << 2),  // images stay text
    HTML_SKIP_LINKS = (1 << 3),   // links and automatic links stay text
    HTML_EXPAND_TABS = (1 << 4),  // reserved
    HTML_SAFELINK = (1 << 5),     // reserved: refuse links outside the safe schemes
    HTML_TOC = (1 << 6),          // reserved: header ids for a table of contents
    HTML_HARD_WRAP = (1 << 7),    // reserved: line feeds inside paragraphs become <br>
    HTML_USE_XHTML = (1 << 8),    // reserved: <hr/>, <br/>, "/>"
    HTML_ESCAPE = (1 << 9),       // no raw HTML blocks (reserved: escape raw tags)
};

// The opaque pointer handed to every HTML callback.
struct html_renderopt {
    struct {
        int header_count;
        int current_level;
        int level_offset;
    } toc_data; // used only by a table-of-contents renderer
    unsigned int flags;
    // Writes extra attributes into an <a> tag after the href; null for none.
    void (*link_attributes)(buf *ob, const buf *url, void *self);
};

// Zeroes options, stores the flags and fills callbacks with the HTML callbacks. With flags 0
// every slot is set except entity, doc_header and doc_footer.
void html_renderer_setup(md_callbacks *callbacks, html_renderopt *options, unsigned int render_flags);

// Appends src with " & ' < > written as entities; with secure set "/" also becomes "&#47;".
// Everything else, line feeds and bytes above 127 included, is copied.
void escape_html(buf *ob, const uint8_t *src, size_t size, int secure);

// Appends src as a URL attribute value: letters, digits and -_.!*(),;:@=+$/?#% are copied, "&"
// becomes "&amp;", "'" becomes "&#x27;", every other byte "%" and two upper-case hex digits.
void escape_href(buf *ob, const uint8_t *src, size_t size);
