// Parser object, first pass over the document (line ends, tabs, link definitions) and the
// block-level grammar.

#include "parser_internal.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char *const block_tags[] = {
    "blockquote", "del", "div", "dl", "fieldset", "figure", "form", "h1", "h2", "h3", "h4", "h5",
    "h6", "iframe", "ins", "math", "noscript", "ol", "p", "pre", "script", "style", "table", "ul",
};

inline uint8_t ascii_lower(uint8_t c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + ('a' - 'A')) : c;
}

inline bool is_line_end(uint8_t c)
{
    return c == '\n' || c == '\r';
}

// End of the line starting at beg: just after its line feed, or size.
inline size_t line_end_after(const uint8_t *data, size_t beg, size_t size)
{
    const void *lf = beg < size ? std::memchr(data + beg, '\n', size - beg) : nullptr;
    return lf ? static_cast<size_t>(static_cast<const uint8_t *>(lf) - data) + 1 : size;
}

unsigned int hash_link_ref(const uint8_t *name, size_t length)
{
    unsigned int hash = 0;
    for (size_t i = 0; i < length; ++i)
        hash = ascii_lower(name[i]) + (hash << 6) + (hash << 16) - hash; // lower + 65599 * hash
    return hash;
}

link_ref *add_link_ref(link_ref **refs, const uint8_t *name, size_t length)
{
    link_ref *ref = static_cast<link_ref *>(std::calloc(1, sizeof(link_ref)));
    if (!ref)
        return nullptr;
    ref->id = hash_link_ref(name, length);
    ref->next = refs[ref->id % REF_TABLE_SIZE];
    refs[ref->id % REF_TABLE_SIZE] = ref;
    return ref;
}

void free_link_refs(link_ref **refs)
{
    for (size_t i = 0; i < REF_TABLE_SIZE; ++i) {
        link_ref *r = refs[i];
        while (r) {
            link_ref *next = r->next;
            bufrelease(r->link);
            bufrelease(r->title);
            std::free(r);
            r = next;
        }
        refs[i] = nullptr;
    }
}

// Consumes one line end at i: "\n", "\r", "\r\n" or "\n\r".
size_t skip_line_end(const uint8_t *data, size_t i, size_t end)
{
    if (i < end && is_line_end(data[i])) {
        uint8_t first = data[i++];
        if (i < end && is_line_end(data[i]) && data[i] != first)
            ++i;
    }
    return i;
}

// A link definition at beg: records it and returns true with *last just after its lines.
// The document here is still raw: line ends may be "\n", "\r" or "\r\n".
bool is_ref(const uint8_t *data, size_t beg, size_t end, size_t *last, link_ref **refs)
{
    if (beg + 3 >= end)
        return false;
    size_t i = beg;
    while (i < beg + 3 && data[i] == ' ')
        ++i;
    if (data[i] != '[')
        return false;
    ++i;
    size_t id_offset = i;
    while (i < end && !is_line_end(data[i]) && data[i] != ']')
        ++i;
    if (i >= end || data[i] != ']')
        return false;
    size_t id_end = i;
    ++i;
    if (i >= end || data[i] != ':')
        return false;
    ++i;

    while (i < end && data[i] == ' ')
        ++i;
    i = skip_line_end(data, i, end);
    while (i < end && data[i] == ' ')
        ++i;
    if (i >= end)
        return false;

    if (data[i] == '<')
        ++i;
    size_t link_offset = i;
    while (i < end && data[i] != ' ' && !is_line_end(data[i]))
        ++i;
    size_t link_end = (i > link_offset && data[i - 1] == '>') ? i - 1 : i;
    if (link_end == link_offset)
        return false;

    while (i < end && data[i] == ' ')
        ++i;
    if (i < end && !is_line_end(data[i]) && data[i] != '\'' && data[i] != '"' && data[i] != '(')
        return false;

    // The end of the link's line; the definition covers at least that line.
    size_t link_line_end = i;
    while (link_line_end < end && !is_line_end(data[link_line_end]))
        ++link_line_end;
    size_t def_end = skip_line_end(data, link_line_end, end);

    if (i < end && is_line_end(data[i])) {
        i = skip_line_end(data, i, end);
        while (i < end && data[i] == ' ')
            ++i;
    }

    size_t title_offset = 0, title_end = 0;
    if (i < end && (data[i] == '\'' || data[i] == '"' || data[i] == '(')) {
        ++i;
        size_t t_beg = i;
        while (i < end && !is_line_end(data[i]))
            ++i;
        size_t title_line_end = i;
        size_t t_end = i;
        while (t_end > t_beg && data[t_end - 1] == ' ')
            --t_end;
        if (t_end > t_beg
            && (data[t_end - 1] == '\'' || data[t_end - 1] == '"' || data[t_end - 1] == ')')) {
            title_offset = t_beg;
            title_end = t_end - 1;
            def_end = skip_line_end(data, title_line_end, end);
        }
    }

    *last = def_end;
    link_ref *ref = add_link_ref(refs, data + id_offset, id_end - id_offset);
    if (!ref)
        return true; // out of memory: the definition's lines are skipped all the same
    ref->link = bufnew(link_end - link_offset);
    if (ref->link)
        bufput(ref->link, data + link_offset, link_end - link_offset);
    if (title_end > title_offset) {
        ref->title = bufnew(title_end - title_offset);
        if (ref->title)
            bufput(ref->title, data + title_offset, title_end - title_offset);
    }
    return true;
}

// Appends a line with tabs expanded to the next multiple of 4 columns (counted in bytes).
void expand_tabs(buf *ob, const uint8_t *line, size_t size)
{
    static const char spaces[4] = {' ', ' ', ' ', ' '};
    size_t i = 0, col = 0;
    while (i < size) {
        const void *tab = std::memchr(line + i, '\t', size - i);
        const size_t stop = tab ? static_cast<size_t>(static_cast<const uint8_t *>(tab) - line) : size;
        if (stop > i) {
            bufput(ob, line + i, stop - i);
            col += stop - i;
        }
        if (stop >= size)
            break;
        const size_t fill = 4 - col % 4;
        bufput(ob, spaces, fill);
        col += fill;
        i = stop + 1;
    }
}

// Finds where lines end, for a pass from the start of data to its end: the next "\n" and the
// next "\r" at or after a position, each looked for again only once passed, so that text with
// one kind of line end never scans to the end of the data for the other at every line.
struct line_end_finder {
    const uint8_t *data;
    size_t end;
    size_t next_lf = 0, next_cr = 0;
    bool lf_known = false, cr_known = false;

    size_t next(uint8_t c, size_t from, size_t &pos, bool &known) const
    {
        if (known && pos >= from)
            return pos;
        const void *hit = std::memchr(data + from, c, end - from);
        pos = hit ? static_cast<size_t>(static_cast<const uint8_t *>(hit) - data) : end;
        known = true;
        return pos;
    }

    // The first "\n" or "\r" at or after from; end when none.
    size_t content_end(size_t from)
    {
        if (from >= end)
            return end;
        const size_t lf = next('\n', from, next_lf, lf_known);
        const size_t cr = next('\r', from, next_cr, cr_known);
        return lf < cr ? lf : cr;
    }
};

// ---- Block-level predicates -------------------------------------------------------------------

bool is_hrule(const uint8_t *data, size_t size)
{
    if (size < 3)
        return false;
    size_t i = 0;
    while (i < 3 && i < size && data[i] == ' ')
        ++i;
    if (i + 2 >= size || (data[i] != '*' && data[i] != '-' && data[i] != '_'))
        return false;
    uint8_t c = data[i];
    size_t n = 0;
    while (i < size && data[i] != '\n') {
        if (data[i] == c)
            ++n;
        else if (data[i] != ' ')
            return false;
        ++i;
    }
    return n >= 3;
}

bool is_atxheader(const md_parser *, const uint8_t *data, size_t size)
{
    return size > 0 && data[0] == '#';
}

// Setext underline: 1 for "=", 2 for "-", else 0.
int is_headerline(const uint8_t *data, size_t size)
{
    if (size == 0 || (data[0] != '=' && data[0] != '-'))
        return 0;
    uint8_t c = data[0];
    size_t i = 1;
    while (i < size && data[i] == c)
        ++i;
    while (i < size && data[i] == ' ')
        ++i;
    if (i < size && data[i] != '\n')
        return 0;
    return c == '=' ? 1 : 2;
}

bool is_next_headerline(const uint8_t *data, size_t size)
{
    const size_t i = line_end_after(data, 0, size);
    if (i >= size)
        return false;
    return is_headerline(data + i, size - i) != 0;
}

size_t prefix_quote(const uint8_t *data, size_t size)
{
    size_t i = 0;
    while (i < 3 && i < size && data[i] == ' ')
        ++i;
    if (i < size && data[i] == '>') {
        if (i + 1 < size && data[i + 1] == ' ')
            return i + 2;
        return i + 1;
    }
    return 0;
}

size_t prefix_code(const uint8_t *data, size_t size)
{
    if (size > 3 && data[0] == ' ' && data[1] == ' ' && data[2] == ' ' && data[3] == ' ')
        return 4;
    return 0;
}

size_t prefix_oli(const uint8_t *data, size_t size)
{
    size_t i = 0;
    while (i < 3 && i < size && data[i] == ' ')
        ++i;
    if (i >= size || data[i] < '0' || data[i] > '9')
        return 0;
    while (i < size && data[i] >= '0' && data[i] <= '9')
        ++i;
    if (i + 1 >= size || data[i] != '.' || data[i + 1] != ' ')
        return 0;
    if (is_next_headerline(data + i, size - i))
        return 0;
    return i + 2;
}

size_t prefix_uli(const uint8_t *data, size_t size)
{
    size_t i = 0;
    while (i < 3 && i < size && data[i] == ' ')
        ++i;
    if (i + 1 >= size || (data[i] != '*' && data[i] != '+' && data[i] != '-') || data[i + 1] != ' ')
        return 0;
    if (is_next_headerline(data + i, size - i))
        return 0;
    return i + 2;
}

// ---- Block constructs -------------------------------------------------------------------------

size_t parse_atxheader(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    size_t level = 0;
    while (level < size && level < 6 && data[level] == '#')
        ++level;
    size_t i = level;
    while (i < size && data[i] == ' ')
        ++i;
    size_t end = i;
    while (end < size && data[end] != '\n')
        ++end;
    size_t skip = end;
    while (end > i && data[end - 1] == '#')
        --end;
    while (end > i && data[end - 1] == ' ')
        --end;
    if (end > i && md->cb.header) {
        buf *work = rndr_newbuf(md, BUFFER_SPAN);
        parse_inline(work, md, data + i, end - i);
        md->cb.header(ob, work, static_cast<int>(level), md->opaque);
        rndr_popbuf(md, BUFFER_SPAN);
    }
    return skip;
}

size_t parse_blockquote(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    buf *out = rndr_newbuf(md, BUFFER_BLOCK);
    uint8_t *work_data = nullptr;
    size_t work_size = 0;
    size_t beg = 0, end = 0;
    while (beg < size) {
        end = line_end_after(data, beg, size);
        size_t pre = prefix_quote(data + beg, end - beg);
        if (pre) {
            beg += pre;
        } else if (is_empty(data + beg, end - beg)
                   && (end >= size
                       || (prefix_quote(data + end, size - end) == 0
                           && !is_empty(data + end, size - end)))) {
            // An empty line followed by a line that is neither quoted nor empty ends the quote.
            break;
        }
        if (beg < end) {
            // The quote's lines are joined in place, without their prefixes.
            if (!work_data)
                work_data = data + beg;
            else if (data + beg != work_data + work_size)
                std::memmove(work_data + work_size, data + beg, end - beg);
            work_size += end - beg;
        }
        beg = end;
    }
    parse_block(out, md, work_data, work_size);
    if (md->cb.blockquote)
        md->cb.blockquote(ob, out, md->opaque);
    rndr_popbuf(md, BUFFER_BLOCK);
    return end;
}

size_t parse_paragraph(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    size_t i = 0, end = 0;
    int level = 0;
    while (i < size) {
        end = line_end_after(data, i, size);
        if (is_empty(data + i, size - i))
            break;
        if ((level = is_headerline(data + i, size - i)) != 0)
            break;
        if (is_atxheader(md, data + i, size - i) || is_hrule(data + i, size - i)
            || prefix_quote(data + i, size - i)) {
            end = i;
            break;
        }
        i = end;
    }
    if (end == 0) // cannot happen: the first line belongs to the paragraph; never stall
        end = line_end_after(data, 0, size);

    size_t work_size = i;
    while (work_size && data[work_size - 1] == '\n')
        --work_size;

    if (!level) {
        buf *tmp = rndr_newbuf(md, BUFFER_BLOCK);
        parse_inline(tmp, md, data, work_size);
        if (md->cb.paragraph)
            md->cb.paragraph(ob, tmp, md->opaque);
        rndr_popbuf(md, BUFFER_BLOCK);
        return end;
    }

    // Setext header: the last collected line is the header, the lines before it a paragraph.
    uint8_t *header_data = data;
    size_t header_size = 0;
    if (work_size) {
        size_t last = work_size;
        size_t beg = last;
        while (beg > 0 && data[beg - 1] != '\n')
            --beg;
        header_data = data + beg;
        header_size = last - beg;
        size_t para_size = beg;
        while (para_size && data[para_size - 1] == '\n')
            --para_size;
        if (para_size) {
            buf *tmp = rndr_newbuf(md, BUFFER_BLOCK);
            parse_inline(tmp, md, data, para_size);
            if (md->cb.paragraph)
                md->cb.paragraph(ob, tmp, md->opaque);
            rndr_popbuf(md, BUFFER_BLOCK);
        }
    }
    if (md->cb.header) {
        buf *header_work = rndr_newbuf(md, BUFFER_SPAN);
        parse_inline(header_work, md, header_data, header_size);
        md->cb.header(ob, header_work, level, md->opaque);
        rndr_popbuf(md, BUFFER_SPAN);
    }
    return end;
}

size_t parse_blockcode(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    buf *work = rndr_newbuf(md, BUFFER_BLOCK);
    size_t beg = 0;
    while (beg < size) {
        size_t end = line_end_after(data, beg, size);
        size_t pre = prefix_code(data + beg, end - beg);
        if (pre)
            beg += pre;
        else if (!is_empty(data + beg, end - beg))
            break;
        if (beg < end) {
            if (is_empty(data + beg, end - beg))
                bufputc(work, '\n');
            else
                bufput(work, data + beg, end - beg);
        }
        beg = end;
    }
    while (work->size && work->data[work->size - 1] == '\n')
        --work->size;
    bufputc(work, '\n');
    if (md->cb.blockcode)
        md->cb.blockcode(ob, work, nullptr, md->opaque);
    rndr_popbuf(md, BUFFER_BLOCK);
    return beg;
}

bool starts_unordered_item(const uint8_t *data, size_t size)
{
    return prefix_uli(data, size) && !is_hrule(data, size);
}

size_t parse_listitem(buf *ob, md_parser *md, uint8_t *data, size_t size, int *flags)
{
    size_t orgpre = 0;
    while (orgpre < 3 && orgpre < size && data[orgpre] == ' ')
        ++orgpre;
    size_t beg = prefix_uli(data, size);
    if (!beg)
        beg = prefix_oli(data, size);
    if (!beg)
        return 0;

    size_t end = line_end_after(data, beg, size);
    buf *work = rndr_newbuf(md, BUFFER_SPAN);
    buf *inter = rndr_newbuf(md, BUFFER_SPAN);
    bufput(work, data + beg, end - beg);
    beg = end;

    bool in_empty = false, has_inside_empty = false, has_sublist = false;
    size_t sublist = 0;
    while (beg < size) {
        end = line_end_after(data, beg, size);
        if (is_empty(data + beg, end - beg)) {
            in_empty = true;
            beg = end;
            continue;
        }
        size_t i = 0;
        while (i < 4 && beg + i < end && data[beg + i] == ' ')
            ++i;
        const uint8_t *line = data + beg + i;
        size_t line_size = end - beg - i;
        bool uli = starts_unordered_item(line, line_size);
        bool oli = prefix_oli(line, line_size) != 0;

        if (in_empty && ((*flags & MKD_LIST_ORDERED) ? uli : oli)) {
            *flags |= MKD_LI_END; // an item of the other kind after an empty line ends the list
            break;
        }
        if (uli || oli) {
            if (in_empty)
                has_inside_empty = true;
            if (i == orgpre)
                break; // the next item of this list
            if (!has_sublist) {
                has_sublist = true;
                sublist = work->size;
            }
        } else if (in_empty && i == 0) {
            *flags |= MKD_LI_END;
            break;
        } else if (in_empty) {
            bufputc(work, '\n');
            has_inside_empty = true;
        }
        in_empty = false;
        bufput(work, line, line_size);
        beg = end;
    }

    if (has_inside_empty)
        *flags |= MKD_LI_BLOCK;
    if (*flags & MKD_LI_BLOCK) {
        if (has_sublist && sublist < work->size) {
            parse_block(inter, md, work->data, sublist);
            parse_block(inter, md, work->data + sublist, work->size - sublist);
        } else {
            parse_block(inter, md, work->data, work->size);
        }
    } else {
        if (has_sublist && sublist < work->size) {
            parse_inline(inter, md, work->data, sublist);
            parse_block(inter, md, work->data + sublist, work->size - sublist);
        } else {
            parse_inline(inter, md, work->data, work->size);
        }
    }
    if (md->cb.listitem)
        md->cb.listitem(ob, inter, *flags, md->opaque);
    rndr_popbuf(md, BUFFER_SPAN);
    rndr_popbuf(md, BUFFER_SPAN);
    return beg;
}

size_t parse_list(buf *ob, md_parser *md, uint8_t *data, size_t size, int flags)
{
    buf *work = rndr_newbuf(md, BUFFER_BLOCK);
    size_t i = 0;
    while (i < size) {
        size_t j = parse_listitem(work, md, data + i, size - i, &flags);
        i += j;
        if (!j || (flags & MKD_LI_END))
            break;
    }
    if (md->cb.list)
        md->cb.list(ob, work, flags, md->opaque);
    rndr_popbuf(md, BUFFER_BLOCK);
    return i;
}

const char *find_block_tag(const uint8_t *name, size_t length)
{
    for (const char *tag : block_tags) {
        if (std::strlen(tag) == length
            && strncasecmp(tag, reinterpret_cast<const char *>(name), length) == 0)
            return tag;
    }
    return nullptr;
}

// Length of "</tag>" at data plus the rest of its line (only spaces allowed) and the next line
// when that one is empty; 0 when data holds no such closing line.
size_t htmlblock_end_tag(const char *tag, size_t tag_len, const uint8_t *data, size_t size)
{
    if (tag_len + 3 > size)
        return 0;
    if (strncasecmp(reinterpret_cast<const char *>(data) + 2, tag, tag_len) != 0
        || data[tag_len + 2] != '>')
        return 0;
    size_t i = tag_len + 3;
    if (i < size) {
        size_t w = is_empty(data + i, size - i);
        if (!w)
            return 0;
        i += w;
    }
    if (i < size)
        i += is_empty(data + i, size - i);
    return i;
}

size_t htmlblock_end(const char *tag, const uint8_t *data, size_t size, bool at_line_start)
{
    size_t tag_len = std::strlen(tag);
    bool passed_lf = false;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == '\n') {
            passed_lf = true;
            continue;
        }
        if (data[i] != '<' || data[i + 1] != '/')
            continue;
        if (at_line_start && passed_lf && data[i - 1] != '\n')
            continue;
        size_t w = htmlblock_end_tag(tag, tag_len, data + i, size - i);
        if (w)
            return i + w;
    }
    return 0;
}

size_t parse_htmlblock(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    if (size < 2 || data[0] != '<')
        return 0;
    size_t i = 1;
    while (i < size && data[i] != '>' && data[i] != ' ')
        ++i;
    const char *curtag = find_block_tag(data + 1, i - 1);
    size_t block_end = 0;

    if (!curtag) {
        if (size > 5 && data[1] == '!' && data[2] == '-' && data[3] == '-') {
            // Comment: to the first "-->" after the opener; only spaces may follow on its line.
            for (i = 4; i + 2 < size; ++i)
                if (data[i] == '-' && data[i + 1] == '-' && data[i + 2] == '>')
                    break;
            if (i + 2 < size) {
                i += 3;
                if (i >= size)
                    block_end = i;
                else if (size_t w = is_empty(data + i, size - i))
                    block_end = i + w;
            }
        } else if (size > 4 && (data[1] == 'h' || data[1] == 'H') && (data[2] == 'r' || data[2] == 'R')) {
            i = 3;
            while (i < size && data[i] != '>')
                ++i;
            if (i + 1 < size) {
                ++i;
                size_t w = is_empty(data + i, size - i);
                if (w)
                    block_end = i + w;
            }
        }
    } else {
        block_end = htmlblock_end(curtag, data, size, true);
        if (!block_end && std::strcmp(curtag, "ins") != 0 && std::strcmp(curtag, "del") != 0)
            block_end = htmlblock_end(curtag, data, size, false);
    }
    if (!block_end)
        return 0;
    buf work = {data, block_end, 0, 1};
    md->cb.blockhtml(ob, &work, md->opaque);
    return block_end;
}

} // namespace

// ---- Shared helpers ---------------------------------------------------------------------------

size_t is_empty(const uint8_t *data, size_t size)
{
    size_t i = 0;
    for (; i < size && data[i] != '\n'; ++i)
        if (data[i] != ' ')
            return 0;
    return i < size ? i + 1 : i;
}

link_ref *find_link_ref(link_ref **refs, const uint8_t *name, size_t length)
{
    unsigned int hash = hash_link_ref(name, length);
    for (link_ref *r = refs[hash % REF_TABLE_SIZE]; r; r = r->next)
        if (r->id == hash)
            return r;
    return nullptr;
}

buf *rndr_newbuf(md_parser *md, int type)
{
    static const size_t unit[2] = {256, 64};
    stack *pool = &md->work_bufs[type];
    buf *work;
    if (pool->size < pool->asize && pool->item[pool->size]) {
        work = static_cast<buf *>(pool->item[pool->size++]);
        work->size = 0;
    } else {
        work = bufnew(unit[type]);
        MD_ASSERT(work && stack_push(pool, work) == 0, "out of memory for a work buffer");
    }
    return work;
}

void rndr_popbuf(md_parser *md, int type)
{
    MD_ASSERT(md->work_bufs[type].size > 0, "work buffer released twice");
    md->work_bufs[type].size--;
}

void parse_block(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    if (md_nesting_exceeded(md))
        return;
    size_t beg = 0;
    while (beg < size) {
        uint8_t *txt = data + beg;
        size_t end = size - beg;
        size_t i;
        if (is_atxheader(md, txt, end)) {
            i = parse_atxheader(ob, md, txt, end);
        } else if (txt[0] == '<' && md->cb.blockhtml && (i = parse_htmlblock(ob, md, txt, end)) != 0) {
        } else if ((i = is_empty(txt, end)) != 0) {
        } else if (is_hrule(txt, end)) {
            if (md->cb.hrule)
                md->cb.hrule(ob, md->opaque);
            i = line_end_after(txt, 0, end);
        } else if (prefix_quote(txt, end)) {
            i = parse_blockquote(ob, md, txt, end);
        } else if (prefix_code(txt, end)) {
            i = parse_blockcode(ob, md, txt, end);
        } else if (prefix_uli(txt, end)) {
            i = parse_list(ob, md, txt, end, 0);
        } else if (prefix_oli(txt, end)) {
            i = parse_list(ob, md, txt, end, MKD_LIST_ORDERED);
        } else {
            i = parse_paragraph(ob, md, txt, end);
        }
        MD_ASSERT(i > 0, "block rule consumed nothing");
        beg += i;
    }
}

// ---- Parser object ----------------------------------------------------------------------------

void md_setup_active_chars(md_parser *md)
{
    std::memset(md->active_char, MD_CHAR_NONE, sizeof md->active_char);
    if (md->cb.emphasis || md->cb.double_emphasis || md->cb.triple_emphasis) {
        md->active_char['*'] = MD_CHAR_EMPHASIS;
        md->active_char['_'] = MD_CHAR_EMPHASIS;
    }
    if (md->cb.codespan)
        md->active_char['`'] = MD_CHAR_CODESPAN;
    if (md->cb.linebreak)
        md->active_char['\n'] = MD_CHAR_LINEBREAK;
    if (md->cb.image || md->cb.link)
        md->active_char['['] = MD_CHAR_LINK;
    md->active_char['<'] = MD_CHAR_LANGLE;
    md->active_char['\\'] = MD_CHAR_ESCAPE;
    md->active_char['&'] = MD_CHAR_ENTITY;
}

md_parser *md_parser_new(unsigned int extensions, size_t max_nesting, const md_callbacks *callbacks,
                         void *opaque)
{
    MD_ASSERT(max_nesting > 0 && callbacks, "max_nesting > 0 && callbacks");
    md_parser *md = static_cast<md_parser *>(std::calloc(1, sizeof(md_parser)));
    if (!md)
        return nullptr;
    std::memcpy(&md->cb, callbacks, sizeof(md_callbacks));
    if (stack_init(&md->work_bufs[BUFFER_BLOCK], 4) < 0 || stack_init(&md->work_bufs[BUFFER_SPAN], 8) < 0) {
        stack_free(&md->work_bufs[BUFFER_BLOCK]);
        stack_free(&md->work_bufs[BUFFER_SPAN]);
        std::free(md);
        return nullptr;
    }
    md->opaque = opaque;
    md->ext_flags = extensions;
    md->max_nesting = max_nesting;
    md->in_link_body = 0;
    md_setup_active_chars(md);
    return md;
}

int md_parser_render(buf *ob, const uint8_t *document, size_t doc_size, md_parser *md)
{
    static const uint8_t UTF8_BOM[] = {0xEF, 0xBB, 0xBF};

    buf *text = bufnew(64);
    if (!text)
        return -1;
    bufgrow(text, doc_size);
    // A write lost anywhere (the text, a work buffer, the output) makes the render fail.
    for (stack &pool : md->work_bufs)
        for (size_t i = 0; i < pool.asize; ++i)
            if (pool.item[i])
                static_cast<buf *>(pool.item[i])->failed = 0;
    const int ob_failed_before = ob->failed;
    ob->failed = 0;
    std::memset(md->refs, 0, sizeof md->refs);

    size_t beg = 0;
    if (doc_size >= 3 && std::memcmp(document, UTF8_BOM, 3) == 0)
        beg = 3;

    // First pass: link definitions out, tabs expanded, every line end made one line feed.
    line_end_finder line_ends{document, doc_size};
    while (beg < doc_size) {
        size_t end;
        if (is_ref(document, beg, doc_size, &end, md->refs)) {
            beg = end;
            continue;
        }
        end = line_ends.content_end(beg);
        if (end > beg)
            expand_tabs(text, document + beg, end - beg);
        while (end < doc_size && is_line_end(document[end])) {
            // "\r\n" gives one line feed (for its "\n"); a "\r" as the last byte gives none.
            if (document[end] == '\n' || (end + 1 < doc_size && document[end + 1] != '\n'))
                bufputc(text, '\n');
            ++end;
        }
        beg = end;
    }

    bufgrow(ob, ob->size + text->size + (text->size >> 1));
    if (md->cb.doc_header)
        md->cb.doc_header(ob, md->opaque);
    if (text->size) {
        uint8_t last = text->data[text->size - 1];
        if (last != '\n' && last != '\r')
            bufputc(text, '\n');
        parse_block(ob, md, text->data, text->size);
    }
    if (md->cb.doc_footer)
        md->cb.doc_footer(ob, md->opaque);

    bool failed = text->failed || ob->failed;
    for (const stack &pool : md->work_bufs)
        for (size_t i = 0; i < pool.asize; ++i)
            if (pool.item[i] && static_cast<const buf *>(pool.item[i])->failed)
                failed = true;
    ob->failed |= ob_failed_before;

    bufrelease(text);
    free_link_refs(md->refs);
    MD_ASSERT(md->work_bufs[BUFFER_SPAN].size == 0, "md->work_bufs[BUFFER_SPAN].size == 0");
    MD_ASSERT(md->work_bufs[BUFFER_BLOCK].size == 0, "md->work_bufs[BUFFER_BLOCK].size == 0");
    return failed ? -1 : 0;
}

void md_parser_free(md_parser *md)
{
    if (!md)
        return;
    for (int type = 0; type < 2; ++type) {
        stack *pool = &md->work_bufs[type];
        for (size_t i = 0; i < pool->asize; ++i)
            bufrelease(static_cast<buf *>(pool->item[i]));
        stack_free(pool);
    }
    std::free(md);
}

void md_version(int *major, int *minor, int *revision)
{
    *major = 1;
    *minor = 16;
    *revision = 0;
}
