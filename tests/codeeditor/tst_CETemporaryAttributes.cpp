#include <codeeditor/CETemporaryAttributes.h>

#include <gtest/gtest.h>

#include <QColor>

TEST(CETemporaryAttributes, RunsFollowEditsAndKeepArbitraryKeys)
{
    const QString errorLine = QStringLiteral("KRSyntaxErrorLineNumber");
    CETemporaryAttributes store;
    store.reset(20);
    store.addAttributes({{CETemporaryAttributes::foregroundColour, QColor(Qt::red)}}, {2, 6});
    store.addAttributes({{errorLine, 3}}, {5, 10});

    CERange effective;
    EXPECT_EQ(store.attributesAt(3, &effective),
              (QVariantMap{{CETemporaryAttributes::foregroundColour, QColor(Qt::red)}}));
    EXPECT_EQ(effective, (CERange{2, 3}));
    EXPECT_EQ(store.attributesAt(6).size(), 2);
    EXPECT_EQ(store.attributeAt(errorLine, 12).toInt(), 3);

    // Typing before the runs moves them; deleting across a boundary shortens them.
    store.replace(0, 0, 4);
    EXPECT_TRUE(store.attributesAt(2).isEmpty());
    store.attributesAt(7, &effective);
    EXPECT_EQ(effective, (CERange{6, 3}));
    store.replace(7, 4, 1); // removes 7..10, inserts one plain unit
    EXPECT_EQ(store.length(), 21);
    EXPECT_TRUE(store.attributesAt(7).isEmpty());
    EXPECT_EQ(store.attributesAt(8).size(), 2);

    store.removeAttribute(CETemporaryAttributes::foregroundColour, {0, 100});
    EXPECT_EQ(store.attributesAt(8), (QVariantMap{{errorLine, 3}}));
    store.attributesAt(8, &effective);
    EXPECT_EQ(effective, (CERange{8, 8}));
    const auto runs = store.runs({-5, 100});
    ASSERT_EQ(runs.size(), 3);
    EXPECT_EQ(runs.at(1).first, (CERange{8, 8}));
    EXPECT_EQ(runs.at(2).first.end(), 21) << "ranges are clamped to the text";

    // A handle compares whole dictionaries: a highlighted keyword is not a plain keyword.
    const quint32 errorHandle = store.dictionaryHandle({{errorLine, 3}});
    EXPECT_TRUE(store.hasDictionary(10, errorHandle));
    store.addAttributes({{CETemporaryAttributes::backgroundColour, QColor(Qt::yellow)}}, {10, 1});
    EXPECT_FALSE(store.hasDictionary(10, errorHandle));
    EXPECT_TRUE(store.attributesAt(-1).isEmpty());
    EXPECT_TRUE(store.attributesAt(21).isEmpty());
}
