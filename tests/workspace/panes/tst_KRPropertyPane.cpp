#include "PanesTestSupport.h"

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <ui/KRUIColors.h>
#include <model/KRFunction.h>
#include <workspace/panes/KRPropertyPaneViewController.h>
#include <workspace/panes/KRTabView.h>

#include <QAbstractItemView>
#include <QHash>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmapCache>
#include <QScreen>
#include <QTest>

using namespace KRPanesTest;

namespace {

class RecordingPaneDelegate : public KRPropertyPaneDelegate
{
public:
    QStringList calls;
    void propertyPaneDidSelectObject(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &o) override { calls << "select " + o->kr_id(); }
    void propertyPaneEditFunction(KRPropertyPaneViewController *, const std::shared_ptr<KRFunction> &) override {}
    void propertyPaneEditHTML(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &o, const QString &key) override
    {
        calls << "html " + o->kr_id() + ' ' + key;
    }
    void propertyPaneEditListViewItems(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &o) override { calls << "list " + o->kr_id(); }
    void propertyPaneEditNavbarItems(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &, const QString &) override {}
};

class PropertyPane : public SampleTest
{
protected:
    void SetUp() override
    {
        SampleTest::SetUp();
        if (HasFatalFailure())
            return;
        pane = KRCachingViewController::create<KRPropertyPaneViewController>();
        pane->setClock([this] { return now; });
        pane->setDelegate(&delegate);
        pane->setPage(f.page);
        pane->view()->resize(275, 600);
        pane->view()->show();
    }
    QStringList popupTitles() const
    {
        QStringList titles;
        for (int i = 0; i < pane->popupButton()->count(); ++i)
            titles << pane->popupButton()->itemText(i);
        return titles;
    }

    RecordingPaneDelegate delegate;
    std::unique_ptr<KRPropertyPaneViewController> pane;
    qint64 now = 10000;
};

TEST_F(PropertyPane, KeepsOneInspectorPerObjectAndTellsOnlyOfChanges)
{
    // The page first, as in the object browser, then its objects by id.
    EXPECT_EQ(popupTitles(), (QStringList{"page1", "button1", "label1", "listview1", "onClick", "ready", "timer1"}));
    EXPECT_FALSE(pane->popupButton()->itemIcon(0).isNull()); // the page's own icon
    pane->selectObject(object("button1"));
    pane->selectObject(object("button1"));
    EXPECT_EQ(delegate.calls, QStringList{"select button1"});
    KRPropertyEditorViewController *first = pane->cachedPropertyEditor(QStringLiteral("button1"));
    ASSERT_TRUE(first);
    pane->selectObject(object("label1"));
    pane->selectObject(object("button1"));
    EXPECT_EQ(pane->cachedPropertyEditor(QStringLiteral("button1")), first);
    EXPECT_EQ(pane->tabView()->selectedItem()->view(), first->view());
    EXPECT_EQ(pane->cachedPropertyEditorCount(), 2);
    EXPECT_EQ(pane->popupButton()->currentText(), QStringLiteral("button1"));

    // The user's choice in the pop-up.
    pane->popupButton()->setCurrentIndex(popupTitles().indexOf(QStringLiteral("timer1")));
    emit pane->popupButton()->activated(pane->popupButton()->currentIndex());
    EXPECT_EQ(pane->selectedObject(), object("timer1"));

    // The inspector's requests go to the group.
    pane->propertyEditorViewEditListViewItems(first, object("listview1"));
    pane->propertyEditorViewEditHTML(first, object("label1"), QStringLiteral("kr_content"));
    EXPECT_EQ(delegate.calls.mid(4), (QStringList{"list listview1", "html label1 kr_content"}));
}

TEST_F(PropertyPane, FollowsANewIdAndLetsGoOfDeletedObjects)
{
    pane->selectObject(object("label1"));
    KRPropertyEditorViewController *inspector = pane->cachedPropertyEditor(QStringLiteral("label1"));
    const QImage before = KRTest::renderWidget(*pane->headerView());
    object("label1")->setKr_id(QStringLiteral("greeting"));
    EXPECT_EQ(pane->cachedPropertyEditor(QStringLiteral("greeting")), inspector);
    EXPECT_FALSE(pane->cachedPropertyEditor(QStringLiteral("label1")));
    EXPECT_TRUE(pane->tabView()->item(QStringLiteral("greeting")));
    EXPECT_TRUE(popupTitles().contains(QStringLiteral("greeting")));
    EXPECT_NE(KRTest::renderWidget(*pane->headerView()), before); // the header shows the new id

    pane->selectObject(object("timer1"));
    pane->selectObject(object("greeting"));
    EXPECT_EQ(pane->cachedPropertyEditorCount(), 2);

    f.page->deleteObjects({object("greeting")});
    EXPECT_FALSE(pane->cachedPropertyEditor(QStringLiteral("greeting")));
    EXPECT_FALSE(pane->tabView()->item(QStringLiteral("greeting")));
    EXPECT_FALSE(popupTitles().contains(QStringLiteral("greeting")));
    QCoreApplication::processEvents();
}

TEST_F(PropertyPane, AHeaderClickOpensThePopUpButNotRightAfterItClosed)
{
    pane->selectObject(object("button1"));
    QAbstractItemView *list = pane->popupButton()->view();
    QTest::mouseClick(pane->headerView(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 20));
    EXPECT_TRUE(list->isVisible());
    now += 5000;
    pane->popupButton()->hidePopup();
    EXPECT_EQ(pane->lastHeaderClick(), now);

    // The click that closed the list over the header.
    now += 100;
    QTest::mouseClick(pane->headerView(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 20));
    EXPECT_FALSE(list->isVisible());
    now += 200;
    QTest::mouseClick(pane->headerView(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 20));
    EXPECT_TRUE(list->isVisible());
    pane->popupButton()->hidePopup();
}

TEST_F(PropertyPane, TheHeaderIsDrawnWithItsGradientIconAndId)
{
    pane->selectObject(object("button1"));
    KRPropertyPaneHeaderView *header = pane->headerView();
    const QImage image = KRTest::saveScreenshot(*pane->view(), QStringLiteral("workspace-panes"), QStringLiteral("inspector-pane.png"));
    const QPoint origin = header->mapTo(pane->view(), QPoint(0, 0)) * 2;
    const int h = header->height() * 2;
    const int w = header->width() * 2;
    // Lighter at the top than at the bottom (the gradient runs upwards).
    const QColor top = image.pixelColor(origin + QPoint(w - 10, 4));
    const QColor bottom = image.pixelColor(origin + QPoint(w - 10, h - 6));
    EXPECT_GT(top.lightness(), bottom.lightness());
    // The grey line along the bottom edge; the icon in the square from (6, 6) up, drawn.
    EXPECT_LT(image.pixelColor(origin + QPoint(w / 2, h - 1)).lightness(), bottom.lightness() - 40);
    bool iconPainted = false;
    for (int y = h - 2 * 38; y < h - 12; y += 4)
        iconPainted = iconPainted || image.pixelColor(origin + QPoint(2 * 22, y)).saturation() > 60;
    EXPECT_TRUE(iconPainted);
}

// The header keeps a picture of each look it takes: what it shows, after a rename or a change
// of object and back, is what drawing it afresh gives.
TEST_F(PropertyPane, TheHeaderShowsTheIdItHasNowAsDrawnAfresh)
{
    KRPropertyPaneHeaderView *header = pane->headerView();
    const auto drawnAfresh = [header] {
        QPixmapCache::clear();
        return KRTest::renderWidget(*header);
    };
    pane->selectObject(object("button1"));
    const QImage button = KRTest::renderWidget(*header);
    EXPECT_EQ(button, drawnAfresh());
    object("button1")->setKr_id(QStringLiteral("okButton"));
    const QImage renamed = KRTest::renderWidget(*header);
    EXPECT_NE(renamed, button);
    EXPECT_EQ(renamed, drawnAfresh());
    pane->selectObject(object("label1"));
    const QImage label = KRTest::renderWidget(*header);
    EXPECT_NE(label, renamed);
    EXPECT_EQ(label, drawnAfresh());
    pane->selectObject(object("okButton"));
    EXPECT_EQ(KRTest::renderWidget(*header), renamed);
    header->resize(header->width() - 40, header->height());
    EXPECT_EQ(KRTest::renderWidget(*header), drawnAfresh()) << "narrower";
}

} // namespace

// The inspectors out of sight take no updates; one shown again is drawn as it is now, with
// what changed while it was away, and what is on screen is what drawing it afresh gives.
TEST_F(PropertyPane, AnInspectorShownAgainIsDrawnAsItIsNow)
{
    pane->selectObject(object("label1"));
    pane->selectObject(object("button1"));
    QCoreApplication::processEvents();
    object("label1")->setValue(QStringLiteral("kr_left"), QStringLiteral("77"));
    pane->selectObject(object("label1"));
    QCoreApplication::processEvents();
    KRPropertyEditorViewController *inspector = pane->cachedPropertyEditor(QStringLiteral("label1"));
    ASSERT_TRUE(inspector);
    KRPropertyEditorItemControlViewController *geometry = nullptr;
    for (const auto &item : inspector->propertyEditorItems())
        if (auto *control = dynamic_cast<KRPropertyEditorItemControlViewController *>(item.get()))
            geometry = control;
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->textField(QStringLiteral("left"))->text(), QStringLiteral("77"));
    QWidget *shown = inspector->view();
    const QRect area(shown->mapTo(shown->window(), QPoint(0, 0)), shown->size());
    const QImage onScreen = QGuiApplication::primaryScreen()->grabWindow(shown->window()->winId()).toImage().copy(area);
    EXPECT_EQ(onScreen.convertToFormat(QImage::Format_RGB32), shown->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

// The pane shows an inspector with the rows that fill it; those below come once it has been
// drawn, in their places, shown in their open sections and editing as the others do.
TEST_F(PropertyPane, AnInspectorShowsItsFirstScreenfulFirstAndTheRestOnceDrawn)
{
    pane->view()->resize(275, 300);
    QCoreApplication::processEvents();
    pane->selectObject(object("button1"));
    KRPropertyEditorViewController *inspector = pane->cachedPropertyEditor(QStringLiteral("button1"));
    ASSERT_TRUE(inspector);
    const auto made = [&](const QString &property) {
        for (const auto &item : inspector->madeRows())
            if (item->propertyName() == property)
                return item.get();
        return static_cast<KRPropertyEditorItemViewController *>(nullptr);
    };
    EXPECT_TRUE(made(QStringLiteral("id")));
    EXPECT_FALSE(made(QStringLiteral("fontSize"))) << "the open Font section lies below the first screenful";
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return made(QStringLiteral("fontSize")); }));
    auto whole = KRCachingViewController::create<KRPropertyEditorViewController>();
    whole->setObject(object("button1"));
    EXPECT_EQ(inspector->layoutDescription(), whole->layoutDescription());

    auto *fontSize = dynamic_cast<KRPropertyEditorItemStringViewController *>(made(QStringLiteral("fontSize")));
    ASSERT_TRUE(fontSize);
    EXPECT_TRUE(fontSize->view()->isVisibleTo(inspector->view()));
    inspector->propertyTableView()->ensureWidgetVisible(fontSize->textField());
    fontSize->textField()->setFocus();
    QTest::keyClicks(fontSize->textField(), QStringLiteral("14"));
    QTest::keyClick(fontSize->textField(), Qt::Key_Return);
    EXPECT_EQ(object("button1")->value(QStringLiteral("kr_fontSize")), QStringLiteral("14"));
}

// Showing a kept inspector again draws each of its rows once.
TEST_F(PropertyPane, AnInspectorShownAgainDrawsEachRowOnce)
{
    pane->selectObject(object("button1"));
    pane->selectObject(object("label1"));
    KRPropertyEditorViewController *inspector = pane->cachedPropertyEditor(QStringLiteral("button1"));
    ASSERT_TRUE(inspector);
    inspector->propertyEditorItems(); // every row made
    QCoreApplication::processEvents();
    struct Paints : QObject
    {
        QHash<QObject *, int> counts;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                ++counts[watched];
            return false;
        }
    } paints;
    QWidget *idRow = nullptr;
    for (const auto &item : inspector->propertyEditorItems()) {
        item->view()->installEventFilter(&paints);
        if (item->propertyName() == QLatin1String("id"))
            idRow = item->view();
    }
    ASSERT_TRUE(idRow);
    pane->selectObject(object("button1"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return paints.counts.value(idRow) > 0; }));
    QCoreApplication::processEvents();
    for (auto it = paints.counts.cbegin(); it != paints.counts.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << qPrintable(static_cast<QWidget *>(it.key())->accessibleName());
}
