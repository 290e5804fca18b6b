#include <core/OrderedDictionary.h>

#include <platform/foundation/KRException.h>

#include <gtest/gtest.h>

#include <QLocale>
#include <QVariant>

using Dictionary = OrderedDictionary<QString, QString>;

namespace {

Dictionary bac()
{
    Dictionary dictionary;
    dictionary.setObject("B", "b");
    dictionary.setObject("A", "a");
    dictionary.setObject("C", "c");
    return dictionary;
}

} // namespace

TEST(OrderedDictionary, KeysFollowFirstStoreOrder)
{
    Dictionary dictionary = bac();
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(dictionary.allValues(), (QStringList{"B", "A", "C"}));
    EXPECT_EQ(dictionary.reverseKeyEnumerator(), (QStringList{"c", "a", "b"}));
    QStringList iterated;
    for (const auto &[key, value] : dictionary)
        iterated.append(key + "=" + value);
    EXPECT_EQ(iterated, (QStringList{"b=B", "a=A", "c=C"}));
    EXPECT_EQ(dictionary.keyAtIndex(1), "a");
}

TEST(OrderedDictionary, StoringKeepsPlaceRemovingForgetsIt)
{
    Dictionary dictionary = bac();
    dictionary.setObject("A2", "a");
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(dictionary.objectForKey("a"), "A2");
    EXPECT_EQ(dictionary.count(), 3);

    dictionary.removeObjectForKey("a");
    dictionary.removeObjectForKey("absent");
    EXPECT_EQ(dictionary.count(), 2);
    EXPECT_TRUE(dictionary.objectForKey("a").isNull());
    EXPECT_EQ(dictionary.find("a"), nullptr);
    dictionary.setObject("A3", "a");
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"b", "c", "a"}));
}

TEST(OrderedDictionary, InsertAtIndex)
{
    Dictionary dictionary = bac();
    dictionary.insertObject("C0", "c", 0);
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"c", "b", "a"}));
    EXPECT_EQ(dictionary.count(), 3);
    EXPECT_EQ(dictionary.objectForKey("c"), "C0");

    // The index counts after the present key was removed: count() is the end.
    dictionary.insertObject("B1", "b", 2);
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"c", "a", "b"}));
    dictionary.insertObject("D", "d", 3);
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"c", "a", "b", "d"}));
}

TEST(OrderedDictionary, IndexOutsideKeyOrderIsRangeError)
{
    Dictionary dictionary = bac();
    try {
        dictionary.insertObject("X", "x", 5);
        FAIL() << "no exception";
    } catch (const KRException &exception) {
        EXPECT_EQ(exception.name(), KRExceptionName::Range);
    }
    // A present key moved to an index beyond the others is refused, and stays where it was.
    EXPECT_THROW(dictionary.insertObject("A", "a", 3), KRException);
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"b", "a", "c"}));
    EXPECT_THROW(dictionary.keyAtIndex(3), KRException);
    EXPECT_THROW(dictionary.keyAtIndex(-1), KRException);
    EXPECT_THROW(Dictionary().keyAtIndex(0), KRException);
}

TEST(OrderedDictionary, CopyIsIndependent)
{
    Dictionary dictionary = bac();
    Dictionary copy = dictionary.copy();
    copy.setObject("Z", "z");
    copy.removeObjectForKey("b");
    EXPECT_EQ(dictionary.allKeys(), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(copy.allKeys(), (QStringList{"a", "c", "z"}));
    EXPECT_NE(copy, dictionary);
    EXPECT_EQ(dictionary.copy(), dictionary);
}

TEST(OrderedDictionary, DescriptionText)
{
    Dictionary dictionary = bac();
    EXPECT_EQ(dictionary.descriptionWithLocale(QLocale::c(), 0), "{\n    b = B;\n    a = A;\n    c = C;\n}\n");
    EXPECT_EQ(dictionary.descriptionWithLocale(QLocale::c(), 1),
              "    {\n        b = B;\n        a = A;\n        c = C;\n    }\n");

    OrderedDictionary<QString, Dictionary> nested;
    Dictionary inner;
    inner.setObject("v", "k");
    nested.setObject(inner, "group");
    // A nested dictionary is described at the same level.
    EXPECT_EQ(nested.descriptionWithLocale(QLocale::c(), 1),
              "    {\n        group =     {\n        k = v;\n    }\n;\n    }\n");

    OrderedDictionary<QString, QVariant> variants;
    variants.setObject(3, "n");
    variants.setObject(QStringLiteral("text"), "s");
    EXPECT_EQ(variants.descriptionWithLocale(QLocale::c(), 0), "{\n    n = 3;\n    s = text;\n}\n");
}
