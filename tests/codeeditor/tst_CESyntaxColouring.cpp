#include "CodeEditorTestSupport.h"

#include "KRTestSupport.h"

#include <codeeditor/CEDefaults.h>

#include <gtest/gtest.h>

#include <QFile>

#include <random>

namespace {

// Reference colourings of the shipped languages. KR_UPDATE_GOLDEN=1 rewrites the files (read
// them before committing).
void expectGolden(const QString &definition, const QString &sample)
{
    CodeEditorFixture fixture;
    const QString samplePath = KR_TEST_DATA_DIR "/codeeditor/" + sample;
    const QString text = QString::fromUtf8(KRTest::readFile(samplePath));
    ASSERT_FALSE(text.isEmpty()) << qPrintable(samplePath);
    const QString runs = colourRuns(fixture.colour(definition, text));
    const QString goldenPath = samplePath + ".colours";
    if (qEnvironmentVariableIsSet("KR_UPDATE_GOLDEN"))
        KRTest::writeFile(goldenPath, runs.toUtf8());
    EXPECT_EQ(runs.toStdString(), QString::fromUtf8(KRTest::readFile(goldenPath)).toStdString());
}

} // namespace

TEST(CESyntaxColouring, ReferenceColouringOfEachShippedLanguage)
{
    expectGolden("JavaScript", "sample.js");
    expectGolden("HTML", "sample.html");
    expectGolden("CSS", "sample.css");
}

TEST(CESyntaxColouring, StringAndCommentMarkersInContext)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &js = fixture.colour("JavaScript", "\"at start\" x = \"s // t\"; u = 'http://h'; // c\n");
    EXPECT_EQ(constructAt(js, 1), "") << "a string needs a character before its delimiter";
    EXPECT_EQ(constructOf(js, "// t"), "string");
    EXPECT_EQ(constructOf(js, "//h"), "string");
    EXPECT_EQ(constructOf(js, "// c"), "comment");

    fixture.colour("JavaScript", "a = b ? 'x' : c; u = x://y\n");
    EXPECT_EQ(constructOf(js, "//y"), "") << "\"//\" after \":\" is an address, not a comment";

    // Markers of other languages, through user definitions.
    CodeEditorFixture shellFixture;
    shellFixture.writeUserIndex({QVariantMap{{"name", "Shell"}, {"file", "shell"}, {"extensions", "sh"}},
                                 QVariantMap{{"name", "TeX"}, {"file", "tex"}, {"extensions", "tex"}}});
    shellFixture.writeUserDefinition("shell", {{"firstSingleLineComment", "#"}});
    shellFixture.writeUserDefinition("tex", {{"firstSingleLineComment", "%"}});
    CESyntaxColouring &shell = shellFixture.colour("Shell", "# c\necho $# &#38; # d\n#!/bin/sh # e\n");
    EXPECT_EQ(constructAt(shell, 0), "comment") << "a marker at the very start is a comment";
    EXPECT_EQ(constructOf(shell, "$#") , "");
    EXPECT_EQ(constructOf(shell, "#38"), "");
    EXPECT_EQ(constructOf(shell, "# d"), "comment");
    EXPECT_EQ(constructOf(shell, "# e"), "") << "no \"#\" comment on a line holding \"#!\"";
    CESyntaxColouring &tex = shellFixture.colour("TeX", "50\\% off % note\n");
    EXPECT_EQ(constructOf(tex, "% off"), "");
    EXPECT_EQ(constructOf(tex, "% note"), "comment");
}

TEST(CESyntaxColouring, BlockCommentsAndInstructions)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &html = fixture.colour("HTML",
        "<script><!-- x --></script><p><!-- y --> z</p><style><!--\n--></STYLE>\n");
    EXPECT_EQ(constructOf(html, "<!-- x"), "command") << "a comment hiding a script is left alone";
    EXPECT_EQ(constructOf(html, "<!-- y"), "comment");
    EXPECT_EQ(constructOf(html, " z"), "");
    EXPECT_EQ(constructOf(html, "<!--\n"), "");

    // Unterminated: to the end of the line, or with the switch off to the end of the text.
    const QString open = "a = 1; /* open\nb = 2;\n";
    fixture.colour("JavaScript", open);
    EXPECT_EQ(constructOf(html, "open"), "comment");
    EXPECT_EQ(constructOf(html, "b = 2"), "");
    fixture.defaults->setValue(CEDefaults::onlyColourTillTheEndOfLine, false);
    fixture.colour("JavaScript", open);
    EXPECT_EQ(constructOf(html, "b = 2"), "comment");
    fixture.colour("HTML", "<?xml version=\"1.0\"\n<p>");
    EXPECT_EQ(constructOf(html, "<p>"), "instruction");
}

TEST(CESyntaxColouring, KeywordsCaseAndTags)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &engine = fixture.colour("JavaScript", "Return return returned $ret");
    EXPECT_EQ(constructOf(engine, "Return"), "") << "JavaScript keywords keep their case";
    EXPECT_EQ(constructOf(engine, "return "), "keyword");
    EXPECT_EQ(constructOf(engine, "returned"), "");

    fixture.colour("CSS", "p { COLOR: red; Background-Color: blue; }");
    EXPECT_EQ(constructOf(engine, "COLOR"), "keyword");
    EXPECT_EQ(constructOf(engine, "Background-Color"), "keyword");
    EXPECT_EQ(constructAt(engine, engine.string().indexOf("Color:")), "keyword") << "a hyphen stays in the word";

    // A keyword inside a tag keeps the tag's colour unless the definition asks otherwise.
    CodeEditorFixture tags;
    tags.writeUserIndex({QVariantMap{{"name", "Tags"}, {"file", "tags"}},
                         QVariantMap{{"name", "Retag"}, {"file", "retag"}}});
    const QVariantMap definition{{"keywords", QVariantList{"div"}}, {"beginCommand", "<"}, {"endCommand", ">"}};
    tags.writeUserDefinition("tags", definition);
    QVariantMap recolour = definition;
    recolour.insert("recolourKeywordIfAlreadyColoured", true);
    tags.writeUserDefinition("retag", recolour);
    CESyntaxColouring &tagged = tags.colour("Tags", "<div> div");
    EXPECT_EQ(constructOf(tagged, "div"), "command");
    EXPECT_EQ(constructOf(tagged, " div") , "");
    EXPECT_EQ(constructOf(tagged, "div", 3), "keyword");
    tags.colour("Retag", "<div> div");
    EXPECT_EQ(constructOf(tagged, "div"), "keyword");
}

TEST(CESyntaxColouring, HostWordsAreColouredAsKeywords)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &engine = fixture.colouring();
    engine.setAdditionalKeywords({"KRButton", "setTitle"});
    engine.setString("KRButton.setTitle(x); KRButtonless");
    engine.setSyntaxDefinition("JavaScript");
    EXPECT_EQ(constructOf(engine, "KRButton"), "keyword");
    EXPECT_EQ(constructOf(engine, "setTitle"), "keyword");
    EXPECT_EQ(constructOf(engine, "KRButtonless"), "");
    EXPECT_TRUE(engine.keywordsAndAutocompleteWords().contains("setTitle")) << "and offered as completions";
}

TEST(CESyntaxColouring, MultiLineStringStartsOnItsOwnLine)
{
    CodeEditorFixture fixture;
    fixture.defaults->setValue(CEDefaults::colourMultiLineStrings, true);
    CESyntaxColouring &engine = fixture.colour("JavaScript", "x = \"one\ntwo // in\" + y; // out\n");
    EXPECT_EQ(constructOf(engine, "two"), "string");
    // Recolouring only the second line still sees the string opened above it.
    engine.setVisibleRange({engine.string().indexOf("two"), 3});
    engine.pageRecolour();
    EXPECT_EQ(constructOf(engine, "// in"), "string");
    EXPECT_EQ(constructOf(engine, "// out"), "comment");
}

TEST(CESyntaxColouring, VisibleRecolourAfterAnEdit)
{
    CodeEditorFixture fixture;
    QString text;
    for (int i = 0; i < 40; ++i)
        text += i == 5 ? "/* a long\n" : i == 30 ? "end */ var x = 'y';\n" : "var v = 1;\n";
    CESyntaxColouring &engine = fixture.colour("JavaScript", text);
    const qsizetype line20 = engine.string().indexOf("var v", 20 * 11);
    EXPECT_EQ(constructAt(engine, line20), "comment");

    // Typing inside the comment, with only lines 19 to 21 in view.
    engine.setVisibleRange({line20 - 11, 33});
    engine.replaceCharacters({line20, 0}, "return ");
    engine.pageRecolour();
    EXPECT_EQ(constructAt(engine, line20), "comment") << "a comment opened above the view";
    const qsizetype later = engine.string().indexOf("'y'");
    EXPECT_EQ(constructAt(engine, later + 1), "string") << "colours below the edit moved with the text";

    // Closing the comment early uncovers the keyword on the visible lines.
    engine.replaceCharacters({line20, 0}, "*/ ");
    engine.pageRecolour();
    EXPECT_EQ(constructAt(engine, line20 + 3), "keyword");

    // A host's marks outlive recolouring.
    const QString errorLine = QStringLiteral("KRSyntaxErrorLineNumber");
    engine.temporaryAttributes().addAttributes({{errorLine, 21}}, {line20, 5});
    engine.pageRecolour();
    EXPECT_EQ(engine.temporaryAttributes().attributeAt(errorLine, line20 + 3).toInt(), 21);
    EXPECT_EQ(constructAt(engine, line20 + 3), "keyword");
}

TEST(CESyntaxColouring, ColourDefaultsApplyAtOnce)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &engine = fixture.colour("JavaScript", "var a;\nvar b;\n");
    fixture.defaults->setValue(CEDefaults::keywordsColourWell, QStringLiteral("#ff102030"));
    EXPECT_EQ(engine.temporaryAttributes().attributeAt(CETemporaryAttributes::foregroundColour, 0).value<QColor>(),
              QColor(0x10, 0x20, 0x30));
    fixture.defaults->setValue(CEDefaults::colourKeywords, false);
    EXPECT_EQ(constructAt(engine, 0), "");

    engine.setSelectedRange({8, 0});
    fixture.defaults->setValue(CEDefaults::highlightCurrentLine, true);
    EXPECT_EQ(engine.lastLineHighlightRange(), (CERange{7, 7}));
    EXPECT_TRUE(engine.temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour, 8).isValid());
    fixture.defaults->setValue(CEDefaults::highlightLineColourWell, QStringLiteral("#ff0000ff"));
    EXPECT_EQ(engine.temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour, 8).value<QColor>(),
              QColor(Qt::blue)) << "the highlight takes a new colour without the cursor moving";
    EXPECT_FALSE(engine.temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour, 0).isValid());
}

// Faults of the engine as first described, each with the sound behaviour.
TEST(CESyntaxColouring, InvalidUserDelimiterLeavesThatStringUncoloured)
{
    CodeEditorFixture fixture;
    fixture.writeUserIndex({QVariantMap{{"name", "Broken"}, {"file", "broken"}}});
    fixture.writeUserDefinition("broken", {{"firstString", "["}, {"secondString", "'"},
                                           {"keywords", QVariantList{"go"}}, {"firstSingleLineComment", "\\"}});
    CESyntaxColouring &engine = fixture.colour("Broken", "go ['a' [b] \\ c");
    EXPECT_FALSE(engine.hasFirstStringPattern());
    EXPECT_TRUE(engine.hasSecondStringPattern());
    EXPECT_EQ(constructOf(engine, "go"), "keyword");
    EXPECT_EQ(constructOf(engine, "a'"), "string");
    EXPECT_EQ(constructOf(engine, "\\ c"), "comment");
}

TEST(CESyntaxColouring, DefinitionsDoNotLeakIntoEachOther)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &engine = fixture.colour("JavaScript", "var $x = '1'; @media");
    EXPECT_EQ(constructOf(engine, "var"), "keyword");
    EXPECT_TRUE(engine.keywordsCaseSensitive());

    fixture.colour("none", engine.string());
    EXPECT_TRUE(engine.keywords().isEmpty());
    EXPECT_FALSE(engine.keywordsCaseSensitive());
    EXPECT_EQ(colourRuns(engine), "");

    // CSS drops "-" from the word ends; JavaScript must get it back.
    fixture.colour("CSS", "a{}");
    fixture.colour("JavaScript", "x-var");
    EXPECT_EQ(constructOf(engine, "var"), "keyword");
    fixture.colour("HTML", "&amp;");
    EXPECT_EQ(constructAt(engine, 0), "variable");
    fixture.colour("JavaScript", "&amp;");
    EXPECT_EQ(constructAt(engine, 0), "") << "HTML's entity start stays with HTML";
}

TEST(CESyntaxColouring, ConstructsAtTheEndOfTheTextKeepLaterPasses)
{
    CodeEditorFixture fixture;
    // An unfinished tag with an attribute name ends the text.
    CESyntaxColouring &engine = fixture.colour("HTML", "<!-- c -->\n<a <b> href");
    EXPECT_EQ(constructOf(engine, " href"), "command");
    EXPECT_EQ(constructOf(engine, "c -->"), "comment");
    // A ":" ends the text, where the comment pass looks for "//" after it.
    fixture.colour("JavaScript", "/* c */ 'a' + b ? 1 :");
    EXPECT_EQ(constructOf(engine, "c */"), "comment");
}

TEST(CESyntaxColouring, DefinitionChosenFromTheNameOrTheFirstLine)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &engine = fixture.colouring();
    engine.setName("scripts/Start.JS");
    engine.setSyntaxDefinition(QString());
    EXPECT_EQ(engine.syntaxDefinition(), "JavaScript");

    engine.setName("untitled");
    engine.setString("<?xml version=\"1.0\"?>\n<a/>");
    engine.setSyntaxDefinition(QString());
    EXPECT_EQ(engine.syntaxDefinition(), "HTML");
    engine.setString("#!/usr/bin/perl\n");
    engine.setSyntaxDefinition(QString());
    EXPECT_EQ(engine.syntaxDefinition(), "Standard") << "no language claims pl";

    fixture.defaults->setValue(CEDefaults::syntaxColouringMatrix, 1);
    fixture.defaults->setValue(CEDefaults::syntaxColouringPopUpString, "CSS");
    engine.setSyntaxDefinition(QString());
    EXPECT_EQ(engine.syntaxDefinition(), "CSS");
}

namespace {

// What the view does after recolouring: the lines of the selection get the highlight.
void highlightSelection(CESyntaxColouring &engine, CERange selection)
{
    const QString &text = engine.string();
    const qsizetype start = CESyntaxColouring::lineStart(text, selection.location);
    const CERange lines{start, CESyntaxColouring::lineEnd(text, selection.end()) - start};
    engine.setSelectedRange(selection);
    if (lines == engine.lastLineHighlightRange()) {
        if (lines.length > 0
            && !engine.temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour, start).isValid())
            engine.temporaryAttributes().addAttributes(engine.colourAttributes(CEDefaults::highlightLineColourWell), lines);
        return;
    }
    engine.highlightLineRange(lines);
}

// Lines first to last (0-based) of the text, their terminators included.
CERange linesOf(const QString &text, int first, int last)
{
    qsizetype start = 0;
    for (int line = 0; line < first; ++line)
        start = CESyntaxColouring::lineEnd(text, start);
    qsizetype end = start;
    for (int line = first; line <= last; ++line)
        end = CESyntaxColouring::lineEnd(text, end);
    return {start, end - start};
}

} // namespace

// Typing recolours the edited line alone when the colouring can tell that nothing else in view
// changes. Random edits of every kind (delimiters, escapes, line breaks) on the shipped samples,
// with and without the current-line highlight, must leave every visible line exactly as a second
// engine that recolours all visible lines after each edit leaves it.
TEST(CESyntaxColouring, EditedLineAloneColoursAsTheWholeView)
{
    // Mostly what a word or an expression is made of, now and then a delimiter or an escape.
    const QString words = QStringLiteral("abcdefgh xyz_1 ");
    const QString delimiters = QStringLiteral("\"'/*<>!-#$\\{}();=.:%?&\t");
    for (const auto &[definition, sample] : {std::pair{"JavaScript", "sample.js"}, std::pair{"HTML", "sample.html"},
                                             std::pair{"CSS", "sample.css"}}) {
        const QString one = QString::fromUtf8(KRTest::readFile(KR_TEST_DATA_DIR "/codeeditor/" + QString::fromLatin1(sample)));
        ASSERT_FALSE(one.isEmpty());
        const QString text = one.repeated(5);
        for (const bool highlight : {false, true}) {
            CodeEditorFixture alone, whole;
            alone.defaults->setValue(CEDefaults::highlightCurrentLine, highlight);
            whole.defaults->setValue(CEDefaults::highlightCurrentLine, highlight);
            CESyntaxColouring &fast = alone.colour(definition, text);
            CESyntaxColouring &reference = whole.colour(definition, text);
            std::mt19937 random(highlight ? 7 : 3);
            int lineAlone = 0;
            qsizetype at = 0;
            for (int edit = 0; edit < 400; ++edit) {
                // Mostly typing on at the caret, now and then somewhere else in view.
                const CERange editable = linesOf(reference.string(), 12, 38);
                if (edit == 0 || random() % 5 == 0 || at < editable.location || at >= editable.end())
                    at = editable.location + qsizetype(random() % quint32(editable.length));
                CERange replaced{at, 0};
                QString inserted;
                switch (random() % 8) {
                case 0: // a character taken out, a line break now and then
                    replaced.length = reference.string().at(at) != u'\n' || random() % 4 == 0 ? 1 : 0;
                    break;
                case 1:
                    inserted = QStringLiteral("\n");
                    break;
                default:
                    for (quint32 n = 1 + random() % 3; n > 0; --n) {
                        const QString &from = random() % 6 == 0 ? delimiters : words;
                        inserted += from.at(qsizetype(random() % quint32(from.size())));
                    }
                }
                const CERange caret{at + inserted.size(), 0};
                at = caret.location;
                for (CESyntaxColouring *engine : {&fast, &reference}) {
                    engine->replaceCharacters(replaced, inserted);
                    engine->setVisibleRange(linesOf(engine->string(), 10, 40));
                }
                reference.pageRecolour();
                const qsizetype caretLine = CESyntaxColouring::lineStart(fast.string(), caret.location);
                const CERange highlightLines{caretLine, CESyntaxColouring::lineEnd(fast.string(), caret.location) - caretLine};
                if (fast.recolourEditedLine(highlight ? highlightLines : CERange{-1, 0}))
                    ++lineAlone;
                else
                    fast.pageRecolour();
                if (highlight) {
                    highlightSelection(reference, caret);
                    highlightSelection(fast, caret);
                }
                const CERange shown = linesOf(reference.string(), 10, 40);
                ASSERT_EQ(fast.string(), reference.string());
                for (qsizetype i = shown.location; i < shown.end(); ++i) {
                    ASSERT_EQ(fast.temporaryAttributes().attributesAt(i), reference.temporaryAttributes().attributesAt(i))
                        << definition << (highlight ? " highlighted" : "") << ", edit " << edit << " at " << replaced.location << " ("
                        << qPrintable(inserted) << "), position " << i << " in:\n"
                        << qPrintable(reference.string().mid(CESyntaxColouring::lineStart(reference.string(), i), 80));
                }
            }
            EXPECT_GT(lineAlone, 40) << definition << ": the edited line alone, out of 400 edits";
        }
    }
}

// The editor keeps the preferences it reads while typing; each change reaches the next read,
// the observers of the change included.
TEST(CESyntaxColouring, PreferencesReadWhileTypingFollowTheirChanges)
{
    CodeEditorFixture fixture;
    KRUserDefaults &defaults = *fixture.defaults;
    defaults.registerInitialValues({{CEDefaults::colourComments, true}});
    EXPECT_TRUE(CEDefaults::boolValue(defaults, CEDefaults::colourComments));
    std::vector<bool> seen;
    const KRObservationToken token = defaults.observe(CEDefaults::colourComments, [&](const QString &, const QVariant &) {
        seen.push_back(CEDefaults::boolValue(defaults, CEDefaults::colourComments));
    });
    defaults.setValue(CEDefaults::colourComments, false);
    EXPECT_FALSE(CEDefaults::boolValue(defaults, CEDefaults::colourComments));
    defaults.removeObject(CEDefaults::colourComments);
    EXPECT_TRUE(CEDefaults::boolValue(defaults, CEDefaults::colourComments));
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));

    defaults.setValue(CEDefaults::tabWidth, 3);
    EXPECT_EQ(CEDefaults::integerValue(defaults, CEDefaults::tabWidth), 3);
    defaults.setValue(CEDefaults::tabWidth, 5);
    EXPECT_EQ(CEDefaults::integerValue(defaults, CEDefaults::tabWidth), 5);

    // Another set of defaults keeps its own values.
    KRUserDefaults other(fixture.defaults->filePath() + QStringLiteral(".other"));
    other.setValue(CEDefaults::colourComments, false);
    EXPECT_FALSE(CEDefaults::boolValue(other, CEDefaults::colourComments));
    EXPECT_TRUE(CEDefaults::boolValue(defaults, CEDefaults::colourComments));
}
