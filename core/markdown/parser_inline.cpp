// Span-level grammar: emphasis, code spans, hard line breaks, links and images, angle-bracket
// tags and automatic links, backslash escapes and entities.

#include "parser_internal.h"
#include "scan.h"

#include <cstdlib>
#include <cstring>

namespace {

using char_trigger = size_t (*)(buf *ob, md_parser *md, uint8_t *data, size_t offset, size_t size);

inline bool is_alnum(uint8_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool is_space_or_lf(uint8_t c)
{
    return c == ' ' || c == '\n';
}

// Undoes backslash escapes: each backslash is dropped and the byte after it kept.
void unscape_text(buf *ob, const uint8_t *src, size_t size)
{
    size_t i = 0;
    while (i < size) {
        size_t org = i;
        while (i < size && src[i] != '\\')
            ++i;
        if (i > org)
            bufput(ob, src + org, i - org);
        if (i + 1 >= size)
            break;
        bufputc(ob, src[i + 1]);
        i += 2;
    }
}

void put_text(buf *ob, md_parser *md, const uint8_t *data, size_t size)
{
    if (md->cb.normal_text) {
        buf work = {const_cast<uint8_t *>(data), size, 0, 1};
        md->cb.normal_text(ob, &work, md->opaque);
    } else {
        bufput(ob, data, size);
    }
}

// Offset plus 1 of the last byte of the kind in the current span; 0 when there is none.
size_t span_last(md_parser *md, int kind)
{
    if (md->span.last_known[kind])
        return md->span.last[kind];
    const uint8_t *d = md->span.data;
    const size_t size = md->span.size;
    uint8_t c;
    switch (kind) {
    case MD_LAST_ANGLE:
        c = '>';
        break;
    case MD_LAST_BRACKET:
        c = ']';
        break;
    case MD_LAST_PAREN:
        c = ')';
        break;
    case MD_LAST_STAR:
    case MD_LAST_STAR2:
        c = '*';
        break;
    default:
        c = '_';
    }
    const bool single = kind == MD_LAST_STAR || kind == MD_LAST_UNDERSCORE;
    const bool twice = kind == MD_LAST_STAR2 || kind == MD_LAST_UNDERSCORE2;
    // Backwards from the end, one candidate byte at a time.
    size_t i = size;
    while (i > 0) {
        const void *p = memrchr(d, c, i);
        if (!p) {
            i = 0;
            break;
        }
        const size_t k = static_cast<size_t>(static_cast<const uint8_t *>(p) - d);
        bool hit = true;
        if (single || twice)
            hit = k > 0 && !is_space_or_lf(d[k - 1]);
        if (hit && twice)
            hit = k + 1 < size && d[k + 1] == c;
        if (hit) {
            i = k + 1;
            break;
        }
        i = k;
    }
    md->span.last[kind] = i;
    md->span.last_known[kind] = true;
    return i;
}

// ---- Emphasis ---------------------------------------------------------------------------------

// Offset of the first c at or after i, or 0.
size_t first_at_or_after(const uint8_t *data, size_t i, size_t size, uint8_t c)
{
    const void *p = i < size ? std::memchr(data + i, c, size - i) : nullptr;
    return p ? static_cast<size_t>(static_cast<const uint8_t *>(p) - data) : 0;
}

// Offset of the first possible closing c, searching from data[1]; 0 when there is none. Code
// spans and links are stepped over; a c inside one counts only when it never closes.
size_t find_emph_char(md_parser *md, const uint8_t *data, size_t size, uint8_t c)
{
    // data lies in the current span; a skip to a "]" or ")" that the span no longer holds runs
    // to the end without a scan.
    const size_t base = static_cast<size_t>(data - md->span.data);
    size_t i = 1;
    while (i < size) {
        while (i < size && data[i] != c && data[i] != '`' && data[i] != '[')
            ++i;
        if (i >= size)
            return 0;
        if (data[i] == c)
            return i;
        if (data[i - 1] == '\\') {
            ++i;
            continue;
        }
        if (data[i] == '`') {
            size_t span_nb = 0, tmp_i = 0;
            while (i < size && data[i] == '`') {
                ++i;
                ++span_nb;
            }
            size_t bt = 0;
            while (i < size && bt < span_nb) {
                if (!tmp_i && data[i] == c)
                    tmp_i = i;
                bt = data[i] == '`' ? bt + 1 : 0;
                ++i;
            }
            if (bt < span_nb) // the code span never closes
                return tmp_i;
        } else { // '['
            size_t tmp_i = 0;
            ++i;
            if (span_last(md, MD_LAST_BRACKET) <= base + i)
                return first_at_or_after(data, i, size, c);
            while (i < size && data[i] != ']') {
                if (!tmp_i && data[i] == c)
                    tmp_i = i;
                ++i;
            }
            if (i >= size)
                return tmp_i;
            ++i;
            while (i < size && is_space_or_lf(data[i]))
                ++i;
            if (i >= size)
                return tmp_i;
            uint8_t cc;
            if (data[i] == '[') {
                cc = ']';
            } else if (data[i] == '(') {
                cc = ')';
            } else {
                if (tmp_i)
                    return tmp_i;
                continue;
            }
            ++i;
            if (span_last(md, cc == ']' ? MD_LAST_BRACKET : MD_LAST_PAREN) <= base + i)
                return tmp_i ? tmp_i : first_at_or_after(data, i, size, c);
            while (i < size && data[i] != cc) {
                if (!tmp_i && data[i] == c)
                    tmp_i = i;
                ++i;
            }
            if (i >= size)
                return tmp_i;
            ++i;
        }
    }
    return 0;
}

// Parses data[0, end) as inline text into a span buffer and hands it to the callback.
int render_span(buf *ob, md_parser *md, uint8_t *data, size_t end, int (*render)(buf *, const buf *, void *))
{
    buf *work = rndr_newbuf(md, BUFFER_SPAN);
    parse_inline(work, md, data, end);
    const int r = render(ob, work, md->opaque);
    rndr_popbuf(md, BUFFER_SPAN);
    return r;
}

// Single emphasis; data starts after the opening c. Returns the bytes consumed after it.
size_t parse_emph1(buf *ob, md_parser *md, uint8_t *data, size_t size, uint8_t c)
{
    size_t i = 0;
    // Coming from a triple opener read again: step over its own "cc" start.
    if (size > 1 && data[0] == c && data[1] == c)
        i = 1;
    while (i < size) {
        size_t len = find_emph_char(md, data + i, size - i, c);
        if (!len)
            return 0;
        i += len;
        if (i >= size)
            return 0;
        if (data[i] == c && !is_space_or_lf(data[i - 1])) {
            if (!md->cb.emphasis)
                return 0;
            return render_span(ob, md, data, i, md->cb.emphasis) ? i + 1 : 0;
        }
    }
    return 0;
}

// Double emphasis; data starts after the opening cc.
size_t parse_emph2(buf *ob, md_parser *md, uint8_t *data, size_t size, uint8_t c)
{
    size_t i = 0;
    while (i < size) {
        size_t len = find_emph_char(md, data + i, size - i, c);
        if (!len)
            return 0;
        i += len;
        if (i + 1 < size && data[i] == c && data[i + 1] == c && i && !is_space_or_lf(data[i - 1])) {
            if (!md->cb.double_emphasis)
                return 0;
            return render_span(ob, md, data, i, md->cb.double_emphasis) ? i + 2 : 0;
        }
        ++i;
    }
    return 0;
}

// Triple emphasis; data starts after the opening ccc. A closing cc or c hands the text to the
// single or double rule, which reads it again from the second or third opening character.
size_t parse_emph3(buf *ob, md_parser *md, uint8_t *data, size_t size, uint8_t c)
{
    size_t i = 0;
    while (i < size) {
        size_t len = find_emph_char(md, data + i, size - i, c);
        if (!len)
            return 0;
        i += len;
        if (data[i] != c || is_space_or_lf(data[i - 1]))
            continue;
        if (i + 2 < size && data[i + 1] == c && data[i + 2] == c && md->cb.triple_emphasis)
            return render_span(ob, md, data, i, md->cb.triple_emphasis) ? i + 3 : 0;
        if (i + 1 < size && data[i + 1] == c) {
            len = parse_emph1(ob, md, data - 2, size + 2, c);
            return len ? len - 2 : 0;
        }
        len = parse_emph2(ob, md, data - 1, size + 1, c);
        return len ? len - 1 : 0;
    }
    return 0;
}

size_t char_emphasis(buf *ob, md_parser *md, uint8_t *data, size_t offset, size_t size)
{
    uint8_t c = data[0];
    size_t ret;
    // Every closing search ends at a c after the opener that follows neither space nor line feed
    // (a double one at cc).
    const bool is_double = size > 3 && data[1] == c && data[2] != c;
    const int kind = c == '*' ? (is_double ? MD_LAST_STAR2 : MD_LAST_STAR)
                              : (is_double ? MD_LAST_UNDERSCORE2 : MD_LAST_UNDERSCORE);
    if (span_last(md, kind) <= offset + 2)
        return 0;
    if (size > 2 && data[1] != c) {
        if (is_space_or_lf(data[1]) || (ret = parse_emph1(ob, md, data + 1, size - 1, c)) == 0)
            return 0;
        return ret + 1;
    }
    if (size > 3 && data[1] == c && data[2] != c) {
        if (is_space_or_lf(data[2]) || (ret = parse_emph2(ob, md, data + 2, size - 2, c)) == 0)
            return 0;
        return ret + 2;
    }
    if (size > 4 && data[1] == c && data[2] == c && data[3] != c) {
        if (is_space_or_lf(data[3]) || (ret = parse_emph3(ob, md, data + 3, size - 3, c)) == 0)
            return 0;
        return ret + 3;
    }
    return 0;
}

// ---- Other span constructs --------------------------------------------------------------------

size_t char_codespan(buf *ob, md_parser *md, uint8_t *data, size_t, size_t size)
{
    size_t nb = 0;
    while (nb < size && data[nb] == '`')
        ++nb;
    size_t i = 0, end = nb;
    while (end < size && i < nb) {
        i = data[end] == '`' ? i + 1 : 0;
        ++end;
    }
    if (i < nb)
        return 0;

    size_t f_begin = nb;
    while (f_begin < end && data[f_begin] == ' ')
        ++f_begin;
    size_t f_end = end - nb;
    while (f_end > nb && data[f_end - 1] == ' ')
        --f_end;
    int r;
    if (f_begin < f_end) {
        buf work = {data + f_begin, f_end - f_begin, 0, 1};
        r = md->cb.codespan(ob, &work, md->opaque);
    } else {
        r = md->cb.codespan(ob, nullptr, md->opaque);
    }
    return r ? end : 0;
}

size_t char_linebreak(buf *ob, md_parser *md, uint8_t *data, size_t offset, size_t)
{
    if (offset < 2 || data[-1] != ' ' || data[-2] != ' ')
        return 0;
    while (ob->size && ob->data[ob->size - 1] == ' ')
        ob->size--;
    return md->cb.linebreak(ob, md->opaque) ? 1 : 0;
}

size_t char_escape(buf *ob, md_parser *md, uint8_t *data, size_t, size_t size)
{
    static const char escape_chars[] = "\\`*_{}[]()#+-.!:|&<>^~";
    if (size > 1) {
        // memchr over the terminator too: a NUL byte is escapable.
        if (!std::memchr(escape_chars, data[1], sizeof escape_chars))
            return 0;
        put_text(ob, md, data + 1, 1);
        return 2;
    }
    bufputc(ob, data[0]);
    return 1;
}

size_t char_entity(buf *ob, md_parser *md, uint8_t *data, size_t, size_t size)
{
    size_t end = 1;
    if (end < size && data[end] == '#')
        ++end;
    size_t name = end;
    while (end < size && is_alnum(data[end]))
        ++end;
    if (end == name || end >= size || data[end] != ';')
        return 0;
    ++end;
    if (md->cb.entity) {
        buf work = {data, end, 0, 1};
        md->cb.entity(ob, &work, md->opaque);
    } else {
        bufput(ob, data, end);
    }
    return end;
}

// An e-mail address after the "@" at data: length through the closing ">", or 0.
size_t is_mail_autolink(const uint8_t *data, size_t size)
{
    size_t nb = 0;
    for (size_t i = 0; i < size; ++i) {
        uint8_t c = data[i];
        if (is_alnum(c) || c == '-' || c == '.' || c == '_')
            continue;
        if (c == '@') {
            ++nb;
            continue;
        }
        if (c == '>')
            return nb == 1 ? i + 1 : 0;
        return 0;
    }
    return 0;
}

// Length of the tag starting with "<" at data, or 0; *type tells whether it is an automatic link.
size_t tag_length(const uint8_t *data, size_t size, md_autolink *type)
{
    *type = MKDA_NOT_AUTOLINK;
    if (size < 3 || data[0] != '<')
        return 0;
    size_t i = data[1] == '/' ? 2 : 1;
    if (!is_alnum(data[i]))
        return 0;
    size_t name_start = i;
    while (i < size && (is_alnum(data[i]) || data[i] == '.' || data[i] == '+' || data[i] == '-'))
        ++i;

    if (i - name_start >= 1 && i < size && data[i] == '@') {
        size_t j = is_mail_autolink(data + i, size - i);
        if (j) {
            *type = MKDA_EMAIL;
            return i + j;
        }
    }
    if (i - name_start >= 2 && i < size && data[i] == ':') {
        ++i;
        size_t j = i;
        while (i < size) {
            if (data[i] == '\\')
                i += 2;
            else if (data[i] == '>' || data[i] == '\'' || data[i] == '"' || data[i] == ' ' || data[i] == '\n')
                break;
            else
                ++i;
        }
        if (i >= size)
            return 0;
        if (i > j && data[i] == '>') {
            *type = MKDA_NORMAL;
            return i + 1;
        }
        // a forbidden byte came first: an ordinary tag
    }
    while (i < size && data[i] != '>')
        ++i;
    if (i >= size)
        return 0;
    return i + 1;
}

size_t char_langle_tag(buf *ob, md_parser *md, uint8_t *data, size_t offset, size_t size)
{
    // Every tag and automatic link ends at a ">".
    if (span_last(md, MD_LAST_ANGLE) <= offset + 1)
        return 0;

    md_autolink type;
    size_t end = tag_length(data, size, &type);
    int ret = 0;
    if (end > 2) {
        if (md->cb.autolink && type != MKDA_NOT_AUTOLINK) {
            buf *u_link = rndr_newbuf(md, BUFFER_SPAN);
            unscape_text(u_link, data + 1, end - 2);
            ret = md->cb.autolink(ob, u_link, type, md->opaque);
            rndr_popbuf(md, BUFFER_SPAN);
        } else if (md->cb.raw_html_tag) {
            buf work = {data, end, 0, 1};
            ret = md->cb.raw_html_tag(ob, &work, md->opaque);
        }
    }
    return ret ? end : 0;
}

// Reference name from link text: a line feed becomes a space unless a space precedes it.
const buf *link_text_name(md_parser *md, uint8_t *text, size_t size, bool has_nl, buf *plain)
{
    if (!has_nl) {
        *plain = {text, size, 0, 1};
        return plain;
    }
    buf *b = rndr_newbuf(md, BUFFER_SPAN);
    for (size_t j = 0; j < size; ++j) {
        if (text[j] != '\n')
            bufputc(b, text[j]);
        else if (j == 0 || text[j - 1] != ' ')
            bufputc(b, ' ');
    }
    return b;
}

// The "]" balancing the "[" at data[0] ("[" and "]" after a backslash do not count): its offset
// in *close, and whether a line feed lies before it.
bool find_closing_bracket(const uint8_t *data, size_t size, size_t *close, bool *has_nl)
{
    int level = 1;
    bool nl = false;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == '\n')
            nl = true;
        else if (data[i - 1] == '\\')
            continue;
        else if (data[i] == '[')
            ++level;
        else if (data[i] == ']' && --level <= 0) {
            *close = i;
            *has_nl = nl;
            return true;
        }
    }
    return false;
}

// For every counted "[" of the span (one not after a backslash), the offset of its balancing "]"
// plus 1, or 0; the same answers find_closing_bracket gives, for the whole span in one pass. The
// stack of open brackets is threaded through the table itself (entries marked with the top bit).
// Null when memory runs out.
uint32_t *build_close_table(const uint8_t *data, size_t size)
{
    static_assert(BUFFER_MAX_ALLOC_SIZE < 0x80000000u, "offsets fit below the mark bit");
    const uint32_t mark = 0x80000000u;
    uint32_t *table = static_cast<uint32_t *>(std::calloc(size ? size : 1, sizeof(uint32_t)));
    if (!table)
        return nullptr;
    uint32_t top = 0; // offset of the innermost open "[" plus 1; 0 when none is open
    for (size_t i = 0; i < size; ++i) {
        if (i > 0 && data[i - 1] == '\\')
            continue;
        if (data[i] == '[') {
            table[i] = mark | top;
            top = static_cast<uint32_t>(i + 1);
        } else if (data[i] == ']' && top) {
            size_t open = top - 1;
            top = table[open] & ~mark;
            table[open] = static_cast<uint32_t>(i + 1);
        }
    }
    while (top) {
        size_t open = top - 1;
        top = table[open] & ~mark;
        table[open] = 0;
    }
    return table;
}

// The ">" of a destination written as "<...>" from data[i] (a backslash takes the next byte
// with it; no line feed or other "<" inside), when spaces and then a quote or ")" follow it;
// otherwise 0.
size_t angle_destination_end(const uint8_t *data, size_t i, size_t size)
{
    if (i >= size || data[i] != '<')
        return 0;
    size_t j = i + 1;
    while (j < size && data[j] != '>' && data[j] != '<' && data[j] != '\n')
        j += data[j] == '\\' ? 2 : 1;
    if (j >= size || data[j] != '>')
        return 0;
    size_t k = j + 1;
    while (k < size && is_space_or_lf(data[k]))
        ++k;
    if (k >= size)
        return 0;
    if (data[k] == ')' || (k > j + 1 && (data[k] == '\'' || data[k] == '"')))
        return j;
    return 0;
}

size_t char_link(buf *ob, md_parser *md, uint8_t *data, size_t offset, size_t size)
{
    bool is_img = offset && data[-1] == '!';
    if ((is_img && !md->cb.image) || (!is_img && !md->cb.link))
        return 0;

    size_t txt_e;
    bool text_has_nl = false;
    if (md->span.close_table && (offset == 0 || data[-1] != '\\')) {
        uint32_t close = md->span.close_table[offset];
        if (!close)
            return 0;
        txt_e = close - 1 - offset;
        text_has_nl = std::memchr(data + 1, '\n', txt_e - 1) != nullptr;
    } else if (!find_closing_bracket(data, size, &txt_e, &text_has_nl)) {
        if (!md->span.close_table)
            md->span.close_table = build_close_table(md->span.data, md->span.size);
        return 0;
    }

    size_t org_work_size = md->work_bufs[BUFFER_SPAN].size;
    const buf *link = nullptr, *title = nullptr;
    buf *content = nullptr, *u_link = nullptr, title_buf;
    int ret = 0;

    size_t i = txt_e + 1;

    while (i < size && is_space_or_lf(data[i]))
        ++i;

    if (i < size && data[i] == '(') {
        // Inline link: destination, optional quoted title, ")".
        ++i;
        if (span_last(md, MD_LAST_PAREN) <= offset + i)
            goto cleanup;
        while (i < size && is_space_or_lf(data[i]))
            ++i;
        const size_t dest_b = i;
        size_t link_b = i, link_e;
        // "<" opens a destination that runs to its ">" and may hold parentheses; it counts only
        // when a title or the ")" follows.
        size_t angle_e = angle_destination_end(data, i, size);
        if (angle_e) {
            link_b = i + 1;
            link_e = angle_e;
            i = angle_e + 1;
            while (i < size && is_space_or_lf(data[i]))
                ++i;
        } else {
            while (i < size) {
                if (data[i] == '\\')
                    i += 2;
                else if (data[i] == ')')
                    break;
                else if (i >= 1 && is_space_or_lf(data[i - 1]) && (data[i] == '\'' || data[i] == '"'))
                    break;
                else
                    ++i;
            }
            if (i >= size)
                goto cleanup;
            link_e = i;
        }

        size_t title_b = 0, title_e = 0;
        if (data[i] == '\'' || data[i] == '"') {
            uint8_t qtype = data[i];
            bool in_title = true;
            title_b = ++i;
            while (i < size) {
                if (data[i] == '\\')
                    i += 2;
                else if (data[i] == qtype) {
                    in_title = false;
                    ++i;
                } else if (data[i] == ')' && !in_title)
                    break;
                else
                    ++i;
            }
            if (i >= size)
                goto cleanup;
            title_e = i - 1;
            while (title_e > title_b && is_space_or_lf(data[title_e]))
                --title_e;
            if (data[title_e] != '\'' && data[title_e] != '"') {
                title_b = title_e = 0;
                link_b = dest_b;
                link_e = i;
                angle_e = 0;
            }
        }

        if (!angle_e) {
            while (link_e > link_b && is_space_or_lf(data[link_e - 1]))
                --link_e;
            if (link_e > link_b && data[link_b] == '<')
                ++link_b;
            if (link_e > link_b && data[link_e - 1] == '>')
                --link_e;
        }

        if (link_e > link_b) {
            buf *b = rndr_newbuf(md, BUFFER_SPAN);
            bufput(b, data + link_b, link_e - link_b);
            link = b;
        }
        if (title_e > title_b) {
            buf *b = rndr_newbuf(md, BUFFER_SPAN);
            bufput(b, data + title_b, title_e - title_b);
            title = b;
        }
        ++i;
    } else if (i < size && data[i] == '[') {
        // Reference link: [text][name], or [text][] with the text as name.
        size_t link_b = ++i;
        if (span_last(md, MD_LAST_BRACKET) <= offset + i)
            goto cleanup;
        while (i < size && data[i] != ']')
            ++i;
        if (i >= size)
            goto cleanup;
        size_t link_e = i;
        const buf *id;
        if (link_b == link_e)
            id = link_text_name(md, data + 1, txt_e - 1, text_has_nl, &title_buf);
        else {
            title_buf = {data + link_b, link_e - link_b, 0, 1};
            id = &title_buf;
        }
        link_ref *lr = find_link_ref(md->refs, id->data, id->size);
        if (!lr)
            goto cleanup;
        link = lr->link;
        title = lr->title;
        ++i;
    } else {
        // Shortcut reference: [text].
        const buf *id = link_text_name(md, data + 1, txt_e - 1, text_has_nl, &title_buf);
        link_ref *lr = find_link_ref(md->refs, id->data, id->size);
        if (!lr)
            goto cleanup;
        link = lr->link;
        title = lr->title;
        i = txt_e + 1;
    }

    if (txt_e > 1) {
        content = rndr_newbuf(md, BUFFER_SPAN);
        if (is_img) {
            bufput(content, data + 1, txt_e - 1);
        } else {
            // Links inside link text are still read; the flag only tells extensions.
            int was_in_link = md->in_link_body;
            md->in_link_body = 1;
            parse_inline(content, md, data + 1, txt_e - 1);
            md->in_link_body = was_in_link;
        }
    }
    if (link && link->size) {
        u_link = rndr_newbuf(md, BUFFER_SPAN);
        unscape_text(u_link, link->data, link->size);
    }

    if (is_img) {
        // The "!" already written as text belongs to the image; put it back if the image is
        // refused, so that the source stays text as a whole.
        bool had_bang = ob->size && ob->data[ob->size - 1] == '!';
        if (had_bang)
            ob->size--;
        ret = md->cb.image(ob, u_link, title, content, md->opaque);
        if (!ret && had_bang)
            bufputc(ob, '!');
    } else {
        ret = md->cb.link(ob, u_link, title, content, md->opaque);
    }

cleanup:
    md->work_bufs[BUFFER_SPAN].size = org_work_size;
    return ret ? i : 0;
}

const char_trigger markdown_char_ptrs[] = {
    nullptr, char_emphasis, char_codespan, char_linebreak, char_link, char_langle_tag, char_escape,
    char_entity,
};

} // namespace

void parse_inline(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    if (md_nesting_exceeded(md))
        return;
    const auto outer_span = md->span;
    md->span = {data, size, nullptr, {}, {}};
    size_t i = 0, end = 0;
    while (i < size) {
        end = skip_unmarked(data, end, size, md_active_candidates, md->active_char);
        if (end > i)
            put_text(ob, md, data + i, end - i);
        if (end >= size)
            break;
        i = end;
        size_t consumed = markdown_char_ptrs[md->active_char[data[i]]](ob, md, data + i, i, size - i);
        if (!consumed) {
            end = i + 1;
        } else {
            i += consumed;
            end = i;
        }
    }
    std::free(md->span.close_table);
    md->span = outer_span;
}
