#include "../../controls/KRControlTestSupport.h"

#include <model/KRObjectInfo.h>
#include <workspace/palette/KRObjectBrowser.h>

#include <QDir>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QTest>

using namespace KRControlTest;

namespace {

class ObjectBrowser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        page = openPage(QStringLiteral("<JQMButton id=\"button1\" top=\"10\" left=\"10\"/>"
                                       "<KRTimer id=\"timer1\"/>"
                                       "<KRLabel id=\"alabel\" top=\"50\" left=\"10\">Hi</KRLabel>"),
                        true);
        ASSERT_TRUE(page);
        browser = std::make_unique<KRObjectBrowser>();
        browser->setPage(page);
        browser->resize(260, 300);
        browser->show();
        QObject::connect(browser.get(), &KRObjectBrowser::didSelectObject, [this](KRObject *o) { told.append(o); });
    }
    QStringList ids() const
    {
        QStringList list;
        for (int row = 0; row < browser->model()->rowCount(); ++row)
            list.append(browser->model()->objectAt(row)->kr_id());
        return list;
    }
    std::shared_ptr<KRObject> object(const char *id) const { return page->objectForID(QString::fromLatin1(id)); }

    std::shared_ptr<KRPage> page;
    std::unique_ptr<KRObjectBrowser> browser;
    QList<KRObject *> told;
};

TEST_F(ObjectBrowser, ListsThePageFirstItsObjectsSortedAndFiltersByKind)
{
    EXPECT_EQ(ids(), (QStringList{"page1", "alabel", "button1", "timer1"}));
    // The page is no non-visual helper: it heads what is seen.
    browser->setFilter(KRObjectListModel::Filter::Nonvisual);
    EXPECT_EQ(ids(), (QStringList{"timer1"}));
    browser->setFilter(KRObjectListModel::Filter::Visual);
    EXPECT_EQ(ids(), (QStringList{"page1", "alabel", "button1"}));
    // The page has its own icon, not its base class's.
    const QImage pageIcon = browser->model()->data(browser->model()->index(0), Qt::DecorationRole).value<QImage>();
    EXPECT_FALSE(pageIcon.isNull());
    EXPECT_NE(pageIcon, KRObjectInfo::sharedInstance().objectIcon(QStringLiteral("KRObject")));
    // The list follows the page.
    page->createNewObject(QStringLiteral("KRLabel"), 0, 0, QString());
    EXPECT_EQ(ids().size(), 4);
    browser->setFilter(KRObjectListModel::Filter::All);
    EXPECT_EQ(ids().size(), 5);
}

TEST_F(ObjectBrowser, SelectionStaysInStepWithoutLoopsAndEmptyTellsNobody)
{
    browser->selectObject(object("timer1"));
    browser->selectObject(object("timer1"));
    EXPECT_EQ(told, QList<KRObject *>{object("timer1").get()});
    for (QListView *view : {browser->listView(), browser->iconView()})
        EXPECT_EQ(view->selectionModel()->selectedIndexes().value(0).row(), 3);

    // The user's choice in the list.
    const QRect row = browser->listView()->visualRect(browser->model()->index(2));
    QTest::mouseClick(browser->listView()->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    EXPECT_EQ(told.size(), 2);
    EXPECT_EQ(browser->selectedObject(), object("button1"));
    EXPECT_EQ(browser->iconView()->selectionModel()->selectedIndexes().value(0).row(), 2);

    QList<KRObject *> doubled;
    QObject::connect(browser.get(), &KRObjectBrowser::didDoubleClickObject, [&](KRObject *o) { doubled.append(o); });
    QTest::mouseDClick(browser->listView()->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    EXPECT_EQ(doubled, QList<KRObject *>{object("button1").get()});

    browser->listView()->selectionModel()->clearSelection();
    EXPECT_FALSE(browser->selectedObject());
    EXPECT_EQ(told.size(), 2);

    // Out of sight (the pane shows the design), a selection is taken at once and shown in
    // both views when the browser comes back.
    browser->hide();
    browser->selectObject(object("alabel"));
    EXPECT_EQ(browser->selectedObject(), object("alabel"));
    EXPECT_EQ(told.size(), 3);
    browser->show();
    for (QListView *view : {browser->listView(), browser->iconView()})
        EXPECT_EQ(view->selectionModel()->selectedIndexes().value(0).row(), 1);
    EXPECT_EQ(told.size(), 3);
}

TEST_F(ObjectBrowser, IconDropsCreateOnlyFromThePalette)
{
    browser->selectIconView();
    ASSERT_TRUE(browser->isShowingIcons());
    QWidget *icons = browser->iconView()->viewport();

    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/picture.png"))});
    QDragEnterEvent foreign(QPoint(10, 10), Qt::MoveAction, &file, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(icons, &foreign);
    EXPECT_FALSE(foreign.isAccepted());
    QDropEvent foreignDrop(QPointF(10, 10), Qt::MoveAction, &file, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(icons, &foreignDrop);
    EXPECT_FALSE(foreignDrop.isAccepted());
    EXPECT_EQ(page->allObjects().size(), 4);

    QMimeData palette;
    palette.setData(QStringLiteral("KRObject"), "KRTimer");
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &palette, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(icons, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QList<KRObject *> inserted;
    QObject::connect(browser.get(), &KRObjectBrowser::didInsertObject, [&](KRObject *o) { inserted.append(o); });
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &palette, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(icons, &drop);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted.first()->kr_id(), QStringLiteral("timer2"));
    EXPECT_EQ(browser->selectedObject().get(), inserted.first());
    EXPECT_EQ(told.last(), inserted.first());

    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/workspace");
    QDir().mkpath(dir);
    const QImage shot = browser->grab().toImage();
    EXPECT_TRUE(shot.save(dir + QStringLiteral("/object-browser-icons.png")));
}

TEST_F(ObjectBrowser, ContextMenusComeFromTheObject)
{
    std::unique_ptr<QMenu> menu(browser->contextMenuForObject(object("button1"), nullptr));
    ASSERT_TRUE(menu);
    QStringList titles, expected;
    for (QAction *a : menu->actions())
        titles.append(a->text());
    for (const KRMenuItem &item : object("button1")->contextMenuItemsForObject())
        expected.append(item.separator ? QString() : item.title);
    EXPECT_EQ(titles, expected);
    EXPECT_FALSE(browser->contextMenuForObject(nullptr, nullptr));
}

} // namespace
