#include "KRTestSupport.h"

#include <codeeditor/CEDefaults.h>
#include <codeeditor/CETextPerformer.h>

#include <platform/foundation/KRUserDefaults.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace CETextPerformer;

TEST(CETextPerformer, LineEndingConversions)
{
    const QString mixed = "one\rtwo\r\nthree\n";
    EXPECT_EQ(convertLineEndings(mixed, CarriageReturnLineFeed), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(convertLineEndings(mixed, CarriageReturn), "one\rtwo\rthree\r");
    EXPECT_EQ(convertLineEndings(mixed, LineFeed), "one\ntwo\nthree\n");
    EXPECT_EQ(convertLineEndings(mixed, Unchanged), mixed);
    EXPECT_EQ(convertLineEndings(mixed, 42), "one\ntwo\nthree\n");

    KRUserDefaults defaults(QDir(KRTest::makeTempDir()).filePath("defaults.conf"));
    EXPECT_EQ(convertLineEndings(mixed, NotSet, &defaults), "one\ntwo\nthree\n") << "no default: line feeds";
    defaults.setValue(CEDefaults::lineEndingsPopUp, 2);
    EXPECT_EQ(convertLineEndings(mixed, NotSet, &defaults), "one\r\ntwo\r\nthree\r\n");

    EXPECT_EQ(removeAllLineEndings(mixed), "onetwothree");
    EXPECT_EQ(replaceAllNewLineCharactersWithSymbol("a\r\nb\rc\n"), QString::fromUtf8("a\u23CEb\u23CEc\u23CE"));
}

TEST(CETextPerformer, EditedFilesKeepTheirLineEndingsAndNoBreakSpaces)
{
    const QString nbsp(QChar(0x00A0));
    for (const QString ending : {"\r", "\r\n", "\n"}) {
        SCOPED_TRACE(QString(ending).replace("\r", "CR").replace("\n", "LF").toStdString());
        const QString file = "p {" + ending + "  content:\"a" + nbsp + "b\";" + ending + "}" + ending;
        LineEndingStyle style = NotSet;
        QTextDocument document;
        document.setPlainText(textForEditor(file, &style));
        EXPECT_EQ(document.blockCount(), 4);

        // One edit in the middle line, then the text leaves the editor.
        QTextCursor cursor(document.findBlockByNumber(1));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertText(" /* x */");
        const QString expected = "p {" + ending + "  content:\"a" + nbsp + "b\"; /* x */" + ending + "}" + ending;
        EXPECT_EQ(textFromEditor(plainTextOf(document), style), expected);
    }
    EXPECT_EQ(lineEndingStyleOf("no ending"), LineFeed);
}

TEST(CETextPerformer, EncodingDeclarations)
{
    EXPECT_EQ(guessEncodingFromData("<html><head><meta charset=utf-8></head>"), "UTF-8");
    EXPECT_EQ(guessEncodingFromData("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=\"iso-8859-1\"\">"),
              "ISO-8859-1");
    EXPECT_EQ(guessEncodingFromData("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>"), "ISO-8859-1");
    EXPECT_EQ(guessEncodingFromData("<?xml version='1.0' encoding='UTF-16' ?><a/>"), "UTF-16")
        << "the name ends at its closing quote, not one before \"?>\"";
    EXPECT_EQ(guessEncodingFromData("<?xml version=\"1.0\" encoding=\"no-such-set\"?>"), "");
    EXPECT_EQ(guessEncodingFromData("<meta charset=klingon-8>"), "");
    EXPECT_EQ(guessEncodingFromData("<?xml encoding=\"?>"), "");
    EXPECT_EQ(guessEncodingFromData("\xEF\xBB\xBFplain text"), "UTF-8");
    EXPECT_EQ(guessEncodingFromData(QByteArray("\xFF\xFE" "a\0b\0", 6)), "UTF-16LE");
    EXPECT_EQ(guessEncodingFromData("plain abc"), "");
}
