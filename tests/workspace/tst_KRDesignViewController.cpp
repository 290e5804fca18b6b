#include "../controls/KRControlTestSupport.h"

#include <controls/KRControl.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMMutationListener.h>
#include <platform/dom/KRFakeLayoutSource.h>
#include <platform/foundation/KRUndoManager.h>
#include <workspace/KRDesignViewController.h>

#include <QCoreApplication>
#include <QMimeData>
#include <QThread>

using namespace KRControlTest;

namespace {

// A page with three buttons at known places, measured by a fake layout, and its surface.
class DesignSurface : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRControl::setLayoutSourceProvider([this](const KRPage *) { return &layout; });
        page = openPage(QString(), true, &document);
        ASSERT_TRUE(page);
        a = place("JQMButton", 10, 20, 100, 30);
        b = place("JQMButton", 50, 80, 60, 40);
        c = place("JQMButton", 200, 150, 80, 20);
        settle();
        undo().removeAllActions();
        surface = std::make_unique<KRDesignViewController>(page);
        QObject::connect(surface.get(), &KRDesignViewController::didSelectObject,
                         [this](KRObject *o) { reported.append(o); });
    }
    void TearDown() override
    {
        surface.reset();
        KRControl::setLayoutSourceProvider(nullptr);
    }

    std::shared_ptr<KRObject> place(const char *cls, int l, int t, int w, int h)
    {
        auto o = page->createNewObject(QString::fromLatin1(cls), l, t, QString());
        o->setValue(QStringLiteral("kr_width"), QString::number(w));
        o->setValue(QStringLiteral("kr_height"), QString::number(h));
        measure(o);
        return o;
    }
    // The element measured where the model puts it.
    void measure(const std::shared_ptr<KRObject> &o)
    {
        KRNodeGeometry g;
        g.offsetLeft = int(g.clientLeft = v(o, "kr_left"));
        g.offsetTop = int(g.clientTop = v(o, "kr_top"));
        g.offsetWidth = int(g.boundingWidth = v(o, "kr_width"));
        g.offsetHeight = int(g.boundingHeight = v(o, "kr_height"));
        layout.setGeometry(o->domElement()->nodeId(), g);
    }
    static int v(const std::shared_ptr<KRObject> &o, const char *key) { return o->value(QString::fromLatin1(key)).toInt(); }
    KRUndoManager &undo() { return *page->project()->undoManager(); }
    // Ends the event's automatic undo group and runs deferred work.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    void setGrid(int g)
    {
        page->project()->setProjectSetting(QString::number(g), QStringLiteral("snapGrid"));
        settle();
        undo().removeAllActions();
    }
    static QVariantMap at(int x, int y, bool shift = false)
    {
        return {{QStringLiteral("clientX"), x}, {QStringLiteral("clientY"), y}, {QStringLiteral("shiftKey"), shift}};
    }
    static QVariantMap hit(int x, int y, const char *tag)
    {
        QVariantMap e = at(x, y);
        e.insert(QStringLiteral("hitTag"), QString::fromLatin1(tag));
        e.insert(QStringLiteral("targetTag"), QString::fromLatin1(tag));
        return e;
    }
    void drag(const std::shared_ptr<DOMNode> &grabbed, QPoint from, QPoint to)
    {
        surface->onDragStart(grabbed, at(from.x(), from.y()));
        surface->onDrag(grabbed, at((from.x() + to.x()) / 2, (from.y() + to.y()) / 2));
        surface->onDrag(grabbed, at(to.x(), to.y()));
        surface->onDragEnd(grabbed, at(to.x(), to.y()));
        settle();
    }
    QString boxStyle(const KRObject *o, const char *property) const
    {
        return surface->selectionBox(o)->style().getPropertyValue(QString::fromLatin1(property));
    }

    KRFakeLayoutSource layout;
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRPage> page;
    std::shared_ptr<KRObject> a, b, c;
    std::unique_ptr<KRDesignViewController> surface;
    QList<KRObject *> reported;
};

} // namespace

TEST_F(DesignSurface, ClicksSelectAndTheBoxSitsAroundTheElementInItsParent)
{
    surface->onClickElement(a->domElement(), at(0, 0));
    surface->onClickElement(a->domElement(), at(0, 0)); // already the only selection: not told again
    EXPECT_EQ(reported, QList<KRObject *>{a.get()});

    const auto box = surface->selectionBox(a.get());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->parentNode(), page->domElement());
    EXPECT_EQ(boxStyle(a.get(), "left"), QStringLiteral("8px"));
    EXPECT_EQ(boxStyle(a.get(), "top"), QStringLiteral("18px"));
    EXPECT_EQ(boxStyle(a.get(), "width"), QStringLiteral("104px"));
    EXPECT_EQ(boxStyle(a.get(), "height"), QStringLiteral("34px"));
    const auto se = surface->selectionHandle(a.get(), KRDesignViewController::SouthEast);
    EXPECT_EQ(se->style().getPropertyValue(QStringLiteral("left")), QStringLiteral("96px"));
    EXPECT_EQ(se->style().getPropertyValue(QStringLiteral("top")), QStringLiteral("26px"));
    EXPECT_EQ(se->parentNode(), box);
    EXPECT_EQ(surface->objectForSelectionBoxNode(se), a);

    // Shift adds and never toggles off.
    surface->onClickElement(b->domElement(), at(0, 0, true));
    surface->onClickElement(a->domElement(), at(0, 0, true));
    EXPECT_EQ(surface->selectedObjects(), (QList<std::shared_ptr<KRObject>>{a, b}));

    // The window selects at a press; when the new box is drawn under the pointer before the
    // release, the page reports the click on what holds the control and its box. The click
    // of a press on a control is no click on the page.
    reported.clear();
    QVariantMap release = hit(60, 35, "BODY");
    release.insert(QStringLiteral("press"), 7);
    release.insert(QStringLiteral("pressTag"), QStringLiteral("INPUT"));
    surface->onClickBody(release);
    EXPECT_EQ(surface->selectedObjects(), (QList<std::shared_ptr<KRObject>>{a, b}));
    EXPECT_TRUE(reported.isEmpty());

    // A click on the page clears the selection, takes the boxes away and reports the page.
    surface->onClickBody(hit(1, 1, "BODY"));
    EXPECT_TRUE(surface->selectedObjects().isEmpty());
    EXPECT_FALSE(box->parentNode());
    EXPECT_EQ(reported, QList<KRObject *>{page.get()});
}

// What a live view hears of a selection: the new box arrives as one inserted tree that already
// carries its place, its edge and its handles, and taking it away is one removal.
TEST_F(DesignSurface, ABoxReachesTheViewAsOneInsertedTree)
{
    struct Recorder : DOMMutationListener
    {
        std::vector<DOMMutation> seen;
        void domDidMutate(const DOMMutation &m) override { seen.push_back(m); }
    } recorder;
    DOMDocument &dom = *page->domDocument();
    dom.addMutationListener(&recorder);
    surface->onClickElement(b->domElement(), at(0, 0));
    ASSERT_EQ(recorder.seen.size(), 1u);
    const DOMMutation inserted = recorder.seen.front();
    EXPECT_EQ(inserted.type, DOMMutation::Type::ChildInserted);
    const auto box = std::dynamic_pointer_cast<DOMElement>(inserted.insertedNode);
    ASSERT_TRUE(box);
    EXPECT_EQ(box, surface->selectionBox(b.get()));
    EXPECT_EQ(inserted.target, page->domElement()->nodeId());
    EXPECT_EQ(box->style().getPropertyValue(QStringLiteral("left")), QStringLiteral("48px"));
    // The edge as the view reads it: a width with its unit (the engine takes none without).
    EXPECT_TRUE(box->getAttribute(QStringLiteral("style")).contains(QStringLiteral("border: 1px dashed rgba(0, 0, 0, 0.2);")))
        << qPrintable(box->getAttribute(QStringLiteral("style")));
    ASSERT_EQ(box->childNodes().size(), std::size_t(KRDesignViewController::HandleCount));
    const auto se = surface->selectionHandle(b.get(), KRDesignViewController::SouthEast);
    EXPECT_EQ(se->style().getPropertyValue(QStringLiteral("left")), QStringLiteral("56px"));

    recorder.seen.clear();
    surface->onClickBody(hit(1, 1, "BODY"));
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen.front().type, DOMMutation::Type::ChildRemoved);
    dom.removeMutationListener(&recorder);
}

// Many selected boxes leave the page in one pass, whether the selection is dropped or its
// objects go from under it (an undone paste): the view is told of each removal once every box
// is out, as a batch removal tells it. Removed one at a time, each looked for among the page's
// children, undoing a paste of 4,000 selected labels took time with the square of their number.
TEST_F(DesignSurface, SelectedBoxesLeaveThePageInOnePass)
{
    struct Recorder : DOMMutationListener
    {
        std::vector<std::shared_ptr<DOMElement>> boxes;
        std::vector<int> stillIn; // at each removal told, how many boxes were still in the page
        void domDidMutate(const DOMMutation &m) override
        {
            if (m.type == DOMMutation::Type::ChildRemoved)
                stillIn.push_back(int(std::count_if(boxes.begin(), boxes.end(), [](const auto &box) { return box->parentNode() != nullptr; })));
        }
    } recorder;
    DOMDocument &dom = *page->domDocument();
    dom.addMutationListener(&recorder);
    const auto selectEvery = [&] {
        surface->selectAll();
        recorder.boxes = {surface->selectionBox(a.get()), surface->selectionBox(b.get()), surface->selectionBox(c.get())};
        recorder.stillIn.clear();
    };
    selectEvery();
    ASSERT_TRUE(recorder.boxes[0] && recorder.boxes[1] && recorder.boxes[2]);
    surface->onClickBody(hit(1, 1, "BODY"));
    EXPECT_EQ(recorder.stillIn, (std::vector<int>{0, 0, 0}));

    // Two of the three deleted while selected, as undoing their paste deletes them.
    selectEvery();
    page->deleteObjects({a, c});
    settle();
    EXPECT_EQ(surface->selectedObjects(), QList<std::shared_ptr<KRObject>>{b});
    EXPECT_TRUE(surface->selectionBox(b.get()) && surface->selectionBox(b.get())->parentNode());
    EXPECT_FALSE(surface->selectionBox(a.get()) || surface->selectionBox(c.get()));
    EXPECT_FALSE(recorder.boxes[0]->parentNode() || recorder.boxes[2]->parentNode());
    // The objects' own elements, then both boxes in one pass.
    ASSERT_GE(recorder.stillIn.size(), 2u);
    EXPECT_EQ(std::vector<int>(recorder.stillIn.end() - 2, recorder.stillIn.end()), (std::vector<int>{1, 1}));
    dom.removeMutationListener(&recorder);
}

TEST_F(DesignSurface, SelectAllTakesTheControlsAndTabNeedsThreeObjects)
{
    surface->selectAll();
    EXPECT_EQ(surface->selectedObjects(), (QList<std::shared_ptr<KRObject>>{a, b, c}));
    // Told once, with the last of them (the page is not among them): told of each, the
    // inspector showed each in turn.
    EXPECT_EQ(reported, QList<KRObject *>{c.get()});

    // allObjects: button1, button2, button3, page1. Tab from the last control skips the page.
    surface->selectObject(c);
    surface->selectNextObject();
    EXPECT_EQ(surface->selectedObjects().value(0), a);

    // Objects deleted elsewhere leave the selection with their boxes.
    surface->selectObjects({a, c});
    const auto box = surface->selectionBox(c.get());
    page->deleteObjects({b, c}, QStringLiteral("Delete"));
    EXPECT_EQ(surface->selectedObjects(), QList<std::shared_ptr<KRObject>>{a});
    EXPECT_FALSE(box->parentNode());
    surface->deselectAll();
    surface->selectNextObject(); // a page and one control: nothing to walk
    EXPECT_TRUE(surface->selectedObjects().isEmpty());
}

TEST_F(DesignSurface, RubberBandSelectsWhatItTouchesAndSwallowsTheFollowingClick)
{
    surface->onMouseDown(hit(300, 300, "INPUT")); // on a control: no band
    EXPECT_FALSE(surface->isRubberBandOpen());

    surface->onMouseDown(hit(120, 100, "BODY"));
    const auto body = page->domDocument()->body();
    EXPECT_TRUE(body->hasAttribute(QStringLiteral("onmousemove")));
    surface->onMouseMove(at(40, 25)); // up and to the left
    surface->onMouseUp(at(40, 25));
    EXPECT_EQ(surface->selectedObjects(), (QList<std::shared_ptr<KRObject>>{a, b}));
    EXPECT_FALSE(surface->isRubberBandOpen());
    EXPECT_FALSE(body->hasAttribute(QStringLiteral("onmousemove")));

    // The click of the same gesture does not select the page; a later one does.
    surface->onClickBody(hit(40, 25, "BODY"));
    EXPECT_EQ(surface->selectedObjects().size(), 2);
    QThread::msleep(300);
    settle();
    surface->onClickBody(hit(40, 25, "BODY"));
    EXPECT_TRUE(surface->selectedObjects().isEmpty());

    // A band with no size selects the page only.
    reported.clear();
    surface->onMouseDown(hit(5, 5, "BODY"));
    surface->onMouseUp(at(5, 5));
    EXPECT_EQ(reported, QList<KRObject *>{page.get()});
}

TEST_F(DesignSurface, BandIsDrawnWithPositiveSizeWhateverTheDirection)
{
    surface->onMouseDown(hit(120, 100, "BODY"));
    surface->onMouseMove(at(40, 25));
    const auto band = std::dynamic_pointer_cast<DOMElement>(page->domDocument()->body()->childNodes().back());
    ASSERT_TRUE(band);
    EXPECT_EQ(band->style().getPropertyValue(QStringLiteral("left")), QStringLiteral("40px"));
    EXPECT_EQ(band->style().getPropertyValue(QStringLiteral("width")), QStringLiteral("80px"));
    EXPECT_EQ(band->style().getPropertyValue(QStringLiteral("height")), QStringLiteral("75px"));
    // It reaches the view as one tree: its edge must read there (a width with its unit).
    EXPECT_TRUE(band->getAttribute(QStringLiteral("style")).contains(QStringLiteral("border: 1px dashed #A1A1A1;")))
        << qPrintable(band->getAttribute(QStringLiteral("style")));
    surface.reset(); // a surface going away takes its band with it
    EXPECT_FALSE(band->parentNode());
}

TEST_F(DesignSurface, DragMoveWaitsForTheGridSnapsAtTheEndAndUndoesInOneStep)
{
    setGrid(10);
    surface->selectObject(a);
    const auto box = surface->selectionBox(a.get());
    surface->onDragStart(box, at(100, 100));
    EXPECT_EQ(surface->dragType(), KRDesignViewController::DragMove);
    surface->onDrag(box, at(107, 100)); // below one grid step: nothing yet
    EXPECT_EQ(v(a, "kr_left"), 10);
    surface->onDrag(box, at(112, 100)); // builds up from the start point
    EXPECT_EQ(v(a, "kr_left"), 22);
    // The box follows at once, though the view has not measured the move.
    EXPECT_EQ(boxStyle(a.get(), "left"), QStringLiteral("20px"));
    surface->onDragEnd(box, at(112, 100));
    surface->onDragEnd(box, at(150, 100)); // a second end is ignored
    EXPECT_EQ(v(a, "kr_left"), 20);
    EXPECT_EQ(v(a, "kr_top"), 20);
    settle();
    ASSERT_EQ(undo().undoCount(), 1);
    EXPECT_EQ(undo().undoActionName(), QStringLiteral("Drag JQMButton"));
    undo().undo();
    EXPECT_EQ(v(a, "kr_left"), 10);

    setGrid(0);
    surface->onDragStart(box, at(0, 0));
    surface->onDragEnd(box, at(3, 0));
    EXPECT_EQ(v(a, "kr_left"), 13);
}

TEST_F(DesignSurface, ResizeHandlesKeepTheOppositeEdgeAndNeverReachZero)
{
    surface->selectObject(a);
    drag(surface->selectionHandle(a.get(), KRDesignViewController::Left), {0, 0}, {30, 0});
    EXPECT_EQ(v(a, "kr_left"), 40);
    EXPECT_EQ(v(a, "kr_width"), 70);

    drag(surface->selectionHandle(a.get(), KRDesignViewController::SouthEast), {0, 0}, {-500, -500});
    EXPECT_EQ(a->value(QStringLiteral("kr_width")), QStringLiteral("1"));
    EXPECT_EQ(a->value(QStringLiteral("kr_height")), QStringLiteral("1"));

    drag(surface->selectionHandle(a.get(), KRDesignViewController::NorthWest), {0, 0}, {-20, -20});
    EXPECT_EQ(v(a, "kr_left"), 20);
    EXPECT_EQ(v(a, "kr_width"), 21);
    drag(surface->selectionHandle(a.get(), KRDesignViewController::NorthWest), {0, 0}, {50, 50});
    EXPECT_EQ(v(a, "kr_width"), 1);
    EXPECT_EQ(v(a, "kr_left"), 40); // clamped, and the right edge stayed where it was

    // A percentage width is moved, never resized.
    b->setValue(QStringLiteral("kr_width"), QStringLiteral("100%"));
    surface->selectObject(b);
    drag(surface->selectionHandle(b.get(), KRDesignViewController::Right), {0, 0}, {20, 0});
    EXPECT_EQ(b->value(QStringLiteral("kr_width")), QStringLiteral("100%"));

    // With two selected, a corner handle moves both.
    surface->selectObjects({b, c});
    drag(surface->selectionHandle(b.get(), KRDesignViewController::SouthEast), {0, 0}, {5, 6});
    EXPECT_EQ(v(b, "kr_left"), 55);
    EXPECT_EQ(v(c, "kr_top"), 156);
    EXPECT_EQ(v(c, "kr_width"), 80);
}

TEST_F(DesignSurface, GridRoundingAndArrowKeys)
{
    setGrid(10);
    for (auto [in, out] : {std::pair{14, 10}, {15, 20}, {-7, 0}, {-19, -10}, {0, 0}})
        EXPECT_EQ(surface->roundToGrid(in), out) << in;

    setGrid(8);
    a->setValue(QStringLiteral("kr_left"), QStringLiteral("3"));
    c->setValue(QStringLiteral("kr_locked"), QStringLiteral("true"));
    settle();
    undo().removeAllActions();
    surface->selectObjects({a, c});
    surface->moveObjects(KRDesignViewController::Arrow::Right);
    EXPECT_EQ(v(a, "kr_left"), 8); // 3 + 8 = 11, snapped
    EXPECT_EQ(v(c, "kr_left"), 200);
    surface->moveObjects(KRDesignViewController::Arrow::Up);
    EXPECT_EQ(v(a, "kr_top"), 16); // 20 − 8 = 12, snapped up
    settle();
    EXPECT_EQ(undo().undoCount(), 1);
    EXPECT_EQ(undo().undoActionName(), QStringLiteral("Move"));
    undo().undo();
    EXPECT_EQ(v(a, "kr_left"), 3);
    EXPECT_EQ(v(a, "kr_top"), 20);

    // Nothing selected: no empty step.
    surface->deselectAll();
    surface->moveObjects(KRDesignViewController::Arrow::Down);
    settle();
    EXPECT_FALSE(undo().canUndo());
}

TEST_F(DesignSurface, AlignmentsFollowTheFirstSelectedAndSkipLockedOthers)
{
    // c's height comes from its rendered size.
    c->setValue(QStringLiteral("kr_height"), QString());
    KRNodeGeometry g = layout.geometryForNode(c->domElement()->nodeId());
    g.offsetHeight = 50;
    layout.setGeometry(c->domElement()->nodeId(), g);
    a->setValue(QStringLiteral("kr_locked"), QStringLiteral("true"));
    surface->selectObjects({a, b, c});

    surface->alignLeft();
    EXPECT_EQ(v(b, "kr_left"), 10);
    EXPECT_EQ(v(c, "kr_left"), 10);
    surface->alignCenter(); // centre 60
    EXPECT_EQ(v(b, "kr_left"), 30);
    EXPECT_EQ(v(c, "kr_left"), 20);
    settle();
    EXPECT_EQ(undo().undoActionName(), QStringLiteral("Align Center"));
    surface->vAlignBottom(); // bottom 50
    EXPECT_EQ(v(b, "kr_top"), 10);
    EXPECT_EQ(v(c, "kr_top"), 0);
    surface->vAlignCenter(); // centre 35
    EXPECT_EQ(v(b, "kr_top"), 15);
    settle();
    EXPECT_EQ(undo().undoActionName(), QStringLiteral("Align Center"));

    b->setValue(QStringLiteral("kr_locked"), QStringLiteral("true"));
    surface->vAlignTop();
    EXPECT_EQ(v(b, "kr_top"), 15); // locked: stays
    EXPECT_EQ(v(c, "kr_top"), 20);
}

TEST_F(DesignSurface, DropsLandUnderThePointerAtAnyZoomAndForeignDragsAreRefused)
{
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/x.png"))});
    files.setText(QStringLiteral("JQMButton"));
    EXPECT_FALSE(KRDesignViewController::acceptsDrag(&files));
    EXPECT_FALSE(surface->performDrop(&files, QPointF(10, 10), 1.0));
    EXPECT_FALSE(KRDesignViewController::acceptsDrag(nullptr));

    QMimeData palette;
    palette.setData(KRDesignViewController::ObjectMimeType, "JQMButton");
    ASSERT_TRUE(KRDesignViewController::acceptsDrag(&palette));
    QList<KRObject *> inserted;
    QObject::connect(surface.get(), &KRDesignViewController::didInsertObject, [&](KRObject *o) { inserted.append(o); });

    const auto at150 = surface->performDrop(&palette, QPointF(150, 300), 1.5, QPointF(0, 40));
    ASSERT_TRUE(at150);
    EXPECT_EQ(v(at150, "kr_left"), 100);
    EXPECT_EQ(v(at150, "kr_top"), 240);
    EXPECT_EQ(inserted, QList<KRObject *>{at150.get()});
    EXPECT_EQ(surface->selectedObjects(), QList<std::shared_ptr<KRObject>>{at150});
    settle();

    const auto at100 = surface->performDrop(&palette, QPointF(33, 44), 1.0);
    EXPECT_EQ(v(at100, "kr_left"), 33);
    EXPECT_EQ(v(at100, "kr_top"), 44);
    settle();
    const int objects = page->allObjects().size();
    undo().undo();
    EXPECT_EQ(page->allObjects().size(), objects - 1);
}

TEST_F(DesignSurface, ContextMenusComeFromTheBoxTheObjectOrThePage)
{
    surface->selectObject(a);
    const auto titles = [](const QList<KRMenuItem> &items) {
        QStringList t;
        for (const auto &i : items)
            t.append(i.title);
        return t;
    };
    const QStringList buttonMenu = titles(a->contextMenuItemsForObject());
    ASSERT_FALSE(buttonMenu.isEmpty());
    EXPECT_EQ(titles(surface->contextMenuItemsForNode(surface->selectionHandle(a.get(), KRDesignViewController::Top))),
              buttonMenu);
    EXPECT_EQ(titles(surface->contextMenuItemsForNode(b->domElement())), titles(b->contextMenuItemsForObject()));
    EXPECT_EQ(titles(surface->contextMenuItemsForNode(page->domDocument()->body())),
              titles(page->contextMenuItemsForObject()));
    EXPECT_TRUE(surface->contextMenuItemsForNode(nullptr).isEmpty());
}

TEST_F(DesignSurface, LockingRedrawsTheBoxWithoutDragging)
{
    surface->selectObject(a);
    const auto before = surface->selectionBox(a.get());
    EXPECT_TRUE(before->hasAttribute(QStringLiteral("data-kr-drag")));
    a->setValue(QStringLiteral("kr_locked"), QStringLiteral("true"));
    const auto after = surface->selectionBox(a.get());
    ASSERT_TRUE(after);
    EXPECT_NE(after, before);
    EXPECT_FALSE(before->parentNode());
    EXPECT_FALSE(after->hasAttribute(QStringLiteral("data-kr-drag")));
    EXPECT_TRUE(after->style().getPropertyValue(QStringLiteral("cursor")).isEmpty());

    // A locked control does not move.
    drag(after, {0, 0}, {40, 40});
    EXPECT_EQ(v(a, "kr_left"), 10);
}

TEST_F(DesignSurface, AGoneSurfaceIsNotToldAboutLaterChanges)
{
    surface->selectObjects({a, b});
    a->setValue(QStringLiteral("kr_left"), QStringLiteral("70")); // schedules a box update
    const auto box = surface->selectionBox(a.get());
    surface.reset();
    EXPECT_FALSE(box->parentNode());
    a->setValue(QStringLiteral("kr_top"), QStringLiteral("71"));
    settle(); // the update scheduled earlier finds no surface
    EXPECT_EQ(v(a, "kr_top"), 71);
}

TEST_F(DesignSurface, DeleteRemovesTheSelectionAsOneStep)
{
    surface->selectObjects({a, c});
    surface->deleteSelection();
    settle();
    EXPECT_FALSE(page->objectForID(a->kr_id()));
    EXPECT_FALSE(page->objectForID(c->kr_id()));
    EXPECT_TRUE(surface->selectedObjects().isEmpty());
    EXPECT_EQ(undo().undoCount(), 1);
}
