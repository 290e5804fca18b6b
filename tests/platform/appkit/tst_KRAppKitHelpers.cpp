#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/appkit/KRRecentDocuments.h>
#include <platform/appkit/KRTableModel.h>
#include <platform/appkit/KRViewExtensions.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTableView>

#include <gtest/gtest.h>

TEST(KRViewExtensions, CentringFillingAndAncestry)
{
    QWidget parent;
    parent.resize(300, 200);
    auto *child = new QLabel(&parent);
    child->setGeometry(7, 9, 100, 50);
    KRView::centerViewHorizontally(child);
    EXPECT_EQ(child->geometry(), QRect(100, 9, 100, 50));
    KRView::centerViewVertically(child);
    EXPECT_EQ(child->geometry(), QRect(100, 75, 100, 50));

    auto *fill = new QWidget;
    fill->move(40, 40);
    KRView::addSubviewAndResize(&parent, fill);
    EXPECT_EQ(fill->geometry(), QRect(0, 0, 300, 200));
    EXPECT_FALSE(fill->isHidden());

    EXPECT_TRUE(KRView::isDescendantOfViewClass<QLabel>(child)); // the view itself counts
    EXPECT_FALSE(KRView::isDescendantOfViewClass<QLabel>(fill));
    EXPECT_TRUE(KRView::hasParentResponder(child, &parent));
    EXPECT_FALSE(KRView::hasParentResponder(&parent, child));
}

TEST(KRPath, InsetScalesAboutTheCentreOfBounds)
{
    QPainterPath path;
    path.addRect(QRectF(10, 20, 10, 20));
    const QRectF shrunk = KRPath::insetPathBy(path, 1).boundingRect(); // by 0.8 and 0.9
    EXPECT_NEAR(shrunk.width(), 8.0, 1e-5);
    EXPECT_NEAR(shrunk.height(), 18.0, 1e-5);
    EXPECT_EQ(shrunk.center(), QPointF(15, 30));
    EXPECT_NEAR(KRPath::insetPathBy(path, -1).boundingRect().height(), 22.0, 1e-5); // by 1.1

    // Degenerate paths neither divide by zero nor turn inside out.
    QPainterPath line;
    line.moveTo(0, 5);
    line.lineTo(10, 5);
    const QRectF lineBounds = KRPath::insetPathBy(line, 1).boundingRect();
    EXPECT_NEAR(lineBounds.width(), 8.0, 1e-5);
    EXPECT_EQ(lineBounds.height(), 0.0);
    const QRectF collapsed = KRPath::insetPathBy(path, 8).boundingRect();
    EXPECT_EQ(collapsed.width(), 0.0);
    EXPECT_EQ(collapsed.center(), QPointF(15, 30));
}

TEST(KRInterfaceRegistry, UnknownNameRaisesTheLoadingException)
{
    try {
        KRInterfaceRegistry::instantiate(QStringLiteral("KRNoSuchView"), nullptr);
        FAIL() << "no exception";
    } catch (const KRException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("NibLoadingFailedException"));
        EXPECT_EQ(e.reason(), QStringLiteral("Nib file not loaded in KRCachingViewController"));
    }
}

// The selection follows its rows through insertions and removals, and the attached view.
TEST(KRTableModel, SelectionFollowsRows)
{
    KRTableModel<QString> model({{QStringLiteral("Name"), [](const QString &row, int) { return QVariant(row); }, {}}});
    model.setRows({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QTableView view;
    model.attachView(&view);
    model.setSelectionIndexes({2, 0, 2, 7});
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{0, 2}));
    EXPECT_EQ(view.selectionModel()->selectedRows().size(), 2);

    model.insert(1, QStringLiteral("x"));
    model.removeAt(0);
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{2}));
    EXPECT_EQ(model.at(2), QStringLiteral("c"));
    view.selectRow(0);
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{0}));
}

// The settings file keeps a list of one path as that path alone: the only recent project must
// still be there in the next session, also from a file written that way before.
TEST(KRRecentDocuments, ASingleDocumentIsRememberedForTheNextSession)
{
    const QString dir = KRTest::makeTempDir();
    const QString project = dir + QStringLiteral("/Only, one.krproj");
    {
        KRUserDefaults defaults(dir + QStringLiteral("/d.conf"));
        KRRecentDocuments(defaults, QStringLiteral("recent")).noteDocument(project);
    }
    // As the next session reads the file (this process keeps what it wrote in memory).
    ASSERT_TRUE(QFile::copy(dir + QStringLiteral("/d.conf"), dir + QStringLiteral("/next.conf")));
    KRUserDefaults next(dir + QStringLiteral("/next.conf"));
    EXPECT_EQ(KRRecentDocuments(next, QStringLiteral("recent")).paths(), QStringList{project});

    KRTest::writeFile(dir + QStringLiteral("/old.conf"), "[General]\nrecent=/home/me/Shop.krproj\nempty=\n");
    KRUserDefaults old(dir + QStringLiteral("/old.conf"));
    EXPECT_EQ(KRRecentDocuments(old, QStringLiteral("recent")).paths(), QStringList{QStringLiteral("/home/me/Shop.krproj")});
    EXPECT_TRUE(KRRecentDocuments(old, QStringLiteral("empty")).paths().isEmpty());
}

TEST(KRRecentDocuments, MostRecentFirstUniqueBoundedAndPruned)
{
    const QString dir = KRTest::makeTempDir();
    KRUserDefaults defaults(dir + QStringLiteral("/d.conf"));
    KRRecentDocuments recent(defaults, QStringLiteral("recent"), 3);
    QStringList p;
    for (const char *name : {"a", "b", "c", "d"}) {
        p << dir + QStringLiteral("/%1.krproj").arg(QLatin1String(name));
        QDir().mkpath(p.last());
    }
    recent.noteDocument(p[0]);
    recent.noteDocument(p[1]);
    recent.noteDocument(p[0] + QStringLiteral("/")); // the same package again
    EXPECT_EQ(recent.paths(), (QStringList{p[0], p[1]}));
    recent.noteDocument(p[2]);
    recent.noteDocument(p[3]);
    EXPECT_EQ(recent.paths(), (QStringList{p[3], p[2], p[0]}));

    QDir(p[2]).removeRecursively();
    KRUserDefaults reread(dir + QStringLiteral("/d.conf")); // stored for the next session
    KRRecentDocuments next(reread, QStringLiteral("recent"), 3);
    EXPECT_EQ(next.paths().size(), 3); // missing ones go only when asked
    next.removeMissingDocuments();
    EXPECT_EQ(next.paths(), (QStringList{p[3], p[0]}));
}
