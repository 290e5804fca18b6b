// Colouring a generated 10,000-line JavaScript file: in full, and the visible lines after one
// keystroke (the edit moves the attributes after it, then the 50 lines in view are recoloured).
// Each reports its time as a ratio of its target (full: 150 ms; keystroke: 1 ms and one 16 ms
// frame) and of a floor measured in the same run: one plain ICU pass of the string pattern over
// the same text. Then the editor widget itself against a plain QPlainTextEdit holding the same
// text: typing, paging and Select All, each from the key event to the repaint done; typing on a
// 200,000-character line with spaces and on one without; and Replace All of 86,000 matches in
// 5 MB with its undo and redo. The application is started as main() starts it; the editors are
// made beside its windows.

#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <codeeditor/CERegex.h>
#include <codeeditor/CESyntaxColouring.h>
#include <codeeditor/CESyntaxController.h>

#include <platform/foundation/KRUserDefaults.h>

#include <codeeditor/CEEditor.h>
#include <codeeditor/CEFindBar.h>
#include <codeeditor/CETextView.h>

#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRUndoManager.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>

namespace {

constexpr int lineCount = 10000;
constexpr int visibleLines = 50;

QString generatedScript()
{
    QString text;
    for (int i = 0; text.count(QLatin1Char('\n')) < lineCount; ++i) {
        const QString n = QString::number(i);
        text += "/* Handler " + n + ": shows the list\n   and counts the items. */\n";
        text += "function handler" + n + "(event, count) {\n";
        text += "    var message = \"Item \\\"" + n + "\\\" of \" + count; // the label\n";
        text += "    if (count > " + n + " && event !== null) {\n";
        text += "        $('#list').append('<li>' + message + '</li>');\n";
        text += "        return window.alert(message.length * 2.5);\n";
        text += "    }\n    return undefined;\n}\n";
    }
    return text;
}

struct Engine
{
    Engine()
    {
        defaults = std::make_unique<KRUserDefaults>(QDir(directory.path()).filePath("defaults.conf"));
        controller = std::make_unique<CESyntaxController>(KR_SOURCE_DIR "/resources/syntax", directory.path());
        colouring = std::make_unique<CESyntaxColouring>(*defaults, *controller);
        colouring->setString(generatedScript());
        colouring->setSyntaxDefinition("JavaScript");
    }
    QTemporaryDir directory;
    std::unique_ptr<KRUserDefaults> defaults;
    std::unique_ptr<CESyntaxController> controller;
    std::unique_ptr<CESyntaxColouring> colouring;
};

// Seconds of one plain regex pass (the same string pattern the engine uses) over the text.
double floorSeconds(const QString &text)
{
    auto pattern = std::make_shared<RegexPattern>(R"(\W"[^"\\\r\n]*+(?:\\(?:.|$)[^"\\\r\n]*+)*+")");
    double best = 1e9;
    for (int round = 0; round < 20; ++round) {
        const auto start = std::chrono::steady_clock::now();
        RegexMatcher matcher(pattern, text);
        int matches = 0;
        while (matcher.findNext())
            ++matches;
        benchmark::DoNotOptimize(matches);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void report(benchmark::State &state, const std::string &name, double seconds, double floor, double target)
{
    const double perIteration = seconds / double(state.iterations());
    state.counters["ms"] = perIteration * 1e3;
    state.counters["x_frame"] = perIteration / 0.016;
    state.counters["x_floor"] = perIteration / floor;
    KRBench::reportTarget(state, name, perIteration / target, 1.0);
}

void BM_ColourWholeFile(benchmark::State &state)
{
    Engine engine;
    CESyntaxColouring &colouring = *engine.colouring;
    const double floor = floorSeconds(colouring.string());
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        colouring.pageRecolour(true);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    report(state, "colour_whole_file_over_target", seconds, floor, 0.150);
    state.counters["lines"] = lineCount;
}
BENCHMARK(BM_ColourWholeFile)->Unit(benchmark::kMillisecond);

void BM_KeystrokeInView(benchmark::State &state)
{
    Engine engine;
    CESyntaxColouring &colouring = *engine.colouring;
    colouring.pageRecolour(true);
    const QString &text = colouring.string();
    // 50 lines in view in the middle of the file; the keystroke goes into the 25th.
    qsizetype first = 0;
    for (int line = 0; line < lineCount / 2; ++line)
        first = text.indexOf(QLatin1Char('\n'), first) + 1;
    qsizetype last = first;
    for (int line = 0; line < visibleLines; ++line)
        last = text.indexOf(QLatin1Char('\n'), last) + 1;
    qsizetype caret = first;
    for (int line = 0; line < visibleLines / 2; ++line)
        caret = text.indexOf(QLatin1Char('\n'), caret) + 1;
    caret += 4;
    const double floor = floorSeconds(text.mid(first, last - first));

    double seconds = 0;
    bool typed = false;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // Typing a character and deleting it again keep the text the same across iterations.
        if (typed)
            colouring.replaceCharacters({caret, 1}, QString());
        else
            colouring.replaceCharacters({caret, 0}, QStringLiteral("x"));
        typed = !typed;
        colouring.setVisibleRange({first, last - first + (typed ? 1 : 0)});
        colouring.pageRecolour();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    report(state, "colour_keystroke_over_target", seconds, floor, 0.001);
}
BENCHMARK(BM_KeystrokeInView)->Unit(benchmark::kMicrosecond);

// The editor widget against its floor, a plain QPlainTextEdit holding the same text in a text
// area of the same size, font, tab stops and wrapping, in the same run. Each figure is the time
// from a key event sent to the widget to the end of the repaint it causes (the event loop runs
// until the text area has been painted; whatever else is due then, the gutter included, is
// painted in the same pass). The editor's time includes taking the key in, the undo record,
// the colouring of the lines in view and the gutter; the floor's its own editing, undo and
// paint. Keys go in blocks of 40 (39 letters and a Return), in turn to the editor and to the
// floor, so that both see the machine in the same state.
struct TypingBench
{
    explicit TypingBench(const QString &text = generatedScript())
        : defaults(QDir(directory.path()).filePath("defaults.conf"))
        , controller(KR_SOURCE_DIR "/resources/syntax", directory.path())
        , special(undo)
        , editor(&defaults, &controller)
        , script(text)
    {
        editorHost.resize(900, 700);
        editor.setObject(true, CEKeys::showLineNumberGutter);
        editor.setUndoManagerProvider([this] { return &special; });
        editor.embedInView(&editorHost);
        editor.setObject(QStringLiteral("JavaScript"), CEKeys::syntaxDefinition);
        editorHost.show();
        CETextView &view = *editor.textView();
        plain = new QPlainTextEdit(&plainHost);
        plain->setFrameShape(QFrame::NoFrame);
        plain->setFont(view.font());
        plain->setTabStopDistance(view.tabStopDistance());
        plain->setLineWrapMode(view.lineWrapMode());
        plain->setHorizontalScrollBarPolicy(view.horizontalScrollBarPolicy());
        plainHost.resize(editorHost.size());
        plainHost.show();
        editorPaints.watch(view.viewport());
        plainPaints.watch(plain->viewport());
        load();
    }

    // The text again in both, the caret in the middle of it, centred.
    void load()
    {
        editor.setString(script);
        plain->setGeometry(editor.textView()->geometry()); // once the gutter has its width
        plain->setPlainText(script);
        CETextView &view = *editor.textView();
        view.setSelectedRange({script.size() / 2, 0});
        view.centerCursor();
        QTextCursor cursor = plain->textCursor();
        cursor.setPosition(int(script.size() / 2));
        plain->setTextCursor(cursor);
        plain->centerCursor();
        QApplication::processEvents();
    }

    void focus(bool onEditor)
    {
        QWidget *window = onEditor ? &editorHost : &plainHost;
        QApplication::setActiveWindow(window);
        (onEditor ? static_cast<QWidget *>(editor.textView()) : plain)->setFocus();
        QApplication::processEvents();
    }

    struct PaintCounter : QObject
    {
        int paints = 0;
        void watch(QWidget *widget) { widget->installEventFilter(this); }
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    };

    // Milliseconds from `act` to the end of the repaint it caused; negative when no repaint came
    // within 600 s.
    static double toRepaint(PaintCounter &paints, const std::function<void()> &act)
    {
        const int before = paints.paints;
        QElapsedTimer timer;
        timer.start();
        act();
        QDeadlineTimer deadline(600000);
        do {
            QApplication::processEvents();
        } while (paints.paints == before && !deadline.hasExpired());
        return paints.paints == before ? -1 : double(timer.nsecsElapsed()) / 1e6;
    }

    // Milliseconds from the key event to the end of the repaint it caused; negative when no
    // repaint came within 5 s.
    static double keyToRepaint(QWidget *target, PaintCounter &paints, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
    {
        const int before = paints.paints;
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(target, key, modifiers);
        QDeadlineTimer deadline(5000);
        do {
            QApplication::processEvents();
        } while (paints.paints == before && !deadline.hasExpired());
        return paints.paints == before ? -1 : double(timer.nsecsElapsed()) / 1e6;
    }

    QTemporaryDir directory;
    KRUserDefaults defaults;
    CESyntaxController controller;
    KRUndoManager undo;
    KRSpecialUndoManager special;
    QWidget editorHost;
    CEEditor editor;
    QWidget plainHost;
    QPlainTextEdit *plain = nullptr;
    PaintCounter editorPaints;
    PaintCounter plainPaints;
    const QString script;
};

// Typing in the middle of the file: 2,000 keys each round, a Return after every 39 letters.
// Targets: under 2 ms a key, and at most 1.2 times the plain text edit.
void BM_TypingIntoEditor(benchmark::State &state)
{
    TypingBench bench;
    constexpr int keystrokes = 2000, block = 40;
    double editorMs = 0, plainMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench.load();
        state.ResumeTiming();
        for (int first = 0; first < keystrokes; first += block) {
            for (const bool onEditor : {true, false}) {
                state.PauseTiming();
                bench.focus(onEditor);
                state.ResumeTiming();
                QWidget *target = onEditor ? static_cast<QWidget *>(bench.editor.textView()) : bench.plain;
                for (int i = first; i < first + block; ++i) {
                    const Qt::Key key = i % 40 == 39 ? Qt::Key_Return : Qt::Key(Qt::Key_A + i % 26);
                    const double ms = TypingBench::keyToRepaint(target, onEditor ? bench.editorPaints : bench.plainPaints, key);
                    if (ms < 0) {
                        state.SkipWithError("a key caused no repaint");
                        return;
                    }
                    (onEditor ? editorMs : plainMs) += ms;
                }
            }
        }
    }
    const double keys = double(state.iterations()) * keystrokes;
    state.counters["plain_ms_per_key"] = plainMs / keys;
    state.counters["lines"] = lineCount;
    KRBench::reportTarget(state, "ms_per_key", editorMs / keys, "ms", 2.0, KRBench::Bound::Below);
    KRBench::reportTarget(state, "typing_over_plain", editorMs / plainMs, 1.2);
}
BENCHMARK(BM_TypingIntoEditor)->Unit(benchmark::kMillisecond)->Iterations(3);

// Paging through the file (30 pages down from the middle, then 30 up) and Select All (followed,
// untimed, by a key that ends the selection), each from the key to the repaint done, against one
// 60 Hz frame; the plain text edit's times, taken in turn with the editor's, are the floor.
void BM_PageAndSelectAll(benchmark::State &state)
{
    TypingBench bench;
    constexpr double frameMs = 1000.0 / 60.0;
    constexpr int pages = 30, selections = 10;
    double pageMs[2] = {0, 0}, selectMs[2] = {0, 0};
    for (auto _ : state) {
        state.PauseTiming();
        bench.load();
        state.ResumeTiming();
        for (const bool onEditor : {true, false}) {
            state.PauseTiming();
            bench.focus(onEditor);
            state.ResumeTiming();
            QWidget *target = onEditor ? static_cast<QWidget *>(bench.editor.textView()) : bench.plain;
            TypingBench::PaintCounter &paints = onEditor ? bench.editorPaints : bench.plainPaints;
            double pageTotal = 0, selectTotal = 0;
            bool repainted = true;
            for (int i = 0; i < 2 * pages; ++i) {
                const double ms = TypingBench::keyToRepaint(target, paints, i < pages ? Qt::Key_PageDown : Qt::Key_PageUp);
                repainted = repainted && ms >= 0;
                pageTotal += ms;
            }
            for (int i = 0; i < selections; ++i) {
                const double ms = TypingBench::keyToRepaint(target, paints, Qt::Key_A, Qt::ControlModifier);
                repainted = repainted && ms >= 0;
                selectTotal += ms;
                state.PauseTiming();
                repainted = repainted && TypingBench::keyToRepaint(target, paints, Qt::Key_Right) >= 0;
                state.ResumeTiming();
            }
            if (!repainted) {
                state.SkipWithError("a key caused no repaint");
                return;
            }
            pageMs[onEditor ? 0 : 1] += pageTotal;
            selectMs[onEditor ? 0 : 1] += selectTotal;
        }
    }
    const double rounds = double(state.iterations());
    const double page = pageMs[0] / rounds / (2 * pages), select = selectMs[0] / rounds / selections;
    state.counters["page_over_plain"] = pageMs[0] / pageMs[1];
    state.counters["select_all_over_plain"] = selectMs[0] / selectMs[1];
    KRBench::reportTarget(state, "page_ms", page, "ms", frameMs);
    KRBench::reportTarget(state, "select_all_ms", select, "ms", frameMs);
}
BENCHMARK(BM_PageAndSelectAll)->Unit(benchmark::kMillisecond)->Iterations(3);

// Typing in the middle of a 200,000-character line, one with spaces (a minified script) and one
// without (a picture written into a style sheet), between short lines, against typing on a
// short line of the same text and against the plain text edit typed into on the same long line:
// each key from the key event to the repaint done, in turn in blocks of 20 letters. The plain
// text edit lays the whole line out on every key, as the editor does; on the line without
// spaces it wraps where the view ends, as the editor does there (wrapping at word boundaries, it
// takes most of a second a key there, looking for a boundary to the end of the line for each
// line it makes). Targets: a key on a long line costs at most 1.2 times the plain text edit's on
// the same line, and at most twice one on a short line.
void BM_TypingOnALongLine(benchmark::State &state)
{
    QString longLine, bareLine;
    for (int i = 0; longLine.size() < 200'000; ++i)
        longLine += "var a" + QString::number(i) + "=b(" + QString::number(i) + ",'x');";
    while (bareLine.size() < 200'000)
        bareLine += QStringLiteral("iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB");
    const QString head = QStringLiteral("// short\nfunction f(a) {\n    return a;\n}\n");
    const QString text = head + longLine + "\n" + bareLine + "\n" + head;
    TypingBench bench(text);
    CETextView &view = *bench.editor.textView();
    enum Where { EditorLong, EditorBare, EditorShort, PlainLong, PlainBare, Places };
    const auto plainWrap = [&](Where where) {
        return where == PlainBare ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
    };
    constexpr int keys = 200, block = 20;
    double ms[Places] = {};
    for (auto _ : state) {
        state.PauseTiming();
        bench.load();
        state.ResumeTiming();
        // Where the next block of letters goes; the short line lies before the long ones.
        const qsizetype longMiddle = head.size() + longLine.size() / 2;
        const qsizetype bareMiddle = head.size() + longLine.size() + 1 + bareLine.size() / 2;
        qsizetype caret[Places] = {longMiddle, bareMiddle, head.indexOf("return"), longMiddle, bareMiddle};
        for (int first = 0; first < keys; first += block) {
            for (const Where where : {EditorLong, EditorBare, EditorShort, PlainLong, PlainBare}) {
                state.PauseTiming();
                const bool plain = where == PlainLong || where == PlainBare;
                bench.focus(!plain);
                if (plain) {
                    if (bench.plain->wordWrapMode() != plainWrap(where))
                        bench.plain->setWordWrapMode(plainWrap(where));
                    QTextCursor cursor = bench.plain->textCursor();
                    cursor.setPosition(int(caret[where]));
                    bench.plain->setTextCursor(cursor);
                    bench.plain->centerCursor();
                } else {
                    view.setSelectedRange({caret[where], 0});
                    view.centerCursor();
                }
                QApplication::processEvents();
                state.ResumeTiming();
                for (int i = first; i < first + block; ++i) {
                    const Qt::Key key = Qt::Key(Qt::Key_A + i % 26);
                    const double one = plain ? TypingBench::keyToRepaint(bench.plain, bench.plainPaints, key)
                                             : TypingBench::keyToRepaint(&view, bench.editorPaints, key);
                    if (one < 0) {
                        state.SkipWithError("a key caused no repaint");
                        return;
                    }
                    ms[where] += one;
                }
                // What is typed before a place of the same text moves it along.
                for (int other = 0; other < Places; ++other)
                    if (other != where && (other >= PlainLong) == plain && caret[other] > caret[where])
                        caret[other] += block;
                caret[where] += block;
            }
        }
        state.PauseTiming();
        bench.plain->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        state.ResumeTiming();
    }
    const double typed = double(state.iterations()) * keys;
    state.counters["long_ms_per_key"] = ms[EditorLong] / typed;
    state.counters["bare_ms_per_key"] = ms[EditorBare] / typed;
    state.counters["short_ms_per_key"] = ms[EditorShort] / typed;
    state.counters["plain_long_ms_per_key"] = ms[PlainLong] / typed;
    state.counters["plain_bare_ms_per_key"] = ms[PlainBare] / typed;
    KRBench::reportTarget(state, "long_line_typing_over_plain", ms[EditorLong] / ms[PlainLong], "x", 1.2);
    KRBench::reportTarget(state, "bare_line_typing_over_plain", ms[EditorBare] / ms[PlainBare], "x", 1.2);
    KRBench::reportTarget(state, "long_line_typing_over_short", ms[EditorLong] / ms[EditorShort], "x", 2.0);
    KRBench::reportTarget(state, "bare_line_typing_over_short", ms[EditorBare] / ms[EditorShort], "x", 2.0);
}
BENCHMARK(BM_TypingOnALongLine)->Unit(benchmark::kMillisecond)->Iterations(2);

// Replace All over a 5 MB script with 86,496 matches, its undo and its redo, each from the
// command to the repaint done, against a floor taken in the same run: the plain text edit
// given the same 5 MB with setPlainText, to its repaint. Each of the three is one edit of the
// text, so each should cost a few such loads at most (target: twice the floor).
QString replaceAllScript()
{
    QString text;
    text.reserve(5'300'000);
    for (int i = 0; text.size() < 5'000'000; ++i) {
        const QString n = QString::number(i);
        text += "function handler" + n + "(event, count) {\n";
        text += "    var message = \"Item " + n + " of \" + count; // the label\n";
        text += "    $('#list').append('<li>' + message + '</li>');\n";
        text += "    return message.length;\n}\n";
    }
    return text;
}

void BM_ReplaceAllAndUndo(benchmark::State &state)
{
    TypingBench bench(replaceAllScript());
    CEEditor &editor = bench.editor;
    editor.showFindBar();
    CEFindBar *findBar = editor.findBar();
    findBar->findChild<QLineEdit *>("findField")->setText(QStringLiteral("message"));
    findBar->findChild<QLineEdit *>("replaceField")->setText(QStringLiteral("text"));
    QApplication::processEvents();
    const QString replaced = QString(bench.script).replace(QStringLiteral("message"), QStringLiteral("text"));
    double floorMs = 0, replaceMs = 0, undoMs = 0, redoMs = 0;
    int matches = 0;
    bool right = true;
    for (auto _ : state) {
        state.PauseTiming();
        bench.load();
        state.ResumeTiming();
        const double floor = TypingBench::toRepaint(bench.plainPaints, [&] { bench.plain->setPlainText(replaced); });
        const double replace = TypingBench::toRepaint(bench.editorPaints, [&] { matches = editor.replaceAll(); });
        right = right && editor.string() == replaced;
        const double undo = TypingBench::toRepaint(bench.editorPaints, [&] { bench.special.undo(); });
        right = right && editor.string() == bench.script;
        const double redo = TypingBench::toRepaint(bench.editorPaints, [&] { bench.special.redo(); });
        right = right && editor.string() == replaced;
        if (floor < 0 || replace < 0 || undo < 0 || redo < 0 || !right) {
            state.SkipWithError(right ? "no repaint came" : "the text is not the one expected");
            return;
        }
        floorMs += floor;
        replaceMs += replace;
        undoMs += undo;
        redoMs += redo;
    }
    const double rounds = double(state.iterations());
    state.counters["matches"] = matches;
    state.counters["floor_ms"] = floorMs / rounds;
    state.counters["replace_all_ms"] = replaceMs / rounds;
    state.counters["undo_ms"] = undoMs / rounds;
    state.counters["redo_ms"] = redoMs / rounds;
    KRBench::reportTarget(state, "replace_all_over_load", replaceMs / floorMs, "x", 2.0);
    KRBench::reportTarget(state, "replace_all_undo_over_load", undoMs / floorMs, "x", 2.0);
    KRBench::reportTarget(state, "replace_all_redo_over_load", redoMs / floorMs, "x", 2.0);
}
BENCHMARK(BM_ReplaceAllAndUndo)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv);
}
