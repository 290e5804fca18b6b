// Rendering a generated 1 MB Markdown document: our renderer through its C-style interface and
// through KRMarkdown (UTF-16 in and out), and cmark on the same bytes. The "buffers/input"
// counter is the renderer's peak buffer space (normalised text, output, work buffers) over the
// input size.

#include <core/markdown/KRMarkdown.h>
#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>
#include <core/markdown/parser_internal.h>

#include <benchmark/benchmark.h>

#ifdef KR_HAVE_CMARK
#include <cmark.h>
#endif

#include <cstdlib>
#include <string>

namespace {

// A deterministic document of about target bytes mixing every construct the application meets.
std::string makeDocument(size_t target)
{
    std::string doc;
    doc.reserve(target + 4096);
    for (int n = 0; doc.size() < target; ++n) {
        const std::string k = std::to_string(n);
        doc += "# Section " + k + "\n\n";
        doc += "This is *emphasised* and **strong** text with `inline code`, a [link](http://example.com/"
               + k + " \"Title " + k + "\") and a [reference][r" + std::to_string(n % 50)
               + "]. Entities &amp; escapes \\* stay; AT&T and <b>raw tags</b> too.\n"
                 "A second line of the paragraph runs on for a while, so that paragraphs are of a\n"
                 "realistic length, with an autolink <http://example.org/page" + k + "> at the end.  \n"
                 "And a hard break before this last line.\n\n";
        doc += "- first item with _emphasis_\n- second item\n  - nested item\n- third item\n\n";
        doc += "1. one\n2. two\n\n";
        doc += "> A quoted paragraph with **strong** words\n> on two lines.\n\n";
        doc += "    code block line one\n    code block <line> two\n\n";
        doc += "Setext header " + k + "\n---------------\n\n";
        if (n % 10 == 0)
            doc += "<div class=\"box\">\n<p>raw block</p>\n</div>\n\n* * *\n\n";
    }
    for (int r = 0; r < 50; ++r)
        doc += "[r" + std::to_string(r) + "]: http://example.com/ref/" + std::to_string(r) + " \"Ref\"\n";
    return doc;
}

const std::string &document()
{
    static const std::string doc = makeDocument(1024 * 1024);
    return doc;
}

void BM_RenderCStyle(benchmark::State &state)
{
    const std::string &doc = document();
    md_callbacks callbacks;
    html_renderopt options;
    html_renderer_setup(&callbacks, &options, 0);
    size_t peak = 0, out_size = 0;
    for (auto _ : state) {
        buf *ob = bufnew(64);
        md_parser *md = md_parser_new(0, 16, &callbacks, &options);
        md_parser_render(ob, reinterpret_cast<const uint8_t *>(doc.data()), doc.size(), md);
        size_t pools = 0;
        for (const stack &pool : md->work_bufs)
            for (size_t i = 0; i < pool.asize; ++i)
                if (pool.item[i])
                    pools += static_cast<buf *>(pool.item[i])->asize;
        // The normalised text buffer holds about the document while the output grows.
        peak = doc.size() + ob->asize + pools;
        out_size = ob->size;
        benchmark::DoNotOptimize(ob->data);
        md_parser_free(md);
        bufrelease(ob);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
    state.counters["input_bytes"] = static_cast<double>(doc.size());
    state.counters["output_bytes"] = static_cast<double>(out_size);
    state.counters["buffers/input"] = static_cast<double>(peak) / static_cast<double>(doc.size());
}
BENCHMARK(BM_RenderCStyle)->Unit(benchmark::kMillisecond);

void BM_RenderKRMarkdown(benchmark::State &state)
{
    const QString text = QString::fromUtf8(document().data(), static_cast<qsizetype>(document().size()));
    for (auto _ : state) {
        QString html = KRMarkdown::htmlFromMarkdown(text);
        benchmark::DoNotOptimize(html.constData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document().size()));
}
BENCHMARK(BM_RenderKRMarkdown)->Unit(benchmark::kMillisecond);

#ifdef KR_HAVE_CMARK
void BM_RenderCmark(benchmark::State &state)
{
    const std::string &doc = document();
    size_t out_size = 0;
    for (auto _ : state) {
        char *html = cmark_markdown_to_html(doc.data(), doc.size(), CMARK_OPT_DEFAULT);
        out_size = std::char_traits<char>::length(html);
        benchmark::DoNotOptimize(html);
        std::free(html);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
    state.counters["output_bytes"] = static_cast<double>(out_size);
}
BENCHMARK(BM_RenderCmark)->Unit(benchmark::kMillisecond);
#endif

// Unbalanced brackets: each "[" looks for its closing bracket to the end of the text.
void BM_OpenBrackets(benchmark::State &state)
{
    const std::string doc(static_cast<size_t>(state.range(0)), '[');
    md_callbacks callbacks;
    html_renderopt options;
    html_renderer_setup(&callbacks, &options, 0);
    for (auto _ : state) {
        buf *ob = bufnew(64);
        md_parser *md = md_parser_new(0, 16, &callbacks, &options);
        md_parser_render(ob, reinterpret_cast<const uint8_t *>(doc.data()), doc.size(), md);
        md_parser_free(md);
        bufrelease(ob);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_OpenBrackets)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
