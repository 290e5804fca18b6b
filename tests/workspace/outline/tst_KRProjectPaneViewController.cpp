// The project outline driven through its source list: groups and badges, selection routing,
// in-place renames with their guards, deletion with undo, menus, drops and drags.

#include "../KRWorkspaceProjectTest.h"
#include "../../model/KRModelTestFixtures.h"
#include "../../model/KRPageTestSupport.h"
#include "../../model/KRWebFolderTestSupport.h"

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <builder/KRProjectSyntaxCheck.h>
#include <ui/KRUIColors.h>
#include <model/KRFunction.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>
#include <widgets/sourcelist/SLSourceList.h>
#include <workspace/outline/KRProjectPaneDataSource.h>
#include <workspace/outline/KRProjectPaneViewController.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The project window as the outline sees it.
class RecordingWindow : public KRProjectPaneDelegate
{
public:
    void projectPaneDidSelectPage(KRProjectPaneViewController *, const std::shared_ptr<KRPage> &page) override
    {
        calls.append(QStringLiteral("select ") + page->kr_id());
    }
    void projectPaneDeletePage(KRProjectPaneViewController *, const std::shared_ptr<KRPage> &page) override
    {
        calls.append(QStringLiteral("delete ") + page->kr_id());
        page->project()->deletePage(page);
    }
    bool projectPaneResourceIsOpenInTab(KRProjectPaneViewController *, const std::shared_ptr<KRProjectResource> &resource) override
    {
        return openPaths.contains(resource->fullPath());
    }
    void projectPaneEditResource(KRProjectPaneViewController *, const std::shared_ptr<KRProjectResource> &resource) override
    {
        calls.append(QStringLiteral("edit ") + resource->name());
    }
    void showSyntaxErrorsForProjectPane(KRProjectPaneViewController *) override { calls.append(QStringLiteral("errors")); }
    void projectSettingsAction(KRProjectPaneViewController *, QWidget *) override { calls.append(QStringLiteral("settings")); }

    QStringList calls;
    QStringList openPaths;
};

class ProjectOutline : public KRWorkspaceProjectTest
{
protected:
    void SetUp() override
    {
        openProject(QStringLiteral("<KRPage id=\"page2\"><KRContents><KRFunction id=\"onShow\">var a</KRFunction>"
                                   "</KRContents></KRPage><KRPage id=\"alpha\"/><KRPage id=\"page10\"/><KRPage id=\"Zeta\"/>"));
        if (HasFatalFailure())
            return;
        KRTest::writeFile(web + "/style.css", KRWebFolderTest::themeCSS);
        KRTest::writeFile(web + "/other.css", KRWebFolderTest::themeCSS);
        KRTest::writeFile(web + "/app.js", "var x = 1;\n");
        QDir().mkpath(web + "/img");
        KRTest::writeFile(web + "/img/a.png", "png");
        QDir().mkpath(web + "/empty");
        project->setDefaultTheme(QStringLiteral("style"));
        project->reloadResources();

        pane = KRCachingViewController::create<KRProjectPaneViewController>();
        pane->setDelegate(&window);
        pane->didOpenProject(project);
        pane->view()->resize(240, 420);
        pane->view()->show();
        list = pane->sourceList();
    }
    void TearDown() override
    {
        pane.reset();
        KRWorkspaceProjectTest::TearDown();
    }

    // The outline as shown, folders opened: one entry per row, indented by level, with its
    // badge; rows joined by "|".
    QString rows() const
    {
        list->expandAll();
        QStringList shown;
        for (int row = 0; row < list->numberOfRows(); ++row) {
            const SLItem item = list->itemAtRow(row);
            QString text = QString(list->levelForRow(row) * 2, QLatin1Char(' '))
                           + pane->dataSource()->objectValue(list, item).toString();
            if (list->itemHasBadge(item))
                text += QStringLiteral(" [") + list->badgeStringForItem(item) + QLatin1Char(']');
            shown.append(text);
        }
        return shown.join(QLatin1Char('|'));
    }
    // The resource rows expected, in the order of the project's list.
    QString resourceRows() const
    {
        QStringList shown;
        for (const auto &item : project->resources()) {
            QString text = "  " + item->name();
            if (item->name() == "style.css")
                text += " [T\u2713]";
            else if (item->name() == "other.css")
                text += " [T]";
            shown.append(text);
            for (const auto &inside : item->contents())
                shown.append("    " + inside->name());
        }
        return shown.join(QLatin1Char('|'));
    }
    int rowOf(const QString &label) const
    {
        list->expandAll();
        for (int row = 0; row < list->numberOfRows(); ++row) {
            if (pane->dataSource()->objectValue(list, list->itemAtRow(row)).toString() == label)
                return row;
        }
        return -1;
    }
    // Types the text into the row's in-place editor and commits it with Return.
    void rename(const QString &label, const QString &text)
    {
        const QModelIndex index = list->indexAtRow(rowOf(label));
        ASSERT_TRUE(index.isValid()) << label.toStdString();
        list->edit(index);
        QLineEdit *editor = nullptr;
        for (QLineEdit *candidate : list->viewport()->findChildren<QLineEdit *>()) {
            if (candidate->isVisible())
                editor = candidate;
        }
        ASSERT_TRUE(editor) << "no in-place editor for " << label.toStdString();
        editor->selectAll();
        editor->del();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The editor commits on a queued call; a refused name reloads the outline after it.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    QMenu *rightClick(const QString &label)
    {
        const QPoint at = list->visualRect(list->indexAtRow(rowOf(label))).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
        return pane->contextMenu();
    }
    void setSyntaxErrors(const QList<QVariantMap> &errors)
    {
        auto function = std::dynamic_pointer_cast<KRFunction>(project->pageForID("page2")->kr_objects().value("onShow"));
        function->setSyntaxErrors(errors);
        KRNotificationCenter::defaultCenter().post(KRDidPerformSyntaxCheckDocumentNotification, document->identity());
    }

    RecordingWindow window;
    std::unique_ptr<KRProjectPaneViewController> pane;
    SLSourceList *list = nullptr;
};

const QVariantMap missingSemicolon{{"line", 3}, {"character", 6}, {"reason", "Missing semicolon."}};

} // namespace

TEST_F(ProjectOutline, ShowsGroupsInOrderWithSortedPagesThemeBadgesAndTheSyntaxErrorGroupOnlyWhileThereAreErrors)
{
    const QString pages = "PAGES|  Zeta|  alpha|  page10|  page2|";
    const QString plain = pages + "RESOURCES|" + resourceRows();
    EXPECT_TRUE(plain.contains("  img|    a.png|")) << plain.toStdString();
    EXPECT_EQ(rows(), plain);

    setSyntaxErrors({missingSemicolon, missingSemicolon});
    EXPECT_EQ(rows(), pages + "SYNTAX ERRORS|  JavaScript Syntax Errors [2]|RESOURCES|" + resourceRows());
    // The header's settings button reaches the window.
    pane->projectSettingsButton()->click();
    EXPECT_EQ(window.calls.takeLast(), "settings");
    KRTest::saveScreenshot(*pane->view(), "outline", "project-outline.png");
    // The count sits on the bright error colour (half transparent over the list).
    const QImage image = KRTest::renderWidget(*list->viewport());
    const QRectF badge = list->badgeRectAtRow(rowOf("JavaScript Syntax Errors"));
    const QColor drawn = image.pixel(int(badge.left()) + 3, int(badge.center().y()));
    const QColor error = KRUIColors::brightSyntaxErrorBackgroundColor();
    const QColor base = list->palette().color(QPalette::Base);
    const auto blend = [&](int over, int under) { return int(over * error.alphaF() + under * (1 - error.alphaF())); };
    EXPECT_NEAR(drawn.red(), blend(error.red(), base.red()), 2);
    EXPECT_NEAR(drawn.green(), blend(error.green(), base.green()), 2);
    EXPECT_NEAR(drawn.blue(), blend(error.blue(), base.blue()), 2);

    // A later check with errors changes only the count; one without removes the group.
    setSyntaxErrors({missingSemicolon});
    EXPECT_EQ(rows(), pages + "SYNTAX ERRORS|  JavaScript Syntax Errors [1]|RESOURCES|" + resourceRows());
    setSyntaxErrors({});
    EXPECT_EQ(rows(), plain);

    // Deleting the function with the findings removes the group; undoing that brings it back.
    setSyntaxErrors({missingSemicolon});
    QCoreApplication::processEvents(); // the deletion is an undo step of its own
    const auto page2 = project->pageForID("page2");
    page2->deleteObjects({page2->kr_objects().value("onShow")});
    EXPECT_EQ(rows(), plain);
    QCoreApplication::processEvents();
    document->undoManager().undo();
    EXPECT_EQ(rows(), pages + "SYNTAX ERRORS|  JavaScript Syntax Errors [1]|RESOURCES|" + resourceRows());
    setSyntaxErrors({});

    // Changing the default theme moves the tick.
    project->setDefaultTheme(QStringLiteral("other"));
    EXPECT_TRUE(rows().contains("|  other.css [T\u2713]"));
    EXPECT_TRUE(rows().contains("|  style.css [T]"));
}

TEST_F(ProjectOutline, HidesTheBuildsFilesAtEveryDepth)
{
    if (!KRWebFolderTest::marksWork(web))
        GTEST_SKIP() << "the file system refuses user extended attributes";
    const QString mark = QString::fromLatin1(KRProjectResource::GeneratedFileMark);
    KRTest::writeFile(web + "/built.js", "x");
    KRTest::writeFile(web + "/img/built.js", "x");
    KRFileManager::setExtendedAttributeOfItemAtPath(web + "/built.js", mark, "true");
    KRFileManager::setExtendedAttributeOfItemAtPath(web + "/img/built.js", mark, "true");
    KRTest::writeFile(web + "/img/staged.js", "x");
    KRFileManager::setExtendedAttributeOfItemAtPath(web + "/img/staged.js", QString::fromLatin1(KRProjectResource::StagedFileMark), "true");
    project->reloadResources();
    EXPECT_EQ(rowOf("built.js"), -1);
    EXPECT_EQ(rowOf("staged.js"), -1);
    EXPECT_NE(rowOf("a.png"), -1);
}

TEST_F(ProjectOutline, RoutesSingleSelectionsAndDoubleClicksToTheWindow)
{
    list->selectRowIndexes({rowOf("alpha")}, false);
    EXPECT_EQ(window.calls, QStringList{"select alpha"});

    // A closed resource opens only on a double click; an open one comes forward on selection.
    window.calls.clear();
    list->selectRowIndexes({rowOf("app.js")}, false);
    EXPECT_TRUE(window.calls.isEmpty());
    window.openPaths = {resource("style.css")->fullPath()};
    window.calls.clear();
    list->selectRowIndexes({rowOf("style.css")}, false);
    EXPECT_EQ(window.calls, QStringList{"edit style.css"});

    // Several rows selected route nothing.
    window.calls.clear();
    list->selectRowIndexes({rowOf("alpha"), rowOf("page10")}, false);
    EXPECT_TRUE(window.calls.isEmpty());

    setSyntaxErrors({missingSemicolon});
    pane->selectSyntaxErrorItem();
    EXPECT_EQ(window.calls, QStringList{"errors"});

    // A page made elsewhere is selected, which shows its tab.
    window.calls.clear();
    const auto made = project->createNewPage();
    EXPECT_EQ(list->selectedRowIndexes(), QList<int>{rowOf(made->kr_id())});
    EXPECT_EQ(window.calls, QStringList{"select " + made->kr_id()});

    // A plain click on the row that is selected already chooses it again: the window shows
    // the page (and inspects it), an open file comes forward, the errors show. A click with
    // Ctrl held is none.
    const auto clickRow = [&](int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualRect(list->indexAtRow(row)).center());
    };
    list->selectRowIndexes({rowOf("alpha")}, false);
    window.calls.clear();
    clickRow(rowOf("alpha"));
    EXPECT_EQ(window.calls, QStringList{"select alpha"});
    list->selectRowIndexes({rowOf("style.css")}, false);
    window.calls.clear();
    clickRow(rowOf("style.css"));
    EXPECT_EQ(window.calls, QStringList{"edit style.css"});
    pane->selectSyntaxErrorItem();
    window.calls.clear();
    clickRow(list->rowForItem(pane->dataSource()->syntaxErrorsDataSourceItem()));
    EXPECT_EQ(window.calls, QStringList{"errors"});
    list->selectRowIndexes({rowOf("alpha")}, false);
    window.calls.clear();
    clickRow(rowOf("alpha"), Qt::ControlModifier);
    EXPECT_TRUE(window.calls.isEmpty()) << window.calls.join(", ").toStdString();

    window.calls.clear();
    const QPoint appRow = list->visualRect(list->indexAtRow(rowOf("app.js"))).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, appRow);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, appRow);
    EXPECT_EQ(window.calls, QStringList{"edit app.js"});
}

TEST_F(ProjectOutline, RenamesPagesInPlaceAndRefusesInvalidIDs)
{
    rename("alpha", "alpha");
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());

    rename("alpha", "page10");
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(project->pageForID("alpha"));
    EXPECT_NE(rowOf("alpha"), -1);

    rename("alpha", "beta");
    EXPECT_TRUE(project->pageForID("beta"));
    EXPECT_TRUE(rows().startsWith("PAGES|  Zeta|  beta|  page10|  page2|"));
    document->undoManager().undo();
    EXPECT_TRUE(project->pageForID("alpha"));
    EXPECT_NE(rowOf("alpha"), -1);

    // A renamed page moves to its place in the order at once, here and when renamed elsewhere
    // (the inspector), and back with undo; it stays selected.
    rename("alpha", "page3");
    EXPECT_TRUE(rows().startsWith("PAGES|  Zeta|  page10|  page2|  page3|RESOURCES|")) << rows().toStdString();
    list->selectRowIndexes({rowOf("page3")}, false);
    project->pageForID("page3")->setValue(QStringLiteral("kr_id"), QStringLiteral("Aa"));
    EXPECT_TRUE(rows().startsWith("PAGES|  Aa|  Zeta|  page10|  page2|RESOURCES|")) << rows().toStdString();
    EXPECT_EQ(list->selectedRowIndexes(), QList<int>{rowOf("Aa")});
    document->undoManager().undo();
    EXPECT_TRUE(rows().startsWith("PAGES|  Zeta|  page10|  page2|  page3|RESOURCES|")) << rows().toStdString();
}

TEST_F(ProjectOutline, RenamesResourcesOnlyWithPlainNamesAndNeverUnderAnOpenEditorOrUnsavedEdits)
{
    for (const QString &bad : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../app.js"),
                               QStringLiteral("img/b.js")}) {
        alerts->clear();
        rename("app.js", bad);
        EXPECT_EQ(alerts->shownAlerts().size(), 1) << bad.toStdString();
        EXPECT_TRUE(QFile::exists(web + "/app.js")) << bad.toStdString();
        EXPECT_NE(rowOf("app.js"), -1);
    }
    alerts->clear();
    rename("app.js", "app.js");
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());

    // Open in a tab, or with edits waiting in the project's cache: the file stays put.
    window.openPaths = {resource("app.js")->fullPath()};
    rename("app.js", "main.js");
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(QFile::exists(web + "/app.js"));
    window.openPaths.clear();
    project->webFolder()->modifiedResourceCache().setContents("img/a.png", "edited", "UTF-8");
    alerts->clear();
    rename("img", "pictures");
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(QFileInfo(web + "/img").isDir());
    project->webFolder()->modifiedResourceCache().remove("img/a.png");

    rename("app.js", "main.js");
    EXPECT_TRUE(QFile::exists(web + "/main.js"));
    EXPECT_FALSE(QFile::exists(web + "/app.js"));
    EXPECT_NE(rowOf("main.js"), -1);
    EXPECT_EQ(rowOf("app.js"), -1);
}

TEST_F(ProjectOutline, DeletesWithTheDeleteKeyUndoablyAndGuardsOpenResources)
{
    list->selectRowIndexes({rowOf("page10")}, false);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(window.calls.last(), "delete page10");
    EXPECT_EQ(rowOf("page10"), -1);
    document->undoManager().undo();
    EXPECT_NE(rowOf("page10"), -1);

    window.openPaths = {resource("app.js")->fullPath()};
    list->selectRowIndexes({rowOf("app.js")}, false);
    alerts->clear();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(QFile::exists(web + "/app.js"));

    // Closed again: the project asks (the first answer confirms) and the file goes.
    window.openPaths.clear();
    alerts->clear();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_FALSE(alerts->shownAlerts().isEmpty());
    EXPECT_FALSE(QFile::exists(web + "/app.js"));
    EXPECT_EQ(rowOf("app.js"), -1);
}

TEST_F(ProjectOutline, OpensContextMenusOnRightClickWithTheDesktopsTitles)
{
    QMenu *menu = rightClick("app.js");
    ASSERT_TRUE(menu);
    QStringList titles;
    for (QAction *action : menu->actions())
        titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(titles, (QStringList{"Open Resource", "-", "Open With Default Application", "Show in File Manager",
                                   "Delete Resource"}));
    EXPECT_EQ(list->selectedRowIndexes(), QList<int>{rowOf("app.js")});
    menu->actions().first()->trigger();
    EXPECT_EQ(window.calls.last(), "edit app.js");
    menu->close();

    window.openPaths = {resource("app.js")->fullPath()};
    menu = rightClick("app.js");
    EXPECT_FALSE(menu->actions().last()->isEnabled());
    menu->close();

    menu = rightClick("page2");
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), "Delete Page");
    menu->actions().first()->trigger();
    EXPECT_EQ(window.calls.last(), "delete page2");
    menu->close();

    // Ctrl-click is a selection gesture here, never a menu.
    const QMenu *before = pane->contextMenu();
    list->selectRowIndexes({rowOf("alpha")}, false);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualRect(list->indexAtRow(rowOf("Zeta"))).center());
    EXPECT_EQ(pane->contextMenu(), before);
    EXPECT_EQ(list->selectedRowIndexes().size(), 2);
}

TEST_F(ProjectOutline, TakesDroppedFilesIntoSavedProjectsAndFoldersWithContentsAndDragsPathsOut)
{
    const QString outside = KRTest::makeTempDir("drop");
    KRTest::writeFile(outside + "/new.js", "var n;");
    KRTest::writeFile(outside + "/a.png", "other");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(outside + "/new.js")});
    KRProjectPaneDataSource *source = pane->dataSource();
    const SLItem resources = source->resourcesDataSourceItem();

    ASSERT_EQ(source->validateDrop(list, &files, resources, -1), Qt::CopyAction);
    EXPECT_TRUE(*source->acceptDrop(list, &files, resources, -1));
    QCoreApplication::processEvents();
    EXPECT_EQ(KRTest::readFile(web + "/new.js"), "var n;");
    EXPECT_NE(rowOf("new.js"), -1);

    // Folders: an empty one refuses; one with contents copies and reports a clash, then goes on.
    EXPECT_EQ(source->validateDrop(list, &files, list->itemAtRow(rowOf("empty")), -1), Qt::IgnoreAction);
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(outside + "/a.png"), QUrl::fromLocalFile(outside + "/new.js")});
    const SLItem img = list->itemAtRow(rowOf("img"));
    ASSERT_EQ(source->validateDrop(list, &two, img, -1), Qt::CopyAction);
    alerts->clear();
    EXPECT_TRUE(*source->acceptDrop(list, &two, img, -1));
    QCoreApplication::processEvents();
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(KRTest::readFile(web + "/img/a.png"), "png");
    EXPECT_EQ(KRTest::readFile(web + "/img/new.js"), "var n;");

    // Dragging out writes the files' paths, of resource rows only; such a drag is refused back.
    QMimeData out;
    EXPECT_FALSE(*source->writeItems(list, {list->itemAtRow(rowOf("alpha"))}, &out));
    EXPECT_TRUE(*source->writeItems(list, {list->itemAtRow(rowOf("alpha")), list->itemAtRow(rowOf("style.css"))}, &out));
    EXPECT_EQ(out.urls(), QList<QUrl>{QUrl::fromLocalFile(resource("style.css")->fullPath())});
    EXPECT_EQ(source->validateDrop(list, &out, resources, -1), Qt::IgnoreAction);
}

TEST_F(ProjectOutline, CopiesDroppedFoldersWithoutFollowingLinksOrCopyingAFolderIntoItself)
{
    const QString outside = KRTest::makeTempDir("dropfolder");
    KRTest::writeFile(outside + "/secret.txt", "outside the project");
    QDir().mkpath(outside + "/pack");
    KRTest::writeFile(outside + "/pack/x.txt", "x");
    ASSERT_TRUE(QFile::link(outside + "/secret.txt", outside + "/pack/secret"));
    QDir().mkpath(outside + "/bundle");
    KRTest::writeFile(outside + "/bundle/y.txt", "y");
    KRProjectPaneDataSource *source = pane->dataSource();

    // A folder's address may end in "/": the copy still takes the folder's own name.
    QMimeData pack;
    pack.setUrls({QUrl::fromLocalFile(outside + "/pack/")});
    const SLItem img = list->itemAtRow(rowOf("img"));
    alerts->clear();
    EXPECT_TRUE(*source->acceptDrop(list, &pack, img, -1));
    QCoreApplication::processEvents();
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(KRTest::readFile(web + "/img/pack/x.txt"), "x");
    // The link stays a link: the file it points at is not copied into the project.
    EXPECT_TRUE(QFileInfo(web + "/img/pack/secret").isSymLink());
    QMimeData bundle;
    bundle.setUrls({QUrl::fromLocalFile(outside + "/bundle/")});
    EXPECT_TRUE(*source->acceptDrop(list, &bundle, source->resourcesDataSourceItem(), -1));
    QCoreApplication::processEvents();
    EXPECT_EQ(KRTest::readFile(web + "/bundle/y.txt"), "y");
    // Dropped on the outline outside its rows: into the resources, as onto RESOURCES.
    QDir().mkpath(outside + "/loose");
    KRTest::writeFile(outside + "/loose/z.txt", "z");
    QMimeData loose;
    loose.setUrls({QUrl::fromLocalFile(outside + "/loose")});
    ASSERT_EQ(source->validateDrop(list, &loose, nullptr, -1), Qt::CopyAction);
    EXPECT_TRUE(*source->acceptDrop(list, &loose, nullptr, 2));
    QCoreApplication::processEvents();
    EXPECT_EQ(KRTest::readFile(web + "/loose/z.txt"), "z");
    EXPECT_NE(rowOf("loose"), -1);

    // A folder dropped onto itself is refused with an alert, and nothing is copied.
    QMimeData itself;
    itself.setUrls({QUrl::fromLocalFile(web + "/img")});
    alerts->clear();
    EXPECT_TRUE(*source->acceptDrop(list, &itself, list->itemAtRow(rowOf("img")), -1));
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(web + "/img/img"));
}

TEST_F(ProjectOutline, RefusesDropsIntoAProjectThatWasNeverSaved)
{
    auto untitled = KRDocument::makeUntitled();
    ASSERT_TRUE(untitled.ok());
    auto fresh = KRProject::create(untitled.value());
    ASSERT_TRUE(fresh.ok());
    auto other = KRCachingViewController::create<KRProjectPaneViewController>();
    other->didOpenProject(fresh.value());
    const QString outside = KRTest::makeTempDir("drop");
    KRTest::writeFile(outside + "/new.js", "var n;");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(outside + "/new.js")});
    KRProjectPaneDataSource *source = other->dataSource();
    EXPECT_EQ(source->validateDrop(other->sourceList(), &files, source->resourcesDataSourceItem(), -1), Qt::IgnoreAction);
    EXPECT_FALSE(*source->acceptDrop(other->sourceList(), &files, source->resourcesDataSourceItem(), -1));
    EXPECT_EQ(source->validateDrop(other->sourceList(), &files, nullptr, -1), Qt::IgnoreAction);
    EXPECT_FALSE(*source->acceptDrop(other->sourceList(), &files, nullptr, -1));
}

TEST_F(ProjectOutline, LetsGoOfTheModelWhenTheWindowCloses)
{
    pane->windowWillClose();
    EXPECT_EQ(list->numberOfRows(), 0);
    project->createNewPage();
    setSyntaxErrors({missingSemicolon});
    EXPECT_EQ(list->numberOfRows(), 0);
    EXPECT_TRUE(window.calls.isEmpty());
}

TEST(ProjectOutlineImages, LoadFromTheComponentsResources)
{
    auto pane = KRCachingViewController::create<KRProjectPaneViewController>();
    for (const char *name : {":/outline/KR-object-icon-page-proj-pane.png", ":/outline/KR-action-gear.png"})
        EXPECT_FALSE(QImage(QString::fromLatin1(name)).isNull()) << name;
}
