// Span-level grammar: emphasis, code spans, hard line breaks, links and images, angle-bracket
// tags and automatic links, backslash escapes and entities.

#include "parser_internal.h"
#include "scan.h"

#include <algorithm>
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

// The memos of the current span, made on first need; null when memory runs out (the scans then
// only lose time).
md_span_memos *span_memos(md_parser *md)
{
    if (!md->span->memos) {
        md_span_memos *m = static_cast<md_span_memos *>(std::malloc(sizeof(md_span_memos)));
        if (!m)
            return nullptr;
        *m = md_span_memos{{}, {{}, {}}, {}, nullptr, {nullptr, nullptr, 0}};
        md->span->memos = m;
    }
    return md->span->memos;
}

// The first c (']' or ')') at or after from in the current span; the span's size when none. An
// answer is kept: asked again from inside the stretch it crossed, it comes at once.
size_t span_next(md_parser *md, uint8_t c, size_t from)
{
    const int k = c == ']' ? 0 : 1;
    if (md->span->next_from[k] <= from && from <= md->span->next_at[k])
        return md->span->next_at[k];
    const size_t size = md->span->size;
    const void *p = from < size ? std::memchr(md->span->data + from, c, size - from) : nullptr;
    md->span->next_from[k] = from;
    md->span->next_at[k] = p ? static_cast<size_t>(static_cast<const uint8_t *>(p) - md->span->data) : size;
    return md->span->next_at[k];
}

// Records the backtick runs of the current span (see md_backtick_runs); false when memory runs out.
bool build_backtick_runs(md_parser *md)
{
    const uint8_t *d = md->span->data;
    const size_t size = md->span->size;
    size_t count = 0;
    for (size_t i = 0; i < size; ++i)
        if (d[i] == '`' && (i == 0 || d[i - 1] != '`'))
            ++count;
    md_backtick_runs runs = {static_cast<uint32_t *>(std::malloc((count ? count : 1) * sizeof(uint32_t))),
                             static_cast<uint32_t *>(std::malloc((count ? count : 1) * sizeof(uint32_t))), count};
    md_span_memos *m = span_memos(md);
    if (!m || !runs.end || !runs.longest) {
        std::free(runs.end);
        std::free(runs.longest);
        return false;
    }
    size_t k = 0;
    for (size_t i = 0; i < size;) {
        if (d[i] != '`') {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < size && d[i] == '`')
            ++i;
        runs.end[k] = static_cast<uint32_t>(i);
        runs.longest[k] = static_cast<uint32_t>(i - start);
        ++k;
    }
    for (size_t j = count; j-- > 1;)
        if (runs.longest[j] > runs.longest[j - 1])
            runs.longest[j - 1] = runs.longest[j];
    m->runs = runs;
    return true;
}

// The end of the backtick run of the current span that holds offset, counted from there: after a
// run that opened no code span, each of its later backticks asks again, and the runs, recorded by
// then, answer at once.
size_t backtick_run_end(md_parser *md, size_t offset)
{
    if (md->span->memos && md->span->memos->runs.end) {
        const md_backtick_runs &runs = md->span->memos->runs;
        size_t lo = 0, hi = runs.count;
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (runs.end[mid] <= offset)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo < runs.count)
            return runs.end[lo];
    }
    size_t i = offset;
    while (i < md->span->size && md->span->data[i] == '`')
        ++i;
    return i;
}

// The longest backtick run that ends after from; 0 when none. Only once the runs are known.
size_t longest_run_after(const md_backtick_runs &runs, size_t from)
{
    size_t lo = 0, hi = runs.count;
    while (lo < hi) { // the first run that ends after from
        const size_t mid = (lo + hi) / 2;
        if (runs.end[mid] <= from)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo == runs.count ? 0 : runs.longest[lo];
}

// The end (offset just after its closing backticks) of the code span of the current span whose
// opening run of nb backticks ends at from; 0 when it never closes. The first that never closes
// records the span's runs; from then on one that cannot close is known at once.
size_t codespan_close(md_parser *md, size_t from, size_t nb)
{
    const uint8_t *d = md->span->data;
    const size_t size = md->span->size;
    const bool known = md->span->memos && md->span->memos->runs.end;
    if (known && longest_run_after(md->span->memos->runs, from) < nb)
        return 0;
    size_t bt = 0, i = from;
    while (i < size && bt < nb) {
        bt = d[i] == '`' ? bt + 1 : 0;
        ++i;
    }
    if (bt >= nb)
        return i;
    if (!known)
        build_backtick_runs(md);
    return 0;
}

// ---- Emphasis scans ---------------------------------------------------------------------------

// One scan for the closer of an emphasis: the closer candidates it passes are kept, and when it
// fails they are marked in the span, so that a later scan of the same kind fails on reaching one
// instead of running over the same bytes again. From a candidate that does not close, a scan of
// one kind always goes on the same way, so a candidate from which one scan failed fails any.
struct emph_scan {
    md_parser *md;
    size_t base; // offset in the span of the scan's data
    uint8_t bit;

    emph_scan(md_parser *parser, const uint8_t *data, uint8_t c, int level)
        : md(parser), base(static_cast<size_t>(data - parser->span->data)),
          bit(static_cast<uint8_t>(1u << ((c == '_' ? 3 : 0) + level - 1)))
    {
        md->emph_path_size = 0;
    }

    // At the candidate i that does not close: true when the scan fails from here.
    bool doomed(size_t i)
    {
        const size_t at = base + i;
        const md_span_memos *m = md->span->memos;
        if (m && m->emph_doomed && (m->emph_doomed[at] & bit))
            return true;
        if (md->emph_path_size == md->emph_path_asize) {
            const size_t grown = md->emph_path_asize ? md->emph_path_asize * 2 : 64;
            void *p = std::realloc(md->emph_path, grown * sizeof(uint32_t));
            if (!p)
                return false; // this candidate goes unrecorded: only a later scan's time is lost
            md->emph_path = static_cast<uint32_t *>(p);
            md->emph_path_asize = grown;
        }
        md->emph_path[md->emph_path_size++] = static_cast<uint32_t>(at);
        return false;
    }

    // The scan found no closer: 0, after marking the candidates it passed.
    size_t fail()
    {
        md_span_memos *m = span_memos(md);
        if (m && !m->emph_doomed)
            m->emph_doomed = static_cast<uint8_t *>(std::calloc(md->span->size ? md->span->size : 1, 1));
        if (m && m->emph_doomed)
            for (size_t k = 0; k < md->emph_path_size; ++k)
                m->emph_doomed[md->emph_path[k]] |= bit;
        md->emph_path_size = 0;
        return 0;
    }
};

// Offset plus 1 of the last byte of the kind in the current span; 0 when there is none.
size_t span_last(md_parser *md, int kind)
{
    if (md->span->last_known[kind])
        return md->span->last[kind];
    const uint8_t *d = md->span->data;
    const size_t size = md->span->size;
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
    md->span->last[kind] = i;
    md->span->last_known[kind] = true;
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
    const size_t base = static_cast<size_t>(data - md->span->data);
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
            size_t span_nb = 0;
            while (i < size && data[i] == '`') {
                ++i;
                ++span_nb;
            }
            const size_t close = codespan_close(md, base + i, span_nb);
            if (!close) // the code span never closes
                return first_at_or_after(data, i, size, c);
            i = close - base;
        } else { // '['
            ++i;
            if (span_last(md, MD_LAST_BRACKET) <= base + i)
                return first_at_or_after(data, i, size, c);
            // The first "]" and the first c before it.
            size_t close = span_next(md, ']', base + i) - base;
            const void *inside = std::memchr(data + i, c, close - i);
            size_t tmp_i = inside ? static_cast<size_t>(static_cast<const uint8_t *>(inside) - data) : 0;
            i = close;
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
            close = span_next(md, cc, base + i) - base;
            if (!tmp_i) {
                inside = std::memchr(data + i, c, close - i);
                tmp_i = inside ? static_cast<size_t>(static_cast<const uint8_t *>(inside) - data) : 0;
            }
            i = close;
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
    emph_scan scan(md, data, c, 1);
    while (i < size) {
        size_t len = find_emph_char(md, data + i, size - i, c);
        if (!len)
            return scan.fail();
        i += len;
        if (i >= size)
            return scan.fail();
        if (data[i] == c && !is_space_or_lf(data[i - 1])) {
            if (!md->cb.emphasis)
                return 0;
            return render_span(ob, md, data, i, md->cb.emphasis) ? i + 1 : 0;
        }
        if (scan.doomed(i))
            return 0;
    }
    return scan.fail();
}

// Double emphasis; data starts after the opening cc.
size_t parse_emph2(buf *ob, md_parser *md, uint8_t *data, size_t size, uint8_t c)
{
    size_t i = 0;
    emph_scan scan(md, data, c, 2);
    while (i < size) {
        size_t len = find_emph_char(md, data + i, size - i, c);
        if (!len)
            return scan.fail();
        i += len;
        if (i + 1 < size && data[i] == c && data[i + 1] == c && i && !is_space_or_lf(data[i - 1])) {
            if (!md->cb.double_emphasis)
                return 0;
            return render_span(ob, md, data, i, md->cb.double_emphasis) ? i + 2 : 0;
        }
        if (scan.doomed(i))
            return 0;
        ++i;
    }
    return scan.fail();
}

// Triple emphasis; data starts after the opening ccc. A closing cc or c hands the text to the
// single or double rule, which reads it again from the second or third opening character.
size_t parse_emph3(buf *ob, md_parser *md, uint8_t *data, size_t size, uint8_t c)
{
    size_t i = 0;
    emph_scan scan(md, data, c, 3);
    while (i < size) {
        size_t len = find_emph_char(md, data + i, size - i, c);
        if (!len)
            return scan.fail();
        i += len;
        if (data[i] != c || is_space_or_lf(data[i - 1])) {
            if (scan.doomed(i))
                return 0;
            continue;
        }
        if (i + 2 < size && data[i + 1] == c && data[i + 2] == c && md->cb.triple_emphasis)
            return render_span(ob, md, data, i, md->cb.triple_emphasis) ? i + 3 : 0;
        if (i + 1 < size && data[i + 1] == c) {
            len = parse_emph1(ob, md, data - 2, size + 2, c);
            return len ? len - 2 : 0;
        }
        len = parse_emph2(ob, md, data - 1, size + 1, c);
        return len ? len - 1 : 0;
    }
    return scan.fail();
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
    // Its text would lie past the nesting limit: the emphasis stays text.
    if (md->work_bufs[BUFFER_BLOCK].size + md->work_bufs[BUFFER_SPAN].size + 1 > md->max_nesting)
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

size_t char_codespan(buf *ob, md_parser *md, uint8_t *data, size_t offset, size_t)
{
    const size_t nb = backtick_run_end(md, offset) - offset;
    const size_t close = codespan_close(md, offset + nb, nb);
    if (!close) {
        // Every later backtick of the run that opens a span longer than any later run opens
        // nothing either: those are text at once.
        if (!md->span->memos || !md->span->memos->runs.end)
            return 0;
        const size_t text = nb - longest_run_after(md->span->memos->runs, offset + nb);
        md_put_text(ob, md, data, text);
        return text;
    }
    const size_t end = close - offset;

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
        md_put_text(ob, md, data + 1, 1);
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
const buf *link_text_name(md_parser *md, uint8_t *text, size_t size, buf *plain)
{
    if (!std::memchr(text, '\n', size)) {
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

// The definition a link text names; null when none. A text longer than a label is never looked
// up, so that a run of nested brackets does not hash its whole text at every bracket.
link_ref *link_text_ref(md_parser *md, uint8_t *text, size_t size, buf *plain)
{
    if (!md->refs.count || size > MD_LINK_LABEL_MAX)
        return nullptr;
    const buf *id = link_text_name(md, text, size, plain);
    return find_link_ref(&md->refs, id->data, id->size);
}

// The "]" balancing the "[" at data[0] ("[" and "]" after a backslash do not count): its offset
// in *close. Adds the bytes it read to *scanned.
bool find_closing_bracket(const uint8_t *data, size_t size, size_t *close, size_t *scanned)
{
    int level = 1;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == '\n')
            continue;
        else if (data[i - 1] == '\\')
            continue;
        else if (data[i] == '[')
            ++level;
        else if (data[i] == ']' && --level <= 0) {
            *close = i;
            *scanned += i;
            return true;
        }
    }
    *scanned += size;
    return false;
}

// For every "[" of the span, the offset of its balancing "]" plus 1, or 0: the same answers
// find_closing_bracket gives, for the whole span in one pass. Brackets after a backslash are not
// counted; such a "[" still has its balancing "]": the first counted "]" met while as many counted
// brackets are open as when it came. The stack of open brackets is threaded through the table
// itself (entries marked with the top bit); those "[" wait on a stack of their own, with the depth
// they wait for. Null when memory runs out.
uint32_t *build_close_table(const uint8_t *data, size_t size)
{
    static_assert(BUFFER_MAX_ALLOC_SIZE < 0x80000000u, "offsets fit below the mark bit");
    const uint32_t mark = 0x80000000u;
    uint32_t *table = static_cast<uint32_t *>(std::calloc(size ? size : 1, sizeof(uint32_t)));
    if (!table)
        return nullptr;
    uint32_t *waiting = nullptr; // pairs: offset of the "[", depth it waits for
    size_t waiting_size = 0, waiting_asize = 0;
    uint32_t top = 0; // offset of the innermost open "[" plus 1; 0 when none is open
    uint32_t depth = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '[' && data[i] != ']')
            continue;
        if (i > 0 && data[i - 1] == '\\') {
            if (data[i] == ']')
                continue;
            if (waiting_size == waiting_asize) {
                const size_t grown = waiting_asize ? waiting_asize * 2 : 16;
                void *p = std::realloc(waiting, grown * 2 * sizeof(uint32_t));
                if (!p) {
                    std::free(waiting);
                    std::free(table);
                    return nullptr;
                }
                waiting = static_cast<uint32_t *>(p);
                waiting_asize = grown;
            }
            waiting[2 * waiting_size] = static_cast<uint32_t>(i);
            waiting[2 * waiting_size + 1] = depth;
            ++waiting_size;
            continue;
        }
        if (data[i] == '[') {
            table[i] = mark | top;
            top = static_cast<uint32_t>(i + 1);
            ++depth;
            continue;
        }
        while (waiting_size && waiting[2 * waiting_size - 1] == depth) {
            --waiting_size;
            table[waiting[2 * waiting_size]] = static_cast<uint32_t>(i + 1);
        }
        if (top) {
            size_t open = top - 1;
            top = table[open] & ~mark;
            table[open] = static_cast<uint32_t>(i + 1);
            --depth;
        }
    }
    while (top) {
        size_t open = top - 1;
        top = table[open] & ~mark;
        table[open] = 0;
    }
    std::free(waiting);
    return table;
}

// What a scan of a link destination or title that steps over backslash pairs does at i (data is
// the link opener at offset in the span), from what the scans of its kind found (memo; see
// md_scan_memo; other_fail: a failure that also dooms it). Keeps in *first the first position it
// passes that no scan steps over.
enum scan_step { SCAN_ON, SCAN_FAIL, SCAN_FOUND };
inline scan_step scan_memo_at(const uint8_t *data, size_t offset, size_t i, const md_scan_memo &memo,
                              size_t other_fail, size_t *first)
{
    if (data[i - 1] == '\\')
        return SCAN_ON; // a scan may have stepped over this byte
    const size_t at = offset + i;
    if (at >= memo.fail_from || at >= other_fail)
        return SCAN_FAIL;
    if (memo.ok_from <= at && at < memo.ok_until)
        return SCAN_FOUND;
    if (*first == SIZE_MAX)
        *first = at;
    return SCAN_ON;
}

// The memos of the link tail scans: the destination's, the title's within quotes of each kind,
// the title's after its closing quote.
enum scan_kind { SCAN_DEST, SCAN_TITLE_DOUBLE, SCAN_TITLE_SINGLE, SCAN_AFTER_TITLE };

md_scan_memo *pick_memo(md_span_memos *m, scan_kind kind)
{
    switch (kind) {
    case SCAN_DEST:
        return &m->dest;
    case SCAN_TITLE_DOUBLE:
        return &m->title_open[0];
    case SCAN_TITLE_SINGLE:
        return &m->title_open[1];
    default:
        return &m->title_closed;
    }
}

// What the scans of the kind found so far in the current span.
const md_scan_memo &read_memo(md_parser *md, scan_kind kind)
{
    static const md_scan_memo nothing_known;
    return md->span->memos ? *pick_memo(md->span->memos, kind) : nothing_known;
}

// Records how a scan ended: found at offset at (SIZE_MAX: failed), having run in this state
// from first until until. A failure, or an end found far away (a link the callback may still
// refuse, as an image without a destination, would be read again from each later opener), makes
// the span's memos; a near end is kept only once they exist.
void keep_memo(md_parser *md, scan_kind kind, size_t first, size_t until, size_t at)
{
    if (first == SIZE_MAX)
        return;
    const bool far = at == SIZE_MAX || at - first > 256;
    md_span_memos *m = far ? span_memos(md) : md->span->memos;
    if (!m)
        return;
    md_scan_memo &memo = *pick_memo(m, kind);
    if (at == SIZE_MAX) {
        memo.fail_from = std::min(memo.fail_from, first);
    } else if (first < until) {
        memo.ok_from = first;
        memo.ok_until = until;
        memo.ok_at = at;
    }
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

    // Brackets are looked for one at a time until the looking has read as much as the span
    // holds (most spans have a few short links); from then on the close table answers.
    md_span *span = md->span;
    if (!span->close_table && span->bracket_scanned > span->size)
        span->close_table = build_close_table(span->data, span->size);
    size_t txt_e;
    if (span->close_table) {
        uint32_t close = span->close_table[offset];
        if (!close)
            return 0;
        txt_e = close - 1 - offset;
    } else if (!find_closing_bracket(data, size, &txt_e, &span->bracket_scanned)) {
        return 0;
    }

    size_t org_work_size = md->work_bufs[BUFFER_SPAN].size;
    const buf *link = nullptr, *title = nullptr;
    buf *content = nullptr, *u_link = nullptr, title_buf, content_buf, link_buf, title_view;
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
            const md_scan_memo &memo = read_memo(md, SCAN_DEST);
            size_t first = SIZE_MAX;
            while (i < size) {
                const scan_step step = scan_memo_at(data, offset, i, memo, SIZE_MAX, &first);
                if (step != SCAN_ON) {
                    i = step == SCAN_FAIL ? size : memo.ok_at - offset;
                    break;
                }
                if (data[i] == '\\')
                    i += 2;
                else if (data[i] == ')')
                    break;
                else if (i >= 1 && is_space_or_lf(data[i - 1]) && (data[i] == '\'' || data[i] == '"'))
                    break;
                else
                    ++i;
            }
            const size_t found = i < size ? offset + i : SIZE_MAX;
            keep_memo(md, SCAN_DEST, first, found, found);
            if (i >= size)
                goto cleanup;
            link_e = i;
        }

        size_t title_b = 0, title_e = 0;
        if (data[i] == '\'' || data[i] == '"') {
            uint8_t qtype = data[i];
            const scan_kind open_kind = qtype == '"' ? SCAN_TITLE_DOUBLE : SCAN_TITLE_SINGLE;
            const md_scan_memo &open_memo = read_memo(md, open_kind);
            const md_scan_memo &closed_memo = read_memo(md, SCAN_AFTER_TITLE);
            bool in_title = true;
            size_t first_open = SIZE_MAX, first_closed = SIZE_MAX, title_end = SIZE_MAX;
            title_b = ++i;
            while (i < size) {
                // Within the title a scan also fails where one failed after it.
                const scan_step step = in_title
                                           ? scan_memo_at(data, offset, i, open_memo, closed_memo.fail_from, &first_open)
                                           : scan_memo_at(data, offset, i, closed_memo, SIZE_MAX, &first_closed);
                if (step != SCAN_ON) {
                    i = step == SCAN_FAIL ? size : (in_title ? open_memo : closed_memo).ok_at - offset;
                    break;
                }
                if (data[i] == '\\')
                    i += 2;
                else if (data[i] == qtype) {
                    if (in_title)
                        title_end = offset + i + 1;
                    in_title = false;
                    ++i;
                } else if (data[i] == ')' && !in_title)
                    break;
                else
                    ++i;
            }
            const size_t found = i < size ? offset + i : SIZE_MAX;
            keep_memo(md, open_kind, first_open, title_end == SIZE_MAX ? found : title_end, found);
            keep_memo(md, SCAN_AFTER_TITLE, first_closed, found, found);
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

        // Read in place: a link the callback refuses costs no copy of them.
        if (link_e > link_b) {
            link_buf = {data + link_b, link_e - link_b, 0, 1};
            link = &link_buf;
        }
        if (title_e > title_b) {
            title_view = {data + title_b, title_e - title_b, 0, 1};
            title = &title_view;
        }
        ++i;
    } else if (i < size && data[i] == '[') {
        // Reference link: [text][name], or [text][] with the text as name.
        size_t link_b = ++i;
        if (span_last(md, MD_LAST_BRACKET) <= offset + i)
            goto cleanup;
        i = span_next(md, ']', offset + i) - offset;
        if (i >= size)
            goto cleanup;
        size_t link_e = i;
        link_ref *lr;
        if (link_b == link_e) {
            lr = link_text_ref(md, data + 1, txt_e - 1, &title_buf);
        } else if (md->refs.count && link_e - link_b <= MD_LINK_LABEL_MAX) {
            title_buf = {data + link_b, link_e - link_b, 0, 1};
            lr = find_link_ref(&md->refs, title_buf.data, title_buf.size);
        } else {
            lr = nullptr;
        }
        if (!lr)
            goto cleanup;
        link = lr->link;
        title = lr->title;
        ++i;
    } else {
        // Shortcut reference: [text].
        link_ref *lr = link_text_ref(md, data + 1, txt_e - 1, &title_buf);
        if (!lr)
            goto cleanup;
        link = lr->link;
        title = lr->title;
        i = txt_e + 1;
    }

    if (txt_e > 1) {
        if (is_img) {
            // The alternative text is the source text as it stands.
            content_buf = {data + 1, txt_e - 1, 0, 1};
            content = &content_buf;
        } else {
            content = rndr_newbuf(md, BUFFER_SPAN);
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

void md_put_text(buf *ob, md_parser *md, const uint8_t *data, size_t size)
{
    if (md->cb.normal_text) {
        buf work = {const_cast<uint8_t *>(data), size, 0, 1};
        md->cb.normal_text(ob, &work, md->opaque);
    } else {
        bufput(ob, data, size);
    }
}

void parse_inline(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    if (md_nesting_exceeded(md)) {
        md_put_text(ob, md, data, size);
        return;
    }
    md_span span;
    span.data = data;
    span.size = size;
    span.close_table = nullptr;
    span.bracket_scanned = 0;
    std::memset(span.last_known, 0, sizeof span.last_known);
    span.next_from[0] = span.next_from[1] = SIZE_MAX;
    span.next_at[0] = span.next_at[1] = 0;
    span.memos = nullptr;
    md_span *outer_span = md->span;
    md->span = &span;
    size_t i = 0, end = 0;
    while (i < size) {
        end = skip_unmarked(data, end, size, md_active_candidates, md->active_char);
        if (end > i)
            md_put_text(ob, md, data + i, end - i);
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
    std::free(span.close_table);
    if (span.memos) {
        std::free(span.memos->emph_doomed);
        std::free(span.memos->runs.end);
        std::free(span.memos->runs.longest);
        std::free(span.memos);
    }
    md->span = outer_span;
}
