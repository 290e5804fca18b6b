// The syntax-error pane: one row per finding of the last check, following every check; a
// double click asks the window to show the function at the error.

#include "../../model/KRModelTestFixtures.h"
#include "../../model/KRPageTestSupport.h"

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <platform/foundation/KRUndoManager.h>
#include <widgets/views/KRPaneHeaderView.h>
#include <workspace/resources/KRSyntaxErrorViewController.h>

#include <QCoreApplication>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Shown
{
    QString page;
    QString function;
    std::optional<int> line;
    std::optional<int> character;
};

class RecordingWindow : public KRSyntaxErrorViewDelegate
{
public:
    void syntaxErrorViewShowFunction(KRSyntaxErrorViewController *, const std::shared_ptr<KRPage> &page,
                                     const std::shared_ptr<KRFunction> &function, std::optional<int> line,
                                     std::optional<int> character) override
    {
        shown.append({page->kr_id(), function->kr_id(), line, character});
    }
    QList<Shown> shown;
};

class SyntaxErrorPane : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = krOpenProject(krProjectXML(QStringLiteral(
            "<KRPage id=\"home\"><KRContents><KRFunction id=\"onLoad1\">var a</KRFunction></KRContents></KRPage>"
            "<KRPage id=\"about\"><KRContents><KRFunction id=\"onShow1\">b(</KRFunction></KRContents></KRPage>")));
        ASSERT_TRUE(project);
        pane = KRCachingViewController::create<KRSyntaxErrorViewController>();
        pane->setProject(project);
        pane->setDelegate(&window);
        pane->setup();
        pane->view()->resize(620, 200);
        pane->view()->show();
    }
    // What a check does: the findings land on the functions, observers hear of it once.
    void check(const QList<QVariantMap> &home, const QList<QVariantMap> &about)
    {
        project->observable().willChange("syntaxErrors", {});
        function("home", "onLoad1")->setSyntaxErrors(home);
        function("about", "onShow1")->setSyntaxErrors(about);
        project->observable().didChange("syntaxErrors", {});
    }
    std::shared_ptr<KRFunction> function(const char *page, const char *id) const
    {
        return std::dynamic_pointer_cast<KRFunction>(project->pageForID(page)->kr_objects().value(id));
    }
    QString cell(int row, int column) const
    {
        return pane->tableView()->model()->index(row, column).data().toString();
    }
    void doubleClickRow(int row)
    {
        const QPoint at = pane->tableView()->visualRect(pane->tableView()->model()->index(row, 1)).center();
        QTest::mouseClick(pane->tableView()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(pane->tableView()->viewport(), Qt::LeftButton, {}, at);
    }

    std::shared_ptr<KRProject> project;
    RecordingWindow window;
    std::unique_ptr<KRSyntaxErrorViewController> pane;
};

const QVariantMap semicolon{{"line", 3}, {"character", 6}, {"reason", "Missing semicolon."}};
const QVariantMap paren{{"line", "4"}, {"character", "3"}, {"reason", "Expected ')' and instead saw '(end)'."}};
const QVariantMap nowhere{{"reason", "Too many errors."}};

} // namespace

TEST_F(SyntaxErrorPane, ListsTheFindingsOfEachCheck)
{
    EXPECT_EQ(pane->headerView()->labelText(), "JavaScript Syntax Errors");
    EXPECT_FALSE(pane->headerView()->image().isNull());
    EXPECT_EQ(pane->tableView()->model()->rowCount(), 0);

    check({semicolon}, {paren, nowhere});
    ASSERT_EQ(pane->tableView()->model()->rowCount(), 3);
    // Pages in id order: "about" before "home".
    EXPECT_EQ(QStringList({cell(0, 0), cell(0, 1), cell(0, 2), cell(0, 3), cell(0, 4)}),
              (QStringList{"about", "onShow1", "4", "3", "Expected ')' and instead saw '(end)'."}));
    EXPECT_EQ(cell(2, 0), "home");
    KRTest::saveScreenshot(*pane->view(), "resources", "syntax-error-pane.png");

    check({}, {});
    EXPECT_EQ(pane->tableView()->model()->rowCount(), 0);
}

TEST_F(SyntaxErrorPane, DoubleClickAsksToShowTheFunctionAtTheError)
{
    check({semicolon}, {paren, nowhere});
    doubleClickRow(2);
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.shown[0].page, "home");
    EXPECT_EQ(window.shown[0].function, "onLoad1");
    EXPECT_EQ(window.shown[0].line, 3);
    EXPECT_EQ(window.shown[0].character, 6);

    // A finding without a position opens the function only.
    doubleClickRow(1);
    ASSERT_EQ(window.shown.size(), 2);
    EXPECT_EQ(window.shown[1].function, "onShow1");
    EXPECT_FALSE(window.shown[1].line);

    // Below the rows: nothing.
    QTest::mouseDClick(pane->tableView()->viewport(), Qt::LeftButton, {}, QPoint(20, 180));
    EXPECT_EQ(window.shown.size(), 2);
}

TEST_F(SyntaxErrorPane, FindingsLeaveWithTheirDeletedFunctionOrPageAndComeBackWithTheUndo)
{
    std::shared_ptr<KRDocument> document;
    project = krOpenProject(krProjectXML(QStringLiteral(
                                "<KRPage id=\"home\"><KRContents><KRFunction id=\"onLoad1\">var a</KRFunction></KRContents></KRPage>"
                                "<KRPage id=\"about\"><KRContents><KRFunction id=\"onShow1\">b(</KRFunction></KRContents></KRPage>")),
                            true, &document);
    ASSERT_TRUE(project && document);
    pane->setProject(project);
    pane->setup();
    check({semicolon}, {paren, nowhere});
    ASSERT_EQ(pane->tableView()->model()->rowCount(), 3);

    const auto gone = function("about", "onShow1");
    project->pageForID("about")->deleteObjects({gone});
    ASSERT_EQ(pane->tableView()->model()->rowCount(), 1);
    EXPECT_EQ(cell(0, 1), "onLoad1");
    EXPECT_EQ(project->syntaxErrors().size(), 1);
    // A double click on what is left still leads to its function.
    doubleClickRow(0);
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.shown[0].function, "onLoad1");

    QCoreApplication::processEvents();
    document->undoManager().undo();
    ASSERT_EQ(pane->tableView()->model()->rowCount(), 3);
    EXPECT_EQ(cell(0, 1), "onShow1");

    // So do the findings of a deleted page's functions.
    QCoreApplication::processEvents();
    project->deletePage(project->pageForID("about"));
    ASSERT_EQ(pane->tableView()->model()->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "home");
    QCoreApplication::processEvents();
    document->undoManager().undo();
    EXPECT_EQ(pane->tableView()->model()->rowCount(), 3);
}
