// Parser object, first pass over the document (line ends, tabs, link definitions) and the
// block-level grammar.

#include "parser_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char *const block_tags[] = {
    "blockquote", "del", "div", "dl", "fieldset", "figure", "form", "h1", "h2", "h3", "h4", "h5",
    "h6", "iframe", "ins", "math", "noscript", "ol", "p", "pre", "script", "style", "table", "ul",
};

constexpr size_t block_tag_count = sizeof block_tags / sizeof block_tags[0];

// What the HTML block rule learnt in one parse_block pass over its data (offsets in that data,
// whose end every search shares), so that many openers that never close cost one pass over the
// data per kind of closer instead of one each.
struct html_block_memo {
    const uint8_t *base;
    size_t size;
    size_t any_fail[block_tag_count];  // from here on no "</tag>" closes the block
    size_t line_fail[block_tag_count]; // from this line start on none at a line start does
    size_t comment_from, comment_at;   // the first "-->" at or after comment_from (size: none)
    size_t gt_from, gt_at;             // the first ">" at or after gt_from (size: none)

    html_block_memo(const uint8_t *data, size_t data_size)
        : base(data), size(data_size), comment_from(SIZE_MAX), comment_at(0), gt_from(SIZE_MAX), gt_at(0)
    {
        for (size_t t = 0; t < block_tag_count; ++t)
            any_fail[t] = line_fail[t] = SIZE_MAX;
    }

    // The first "-->" (three bytes) or ">" (one) at or after from; size when none. A question
    // asked from inside the stretch the last answer crossed is answered at once.
    size_t first_at_or_after(size_t from, bool comment)
    {
        size_t &memo_from = comment ? comment_from : gt_from;
        size_t &memo_at = comment ? comment_at : gt_at;
        if (memo_from <= from && from <= memo_at)
            return memo_at;
        const void *hit = nullptr;
        if (from < size)
            hit = comment ? memmem(base + from, size - from, "-->", 3) : std::memchr(base + from, '>', size - from);
        memo_from = from;
        memo_at = hit ? static_cast<size_t>(static_cast<const uint8_t *>(hit) - base) : size;
        return memo_at;
    }
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

// Where a hash falls: the middle bits of its product with a large odd constant, which depend on
// all of its bits, so that names alike in some of their bytes spread.
inline size_t ref_cell_of(const link_ref_table *refs, unsigned int id)
{
    return static_cast<size_t>((id * 0x9E3779B97F4A7C15ull) >> 29) & (refs->cell_count - 1);
}

// Whether two names are the same label: equal bytes, ASCII letters in either case.
bool same_link_name(const uint8_t *a, size_t a_size, const uint8_t *b, size_t b_size)
{
    if (a_size != b_size)
        return false;
    for (size_t i = 0; i < a_size; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

// The cell of the name (whose hash is id), or the free cell where it would go. Names of the same
// hash are told apart by their bytes.
link_ref_cell *find_ref_cell(const link_ref_table *refs, unsigned int id, const uint8_t *name, size_t length)
{
    const size_t mask = refs->cell_count - 1;
    size_t at = ref_cell_of(refs, id);
    for (;; at = (at + 1) & mask) {
        const link_ref_cell &cell = refs->cells[at];
        if (!cell.ref
            || (cell.id == id && same_link_name(cell.ref->name, cell.ref->name_size, name, length)))
            return &refs->cells[at];
    }
}

// Doubles the cells when the table is half full; false when memory runs out and the table is
// full (short of that it stays as it was, and usable).
bool grow_link_refs(link_ref_table *refs)
{
    if (refs->cells && 2 * (refs->count + 1) <= refs->cell_count)
        return true;
    const size_t count = refs->cells ? refs->cell_count * 2 : 32;
    link_ref_cell *cells = static_cast<link_ref_cell *>(std::calloc(count, sizeof(link_ref_cell)));
    if (!cells)
        return refs->cells && refs->count + 1 < refs->cell_count;
    link_ref_table grown = {cells, count, refs->count, refs->chunks};
    for (size_t i = 0; refs->cells && i < refs->cell_count; ++i)
        if (refs->cells[i].ref)
            *find_ref_cell(&grown, refs->cells[i].id, refs->cells[i].ref->name, refs->cells[i].ref->name_size) =
                refs->cells[i];
    std::free(refs->cells);
    *refs = grown;
    return true;
}

} // namespace

// A block of entries: definitions are many and small, and all go at once.
struct link_ref_chunk {
    link_ref_chunk *next;
    size_t used, size; // bytes after the header
};

namespace {

// size bytes, aligned for a link_ref, from the table's chunks; null when memory runs out.
void *link_ref_alloc(link_ref_table *refs, size_t size)
{
    size = (size + 7) & ~size_t(7);
    link_ref_chunk *chunk = refs->chunks;
    if (!chunk || chunk->size - chunk->used < size) {
        const size_t room = std::max<size_t>(size, 64 * 1024);
        chunk = static_cast<link_ref_chunk *>(std::malloc(sizeof(link_ref_chunk) + room));
        if (!chunk)
            return nullptr;
        *chunk = {refs->chunks, 0, room};
        refs->chunks = chunk;
    }
    void *p = reinterpret_cast<uint8_t *>(chunk + 1) + chunk->used;
    chunk->used += size;
    return p;
}

// Records a definition (title_size 0: none); a later one of the same name replaces the earlier.
// False when memory runs out.
bool add_link_ref(link_ref_table *refs, const uint8_t *name, size_t length, const uint8_t *link,
                  size_t link_size, const uint8_t *title, size_t title_size)
{
    if (!grow_link_refs(refs))
        return false;
    static_assert(sizeof(link_ref) % 8 == 0, "entries stay aligned");
    link_ref *ref =
        static_cast<link_ref *>(link_ref_alloc(refs, sizeof(link_ref) + link_size + title_size + length));
    if (!ref)
        return false;
    uint8_t *bytes = reinterpret_cast<uint8_t *>(ref + 1);
    std::memcpy(bytes, link, link_size);
    if (title_size)
        std::memcpy(bytes + link_size, title, title_size);
    if (length)
        std::memcpy(bytes + link_size + title_size, name, length);
    ref->name = bytes + link_size + title_size;
    ref->name_size = length;
    ref->link_bytes = {bytes, link_size, link_size, 1};
    ref->title_bytes = {bytes + link_size, title_size, title_size, 1};
    ref->link = &ref->link_bytes;
    ref->title = title_size ? &ref->title_bytes : nullptr;
    const unsigned int id = hash_link_ref(name, length);
    link_ref_cell *cell = find_ref_cell(refs, id, name, length);
    if (!cell->ref) // else the same name: the new definition takes the old one's place
        ++refs->count;
    *cell = {id, ref};
    return true;
}

void free_link_refs(link_ref_table *refs)
{
    for (link_ref_chunk *chunk = refs->chunks; chunk;) {
        link_ref_chunk *next = chunk->next;
        std::free(chunk);
        chunk = next;
    }
    std::free(refs->cells);
    *refs = {nullptr, 0, 0, nullptr};
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
bool is_ref(const uint8_t *data, size_t beg, size_t end, size_t *last, link_ref_table *refs)
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
    if (i >= end || data[i] != ']' || i - id_offset > MD_LINK_LABEL_MAX)
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
    // Out of memory, the definition's lines are skipped all the same.
    add_link_ref(refs, data + id_offset, id_end - id_offset, data + link_offset, link_end - link_offset,
                 data + title_offset, title_end > title_offset ? title_end - title_offset : 0);
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

// The index of the block tag named name in block_tags; block_tag_count when none.
size_t find_block_tag(const uint8_t *name, size_t length)
{
    for (size_t t = 0; t < block_tag_count; ++t) {
        if (std::strlen(block_tags[t]) == length
            && strncasecmp(block_tags[t], reinterpret_cast<const char *>(name), length) == 0)
            return t;
    }
    return block_tag_count;
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

// The end of the block opened by block_tags[t] at data: after its closing tag; 0 when none.
// With at_line_start, past the first line only a closing tag that starts a line counts.
size_t htmlblock_end(size_t t, const uint8_t *data, size_t size, bool at_line_start, html_block_memo *memo)
{
    const char *tag = block_tags[t];
    const size_t tag_len = std::strlen(tag);
    const size_t off = static_cast<size_t>(data - memo->base);
    size_t &fail = at_line_start ? memo->line_fail[t] : memo->any_fail[t];
    bool passed_lf = false;
    size_t second_line = size;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == '\n') {
            if (!passed_lf)
                second_line = i + 1;
            passed_lf = true;
            if (at_line_start && off + i + 1 >= fail)
                return 0;
            continue;
        }
        if (!at_line_start && off + i >= fail)
            return 0;
        if (data[i] != '<' || data[i + 1] != '/')
            continue;
        if (at_line_start && passed_lf && data[i - 1] != '\n')
            continue;
        size_t w = htmlblock_end_tag(tag, tag_len, data + i, size - i);
        if (w)
            return i + w;
    }
    fail = std::min(fail, off + (at_line_start ? second_line : 0));
    return 0;
}

size_t parse_htmlblock(buf *ob, md_parser *md, uint8_t *data, size_t size, html_block_memo *memo)
{
    if (size < 2 || data[0] != '<')
        return 0;
    const size_t off = static_cast<size_t>(data - memo->base);
    size_t i = 1;
    while (i < size && data[i] != '>' && data[i] != ' ' && data[i] != '\n')
        ++i;
    // A name that runs on past its line is no tag's.
    const size_t curtag = i < size && data[i] == '\n' ? block_tag_count : find_block_tag(data + 1, i - 1);
    size_t block_end = 0;

    if (curtag == block_tag_count) {
        if (size > 5 && data[1] == '!' && data[2] == '-' && data[3] == '-') {
            // Comment: to the first "-->" after the opener; only spaces may follow on its line.
            i = memo->first_at_or_after(off + 4, true) - off;
            if (i + 2 < size) {
                i += 3;
                if (i >= size)
                    block_end = i;
                else if (size_t w = is_empty(data + i, size - i))
                    block_end = i + w;
            }
        } else if (size > 4 && (data[1] == 'h' || data[1] == 'H') && (data[2] == 'r' || data[2] == 'R')) {
            i = memo->first_at_or_after(off + 3, false) - off;
            if (i + 1 < size) {
                ++i;
                size_t w = is_empty(data + i, size - i);
                if (w)
                    block_end = i + w;
            }
        }
    } else {
        block_end = htmlblock_end(curtag, data, size, true, memo);
        if (!block_end && std::strcmp(block_tags[curtag], "ins") != 0 && std::strcmp(block_tags[curtag], "del") != 0)
            block_end = htmlblock_end(curtag, data, size, false, memo);
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

link_ref *find_link_ref(const link_ref_table *refs, const uint8_t *name, size_t length)
{
    if (!refs->count)
        return nullptr;
    return find_ref_cell(refs, hash_link_ref(name, length), name, length)->ref;
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

namespace {

// Past the nesting limit the blocks are not read: their text, as it stands, becomes paragraphs
// split at empty lines, so that nothing is lost.
void render_unparsed(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    size_t beg = 0;
    while (beg < size) {
        if (size_t w = is_empty(data + beg, size - beg)) {
            beg += w;
            continue;
        }
        size_t end = beg;
        while (end < size && !is_empty(data + end, size - end))
            end = line_end_after(data, end, size);
        size_t text_end = end;
        while (text_end > beg && data[text_end - 1] == '\n')
            --text_end;
        if (md->cb.paragraph) {
            buf *tmp = rndr_newbuf(md, BUFFER_BLOCK);
            md_put_text(tmp, md, data + beg, text_end - beg);
            md->cb.paragraph(ob, tmp, md->opaque);
            rndr_popbuf(md, BUFFER_BLOCK);
        }
        beg = end;
    }
}

} // namespace

void parse_block(buf *ob, md_parser *md, uint8_t *data, size_t size)
{
    if (md_nesting_exceeded(md)) {
        render_unparsed(ob, md, data, size);
        return;
    }
    html_block_memo html_memo(data, size);
    size_t beg = 0;
    while (beg < size) {
        uint8_t *txt = data + beg;
        size_t end = size - beg;
        size_t i;
        if (is_atxheader(md, txt, end)) {
            i = parse_atxheader(ob, md, txt, end);
        } else if (txt[0] == '<' && md->cb.blockhtml && (i = parse_htmlblock(ob, md, txt, end, &html_memo)) != 0) {
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
    md->refs = {nullptr, 0, 0, nullptr};

    size_t beg = 0;
    if (doc_size >= 3 && std::memcmp(document, UTF8_BOM, 3) == 0)
        beg = 3;

    // First pass: link definitions out, tabs expanded, every line end made one line feed.
    line_end_finder line_ends{document, doc_size};
    while (beg < doc_size) {
        size_t end;
        if (is_ref(document, beg, doc_size, &end, &md->refs)) {
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
    free_link_refs(&md->refs);
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
    std::free(md->emph_path);
    std::free(md);
}

void md_version(int *major, int *minor, int *revision)
{
    *major = 1;
    *minor = 16;
    *revision = 0;
}
