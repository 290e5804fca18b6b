// Rendering a generated 1 MB Markdown document: our renderer through its C-style interface and
// through KRMarkdown (UTF-16 in and out), and cmark on the same bytes. The "buffers/input"
// counter is the renderer's peak buffer space (normalised text, output, work buffers) over the
// input size. BM_VersusCmark times the three in turn on the same text and prints, as figures with a
// target, each of our entry points' time over cmark's (the medians of its rounds): measured side by
// side, the ratio holds still on a busy machine where the times alone do not. BM_SlowShapeGrowth
// prints, for each text shaped to be slow, its time at four times the size over its time at the
// size (target: at most 5, where time growing with the size gives 4).

#include <core/markdown/KRMarkdown.h>
#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>
#include <core/markdown/parser_internal.h>

#include <bench/support/KRBenchTargets.h>

#include <benchmark/benchmark.h>

#ifdef KR_HAVE_CMARK
#include <cmark.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

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

// Each round renders the document once with each of the three, starting with a different one
// each round; the figures are our median times over cmark's.
void BM_VersusCmark(benchmark::State &state)
{
    const std::string &doc = document();
    const QString text = QString::fromUtf8(doc.data(), static_cast<qsizetype>(doc.size()));
    md_callbacks callbacks;
    html_renderopt options;
    html_renderer_setup(&callbacks, &options, 0);
    std::vector<double> bytes, utf16, cmark;
    const auto timed = [](auto &&render) {
        const auto start = std::chrono::steady_clock::now();
        render();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    const auto renderBytes = [&] {
        buf *ob = bufnew(64);
        md_parser *md = md_parser_new(0, 16, &callbacks, &options);
        md_parser_render(ob, reinterpret_cast<const uint8_t *>(doc.data()), doc.size(), md);
        benchmark::DoNotOptimize(ob->data);
        md_parser_free(md);
        bufrelease(ob);
    };
    const auto renderUtf16 = [&] {
        QString html = KRMarkdown::htmlFromMarkdown(text);
        benchmark::DoNotOptimize(html.constData());
    };
    const auto renderCmark = [&] {
        char *html = cmark_markdown_to_html(doc.data(), doc.size(), CMARK_OPT_DEFAULT);
        benchmark::DoNotOptimize(html);
        std::free(html);
    };
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < 3; ++k) {
            switch ((round + k) % 3) {
            case 0:
                bytes.push_back(timed(renderBytes));
                break;
            case 1:
                utf16.push_back(timed(renderUtf16));
                break;
            default:
                cmark.push_back(timed(renderCmark));
            }
        }
        ++round;
    }
    const double theirs = median(cmark);
    state.counters["cmark_ms"] = theirs;
    state.counters["bytes_ms"] = median(bytes);
    state.counters["utf16_ms"] = median(utf16);
    KRBench::reportTarget(state, "markdown_bytes_vs_cmark", median(bytes) / theirs, 0.2);
    KRBench::reportTarget(state, "markdown_utf16_vs_cmark", median(utf16) / theirs, 0.22);
}
BENCHMARK(BM_VersusCmark)->Iterations(25)->Unit(benchmark::kMillisecond);
#endif

// ---- Shapes made to be slow ------------------------------------------------------------------

std::string repeated(const std::string &piece, size_t n)
{
    std::string out;
    out.reserve(piece.size() * n);
    for (size_t i = 0; i < n; ++i)
        out += piece;
    return out;
}

// Texts whose shape once made the renderer's time grow with the square of their size (and their
// neighbours): each made from a count n, about ten to fifty bytes per unit.
struct SlowShape
{
    const char *name;
    std::string (*make)(size_t n);
    size_t n; // the smaller count measured; the larger is four times it
};

const SlowShape slowShapes[] = {
    {"nested_brackets", [](size_t n) { return std::string(n, '[') + "a" + std::string(n, ']') + "(b)"; }, 20000},
    {"reference_uses",
     [](size_t n) {
         std::string defs, uses;
         for (size_t i = 0; i < n; ++i) {
             defs += "[r" + std::to_string(i) + "]: /u" + std::to_string(i) + "\n";
             uses += "[r" + std::to_string(i) + "], ";
         }
         return defs + "\n" + uses + "\n";
     },
     5000},
    {"nested_brackets_one_reference",
     [](size_t n) { return "[a]: /d\n\n" + std::string(n, '[') + "a" + std::string(n, ']') + "\n"; }, 20000},
    {"open_and_closed_brackets", [](size_t n) { return std::string(n, '[') + repeated("[a](b) [c][", n) + "]"; }, 5000},
    {"images_without_destination",
     [](size_t n) { return repeated("![", n) + "a" + repeated("]()", n) + repeated("![a]( \"", n) + "\")"; }, 5000},
    {"link_tails_unended", [](size_t n) { return repeated("[a](x", n) + " \")" + repeated("[a](", n) + "\\)"; }, 5000},
    {"emphasis_runs", [](size_t n) { return repeated("*a _b **c __d ", n) + "`*_`"; }, 5000},
    {"emphasis_and_brackets", [](size_t n) { return repeated("*a ", n) + "[b*](c)" + repeated("_x[", n) + "]"; }, 10000},
    {"many_links", [](size_t n) { return repeated("[a](http://b.c/d \"e\") ", n); }, 5000},
    {"backtick_runs", [](size_t n) { return std::string(n, '`') + repeated("a ", n); }, 20000},
    {"html_block_openers", [](size_t n) { return repeated("<div>\n\n<!--\n\n", n); }, 5000},
    {"deep_quotes", [](size_t n) { return std::string(n, '>') + " words\n"; }, 20000},
    {"deep_lists",
     [](size_t n) {
         std::string list;
         for (size_t i = 0; i < n; ++i)
             list += std::string((i % 200) * 2, ' ') + "- item\n";
         return list;
     },
     500},
};

// Each shape rendered through KRMarkdown at n and 4n units, in turn, for several rounds: the
// figure is the median time at 4n over the median at n. A renderer whose time grows with the
// size gives about 4; one that rescans gives about 16.
void BM_SlowShapeGrowth(benchmark::State &state)
{
    const SlowShape &shape = slowShapes[state.range(0)];
    const QString small = QString::fromStdString(shape.make(shape.n));
    const QString large = QString::fromStdString(shape.make(4 * shape.n));
    std::vector<double> smallMs, largeMs;
    const auto timed = [](const QString &text) {
        const auto start = std::chrono::steady_clock::now();
        QString html = KRMarkdown::htmlFromMarkdown(text);
        benchmark::DoNotOptimize(html.constData());
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
#ifdef KR_HAVE_CMARK
    const std::string largeBytes = shape.make(4 * shape.n);
    std::vector<double> cmarkMs;
#endif
    for (auto _ : state) {
        smallMs.push_back(timed(small));
        largeMs.push_back(timed(large));
#ifdef KR_HAVE_CMARK
        const auto start = std::chrono::steady_clock::now();
        char *html = cmark_markdown_to_html(largeBytes.data(), largeBytes.size(), CMARK_OPT_DEFAULT);
        benchmark::DoNotOptimize(html);
        std::free(html);
        cmarkMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
#endif
    }
    state.SetLabel(shape.name);
    state.counters["small_ms"] = median(smallMs);
    state.counters["large_ms"] = median(largeMs);
    state.counters["large_bytes"] = static_cast<double>(large.size());
    KRBench::reportTarget(state, std::string("markdown_growth_") + shape.name, median(largeMs) / median(smallMs), 5);
#ifdef KR_HAVE_CMARK
    // The slowest of the shapes at 4n, against cmark on the same text: no shape holds a render
    // for much longer than a linear renderer takes.
    static double worst = 0;
    const double versus = median(largeMs) / median(cmarkMs);
    state.counters["large_vs_cmark"] = versus;
    worst = std::max(worst, versus);
    KRBench::reportTarget(state, "markdown_slow_shapes_worst_vs_cmark", worst, 2);
#endif
}
BENCHMARK(BM_SlowShapeGrowth)
    ->DenseRange(0, static_cast<int>(sizeof slowShapes / sizeof slowShapes[0]) - 1)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

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
