#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/appkit/KRRecentDocuments.h>
#include <platform/appkit/KRTableModel.h>
#include <platform/appkit/KRViewExtensions.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

TEST(KRViewExtensions, CentringAndFilling)
{
    QWidget parent;
    parent.resize(300, 200);
    auto *child = new QWidget(&parent);
    child->setGeometry(7, 9, 100, 50);
    KRView::centerViewHorizontally(child);
    EXPECT_EQ(child->geometry(), QRect(100, 9, 100, 50));
    KRView::centerViewVertically(child);
    EXPECT_EQ(child->geometry(), QRect(100, 75, 100, 50));

    auto *fill = new QLabel;
    fill->move(40, 40);
    KRView::addSubviewAndResize(&parent, fill);
    EXPECT_EQ(fill->parentWidget(), &parent);
    EXPECT_EQ(fill->geometry(), QRect(0, 0, 300, 200));
    EXPECT_FALSE(fill->isHidden());
}

TEST(KRViewExtensions, AncestryQueries)
{
    QFrame frame;
    QWidget middle(&frame);
    QLabel label(&middle);
    EXPECT_TRUE(KRView::isDescendantOfViewClass<QFrame>(&label)); // QLabel is a QFrame itself
    EXPECT_TRUE(KRView::isDescendantOfViewClass<QFrame>(&middle));
    EXPECT_FALSE(KRView::isDescendantOfViewClass<QTableView>(&label));

    EXPECT_TRUE(KRView::hasParentResponder(&label, &label));
    EXPECT_TRUE(KRView::hasParentResponder(&label, &frame));
    EXPECT_FALSE(KRView::hasParentResponder(&frame, &label));
}

TEST(KRPath, InsetScalesAboutTheCentreOfBounds)
{
    QPainterPath path;
    path.addRect(QRectF(10, 20, 10, 20));
    EXPECT_EQ(KRPath::centreOfBounds(path), QPointF(15, 30));

    const QRectF shrunk = KRPath::insetPathBy(path, 1).boundingRect(); // scale 0.8, 0.9
    EXPECT_NEAR(shrunk.width(), 8.0, 1e-5);
    EXPECT_NEAR(shrunk.height(), 18.0, 1e-5);
    EXPECT_EQ(shrunk.center(), QPointF(15, 30));
    const QRectF grown = KRPath::insetPathBy(path, -1).boundingRect(); // scale 1.2, 1.1
    EXPECT_NEAR(grown.width(), 12.0, 1e-5);
    EXPECT_NEAR(grown.height(), 22.0, 1e-5);

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

TEST(KRInterfaceRegistry, BuildsFreshInstancesAndRefusesUnknownNames)
{
    QObject owner;
    KRInterfaceRegistry::registerInterface(QStringLiteral("KRTestHelpersView"), [](QObject *o) {
        auto *root = new QLabel(QStringLiteral("root"));
        root->setObjectName(o->objectName());
        return root;
    });
    owner.setObjectName(QStringLiteral("owner"));
    std::unique_ptr<QWidget> a(KRInterfaceRegistry::instantiate(QStringLiteral("KRTestHelpersView"), &owner));
    std::unique_ptr<QWidget> b(KRInterfaceRegistry::instantiate(QStringLiteral("KRTestHelpersView"), &owner));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->objectName(), QStringLiteral("owner"));

    try {
        KRInterfaceRegistry::instantiate(QStringLiteral("KRNoSuchView"), &owner);
        FAIL() << "no exception";
    } catch (const KRException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("NibLoadingFailedException"));
        EXPECT_EQ(e.reason(), QStringLiteral("Nib file not loaded in KRCachingViewController"));
    }
}

// The selection follows its rows through insertions and removals and the attached view.
TEST(KRTableModel, SelectionFollowsRows)
{
    KRTableModel<QString> model({{QStringLiteral("Name"), [](const QString &row, int role) {
                                      return role == Qt::DisplayRole ? QVariant(row) : QVariant();
                                  }, {}}});
    model.setRows({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QTableView view;
    model.attachView(&view);
    model.setSelectionIndexes({2, 0, 2, 7});
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{0, 2}));
    EXPECT_EQ(view.selectionModel()->selectedRows().size(), 2);

    model.insert(1, QStringLiteral("x"));
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{0, 3}));
    QSignalSpy changed(&model, &KRTableModelBase::selectionChanged);
    model.removeAt(0);
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{2}));
    EXPECT_EQ(model.at(2), QStringLiteral("c"));
    EXPECT_EQ(changed.count(), 1);

    view.selectRow(0);
    EXPECT_EQ(model.selectionIndexes(), (QList<int>{0}));
    model.setRows({});
    EXPECT_EQ(model.selectionIndex(), -1);
}

TEST(KRRecentDocuments, MostRecentFirstUniqueBoundedAndPruned)
{
    const QString dir = KRTest::makeTempDir();
    KRUserDefaults defaults(dir + QStringLiteral("/d.conf"));
    KRRecentDocuments recent(defaults, QStringLiteral("recent"), 3);
    QStringList packages;
    for (const char *name : {"a", "b", "c", "d"}) {
        packages << dir + QStringLiteral("/%1.krproj").arg(QLatin1String(name));
        QDir().mkpath(packages.last());
    }

    recent.noteDocument(packages[0]);
    recent.noteDocument(packages[1]);
    recent.noteDocument(packages[0] + QStringLiteral("/")); // the same package again
    EXPECT_EQ(recent.paths(), (QStringList{packages[0], packages[1]}));

    recent.noteDocument(packages[2]);
    recent.noteDocument(packages[3]);
    EXPECT_EQ(recent.paths(), (QStringList{packages[3], packages[2], packages[0]}));

    // Stored, so a new session sees it.
    KRUserDefaults reread(dir + QStringLiteral("/d.conf"));
    EXPECT_EQ(KRRecentDocuments(reread, QStringLiteral("recent"), 3).paths(), recent.paths());

    QDir(packages[2]).removeRecursively();
    EXPECT_EQ(recent.paths().size(), 3); // only dropped when asked
    recent.removeMissingDocuments();
    EXPECT_EQ(recent.paths(), (QStringList{packages[3], packages[0]}));
}
