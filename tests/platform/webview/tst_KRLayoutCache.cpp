// The layout cache as the agent feeds it, and the fake that headless code reads.
#include <platform/dom/KRFakeLayoutSource.h>
#include <platform/webview/KRLayoutCache.h>

#include <gtest/gtest.h>

#include <QSignalSpy>

static QVariantList row(quint64 id, int w, int h, int sw, int sh)
{
    return {id, 1, 2, w, h, sw, sh, w, h, 1.5, 2.5, double(w), double(h)};
}

TEST(KRLayoutCache, ReportsFillUpdateAndForgetNodes)
{
    KRLayoutCache cache;
    QSignalSpy changed(&cache, &KRLayoutCache::geometryDidChange);
    EXPECT_FALSE(cache.geometryForNode(7).valid);

    cache.applyReport({QVariant(row(7, 100, 20, 100, 20)), QVariant(row(9, 50, 10, 80, 10))});
    const KRNodeGeometry g = cache.geometryForNode(7);
    ASSERT_TRUE(g.valid);
    EXPECT_EQ(g.offsetLeft, 1);
    EXPECT_EQ(g.offsetTop, 2);
    EXPECT_EQ(g.offsetWidth, 100);
    EXPECT_EQ(g.scrollHeight, 20);
    EXPECT_DOUBLE_EQ(g.clientLeft, 1.5);
    EXPECT_EQ(cache.geometryForNode(9).scrollWidth, 80);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QList<quint64>>(), (QList<quint64>{7, 9}));

    // The same numbers again change nothing; a one-number row removes the node.
    cache.applyReport({QVariant(row(7, 100, 20, 100, 20))});
    EXPECT_EQ(changed.count(), 1);
    cache.applyReport({QVariant(QVariantList{9})});
    EXPECT_FALSE(cache.geometryForNode(9).valid);
    EXPECT_EQ(changed.count(), 2);

    // A node read before it was measured is asked for, once, until another document; a node
    // measured is not. A new load of the same document keeps what was asked for.
    QList<quint64> asked;
    cache.setAskHandler([&](quint64 id) { asked.append(id); });
    EXPECT_FALSE(cache.geometryForNode(11).valid);
    EXPECT_FALSE(cache.geometryForNode(11).valid);
    EXPECT_TRUE(cache.geometryForNode(7).valid);
    EXPECT_FALSE(cache.geometryForNode(0).valid);
    EXPECT_EQ(asked, (QList<quint64>{11}));
    cache.clear();
    EXPECT_EQ(cache.askedNodes(), (QList<quint64>{11}));
    cache.geometryForNode(11);
    EXPECT_EQ(asked.size(), 1);
    cache.forgetAskedNodes();
    cache.geometryForNode(11);
    EXPECT_EQ(asked, (QList<quint64>{11, 11}));
}

TEST(KRLayoutCache, MalformedRowsAreSkipped)
{
    KRLayoutCache cache;
    cache.applyReport({QVariant(QVariantList{1, 2, 3}), QVariant(QStringLiteral("x")),
                       QVariant(QVariantList{QStringLiteral("a"), 1}), QVariant(row(4, 10, 10, 10, 10))});
    EXPECT_EQ(cache.count(), 1);
    EXPECT_TRUE(cache.geometryForNode(4).valid);
}

TEST(KRFakeLayoutSource, AnswersConfiguredSizes)
{
    KRFakeLayoutSource fake;
    const KRLayoutSource &source = fake;
    EXPECT_FALSE(source.geometryForNode(3).valid);
    fake.setSize(3, 120, 44);
    EXPECT_EQ(source.geometryForNode(3).offsetHeight, 44);
    EXPECT_EQ(source.geometryForNode(3).scrollWidth, 120);
    fake.remove(3);
    EXPECT_FALSE(source.geometryForNode(3).valid);
}
