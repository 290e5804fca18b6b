// The design canvas with a live page: real mouse and key events into the page's web view, and
// the model checked afterwards.
#include "../designview/DesignViewTestSupport.h"

#include <KRWebTestSupport.h>

#include <controls/KRControl.h>
#include <model/KRDeviceInformation.h>
#include <model/KRLocalServerPort.h>
#include <model/KRObjectInfo.h>
#include <model/KRUserDeviceInformation.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <platform/webview/KRLayoutCache.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/surface/KRDesignCanvas.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QMimeData>
#include <QTcpServer>
#include <QTest>

using namespace KRDesignViewTest;

namespace {

const QString kPages = QStringLiteral(
    "<KRPage id=\"page1\"><KRContents>"
    "<KRLabel id=\"label1\" top=\"20\" left=\"20\" width=\"100\" height=\"30\">One</KRLabel>"
    "<KRLabel id=\"label2\" top=\"80\" left=\"60\" width=\"60\" height=\"40\">Two</KRLabel>"
    "<KRLabel id=\"label3\" top=\"150\" left=\"150\" width=\"80\" height=\"20\">Three</KRLabel>"
    "</KRContents></KRPage>"
    "<KRPage id=\"page2\"><KRContents>"
    "<KRLabel id=\"label1\" top=\"70\" left=\"50\" width=\"120\" height=\"24\">Other page</KRLabel>"
    "</KRContents></KRPage>");

class KRDesignCanvasLive : public LivePageTest
{
protected:
    void SetUp() override
    {
        openPages(kPages);
        if (IsSkipped() || HasFatalFailure())
            return;
        live = showPage(page);
        ASSERT_TRUE(live);
        defaults = std::make_unique<KRUserDefaults>(KRTest::makeTempDir() + QStringLiteral("/defaults.conf"));
        canvas = std::make_unique<KRDesignCanvas>(live.get(), nullptr, defaults.get());
        canvas->resize(700, 900);
        canvas->show();
        view = live->webView();
        ASSERT_TRUE(loaded(*live));
        ASSERT_TRUE(settle());
        document->undoManager().removeAllActions();
        surface = canvas->surface();
    }

    void TearDown() override
    {
        canvas.reset();
        live.reset();
        project.reset();
    }

    std::unique_ptr<KRPageDesignView> showPage(const std::shared_ptr<KRPage> &p)
    {
        auto made = KRPageDesignView::create(p);
        return made ? std::move(made.value()) : nullptr;
    }
    static bool loaded(KRPageDesignView &shown)
    {
        return KRTest::processEventsUntil([&] { return shown.isDesignDocumentLoaded(); });
    }
    bool settle() { return LivePageTest::settle(*live); }
    std::shared_ptr<KRObject> object(const char *id) const { return page->objectForID(QString::fromLatin1(id)); }
    int v(const char *id, const char *key) const { return object(id)->value(QString::fromLatin1(key)).toInt(); }
    QWidget *input() const { return view->focusProxy(); }
    // Where a page point shows in the view.
    QPoint at(double x, double y) const { return QPoint(qRound(x * canvas->zoom()), qRound(y * canvas->zoom())); }
    // The centre of the element's box as the view measured it, in page pixels.
    QPointF centreOf(const std::shared_ptr<DOMNode> &node)
    {
        KRNodeGeometry g;
        KRTest::processEventsUntil([&] {
            g = view->layoutSource().geometryForNode(node->nodeId());
            return g.valid;
        });
        return QPointF(g.clientLeft + g.boundingWidth / 2, g.clientTop + g.boundingHeight / 2);
    }
    bool waitFor(const std::function<bool()> &condition) { return KRTest::processEventsUntil(condition); }
    void pointerDrag(QPoint from, QPoint to)
    {
        QTest::mousePress(input(), Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(input(), (from + to) / 2);
        QTest::mouseMove(input(), to);
        QTest::mouseRelease(input(), Qt::LeftButton, Qt::NoModifier, to);
    }
    QList<std::shared_ptr<KRObject>> selection() const { return surface->selectedObjects(); }
    static QString artifacts()
    {
        const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/workspace");
        QDir().mkpath(dir);
        return dir;
    }

    std::unique_ptr<KRPageDesignView> live;
    std::unique_ptr<KRUserDefaults> defaults;
    std::unique_ptr<KRDesignCanvas> canvas;
    KRWebView *view = nullptr;
    KRDesignViewController *surface = nullptr;
};

TEST(KRDesignCanvasLayout, CentresWhatFitsAndKeepsTheTopOfWhatDoesNot)
{
    KRDeviceInformation device;
    device.width = 320;
    device.height = 480;
    device.setOffset(32, 120);
    const QSize skin(384, 720);

    const auto half = KRDesignCanvasLayout::compute(skin, 0.5, QSize(1000, 1000), device);
    EXPECT_EQ(half.contentSize, QSize(1000, 1000));
    EXPECT_EQ(half.skinRect, QRect(404, 320, 192, 360));
    EXPECT_EQ(half.pageRect, QRect(420, 380, 160, 240));

    const auto twice = KRDesignCanvasLayout::compute(skin, 2.0, QSize(500, 600), device);
    EXPECT_EQ(twice.contentSize, QSize(768, 1440));
    EXPECT_EQ(twice.skinRect.topLeft(), QPoint(0, 0));
    EXPECT_EQ(twice.pageRect, QRect(64, 240, 640, 960));
}

TEST_F(KRDesignCanvasLive, ClicksRubberBandAndTabSelect)
{
    const QPoint one = at(70, 35);
    QTest::mouseClick(input(), Qt::LeftButton, Qt::NoModifier, one);
    ASSERT_TRUE(waitFor([&] { return selection() == QList{object("label1")}; }));
    QTest::mouseClick(input(), Qt::LeftButton, Qt::ShiftModifier, at(90, 100));
    ASSERT_TRUE(waitFor([&] { return selection().size() == 2; }));

    // A band from empty page up and to the left over the second and third labels.
    ASSERT_TRUE(settle());
    pointerDrag(at(300, 300), at(100, 100));
    ASSERT_TRUE(waitFor([&] { return selection() == (QList{object("label2"), object("label3")}); }))
        << selection().size();
    // The click that ended the band (swallowed) reached the surface before the page answered
    // for the band's removal.
    ASSERT_TRUE(settle());

    QTest::keyClick(input(), Qt::Key_Tab);
    EXPECT_EQ(selection(), QList{object("label3")});
    QTest::keyClick(input(), Qt::Key_Tab); // wraps past the page
    EXPECT_EQ(selection(), QList{object("label1")});
    QTest::keyClick(input(), Qt::Key_Backtab);
    EXPECT_EQ(selection(), QList{object("label3")});

    // A click on the device frame reports the page and keeps the selection.
    QList<KRObject *> reported;
    QObject::connect(surface, &KRDesignViewController::didSelectObject, [&](KRObject *o) { reported.append(o); });
    QWidget *frame = view->parentWidget();
    QTest::mouseClick(frame, Qt::LeftButton, Qt::NoModifier, view->geometry().topLeft() - QPoint(8, 8));
    EXPECT_EQ(reported, QList<KRObject *>{page.get()});
    EXPECT_EQ(selection(), QList{object("label3")});
}

TEST_F(KRDesignCanvasLive, DragMoveSnapsAndUndoesInOneStepAndResizeClamps)
{
    project->setProjectSetting(QStringLiteral("10"), QStringLiteral("snapGrid"));
    settle();
    document->undoManager().removeAllActions();
    QTest::mouseClick(input(), Qt::LeftButton, Qt::NoModifier, at(70, 35));
    ASSERT_TRUE(waitFor([&] { return selection() == QList{object("label1")}; }));
    ASSERT_TRUE(settle());
    const auto box = surface->selectionBox(object("label1").get());
    const QPointF c = centreOf(box);

    pointerDrag(at(c.x(), c.y()), at(c.x() + 23, c.y() + 14));
    ASSERT_TRUE(waitFor([&] { return !surface->isDragging() && v("label1", "kr_left") != 20; }));
    EXPECT_EQ(v("label1", "kr_left"), 40); // 43, snapped
    EXPECT_EQ(v("label1", "kr_top"), 30);  // 34, snapped
    ASSERT_TRUE(settle());
    // The box followed the label.
    EXPECT_NEAR(centreOf(box).x(), c.x() + 20, 1);
    EXPECT_EQ(document->undoManager().undoCount(), 1);
    EXPECT_EQ(document->undoManager().undoActionName(), QStringLiteral("Drag KRLabel"));
    document->undoManager().undo();
    EXPECT_EQ(v("label1", "kr_left"), 20);
    EXPECT_EQ(v("label1", "kr_top"), 20);
    ASSERT_TRUE(settle());

    // The bottom-right handle pulled far past the top-left corner.
    const auto se = surface->selectionHandle(object("label1").get(), KRDesignViewController::SouthEast);
    const QPointF h = centreOf(se);
    pointerDrag(at(h.x(), h.y()), at(h.x() - 300, h.y() - 300));
    ASSERT_TRUE(waitFor([&] { return !surface->isDragging() && v("label1", "kr_width") != 100; }));
    EXPECT_EQ(object("label1")->value(QStringLiteral("kr_width")), QStringLiteral("1"));
    EXPECT_EQ(object("label1")->value(QStringLiteral("kr_height")), QStringLiteral("1"));
    EXPECT_EQ(v("label1", "kr_left"), 20);
}

// A selected control's box shows its eight handles as marked squares, at the corners and in
// the middle of each edge, drawn at full strength over the box's faint tint.
TEST_F(KRDesignCanvasLive, TheHandlesOfASelectionBoxShow)
{
    surface->selectObject(object("label2"));
    ASSERT_TRUE(settle());
    QList<QPoint> marks;
    for (int h = 0; h < KRDesignViewController::HandleCount; ++h) {
        const QPointF c = centreOf(surface->selectionHandle(object("label2").get(), KRDesignViewController::Handle(h)));
        marks.append(view->mapTo(canvas.get(), at(c.x(), c.y())));
    }
    QImage shot;
    QStringList seen;
    const bool shown = waitFor([&] {
        shot = canvas->grab().toImage();
        seen.clear();
        for (const QPoint &m : marks) {
            const QColor c = shot.pixelColor(m);
            if (!(c.blue() > 160 && c.red() < 110))
                seen.append(c.name());
        }
        return seen.isEmpty();
    });
    const QString path = artifacts() + QStringLiteral("/design-canvas-handles.png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    EXPECT_TRUE(shown) << "handles not marked in " << path.toStdString() << ": " << seen.join(QLatin1Char(' ')).toStdString();
}

TEST_F(KRDesignCanvasLive, ArrowsAndAlignmentsUseTheRenderedHeights)
{
    object("label3")->setValue(QStringLiteral("kr_height"), QString()); // its height is the rendered one
    ASSERT_TRUE(settle());
    const int rendered = std::static_pointer_cast<KRControl>(object("label3"))->controlHeight();
    ASSERT_GT(rendered, 0);
    surface->selectObjects({object("label1"), object("label2"), object("label3")});
    surface->alignLeft();
    EXPECT_EQ(v("label2", "kr_left"), 20);
    EXPECT_EQ(v("label3", "kr_left"), 20);
    surface->alignCenter();
    EXPECT_EQ(v("label2", "kr_left"), 70 - 30);
    surface->vAlignBottom();
    EXPECT_EQ(v("label2", "kr_top"), 50 - 40);
    EXPECT_EQ(v("label3", "kr_top"), 50 - rendered);
    ASSERT_TRUE(settle());

    view->setFocus();
    QTest::keyClick(input(), Qt::Key_Right);
    QTest::keyClick(input(), Qt::Key_Down);
    EXPECT_EQ(v("label1", "kr_left"), 21);
    EXPECT_EQ(v("label1", "kr_top"), 21);
}

TEST_F(KRDesignCanvasLive, PaletteDropsLandUnderThePointerAndForeignDragsAreRefused)
{
    for (int percent : {100, 150}) {
        canvas->setZoomPercent(percent);
        ASSERT_TRUE(settle());
        document->undoManager().removeAllActions();
        QMimeData palette;
        palette.setData(KRDesignViewController::ObjectMimeType, "KRLabel");
        const QPoint point = at(200, 260 + percent);
        QDragEnterEvent enter(point, Qt::CopyAction | Qt::MoveAction, &palette, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(input(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(point), Qt::CopyAction | Qt::MoveAction, &palette, Qt::LeftButton, Qt::NoModifier);
        const int before = page->allObjects().size();
        QCoreApplication::sendEvent(input(), &drop);
        ASSERT_EQ(page->allObjects().size(), before + 1);
        const auto made = selection().value(0);
        ASSERT_TRUE(made);
        EXPECT_EQ(made->value(QStringLiteral("kr_left")).toInt(), 200) << percent;
        EXPECT_EQ(made->value(QStringLiteral("kr_top")).toInt(), 260 + percent) << percent;
        ASSERT_TRUE(settle());
        // One step, its size check included.
        EXPECT_EQ(document->undoManager().undoCount(), 1);
        EXPECT_EQ(document->undoManager().undoActionName(), QStringLiteral("Create KRLabel"));
        // Its element shows at the drop point.
        const QPointF shown = centreOf(made->domElement());
        EXPECT_GT(shown.x(), 200);
        EXPECT_GT(shown.y(), 260 + percent);
    }

    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/picture.png"))});
    QDragEnterEvent foreign(QPoint(20, 20), Qt::MoveAction, &file, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(input(), &foreign);
    EXPECT_FALSE(foreign.isAccepted());
}

TEST_F(KRDesignCanvasLive, ContextMenusComeFromTheModel)
{
    const auto label = object("label2");
    QTest::mouseClick(input(), Qt::RightButton, Qt::NoModifier, at(90, 100));
    QMenu *shown = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (QMenu *m : canvas->findChildren<QMenu *>())
            if (m->isVisible())
                shown = m;
        return shown != nullptr;
    }));
    QStringList titles, expected;
    for (QAction *a : shown->actions())
        titles.append(a->text());
    for (const KRMenuItem &item : label->contextMenuItemsForObject())
        expected.append(item.separator ? QString() : item.title);
    EXPECT_EQ(titles, expected);
    shown->close();
}

TEST_F(KRDesignCanvasLive, DeviceAndZoomRelayTheEveryPageOfTheProject)
{
    const auto page2 = project->pageForID(QStringLiteral("page2"));
    auto live2 = showPage(page2);
    ASSERT_TRUE(live2);
    KRDesignCanvas other(live2.get(), nullptr, defaults.get());
    other.resize(500, 700);
    other.show();
    ASSERT_TRUE(loaded(*live2));

    EXPECT_EQ(canvas->devicePopUp()->findText(QStringLiteral("Design View")), -1);
    const int ipad = canvas->devicePopUp()->findData(QStringLiteral("iPad"));
    ASSERT_GE(ipad, 0);
    canvas->devicePopUp()->setCurrentIndex(ipad);
    emit canvas->devicePopUp()->activated(ipad);
    const auto device = KRObjectInfo::sharedInstance().deviceInformation().objectForKey(QStringLiteral("iPad"));
    EXPECT_EQ(project->designTarget(), QStringLiteral("iPad"));
    EXPECT_EQ(other.deviceID(), QStringLiteral("iPad"));
    EXPECT_EQ(other.devicePopUp()->currentData().toString(), QStringLiteral("iPad"));
    EXPECT_TRUE(waitFor([&] { return js(*view, QStringLiteral("window.innerWidth")).toInt() == device->width; }));

    // Zoom scales this page only, and the page keeps the device's width.
    canvas->setZoomPercent(200);
    EXPECT_EQ(view->width(), device->width * 2);
    EXPECT_TRUE(waitFor([&] { return js(*view, QStringLiteral("window.innerWidth")).toInt() == device->width; }));
    canvas->setZoomPercent(50);
    EXPECT_TRUE(waitFor([&] { return js(*view, QStringLiteral("window.innerWidth")).toInt() == device->width; }))
        << js(*view, QStringLiteral("window.innerWidth")).toInt();
    EXPECT_DOUBLE_EQ(live2->webView()->zoomFactor(), 1.0);
    EXPECT_EQ(js(*live2->webView(), QStringLiteral("window.innerWidth")).toInt(), device->width);
}

// The device pop-up follows the devices the user keeps in the preferences as they are added,
// renamed and removed, and names the project's design target however it was chosen.
TEST_F(KRDesignCanvasLive, DevicePopUpFollowsTheUserDevices)
{
    auto kiosk = std::make_shared<KRUserDeviceInformation>();
    kiosk->deviceID = QStringLiteral("kiosk");
    kiosk->name = QStringLiteral("Kiosk");
    kiosk->width = 400;
    kiosk->height = 600;
    KRUserDeviceInformation::storeDevices({kiosk}, *defaults);
    QComboBox *popUp = canvas->devicePopUp();
    const int index = popUp->findData(QStringLiteral("kiosk"));
    ASSERT_GE(index, 0);
    EXPECT_EQ(popUp->itemText(index), QStringLiteral("Kiosk"));

    // Chosen elsewhere (the project's settings): the pop-up names it, the skin is its own.
    project->setDesignTarget(QStringLiteral("kiosk"));
    EXPECT_EQ(popUp->currentText(), QStringLiteral("Kiosk"));
    EXPECT_EQ(canvas->deviceID(), QStringLiteral("kiosk"));
    EXPECT_EQ(view->width(), 400);

    kiosk->name = QStringLiteral("Counter");
    kiosk->width = 500;
    KRUserDeviceInformation::storeDevices({kiosk}, *defaults);
    EXPECT_EQ(popUp->currentText(), QStringLiteral("Counter"));
    EXPECT_EQ(view->width(), 500);

    // Gone: the page falls back to the iPhone, and the pop-up says so.
    KRUserDeviceInformation::storeDevices({}, *defaults);
    EXPECT_EQ(popUp->findData(QStringLiteral("kiosk")), -1);
    EXPECT_EQ(project->designTarget(), QStringLiteral("iPhone"));
    EXPECT_EQ(popUp->currentData().toString(), QStringLiteral("iPhone"));
}

TEST_F(KRDesignCanvasLive, ScreenshotsAtTwoZoomsOnTwoDevicesWithSelectionAndGrid)
{
    project->setProjectSetting(QStringLiteral("10"), QStringLiteral("snapGrid"));
    project->setShowGrid(true);
    surface->selectObjects({object("label1"), object("label2")});
    ASSERT_TRUE(settle());
    struct Shot { const char *device; int zoom; };
    for (const Shot s : {Shot{"iPhone", 100}, Shot{"iPhone", 200}, Shot{"Android", 100}, Shot{"Android", 200}}) {
        const auto devices = KRObjectInfo::sharedInstance().deviceInformation();
        QString id = QString::fromLatin1(s.device);
        if (!devices.contains(id))
            id = devices.allKeys().value(1);
        project->setDesignTarget(id);
        canvas->setZoomPercent(s.zoom);
        // The background follows its default: the light grid, then the dark one.
        const bool dark = id != QStringLiteral("iPhone");
        defaults->setValue(QStringLiteral("designViewBackground"),
                           dark ? QStringLiteral("KR-design-background-dark") : QStringLiteral("KR-design-background-grid"));
        ASSERT_TRUE(settle());
        const QRect pageRect = canvas->currentLayout().pageRect;
        EXPECT_EQ(pageRect.width(), devices.objectForKey(id)->width * s.zoom / 100);
        // The page keeps the device's width in CSS pixels at every zoom.
        EXPECT_TRUE(waitFor([&] { return js(*view, QStringLiteral("window.innerWidth")).toInt() == devices.objectForKey(id)->width; }));
        EXPECT_TRUE(KRTest::framesDrawn(view)); // a frame at the new scale
        // Inside the first label, away from its text: tinted by its selection box.
        const QPoint inBox = view->mapTo(canvas.get(), at(110, 45));
        // On the skin, between its edge and the page.
        const QPoint onSkin = view->mapTo(canvas.get(), QPoint(-10, -10));
        QImage shot;
        const bool drawn = waitFor([&] {
            shot = canvas->grab().toImage();
            const QColor c = shot.pixelColor(inBox);
            return c.blue() > c.red() + 3 && shot.pixelColor(onSkin).lightness() < 100;
        });
        const QString path = artifacts() + QStringLiteral("/design-canvas-%1-%2.png").arg(id).arg(s.zoom);
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
        if (s.zoom == 100) // beside the device
            EXPECT_EQ(shot.pixelColor(canvas->width() - 30, canvas->height() - 30).lightness() < 100, dark) << path.toStdString();
        EXPECT_TRUE(drawn) << "no selection box or skin in " << path.toStdString() << " "
                           << shot.pixelColor(inBox).name().toStdString();
    }
}

// A page whose libraries cannot load (nothing answers at the server's port) says why in place
// of the loading picture instead of showing the picture for good; once the server answers, the
// page loads and the message goes.
class KRDesignCanvasUnloadable : public LivePageTest
{
protected:
    void TearDown() override
    {
        project.reset();
        KRLocalServerPort::setProvider(previousProvider);
    }

    qint64 answer = -1; // what the port provider answers
    KRLocalServerPort::Provider previousProvider = KRLocalServerPort::setProvider([this] { return answer; });
};

TEST_F(KRDesignCanvasUnloadable, LibrariesThatDoNotLoadAreToldInPlaceOfTheLoadingPicture)
{
    openPages(kPages);
    if (IsSkipped() || HasFatalFailure())
        return;
    QTcpServer reserved;
    ASSERT_TRUE(reserved.listen(QHostAddress::LocalHost));
    answer = reserved.serverPort();
    reserved.close();

    auto made = KRPageDesignView::create(page);
    ASSERT_TRUE(made) << made.error().message().toStdString();
    KRPageDesignView *live = made.value().get();
    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/defaults.conf"));
    auto canvas = std::make_unique<KRDesignCanvas>(live, nullptr, &defaults);
    canvas->resize(700, 900);
    canvas->show();
    auto *loading = canvas->findChild<QWidget *>(QStringLiteral("designLoadingView"));
    ASSERT_TRUE(loading);

    ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isWaitingForServer(); }, std::chrono::seconds(30)));
    QApplication::processEvents();
    EXPECT_TRUE(loading->isVisible());
    EXPECT_TRUE(loading->accessibleName().contains(QLatin1String("did not load"))) << loading->accessibleName().toStdString();
    // The words are drawn: dark pixels on the light picture.
    const QImage shot = loading->grab().toImage();
    int dark = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2)
            dark += qGray(shot.pixel(x, y)) < 90;
    EXPECT_GT(dark, 100) << "no message drawn over the loading picture";
    QDir().mkpath(QStringLiteral(KR_BUILD_DIR "/test-artifacts/workspace"));
    shot.save(QStringLiteral(KR_BUILD_DIR "/test-artifacts/workspace/canvas-libraries-failed.png"));

    answer = runtimeServerPort();
    KRLocalServerPort::serverDidStart(answer);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isDesignDocumentLoaded(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(loading->isVisible());
    EXPECT_TRUE(live->loadProblem().isEmpty());
    canvas.reset();
}

} // namespace

// A control whose drawn size changes after the page was measured, with no change of the
// document (a transition, a font or a picture arriving later): its selection box follows.
TEST_F(KRDesignCanvasLive, TheSelectionBoxFollowsAControlThatGrowsLater)
{
    const auto label = object("label3");
    surface->selectObject(label);
    ASSERT_TRUE(settle());
    const auto box = surface->selectionBox(label.get());
    ASSERT_TRUE(box);
    const auto drawn = [&](const std::shared_ptr<DOMNode> &node) {
        return js(*view, QStringLiteral("(function(e){ var r = e.getBoundingClientRect();"
                                        " return [r.left, r.top, r.width, r.height].join(','); })(%1)")
                             .arg(liveNode(node)))
            .toString();
    };
    // The box lies two pixels outside the control on every side.
    const auto follows = [&] {
        const QStringList l = drawn(label->domElement()).split(QLatin1Char(','));
        const QStringList b = drawn(box).split(QLatin1Char(','));
        if (l.size() != 4 || b.size() != 4)
            return false;
        for (int k = 0; k < 2; ++k) {
            if (qAbs(b[k].toDouble() + 2 - l[k].toDouble()) > 0.5 || qAbs(b[k + 2].toDouble() - 4 - l[k + 2].toDouble()) > 0.5)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(waitFor(follows)) << drawn(label->domElement()).toStdString() << " in " << drawn(box).toStdString();

    // The page's own style makes the label grow over a moment (as a transition in a style
    // class does): the document changes once, at the start, and the size goes on changing.
    // Twice: the first time may end after the page happens to change for a reason of its own.
    for (const QSize size : {QSize(150, 90), QSize(200, 120)}) {
        js(*view, QStringLiteral("(function(e){ e.style.setProperty('transition', 'height 0.3s linear, width 0.3s linear', 'important');"
                                 " e.style.setProperty('height', '%2px', 'important');"
                                 " e.style.setProperty('width', '%3px', 'important'); })(%1)")
                      .arg(liveNode(label->domElement()))
                      .arg(size.height())
                      .arg(size.width()));
        const QString grown = QStringLiteral(",%1,%2").arg(size.width()).arg(size.height());
        EXPECT_TRUE(waitFor([&] { return drawn(label->domElement()).endsWith(grown) && follows(); }))
            << drawn(label->domElement()).toStdString() << " in " << drawn(box).toStdString();
    }
}
