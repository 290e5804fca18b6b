// The source list offscreen on a fake project outline: headings that are never selected,
// keyboard and delete key, badges in every colour state, icons, renaming, drag data, the
// delegate's notifications, pixels, and screenshots under test-artifacts/sourcelist/.

#include <widgets/sourcelist/SLSourceList.h>

#include <KRWidgetTestSupport.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

namespace {

struct Node
{
    QString title;
    std::vector<Node *> children;
    std::optional<qint64> badge;
    QString badgeText;
    QImage icon;
    QString path;

    explicit Node(const QString &title, std::vector<Node *> children = {})
        : title(title)
        , children(std::move(children))
    {
    }
};

struct Outline : SLSourceListDataSource
{
    Node start{"Start"}, settings{"Settings"}, about{"About"}, css{"style.css"}, logo{"logo.png"};
    Node pages{"Pages", {&start, &settings, &about}}, resources{"Resources", {&css, &logo}};
    Node errors{"Syntax Errors"};
    Node root{"", {&pages, &resources, &errors}};
    QStringList renamed;
    int colourQuestions = 0;
    std::optional<QColor> background;
    bool writesFiles = true;

    static Node *node(SLItem item) { return static_cast<Node *>(const_cast<void *>(item)); }
    Node *of(SLItem item) { return item ? node(item) : &root; }

    int numberOfChildren(SLSourceList *, SLItem item) override { return int(of(item)->children.size()); }
    SLItem child(SLSourceList *, int index, SLItem item) override { return of(item)->children[size_t(index)]; }
    QVariant objectValue(SLSourceList *, SLItem item) override { return of(item)->title; }
    bool isItemExpandable(SLSourceList *, SLItem item) override { return !of(item)->children.empty(); }
    void setObjectValue(SLSourceList *, const QVariant &value, SLItem item) override
    {
        renamed << value.toString();
        node(item)->title = value.toString();
    }
    std::optional<bool> itemHasBadge(SLSourceList *, SLItem item) override
    {
        return node(item)->badge.has_value() || !node(item)->badgeText.isEmpty();
    }
    std::optional<qint64> badgeValue(SLSourceList *, SLItem item) override { return node(item)->badge; }
    std::optional<QString> badgeString(SLSourceList *, SLItem item) override { return node(item)->badgeText; }
    std::optional<QColor> badgeBackgroundColor(SLSourceList *, SLItem) override
    {
        ++colourQuestions;
        return background;
    }
    std::optional<bool> itemHasIcon(SLSourceList *, SLItem item) override { return !node(item)->icon.isNull(); }
    std::optional<QImage> icon(SLSourceList *, SLItem item) override { return node(item)->icon; }
    std::optional<bool> writeItems(SLSourceList *, const QList<SLItem> &items, QMimeData *data) override
    {
        if (!writesFiles)
            return std::nullopt;
        QList<QUrl> urls;
        for (SLItem item : items)
            urls << QUrl::fromLocalFile(node(item)->path);
        data->setUrls(urls);
        return true;
    }
    // Files may be dropped onto the resources heading only.
    QList<QUrl> dropped;
    std::optional<Qt::DropAction> validateDrop(SLSourceList *, const QMimeData *data, SLItem item, int) override
    {
        return item == &resources && data->hasUrls() ? Qt::CopyAction : Qt::IgnoreAction;
    }
    std::optional<bool> acceptDrop(SLSourceList *, const QMimeData *data, SLItem, int) override
    {
        dropped << data->urls();
        return true;
    }
};

struct Host : SLSourceListDelegate
{
    QStringList heard;
    bool editable = true;
    std::optional<bool> isGroupAlwaysExpanded(SLSourceList *, SLItem) override { return true; }
    std::optional<bool> shouldEditItem(SLSourceList *, SLItem) override { return editable; }
    void sourceListSelectionDidChange(const KRNotification &) override { heard << "selection"; }
    void sourceListDeleteKeyPressedOnRows(const KRNotification &n) override
    {
        QStringList rows;
        for (const QVariant &row : n.userInfo.value("rows").toList())
            rows << row.toString();
        heard << "delete " + rows.join(',');
    }
};

// Rows: 0 Pages, 1 Start, 2 Settings, 3 About, 4 Resources, 5 style.css, 6 logo.png,
// 7 Syntax Errors.
struct List
{
    Outline outline;
    Host host;
    SLSourceList list;

    List()
    {
        outline.start.badge = 5;
        outline.settings.badgeText = "12 errors";
        outline.css.path = "/tmp/site/style.css";
        outline.logo.path = "/tmp/site/logo.png";
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(QColor(200, 40, 40));
        outline.start.icon = icon;
        outline.css.icon = icon;
        list.resize(240, 200);
        list.setDelegate(&host);
        list.setDataSource(&outline);
    }
    void show()
    {
        list.show();
        list.activateWindow();
        list.setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&list));
    }
    QPoint centreOfRow(int row) { return list.visualRect(list.indexAtRow(row)).center(); }
};

void screenshot(QWidget &widget, const QString &name)
{
    KRTest::saveScreenshot(widget, QStringLiteral("sourcelist"), name);
}

} // namespace

TEST(SLSourceList, alwaysExpandedGroupsStayOpenAndAreNeverSelected)
{
    List l;
    ASSERT_EQ(l.list.numberOfRows(), 8);
    EXPECT_EQ(l.list.numberOfGroups(), 3);
    EXPECT_TRUE(l.list.isGroupItem(&l.outline.resources));
    EXPECT_FALSE(l.list.isGroupItem(&l.outline.css));
    EXPECT_DOUBLE_EQ(l.list.frameOfCellAtRow(4).x(), 7.0);
    EXPECT_DOUBLE_EQ(l.list.frameOfCellAtRow(2).x(), l.list.indentation() + 18.0);

    // Collapsing an always-expanded group does not take.
    l.list.collapse(l.list.indexAtRow(0));
    EXPECT_TRUE(l.list.isExpanded(l.list.indexAtRow(0)));
    EXPECT_EQ(l.list.numberOfRows(), 8);

    // Headings cannot be selected by click, code or keyboard.
    QTest::mouseClick(l.list.viewport(), Qt::LeftButton, {}, l.centreOfRow(2));
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{2});
    QTest::mouseClick(l.list.viewport(), Qt::LeftButton, {}, l.centreOfRow(4));
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{2});
    l.list.selectRowIndexes({0, 4}, false);
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{2});
    l.list.selectRowIndexes({3, 4, 5}, false);
    EXPECT_EQ(l.list.selectedRowIndexes(), (QList<int>{3, 5}));

    // A reload keeps the selected items; with an empty selection not allowed it picks the
    // first row that is not a heading.
    l.list.reloadData();
    EXPECT_EQ(l.list.selectedRowIndexes(), (QList<int>{3, 5}));
    l.list.clearSelection();
    l.list.setAllowsEmptySelection(false);
    l.list.reloadData();
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{1});
}

TEST(SLSourceList, arrowsSkipHeadingsAndDeleteKeyNotifiesWithTheRows)
{
    List l;
    QStringList posted;
    const KRObservationToken token = KRNotificationCenter::defaultCenter().addObserver(
        SLSourceList::DeleteKeyPressedOnRowsNotification, &l.list, [&](const KRNotification &) { posted << "x"; });

    // Nothing selected: backspace goes on to the view and posts nothing.
    QTest::keyClick(&l.list, Qt::Key_Backspace);
    EXPECT_TRUE(posted.isEmpty());

    l.list.selectRowIndexes({3}, false);
    QTest::keyClick(&l.list, Qt::Key_Down);
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{5});
    QTest::keyClick(&l.list, Qt::Key_Up);
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{3});
    // No selectable row further on: the selection stays.
    l.list.selectRowIndexes({6}, false);
    QTest::keyClick(&l.list, Qt::Key_Down);
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{6});
    l.list.selectRowIndexes({1}, false);
    QTest::keyClick(&l.list, Qt::Key_Up);
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{1});

    // Return and the keypad's Enter tell the one selected row, and nothing with several.
    QList<int> returned;
    QObject::connect(&l.list, &SLSourceList::returnKeyPressedOnRow, &l.list, [&](int row) { returned << row; });
    QTest::keyClick(&l.list, Qt::Key_Return);
    QTest::keyClick(&l.list, Qt::Key_Enter, Qt::KeypadModifier);
    l.list.selectRowIndexes({2, 5}, false);
    QTest::keyClick(&l.list, Qt::Key_Return);
    EXPECT_EQ(returned, (QList<int>{1, 1}));

    l.host.heard.clear();
    l.list.selectRowIndexes({1, 5}, false);
    QTest::keyClick(&l.list, Qt::Key_Delete);
    QTest::keyClick(&l.list, Qt::Key_Backspace);
    EXPECT_EQ(posted.size(), 2);
    EXPECT_EQ(l.host.heard, (QStringList{"selection", "delete 1,5", "delete 1,5"}));
}

TEST(SLSourceList, theDelegateHearsItsOwnListUntilReplaced)
{
    List l;
    List other;
    l.host.heard.clear();
    other.host.heard.clear();
    l.list.selectRowIndexes({2}, false);
    EXPECT_EQ(l.host.heard, QStringList{"selection"});
    EXPECT_TRUE(other.host.heard.isEmpty());

    Host next;
    l.list.setDelegate(&next);
    l.list.selectRowIndexes({3}, false);
    EXPECT_EQ(next.heard, QStringList{"selection"});
    EXPECT_EQ(l.host.heard.size(), 1);
}

// A row is chosen as the button goes down, left or right: a press that turns into a drag,
// or a right press whose context menu takes the release, still tells the delegate; the
// release tells nothing more.
TEST(SLSourceList, aPressChoosesTheRowWithoutWaitingForTheRelease)
{
    List l;
    l.show();
    l.host.heard.clear();
    QTest::mousePress(l.list.viewport(), Qt::LeftButton, {}, l.centreOfRow(2));
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{2});
    EXPECT_EQ(l.host.heard, QStringList{"selection"});
    QTest::mouseRelease(l.list.viewport(), Qt::LeftButton, {}, l.centreOfRow(2));
    EXPECT_EQ(l.host.heard, QStringList{"selection"});

    l.host.heard.clear();
    QTest::mousePress(l.list.viewport(), Qt::RightButton, {}, l.centreOfRow(5));
    EXPECT_EQ(l.list.selectedRowIndexes(), QList<int>{5});
    EXPECT_EQ(l.host.heard, QStringList{"selection"});
    QTest::mouseRelease(l.list.viewport(), Qt::RightButton, {}, l.centreOfRow(5));
    EXPECT_EQ(l.host.heard, QStringList{"selection"});
}

TEST(SLSourceList, badgesSizeTheirTextAndTakeEveryColourState)
{
    List l;
    EXPECT_EQ(l.list.badgeStringForItem(&l.outline.start), "5");
    EXPECT_EQ(l.list.sizeOfBadgeAtRow(1), QSizeF(22.0, 14.0));
    const double wide = QFontMetricsF(SLSourceList::badgeFont()).horizontalAdvance("12 errors");
    EXPECT_EQ(l.list.sizeOfBadgeAtRow(2), QSizeF(wide + 10.0, 14.0));
    EXPECT_TRUE(l.list.sizeOfBadgeAtRow(3).isEmpty());
    EXPECT_EQ(l.list.badgeStringForItem(&l.outline.about), QString());
    // The text stops where the badge begins; the badge keeps 5 from the right edge.
    EXPECT_LE(l.list.frameOfCellAtRow(2).right(), l.list.badgeRectAtRow(2).left() + 0.01);
    EXPECT_DOUBLE_EQ(l.list.badgeRectAtRow(2).right(), l.list.viewport()->width() - 5.0);

    // Not shown: fixed grey, and the data source is not asked.
    EXPECT_EQ(l.list.badgeColorsForRow(1).background, QColor::fromRgbF(0.7059f, 0.7059f, 0.7059f));
    EXPECT_EQ(l.outline.colourQuestions, 0);

    l.show();
    const QColor unselected = QColor::fromRgbF(0.5961f, 0.6588f, 0.7922f);
    EXPECT_EQ(l.list.badgeColorsForRow(1).background, unselected); // not implemented
    l.outline.background = QColor(); // answered "no colour"
    EXPECT_EQ(l.list.badgeColorsForRow(1).background, unselected);
    l.outline.background = QColor(Qt::darkGreen);
    EXPECT_EQ(l.list.badgeColorsForRow(1).background, QColor(Qt::darkGreen));
    EXPECT_EQ(l.list.badgeColorsForRow(1).text, QColor(Qt::white));

    l.list.selectRowIndexes({1}, false);
    EXPECT_EQ(l.list.badgeColorsForRow(1).background, QColor(Qt::white));
    EXPECT_EQ(l.list.badgeColorsForRow(1).text, l.list.palette().color(QPalette::Active, QPalette::Highlight));
    l.list.clearFocus();
    EXPECT_EQ(l.list.badgeColorsForRow(1).text, QColor::fromRgbF(0.6f, 0.6627f, 0.7961f));
    l.list.hide();
    EXPECT_EQ(l.list.badgeColorsForRow(1).text, QColor::fromRgbF(0.6667f, 0.6667f, 0.6667f));
}

TEST(SLSourceList, iconsScaleToTheRowAndSmallerOnesKeepTheirSize)
{
    List l;
    l.list.setRowHeight(20);
    l.list.setItemIconSize(QSizeF(40, 32));
    EXPECT_EQ(l.list.itemIconSize(), QSizeF(25, 20));
    l.list.setItemIconSize(QSizeF(32, 16));
    EXPECT_EQ(l.list.itemIconSize(), QSizeF(32, 16));

    // A 16-pixel icon in a 24-pixel slot is drawn at its own size in the middle.
    l.list.setItemIconSize(QSizeF(24, 20));
    const QRectF slot = l.list.iconRectAtRow(1);
    EXPECT_DOUBLE_EQ(l.list.frameOfCellAtRow(1).x(), l.list.indentation() + 18.0 + 24 + 4);
    const QImage image = KRTest::renderWidget(l.list);
    const QPointF centre = slot.center();
    EXPECT_EQ(QColor(image.pixel(centre.toPoint())), QColor(200, 40, 40));
    EXPECT_NE(QColor(image.pixel(int(slot.left()) + 1, int(centre.y()))), QColor(200, 40, 40));
    // Badge fill beside the badge text, not at its centre.
    const QRectF badge = l.list.badgeRectAtRow(1);
    EXPECT_EQ(QColor(image.pixel(int(badge.left()) + 3, int(badge.center().y()))), QColor(180, 180, 180));
}

TEST(SLSourceList, renamingCommitsOrCancelsAndHeadingsCannotBeRenamed)
{
    List l;
    l.show();
    const QModelIndex about = l.list.indexAtRow(3);
    l.list.edit(about);
    auto *editor = l.list.viewport()->findChild<QLineEdit *>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "Contact");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the editor commits on a queued call
    EXPECT_EQ(l.outline.renamed, QStringList{"Contact"});
    EXPECT_EQ(l.list.model()->data(about).toString(), "Contact");

    l.list.edit(about);
    editor = l.list.viewport()->findChild<QLineEdit *>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "Oops");
    QTest::keyClick(editor, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(l.outline.renamed, QStringList{"Contact"});

    EXPECT_FALSE(l.list.model()->flags(l.list.indexAtRow(0)) & Qt::ItemIsEditable);
    l.host.editable = false;
    EXPECT_FALSE(l.list.model()->flags(about) & Qt::ItemIsEditable);
}

TEST(SLSourceList, draggedFileRowsBecomeUriListsAndDropsAskTheDataSource)
{
    List l;
    QAbstractItemModel *model = l.list.model();
    EXPECT_EQ(model->mimeTypes(), QStringList{"text/uri-list"});
    std::unique_ptr<QMimeData> data(
        model->mimeData({l.list.indexAtRow(4), l.list.indexAtRow(5), l.list.indexAtRow(6)}));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile("/tmp/site/style.css"), QUrl::fromLocalFile("/tmp/site/logo.png")}));
    EXPECT_FALSE(model->flags(l.list.indexAtRow(4)) & Qt::ItemIsDragEnabled);
    // Headings alone, or a data source that does not write items, drag nothing.
    EXPECT_EQ(std::unique_ptr<QMimeData>(model->mimeData({l.list.indexAtRow(4)})), nullptr);
    l.outline.writesFiles = false;
    EXPECT_EQ(std::unique_ptr<QMimeData>(model->mimeData({l.list.indexAtRow(5)})), nullptr);

    // Drops go to the data source, which picks where they may land.
    EXPECT_FALSE(model->dropMimeData(data.get(), Qt::CopyAction, -1, 0, l.list.indexAtRow(0)));
    EXPECT_TRUE(l.outline.dropped.isEmpty());
    EXPECT_TRUE(model->dropMimeData(data.get(), Qt::CopyAction, 1, 0, l.list.indexAtRow(4)));
    EXPECT_EQ(l.outline.dropped, data->urls());
}

TEST(SLSourceList, screenshotsInSeveralWidthsAndStates)
{
    List l;
    l.show();
    // The colour at the left end of a row, left of its icon and text.
    const auto rowColour = [&l](int row) {
        const QImage image = KRTest::renderWidget(l.list);
        const QRect rect = l.list.visualRect(l.list.indexAtRow(row));
        return QColor(image.pixel(rect.left() + 1, rect.top() + 1));
    };
    const auto near = [](const QColor &colour, const QColor &expected) {
        return std::abs(colour.red() - expected.red()) <= 6 && std::abs(colour.green() - expected.green()) <= 6
            && std::abs(colour.blue() - expected.blue()) <= 6;
    };
    const QColor focused(58, 117, 206), unfocused(150, 163, 182), background(226, 231, 237);

    l.list.selectRowIndexes({1}, false);
    screenshot(l.list, "sourcelist-focused.png");
    EXPECT_TRUE(near(rowColour(1), focused)) << rowColour(1).name().toStdString();
    EXPECT_TRUE(near(rowColour(2), background)) << rowColour(2).name().toStdString();

    l.list.clearFocus();
    l.list.resize(170, 200);
    screenshot(l.list, "sourcelist-unfocused-narrow.png");
    EXPECT_TRUE(near(rowColour(1), unfocused)) << rowColour(1).name().toStdString();
    // The narrow list still shows the selected row's badge inside its width.
    const QRect row = l.list.visualRect(l.list.indexAtRow(1));
    EXPECT_LE(row.right(), l.list.viewport()->width());

    l.list.setFocus();
    l.list.resize(320, 200);
    l.list.selectRowIndexes({2, 5}, false);
    screenshot(l.list, "sourcelist-wide-multiple.png");
    EXPECT_TRUE(near(rowColour(2), focused)) << rowColour(2).name().toStdString();
    EXPECT_TRUE(near(rowColour(5), focused)) << rowColour(5).name().toStdString();
    EXPECT_TRUE(near(rowColour(1), background)) << rowColour(1).name().toStdString();
    EXPECT_TRUE(near(rowColour(4), background)) << "a heading is never selected";
}
