#include "html.h"
#include "scan.h"

#include <cstring>

namespace {

// 0: copied; otherwise the index into html_escapes.
struct escape_table {
    uint8_t code[256];
    constexpr escape_table() : code()
    {
        code['"'] = 1;
        code['&'] = 2;
        code['\''] = 3;
        code['/'] = 4;
        code['<'] = 5;
        code['>'] = 6;
    }
};
constexpr escape_table html_escape_table;
// The bytes html_escape_table marks.
constexpr uint8_t html_escaped_bytes[] = {'"', '&', '\'', '/', '<', '>'};
const char *const html_escapes[] = {"", "&quot;", "&amp;", "&#39;", "&#47;", "&lt;", "&gt;"};

struct href_table {
    bool safe[256];
    constexpr href_table() : safe()
    {
        for (int c = '0'; c <= '9'; ++c)
            safe[c] = true;
        for (int c = 'a'; c <= 'z'; ++c)
            safe[c] = true;
        for (int c = 'A'; c <= 'Z'; ++c)
            safe[c] = true;
        for (const char *p = "-_.!*(),;:@=+$/?#%"; *p; ++p)
            safe[static_cast<unsigned char>(*p)] = true;
    }
};
constexpr href_table href_safe;

inline void put_separator(buf *ob)
{
    if (ob->size)
        bufputc(ob, '\n');
}

inline void put_buf(buf *ob, const buf *text)
{
    if (text)
        bufput(ob, text->data, text->size);
}

inline void escape_html_buf(buf *ob, const buf *text)
{
    if (text)
        escape_html(ob, text->data, text->size, 0);
}

inline void escape_href_buf(buf *ob, const buf *text)
{
    if (text)
        escape_href(ob, text->data, text->size);
}

void rndr_blockcode(buf *ob, const buf *text, const buf *lang, void *)
{
    put_separator(ob);
    if (lang && lang->size) {
        bufputs(ob, "<pre><code class=\"");
        escape_html_buf(ob, lang);
        bufputs(ob, "\">");
    } else {
        bufputs(ob, "<pre><code>");
    }
    escape_html_buf(ob, text);
    bufputs(ob, "</code></pre>\n");
}

void rndr_blockquote(buf *ob, const buf *text, void *)
{
    put_separator(ob);
    bufputs(ob, "<blockquote>\n");
    put_buf(ob, text);
    bufputs(ob, "</blockquote>\n");
}

void rndr_raw_block(buf *ob, const buf *text, void *)
{
    if (!text)
        return;
    size_t org = 0, sz = text->size;
    while (sz > 0 && text->data[sz - 1] == '\n')
        --sz;
    while (org < sz && text->data[org] == '\n')
        ++org;
    if (org >= sz)
        return;
    put_separator(ob);
    bufput(ob, text->data + org, sz - org);
    bufputc(ob, '\n');
}

void rndr_header(buf *ob, const buf *text, int level, void *)
{
    put_separator(ob);
    if (level < 1 || level > 9) {
        bufprintf(ob, "<h%d>", level);
        put_buf(ob, text);
        bufprintf(ob, "</h%d>\n", level);
        return;
    }
    const char digit = static_cast<char>('0' + level);
    const char open[] = {'<', 'h', digit, '>'};
    const char close[] = {'<', '/', 'h', digit, '>', '\n'};
    bufput(ob, open, sizeof open);
    put_buf(ob, text);
    bufput(ob, close, sizeof close);
}

void rndr_hrule(buf *ob, void *)
{
    put_separator(ob);
    bufputs(ob, "<hr>\n");
}

void rndr_list(buf *ob, const buf *text, int flags, void *)
{
    put_separator(ob);
    bufputs(ob, (flags & MKD_LIST_ORDERED) ? "<ol>\n" : "<ul>\n");
    put_buf(ob, text);
    bufputs(ob, (flags & MKD_LIST_ORDERED) ? "</ol>\n" : "</ul>\n");
}

void rndr_listitem(buf *ob, const buf *text, int, void *)
{
    bufputs(ob, "<li>");
    if (text) {
        size_t size = text->size;
        while (size && text->data[size - 1] == '\n')
            --size;
        bufput(ob, text->data, size);
    }
    bufputs(ob, "</li>\n");
}

inline bool is_html_space(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void rndr_paragraph(buf *ob, const buf *text, void *)
{
    put_separator(ob);
    if (!text)
        return;
    size_t i = 0;
    while (i < text->size && is_html_space(text->data[i]))
        ++i;
    if (i == text->size)
        return;
    bufputs(ob, "<p>");
    bufput(ob, text->data + i, text->size - i);
    bufputs(ob, "</p>\n");
}

void rndr_table(buf *ob, const buf *header, const buf *body, void *)
{
    put_separator(ob);
    bufputs(ob, "<table><thead>\n");
    put_buf(ob, header);
    bufputs(ob, "</thead><tbody>\n");
    put_buf(ob, body);
    bufputs(ob, "</tbody></table>\n");
}

void rndr_tablerow(buf *ob, const buf *text, void *)
{
    bufputs(ob, "<tr>\n");
    put_buf(ob, text);
    bufputs(ob, "</tr>\n");
}

void rndr_tablecell(buf *ob, const buf *text, int flags, void *)
{
    const char *tag = (flags & MKD_TABLE_HEADER) ? "th" : "td";
    switch (flags & MKD_TABLE_ALIGNMASK) {
    case MKD_TABLE_ALIGN_CENTER:
        bufprintf(ob, "<%s style=\"text-align: center\">", tag);
        break;
    case MKD_TABLE_ALIGN_L:
        bufprintf(ob, "<%s style=\"text-align: left\">", tag);
        break;
    case MKD_TABLE_ALIGN_R:
        bufprintf(ob, "<%s style=\"text-align: right\">", tag);
        break;
    default:
        bufprintf(ob, "<%s>", tag);
    }
    put_buf(ob, text);
    bufprintf(ob, "</%s>\n", tag);
}

// Ends the opening <a href="..." tag, with the attributes the caller adds to links, if any.
void close_anchor_tag(buf *ob, const buf *link, void *opaque)
{
    const html_renderopt *options = static_cast<const html_renderopt *>(opaque);
    if (options->link_attributes) {
        bufputc(ob, '"');
        options->link_attributes(ob, link, opaque);
        bufputc(ob, '>');
    } else {
        bufputs(ob, "\">");
    }
}

int rndr_autolink(buf *ob, const buf *link, md_autolink type, void *opaque)
{
    if (!link || !link->size)
        return 0;
    bufputs(ob, "<a href=\"");
    if (type == MKDA_EMAIL)
        bufputs(ob, "mailto:");
    escape_href(ob, link->data, link->size);
    close_anchor_tag(ob, link, opaque);
    if (bufprefix(link, "mailto:") == 0)
        escape_html(ob, link->data + 7, link->size - 7, 0);
    else
        escape_html(ob, link->data, link->size, 0);
    bufputs(ob, "</a>");
    return 1;
}

int rndr_codespan(buf *ob, const buf *text, void *)
{
    bufputs(ob, "<code>");
    escape_html_buf(ob, text);
    bufputs(ob, "</code>");
    return 1;
}

int wrap_span(buf *ob, const buf *text, const char *open, const char *close)
{
    if (!text || !text->size)
        return 0;
    bufputs(ob, open);
    bufput(ob, text->data, text->size);
    bufputs(ob, close);
    return 1;
}

int rndr_emphasis(buf *ob, const buf *text, void *)
{
    return wrap_span(ob, text, "<em>", "</em>");
}

int rndr_double_emphasis(buf *ob, const buf *text, void *)
{
    return wrap_span(ob, text, "<strong>", "</strong>");
}

int rndr_triple_emphasis(buf *ob, const buf *text, void *)
{
    return wrap_span(ob, text, "<strong><em>", "</em></strong>");
}

int rndr_strikethrough(buf *ob, const buf *text, void *)
{
    return wrap_span(ob, text, "<del>", "</del>");
}

int rndr_superscript(buf *ob, const buf *text, void *)
{
    return wrap_span(ob, text, "<sup>", "</sup>");
}

int rndr_image(buf *ob, const buf *link, const buf *title, const buf *alt, void *)
{
    if (!link || !link->size)
        return 0;
    bufputs(ob, "<img src=\"");
    escape_href(ob, link->data, link->size);
    bufputs(ob, "\" alt=\"");
    escape_html_buf(ob, alt);
    if (title && title->size) {
        bufputs(ob, "\" title=\"");
        escape_html(ob, title->data, title->size, 0);
    }
    bufputs(ob, "\">");
    return 1;
}

int rndr_linebreak(buf *ob, void *)
{
    bufputs(ob, "<br>\n");
    return 1;
}

int rndr_link(buf *ob, const buf *link, const buf *title, const buf *content, void *opaque)
{
    bufputs(ob, "<a href=\"");
    escape_href_buf(ob, link);
    if (title && title->size) {
        bufputs(ob, "\" title=\"");
        escape_html(ob, title->data, title->size, 0);
    }
    close_anchor_tag(ob, link, opaque);
    put_buf(ob, content);
    bufputs(ob, "</a>");
    return 1;
}

int rndr_raw_html(buf *ob, const buf *text, void *)
{
    put_buf(ob, text);
    return 1;
}

void rndr_normal_text(buf *ob, const buf *text, void *)
{
    escape_html_buf(ob, text);
}

const md_callbacks html_callbacks = {
    rndr_blockcode,
    rndr_blockquote,
    rndr_raw_block,
    rndr_header,
    rndr_hrule,
    rndr_list,
    rndr_listitem,
    rndr_paragraph,
    rndr_table,
    rndr_tablerow,
    rndr_tablecell,

    rndr_autolink,
    rndr_codespan,
    rndr_double_emphasis,
    rndr_emphasis,
    rndr_image,
    rndr_linebreak,
    rndr_link,
    rndr_raw_html,
    rndr_triple_emphasis,
    rndr_strikethrough,
    rndr_superscript,

    nullptr, // entity: copied unchanged
    rndr_normal_text,

    nullptr,
    nullptr,
};

} // namespace

void escape_html(buf *ob, const uint8_t *src, size_t size, int secure)
{
    if (ob->asize - ob->size < size + size / 5)
        bufgrow(ob, ob->size + size * 12 / 10);
    size_t i = 0;
    while (i < size) {
        size_t org = i;
        i = skip_unmarked(src, i, size, html_escaped_bytes, html_escape_table.code);
        if (i > org)
            bufput(ob, src + org, i - org);
        if (i >= size)
            break;
        if (src[i] == '/' && !secure)
            bufputc(ob, '/');
        else
            bufputs(ob, html_escapes[html_escape_table.code[src[i]]]);
        ++i;
    }
}

void escape_href(buf *ob, const uint8_t *src, size_t size)
{
    static const char hex[] = "0123456789ABCDEF";
    if (ob->asize - ob->size < size + size / 5)
        bufgrow(ob, ob->size + size * 12 / 10);
    size_t i = 0;
    while (i < size) {
        size_t org = i;
        while (i < size && href_safe.safe[src[i]])
            ++i;
        if (i > org)
            bufput(ob, src + org, i - org);
        if (i >= size)
            break;
        switch (src[i]) {
        case '&':
            bufputs(ob, "&amp;");
            break;
        case '\'':
            bufputs(ob, "&#x27;");
            break;
        default: {
            char pct[3] = {'%', hex[src[i] >> 4], hex[src[i] & 0xF]};
            bufput(ob, pct, 3);
        }
        }
        ++i;
    }
}

void html_renderer_setup(md_callbacks *callbacks, html_renderopt *options, unsigned int render_flags)
{
    std::memset(options, 0, sizeof *options);
    options->flags = render_flags;
    std::memcpy(callbacks, &html_callbacks, sizeof *callbacks);
    if (render_flags & HTML_SKIP_IMAGES)
        callbacks->image = nullptr;
    if (render_flags & HTML_SKIP_LINKS) {
        callbacks->link = nullptr;
        callbacks->autolink = nullptr;
    }
    if (render_flags & (HTML_SKIP_HTML | HTML_ESCAPE))
        callbacks->blockhtml = nullptr;
}
