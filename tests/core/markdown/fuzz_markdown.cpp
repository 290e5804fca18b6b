// libFuzzer entry: the first byte picks the nesting limit, the rest is the document. Renders
// with the application's configuration (no extensions, render flags 0) and with a table holding
// only some callbacks, so the "callback missing" paths are reached too.

#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t nesting = 1 + data[0] % 32;
    ++data;
    --size;

    md_callbacks callbacks;
    html_renderopt options;
    html_renderer_setup(&callbacks, &options, 0);

    buf *ob = bufnew(64);
    md_parser *md = md_parser_new(0, nesting, &callbacks, &options);
    md_parser_render(ob, data, size, md);
    md_parser_free(md);

    // Same document, sparse table: no emphasis, no links, no raw HTML.
    callbacks.emphasis = nullptr;
    callbacks.double_emphasis = nullptr;
    callbacks.link = nullptr;
    callbacks.blockhtml = nullptr;
    callbacks.normal_text = nullptr;
    ob->size = 0;
    md = md_parser_new(0, 16, &callbacks, &options);
    md_parser_render(ob, data, size, md);
    md_parser_free(md);

    bufrelease(ob);
    return 0;
}
