#include "InspectorTestSupport.h"

#include <inspector/KRItemEditorViewController.h>
#include <ui/KRUIColors.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace KRInspectorTest;

namespace {

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

struct OpenedFunctions : KRItemEditorDelegate {
    QStringList ids;
    void editFunction(const std::shared_ptr<KRFunction> &function) override { ids << function->kr_id(); }
};

std::unique_ptr<KRListViewItemEditorViewController> listEditor(const std::shared_ptr<KRObject> &listView)
{
    auto editor = KRCachingViewController::create<KRListViewItemEditorViewController>();
    editor->setListView(listView);
    editor->view()->show();
    return editor;
}

QStringList labels(const KRItemEditorViewController &editor)
{
    QStringList result;
    for (const QVariantMap &item : editor.items())
        result << item.value(QStringLiteral("label")).toString();
    return result;
}

} // namespace

// A list's and a bar's items are edited in the item editor only (their inspector rows are
// read-only, with Edit…), which checks them both ways: stored items nested deeper than JSON
// may (which read as none) are said to be so when it opens, before a change replaces them;
// items at the bound are read, edited and stored whole.
TEST(KRItemEditors, ItemsNestedPastTheBoundAreSaidToBeSoAndThoseAtItAreKept)
{
    const auto alerts = std::make_shared<KRScriptedAlertService>();
    KRAlertService::setCurrent(alerts);
    const Fixture f = open(QStringLiteral("<JQMHeaderToolbar id=\"bar\"/><JQMListView id=\"list\"/>"));
    const auto nested = [](int depth) { return QString(depth, QLatin1Char('[')) + QString(depth, QLatin1Char(']')); };
    const auto edit = [&](const QString &id) -> std::unique_ptr<KRItemEditorViewController> {
        if (id == QLatin1String("list"))
            return listEditor(f.object(id));
        auto navbar = KRCachingViewController::create<KRNavbarItemEditorViewController>();
        navbar->setPropertyName(QStringLiteral("kr_navbarItems"));
        navbar->setObject(f.object(id));
        return navbar;
    };
    for (const auto &[id, property] : {std::pair{"bar", "navbarItems"}, std::pair{"list", "items"}}) {
        SCOPED_TRACE(property);
        const auto object = f.object(QLatin1String(id));
        const QString key = QStringLiteral("kr_") + QLatin1String(property);
        alerts->clear();
        object->setValue(key, nested(10000));
        {
            const auto editor = edit(QLatin1String(id));
            EXPECT_TRUE(editor->items().isEmpty());
            ASSERT_EQ(alerts->shownAlerts().size(), 1);
            EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("The %1 could not be read.").arg(QLatin1String(property)));
            EXPECT_EQ(alerts->shownAlerts().first().informativeText,
                      QStringLiteral("The JSON text is refused: it nests arrays and objects 10000 levels deep, and JSON may nest them "
                                     "at most 512 levels deep. The editor shows none; a change here replaces them."));
            EXPECT_EQ(object->value(key), nested(10000)); // nothing replaced by opening
        }
        // The list, an item and 510 levels inside it: at the bound, read and stored whole.
        const QString deepest = nested(510);
        object->setValue(key, QStringLiteral("[{\"label\":\"Deep\",\"more\":%1}]").arg(deepest));
        alerts->clear();
        const auto editor = edit(QLatin1String(id));
        ASSERT_EQ(editor->items().size(), 1);
        editor->setObjectValue(0, QStringLiteral("label"), QStringLiteral("Deeper"));
        settle();
        EXPECT_TRUE(alerts->shownAlerts().isEmpty());
        EXPECT_TRUE(object->value(key).contains(QStringLiteral("\"label\":\"Deeper\"")));
        EXPECT_TRUE(object->value(key).contains(deepest));
    }
    KRAlertService::setCurrent(nullptr);
}

TEST(KRItemEditors, BlankInsertRowIsNeverStoredAndTypingALabelStoresTheItemLast)
{
    const Fixture f = open(QStringLiteral("<JQMListView id=\"listview1\"/>"));
    const auto list = f.object(QStringLiteral("listview1"));
    auto editor = listEditor(list);
    settle();
    const int steps = f.document->undoManager().undoCount();
    editor->addRow();
    ASSERT_EQ(editor->tableView()->rowCount(), 1);
    EXPECT_TRUE(editor->hasInsertRow());
    // The label cell is being edited.
    EXPECT_TRUE(editor->tableView()->indexWidget(editor->tableView()->model()->index(0, 0)) ||
                editor->tableView()->viewport()->findChild<QLineEdit *>());
    // Leaving the blank row removes it and stores nothing.
    editor->tableView()->clearSelection();
    EXPECT_EQ(editor->tableView()->rowCount(), 0);
    settle();
    EXPECT_EQ(f.document->undoManager().undoCount(), steps);
    EXPECT_TRUE(list->value(QStringLiteral("kr_items")).isEmpty());

    editor->addRow();
    editor->setObjectValue(0, QStringLiteral("label"), QStringLiteral("Alpha"));
    settle();
    editor->addRow();
    editor->setObjectValue(1, QStringLiteral("label"), QStringLiteral("Beta"));
    settle();
    EXPECT_EQ(list->value(QStringLiteral("kr_items")), QStringLiteral("[{\"label\":\"Alpha\"},{\"label\":\"Beta\"}]"));
    EXPECT_EQ(f.document->undoManager().undoMenuItemTitle(), QStringLiteral("Undo Change items"));
    // Undo gives the working copy back from the list view.
    f.document->undoManager().undo();
    settle();
    EXPECT_EQ(labels(*editor), QStringList{QStringLiteral("Alpha")});
    EXPECT_EQ(f.document->undoManager().redoMenuItemTitle(), QStringLiteral("Redo Change items"));
}

TEST(KRItemEditors, ReorderDividerDeleteAndHandlerCreation)
{
    const Fixture f = open(QStringLiteral(
        "<JQMListView id=\"listview1\">[{\"label\":\"1\"},{\"label\":\"2\"},{\"label\":\"3\"}]</JQMListView>"
        "<KRFunction id=\"listview1_onClick\" arguments=\"event\"/>"));
    const auto list = f.object(QStringLiteral("listview1"));
    auto editor = listEditor(list);
    OpenedFunctions opened;
    editor->setDelegate(&opened);

    editor->moveRow(0, 3);
    EXPECT_EQ(labels(*editor), (QStringList{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("1")}));
    editor->moveRow(2, 0);
    EXPECT_EQ(labels(*editor), (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));

    // Handler creation numbers the id when the plain one is taken, opens it and stores it.
    editor->setObjectValue(0, QStringLiteral("onClick"), 1);
    EXPECT_EQ(opened.ids, QStringList{QStringLiteral("listview1_onClick2")});
    EXPECT_EQ(editor->items()[0].value(QStringLiteral("onClick")).toString(), QStringLiteral("listview1_onClick2"));
    ASSERT_TRUE(f.page->objectForID(QStringLiteral("listview1_onClick2")));
    EXPECT_EQ(f.page->objectForID(QStringLiteral("listview1_onClick2"))->value(QStringLiteral("kr_arguments")),
              QStringLiteral("event"));
    const int action = editor->column(QStringLiteral("eventAction"));
    EXPECT_TRUE(editor->tableView()->item(0, action)->flags() & Qt::ItemIsEnabled);
    editor->buttonAction(0);
    EXPECT_EQ(opened.ids.size(), 2);

    // A divider row is grey and its handler cells are off.
    editor->setObjectValue(1, QStringLiteral("divider"), 1);
    EXPECT_FALSE(editor->tableView()->item(1, editor->column(QStringLiteral("onClick")))->flags() & Qt::ItemIsEnabled);
    EXPECT_TRUE(editor->tableView()->item(1, editor->column(QStringLiteral("label")))->flags() & Qt::ItemIsEnabled);
    EXPECT_NE(editor->tableView()->item(1, 0)->background().style(), Qt::NoBrush);
    EXPECT_EQ(editor->tableView()->item(0, 0)->background().style(), Qt::NoBrush);

    // The delete key removes every selected row.
    editor->tableView()->setFocus();
    editor->tableView()->selectRow(0);
    editor->tableView()->selectionModel()->select(editor->tableView()->model()->index(2, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(editor->tableView(), Qt::Key_Delete);
    EXPECT_EQ(labels(*editor), QStringList{QStringLiteral("2")});
    EXPECT_TRUE(list->value(QStringLiteral("kr_items")).contains(QLatin1String("\"divider\"")));
    EXPECT_FALSE(list->value(QStringLiteral("kr_items")).contains(QLatin1String("\"1\"")));

    // Column help comes from the item pseudo-class of the catalogue, for every column of both
    // editors: a header click never opens an empty pop-over.
    EXPECT_EQ(editor->columnHelpHTML(QStringLiteral("label")),
              KRObjectInfo::sharedInstance().propertyHelpHTML(QStringLiteral("label"), QStringLiteral("JQMListViewItem")));
    auto navbar = KRCachingViewController::create<KRNavbarItemEditorViewController>();
    for (const KRItemEditorViewController *each : {static_cast<KRItemEditorViewController *>(editor.get()),
                                                   static_cast<KRItemEditorViewController *>(navbar.get())}) {
        for (const QString &column : each->columnIdentifiers())
            EXPECT_TRUE(each->columnHelpHTML(column).contains(QStringLiteral("<h1>%1</h1>").arg(column))) << column.toStdString();
    }
}

// A pop-up cell's choice is stored the moment it is made, while the cell still has the keyboard;
// "Create New Event Handler..." makes and opens one handler, however the focus moves afterwards.
TEST(KRItemEditors, PopUpCellChoicesTakeEffectWhenChosen)
{
    const Fixture f = open(QStringLiteral("<JQMListView id=\"listview1\">[{\"label\":\"1\"}]</JQMListView>"));
    const auto list = f.object(QStringLiteral("listview1"));
    auto editor = listEditor(list);
    OpenedFunctions opened;
    editor->setDelegate(&opened);
    QTableWidget *table = editor->tableView();
    QApplication::setActiveWindow(editor->view());
    const auto choose = [&](const QString &column, const QString &title) {
        const QModelIndex index = table->model()->index(0, editor->column(column));
        table->setCurrentIndex(index);
        table->edit(index);
        auto *combo = table->viewport()->findChild<QComboBox *>();
        ASSERT_TRUE(combo);
        const int entry = combo->findText(title);
        ASSERT_GE(entry, 0) << title.toStdString();
        combo->setCurrentIndex(entry);
        emit combo->activated(entry);
    };
    const int steps = f.document->undoManager().undoCount();
    choose(QStringLiteral("theme"), QStringLiteral("b"));
    EXPECT_EQ(list->value(QStringLiteral("kr_items")), QStringLiteral("[{\"label\":\"1\",\"theme\":\"b\"}]"));
    EXPECT_EQ(table->item(0, editor->column(QStringLiteral("theme")))->text(), QStringLiteral("b"));
    // The cell's editor is closed with the choice.
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(table->viewport()->findChild<QComboBox *>());
    EXPECT_EQ(f.document->undoManager().undoCount(), steps + 1);

    // The keys that would step the closed box to another entry open its list instead: paging
    // or typing past "Create New Event Handler..." makes no handler.
    const QModelIndex onClick = table->model()->index(0, editor->column(QStringLiteral("onClick")));
    table->setCurrentIndex(onClick);
    table->edit(onClick);
    auto *closed = table->viewport()->findChild<QComboBox *>();
    ASSERT_TRUE(closed);
    for (const Qt::Key key : {Qt::Key_PageDown, Qt::Key_End, Qt::Key_C}) {
        QTest::keyClick(closed, key);
        EXPECT_TRUE(closed->view()->isVisible()) << key;
        closed->hidePopup();
    }
    EXPECT_TRUE(opened.ids.isEmpty());

    choose(QStringLiteral("onClick"), QStringLiteral("Create New Event Handler..."));
    EXPECT_EQ(opened.ids, QStringList{QStringLiteral("listview1_onClick")});
    EXPECT_TRUE(list->value(QStringLiteral("kr_items")).contains(QLatin1String("\"onClick\":\"listview1_onClick\"")));
    // The focus leaving the closed cell makes no second handler.
    table->clearFocus();
    settle();
    EXPECT_EQ(opened.ids.size(), 1);
    EXPECT_FALSE(f.page->objectForID(QStringLiteral("listview1_onClick2")));
}

TEST(KRItemEditors, NavbarItemsFollowARenamedPageAtOnce)
{
    const Fixture f = open(QStringLiteral(
        "<JQMHeaderToolbar id=\"bar\" navbarItems='[{\"label\":\"Home\",\"gotoPage\":\"page2\"}]'/>"));
    const auto bar = f.object(QStringLiteral("bar"));
    auto editor = KRCachingViewController::create<KRNavbarItemEditorViewController>();
    editor->setPropertyName(QStringLiteral("kr_navbarItems"));
    editor->setObject(bar);
    const int pageColumn = editor->column(QStringLiteral("gotoPage"));
    EXPECT_EQ(editor->tableView()->item(0, pageColumn)->text(), QStringLiteral("page2"));
    for (const auto &page : f.project->krPages())
        if (page->kr_id() == QLatin1String("page2"))
            page->setValue(QStringLiteral("kr_id"), QStringLiteral("about"));
    EXPECT_EQ(editor->tableView()->item(0, pageColumn)->text(), QStringLiteral("about"));
    EXPECT_TRUE(bar->value(QStringLiteral("kr_navbarItems")).contains(QLatin1String("\"gotoPage\":\"about\"")));
    // Icons are stored as shown; a transition is stored by key.
    editor->setObjectValue(0, QStringLiteral("icon"), QStringLiteral("star"));
    editor->setObjectValue(0, QStringLiteral("gotoPageTransition"), 1);
    EXPECT_TRUE(bar->value(QStringLiteral("kr_navbarItems")).contains(QLatin1String("\"icon\":\"star\"")));
    EXPECT_FALSE(editor->items()[0].value(QStringLiteral("gotoPageTransition")).toString().isEmpty());
}

// A function renamed while a list's items are edited: the item that calls it shows the new
// name, which its handler column offers.
TEST(KRItemEditors, ItemsShowARenamedHandlerAtOnce)
{
    const Fixture f = open(QStringLiteral(
        "<JQMListView id=\"list\">[{\"label\":\"One\",\"onClick\":\"compute\"}]</JQMListView>"
        "<KRFunction id=\"compute\" arguments=\"event\"/>"));
    auto editor = listEditor(f.object(QStringLiteral("list")));
    const auto shown = [&] { return editor->menuTitles(QStringLiteral("onClick")).value(editor->objectValue(0, QStringLiteral("onClick")).toInt()); };
    EXPECT_EQ(shown(), QStringLiteral("compute"));
    std::dynamic_pointer_cast<KRFunction>(f.object(QStringLiteral("compute")))->setKr_id(QStringLiteral("calc"));
    EXPECT_EQ(editor->items()[0].value(QStringLiteral("onClick")).toString(), QStringLiteral("calc"));
    EXPECT_TRUE(editor->menuTitles(QStringLiteral("onClick")).contains(QStringLiteral("calc")));
    EXPECT_FALSE(editor->menuTitles(QStringLiteral("onClick")).contains(QStringLiteral("compute")));
    EXPECT_EQ(shown(), QStringLiteral("calc"));
}

TEST(KRItemEditors, ScreenshotOfAListViewWithItsItemEditor)
{
    const Fixture f = open(QStringLiteral(
        "<JQMListView id=\"listview1\">[{\"label\":\"Fruit\",\"divider\":1},{\"label\":\"Apple\",\"badge\":\"3\","
        "\"gotoPage\":\"page2\"},{\"label\":\"Pear\",\"theme\":\"b\"}]</JQMListView>"));
    const auto list = f.object(QStringLiteral("listview1"));
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto inspector = KRCachingViewController::create<KRPropertyEditorViewController>();
    inspector->setObject(list);
    auto editor = KRCachingViewController::create<KRListViewItemEditorViewController>();
    editor->setListView(list);
    layout->addWidget(inspector->view());
    layout->addWidget(editor->view(), 1);
    inspector->view()->setFixedWidth(300);
    window.resize(1100, 520);
    window.show();
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    const QTableWidgetItem *divider = editor->tableView()->item(0, 1);
    const QRect cell = editor->tableView()->visualItemRect(divider);
    const QPoint inWindow = editor->tableView()->viewport()->mapTo(&window, cell.center());
    const QColor grey = image.pixelColor(inWindow * image.devicePixelRatio());
    EXPECT_EQ(grey.rgb(), KRUIColors::grayBackgroundColor().rgb());
    screenshot(&window, QStringLiteral("listview-item-editor"));
    // Inspector rows and editors are released before the window deletes their views.
    layout->removeWidget(inspector->view());
    layout->removeWidget(editor->view());
    inspector->view()->setParent(nullptr);
    editor->view()->setParent(nullptr);
}
