#include <codeeditor/CETextCommands.h>

#include <gtest/gtest.h>

using namespace CETextCommands;

namespace {

// A text whose first `guarded` characters the host protects: an edit touching them is refused.
struct Text : CETextEditTarget
{
    explicit Text(QString t, qsizetype guardedLength = 0) : value(std::move(t)), guarded(guardedLength) {}
    QString text() const override { return value; }
    bool guardedReplace(CERange range, const QString &replacement) override
    {
        if (range.location < guarded) {
            ++refused;
            return false;
        }
        value.replace(range.location, range.length, replacement);
        return true;
    }
    QString value;
    qsizetype guarded = 0;
    int refused = 0;
};

QList<CERange> ranges(std::initializer_list<CERange> list)
{
    return QList<CERange>(list);
}

} // namespace

TEST(CETextCommands, ShiftLeftFallsBackToTheTabStopOnEveryTouchedLine)
{
    CECommandSettings tabStops{4, true, true, 4};
    Text t("      six\n        eight\n\ttab\n  \ttwo\n");
    const auto r = shiftLeft(t, ranges({{0, t.value.size()}}), tabStops);
    EXPECT_EQ(t.value, "    six\n    eight\ntab\n\ttwo\n");
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.ranges, ranges({{0, 36 - 9}}));

    // Characters removed before the selection's start must not make the walk skip a line.
    Text skip("  a\n  b\n");
    shiftLeft(skip, ranges({{3, 3}}), tabStops);
    EXPECT_EQ(skip.value, "a\nb\n");
    Text plain("  a\n  b\n");
    shiftLeft(plain, ranges({{3, 3}}), CECommandSettings{});
    EXPECT_EQ(plain.value, " a\n b\n");

    // Two ranges: the second is moved back by what the first removed.
    Text two("\ta\n\tb\n\tc\n\td\n");
    const auto r2 = shiftLeft(two, ranges({{1, 1}, {7, 4}}), CECommandSettings{});
    EXPECT_EQ(two.value, "a\n\tb\nc\nd\n");
    EXPECT_EQ(r2.ranges, ranges({{0, 1}, {5, 3}}));

    // A first line without indentation keeps the selection's start where it was.
    Text flush("ab\n\tcd\n");
    EXPECT_EQ(shiftLeft(flush, ranges({{1, 4}}), CECommandSettings{}).ranges, ranges({{1, 3}}));
    EXPECT_EQ(flush.value, "ab\ncd\n");

    Text nothing("a\nb");
    EXPECT_TRUE(shiftLeft(nothing, ranges({{0, 3}}), tabStops).beep);
    Text zero("    a");
    EXPECT_TRUE(shiftLeft(zero, ranges({{0, 5}}), CECommandSettings{0, true, true, 4}).beep) << "width 0 removes nothing";
}

TEST(CETextCommands, ShiftRightIndentsEachLineOnce)
{
    Text t("ab\ncd\n");
    const auto r = shiftRight(t, ranges({{1, 3}}), {1, 3}, CECommandSettings{});
    EXPECT_EQ(t.value, "\tab\n\tcd\n");
    EXPECT_EQ(r.ranges, ranges({{2, 4}})) << "still from the b to the c";
    Text whole("ab\ncd\n");
    EXPECT_EQ(shiftRight(whole, ranges({{0, 5}}), {0, 5}, CECommandSettings{}).ranges, ranges({{0, 7}}))
        << "a selection from a line's start takes in its indent";
    Text mid("ab cd");
    shiftRight(mid, ranges({{2, 0}}), {2, 0}, CECommandSettings{4, true, true, 4});
    EXPECT_EQ(mid.value, "  ab cd") << "from column 2 to the tab stop at 4";
}

TEST(CETextCommands, NeedlessWhitespaceGoesFromEveryTouchedLine)
{
    Text t("a  \nb \t\nc  ");
    const auto r = removeNeedlessWhitespace(t, ranges({{2, 6}}));
    EXPECT_EQ(t.value, "a\nb\nc  ");
    EXPECT_EQ(r.ranges, ranges({{1, 2}}));
    Text clean("a\nb");
    EXPECT_TRUE(removeNeedlessWhitespace(clean, ranges({{0, 3}})).beep);
}

TEST(CETextCommands, CommentToggleFollowsTheFirstLine)
{
    Text t("a\n  b\nc");
    auto r = commentOrUncomment(t, ranges({{0, 5}}), "//");
    EXPECT_EQ(t.value, "//a\n//  b\nc");
    EXPECT_EQ(r.ranges, ranges({{0, 10}}));
    EXPECT_TRUE(r.selectRanges);
    r = commentOrUncomment(t, ranges({{0, 9}}), "//");
    EXPECT_EQ(t.value, "a\n  b\nc");

    // Indented tokens are found after the indentation; lines without one stay.
    Text indented("  // x\ny\n\t//z");
    commentOrUncomment(indented, ranges({{0, indented.value.size()}}), "//");
    EXPECT_EQ(indented.value, "   x\ny\n\tz");

    // The walk continues from the edited line, not from a position the removal moved.
    Text skip("//a\n//b\n");
    commentOrUncomment(skip, ranges({{3, 3}}), "//");
    EXPECT_EQ(skip.value, "a\nb\n");

    // A commented last line with the caret at its end is uncommented, not commented twice.
    Text last("a\n//b");
    r = commentOrUncomment(last, ranges({{5, 0}}), "//");
    EXPECT_EQ(last.value, "a\nb");
    EXPECT_FALSE(r.selectRanges) << "an insertion point stays";

    Text none("abc");
    EXPECT_TRUE(commentOrUncomment(none, ranges({{0, 1}}), "").beep);
}

TEST(CETextCommands, EntabAndDetabReplaceEachRangeAndRespectTheHost)
{
    Text t("        a\n        b", 5);
    auto r = entabOrDetab(t, ranges({{0, 9}, {10, 9}}), {3, 0}, 4, true);
    EXPECT_EQ(t.value, "        a\n\t\tb") << "the protected first range is refused alone";
    EXPECT_EQ(t.refused, 1);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.ranges, ranges({{3, 0}}));

    Text refusedAll("    x", 5);
    EXPECT_FALSE(entabOrDetab(refusedAll, ranges({{0, 5}}), {0, 0}, 4, true).changed);

    Text d("\ta\n\tb");
    entabOrDetab(d, ranges({{0, 2}, {3, 2}}), {0, 0}, 2, false);
    EXPECT_EQ(d.value, "  a\n  b") << "the second range is moved by what the first added";
    Text zero("    \t");
    EXPECT_FALSE(entabOrDetab(zero, ranges({{0, 5}}), {0, 0}, 0, true).changed);
    entabOrDetab(zero, ranges({{0, 5}}), {0, 0}, 0, false);
    EXPECT_EQ(zero.value, "    ") << "detab with no spaces deletes the tabs";
}

TEST(CETextCommands, LineEndingsCaseXmlAndTags)
{
    Text t("a\r\nb\nc|d\ne");
    const auto r = removeLineEndings(t, ranges({{0, 6}, {7, 3}}));
    EXPECT_EQ(t.value, "abc|de");
    EXPECT_EQ(r.ranges, ranges({{0, 3}, {4, 2}}));

    EXPECT_EQ(capitalised("hELLO wORLD\tagain\nx"), "Hello World\tAgain\nX");
    EXPECT_EQ(preparedForXML("a &amp; b & <c> &lt;"), "a &amp; b &amp; &lt;c&gt; &amp;lt;");

    EXPECT_EQ(closingTag("<ul><li>x</li><br>", 18), "</ul>");
    EXPECT_EQ(closingTag("<div class=\"a\"><img src=x><p/><!-- c -->", 40), "</div>");
    EXPECT_EQ(closingTag("<p>a</p>", 8), "");
    EXPECT_EQ(closingTag(">", 1), "");

    const QString three = "one\ntwo\nthree";
    EXPECT_EQ(goToLine(three, 2), (CERange{4, 4}));
    EXPECT_EQ(goToLine(three, 4), (CERange{8, 5})) << "the count itself is the line of the end";
    EXPECT_EQ(goToLine(three, 5).location, -1);
    EXPECT_EQ(goToLine(three, 0), (CERange{0, 4}));
    EXPECT_EQ(goToLine("a\n", 2), (CERange{2, 0})) << "the empty last line";
    EXPECT_EQ(goToLine("a\n", 3).location, -1);
    EXPECT_EQ(leadingInteger("12abc"), 12);
    EXPECT_EQ(leadingInteger("abc"), 0);
}

// Every step by character goes over a whole grapheme cluster: an emoji with its skin tone, a
// letter with its combining mark, a flag of two regional indicators; a line break alone.
TEST(CETextCommands, CharacterStepsTakeWholeClusters)
{
    const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD");
    const QString accented = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1EB\U0001F1F7");
    const QString text = QStringLiteral("a") + thumb + accented + QStringLiteral("\n") + flag;
    QList<qsizetype> forwards{0}, backwards{text.size()};
    while (forwards.last() < text.size())
        forwards.append(nextCharacterBoundary(text, forwards.last()));
    while (backwards.first() > 0)
        backwards.prepend(previousCharacterBoundary(text, backwards.first()));
    const QList<qsizetype> expected{0, 1, 1 + thumb.size(), 1 + thumb.size() + 2, 1 + thumb.size() + 3, text.size()};
    EXPECT_EQ(forwards, expected);
    EXPECT_EQ(backwards, expected);
    EXPECT_EQ(previousCharacterBoundary(text, 0), 0);
    EXPECT_EQ(nextCharacterBoundary(text, text.size()), text.size());
}
