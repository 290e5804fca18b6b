#include "CodeEditorTestSupport.h"

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

TEST(CESyntaxController, ShippedDefinitionsCoverTheEditableResources)
{
    CodeEditorFixture fixture;
    CESyntaxColouring &engine = fixture.colouring();
    const QJsonArray types =
        QJsonDocument::fromJson(KRTest::readFile(KR_SOURCE_DIR "/resources/editable-resources.json")).array();
    ASSERT_FALSE(types.isEmpty());
    for (const QJsonValue &type : types) {
        const QString syntax = type.toObject().value("syntax").toString();
        if (syntax.isEmpty())
            continue;
        SCOPED_TRACE(syntax.toStdString());
        EXPECT_EQ(fixture.controller->syntaxDefinitionWithName(syntax).name, syntax) << "listed in the index";
        for (const QJsonValue &extension : type.toObject().value("extensions").toArray())
            EXPECT_EQ(fixture.controller->syntaxDefinitionNameWithExtension(extension.toString()), syntax);
    }
    // Every shipped definition reads, and its string delimiters make valid patterns.
    for (const CESyntaxRecord &record : fixture.controller->records()) {
        SCOPED_TRACE(record.name.toStdString());
        EXPECT_TRUE(QFile::exists(KR_SOURCE_DIR "/resources/syntax/" + record.file + ".plist"));
        engine.setSyntaxDefinition(record.name);
        EXPECT_EQ(engine.hasFirstStringPattern(), !engine.definitionValue("firstString").isEmpty());
        EXPECT_EQ(engine.hasSecondStringPattern(), !engine.definitionValue("secondString").isEmpty());
    }
    EXPECT_EQ(fixture.controller->syntaxDefinitionNames().mid(0, 2), (QStringList{"Standard", "None"}));
}

TEST(CESyntaxController, LookupByNameAndExtension)
{
    CodeEditorFixture fixture;
    fixture.writeUserIndex({QVariantMap{{"name", "Lisp"}, {"file", "lisp"}, {"extensions", ".el .LISP"}}});
    fixture.colouring();
    const CESyntaxController &controller = *fixture.controller;
    for (const QString name : {"JavaScript", "javascript", "JAVASCRIPT"})
        EXPECT_EQ(controller.syntaxDefinitionWithName(name).file, "javascript");
    EXPECT_EQ(controller.syntaxDefinitionWithName("Cobol").name, "Standard");
    EXPECT_EQ(controller.syntaxDefinitionNameWithExtension("JS"), "JavaScript");
    EXPECT_EQ(controller.syntaxDefinitionNameWithExtension("el"), "Lisp") << "dots are ignored";
    EXPECT_TRUE(controller.syntaxDefinitionNameWithExtension("LISP").isNull())
        << "listed extensions are compared as written, the asked one in lower case";
    EXPECT_TRUE(controller.syntaxDefinitionNameWithExtension("").isNull());
    // A language without a readable file gets the standard definition.
    EXPECT_EQ(controller.syntaxDictionaryWithName("Lisp"), controller.syntaxDictionaryWithName("Standard"));
    EXPECT_EQ(controller.syntaxDictionaryWithName(QString()), controller.syntaxDictionaryWithName("Standard"));
    EXPECT_TRUE(controller.syntaxDictionaryWithName("JavaScript")->contains("keywords"));
}

TEST(CESyntaxController, UserIndexIsReadKeyByKey)
{
    CodeEditorFixture fixture;
    fixture.writeUserIndex({
        QVariantMap{{"name", "Listed"}, {"file", "listed"}, {"extensions", QVariantList{"lst"}}},
        QVariantMap{{"name", QVariantList{"x"}}, {"file", "x"}},
        QVariant("not a dictionary"),
        QVariantMap{{"name", "STANDARD"}, {"file", "mine"}, {"extensions", qlonglong(7)}},
        QVariantMap{{"name", "Odd"}, {"file", "../odd"}},
    });
    fixture.writeUserDefinition("mine", {{"keywords", "not a list"},
                                         {"keywordsCaseSensitive", "YES"},
                                         {"firstString", QVariantList{"\""}},
                                         {"autocompleteWords", QVariantList{"ok", 3, QVariantMap{}}},
                                         {"secondString", "'"}});
    CESyntaxColouring &engine = fixture.colouring();
    const CESyntaxController &controller = *fixture.controller;
    EXPECT_EQ(controller.syntaxDefinitionNames(), (QStringList{"Standard", "None", "JavaScript", "HTML", "CSS", "STANDARD", "Odd"}));
    EXPECT_EQ(controller.syntaxDefinitionWithName("listed").file, "mine") << "extensions as a list are refused";
    EXPECT_EQ(controller.standardSyntaxDefinition().file, "mine") << "the user's entry replaces the built-in";

    // The user's standard definition: only the values of the right type count.
    engine.setSyntaxDefinition("Standard");
    EXPECT_TRUE(engine.keywords().contains("ok"));
    EXPECT_EQ(engine.keywords().size(), 1);
    EXPECT_FALSE(engine.keywordsCaseSensitive());
    EXPECT_TRUE(engine.definitionValue("firstString").isEmpty());
    EXPECT_EQ(engine.definitionValue("secondString"), "'");
    EXPECT_EQ(controller.syntaxDictionaryWithName("Odd"), controller.syntaxDictionaryWithName("Standard"))
        << "a file name never leaves the definition folders";
}
