#include "KRDesignViewController.h"

#include <controls/KRControl.h>
#include <controls/KRPlugin.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/KRLayoutSource.h>
#include <platform/foundation/KRUndoManager.h>

#include <QHash>
#include <QMimeData>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const QString KRDesignViewControllerLeft = QStringLiteral("kr_left");
const QString KRDesignViewControllerTop = QStringLiteral("kr_top");
const QString KRDesignViewControllerWidth = QStringLiteral("kr_width");
const QString KRDesignViewControllerHeight = QStringLiteral("kr_height");
const QString KRDesignViewControllerLocked = QStringLiteral("kr_locked");

// The leading integer of a model value ("12", "12.7", "100%", " -3px"); 0 when there is none.
int krDesignIntValue(const QString &text)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        negative = t[i++] == u'-';
    qint64 v = 0;
    for (; i < t.size() && t[i].isDigit() && v < 1'000'000'000; ++i)
        v = v * 10 + t[i].digitValue();
    return int(negative ? -v : v);
}

QString krDesignPx(int v)
{
    return QStringLiteral("%1px").arg(v);
}

int krDesignEventInt(const QVariantMap &event, const char *key)
{
    return qRound(event.value(QLatin1String(key)).toDouble());
}

// Writes only what changes: every write travels to the live view as a change of its own.
void krDesignSetStyle(DOMElement &element, const QString &name, const QString &value)
{
    if (element.style().getPropertyValue(name) != value)
        element.style().setProperty(name, value);
}

KRControl *krDesignControl(const KRObject *object)
{
    return dynamic_cast<KRControl *>(const_cast<KRObject *>(object));
}

} // namespace

KRDesignViewController::KRDesignViewController(const std::shared_ptr<KRPage> &page, QObject *parent)
    : QObject(parent), m_page(page)
{
    if (page)
        m_pageObjectsToken = page->observable().observe(
            QStringLiteral("allObjects"),
            [this](const void *, const QString &, const QVariant &, const QVariant &) { pageObjectsDidChange(); });
}

KRDesignViewController::~KRDesignViewController()
{
    // The boxes leave the page's document with the surface; their observations end with them.
    deselectAll();
    endDragSelection();
    // A move cut short leaves the page arranging as before.
    if (const auto p = page(); p && m_dragging)
        p->holdBuildOrder(false);
}

// --- Selection

QList<std::shared_ptr<KRObject>> KRDesignViewController::selectedObjects() const
{
    return QList<std::shared_ptr<KRObject>>(m_selected.begin(), m_selected.end());
}

void KRDesignViewController::selectObject(const std::shared_ptr<KRObject> &object)
{
    if (m_isSelecting || !object)
        return;
    if (m_selected.size() == 1 && m_selected.front() == object)
        return;
    deselectAll();
    addObjectToSelection(object);
}

void KRDesignViewController::selectObjects(const QList<std::shared_ptr<KRObject>> &objects)
{
    if (m_isSelecting)
        return;
    const bool allSelected = std::all_of(objects.begin(), objects.end(), [this](const auto &o) {
        return std::find(m_selected.begin(), m_selected.end(), o) != m_selected.end();
    });
    if (allSelected)
        return;
    deselectAll();
    addObjectsToSelection(objects);
}

void KRDesignViewController::addObjectToSelection(const std::shared_ptr<KRObject> &object)
{
    if (!object || m_isSelecting)
        return;
    addObjectsToSelection({object});
}

// The controls among the objects join the selection (the page and non-visual objects are
// reported, never selected here), and the change is told once, with the last of them: told of
// each, the inspector showed each in turn, and selecting many took time with the square of
// their number.
void KRDesignViewController::addObjectsToSelection(const QList<std::shared_ptr<KRObject>> &objects)
{
    if (m_isSelecting)
        return;
    KRObject *last = nullptr;
    for (const auto &object : objects) {
        if (!object || m_boxes.count(object.get()))
            continue;
        last = object.get();
        if (!krDesignControl(object.get()))
            continue;
        m_selected.push_back(object);
        Box &box = m_boxes[object.get()];
        box.object = object;
        observeSelected(object, box);
        drawSelectionBox(object, box);
    }
    if (!last)
        return;
    // What answers a selected control does not select again; a reported object may be.
    m_isSelecting = krDesignControl(last) != nullptr;
    emit didSelectObject(last);
    emit selectedObjectsDidChange();
    m_isSelecting = false;
}

void KRDesignViewController::deselectAll()
{
    std::vector<Box *> boxes;
    boxes.reserve(m_boxes.size());
    for (auto &[object, box] : m_boxes)
        boxes.push_back(&box);
    removeSelectionBoxes(boxes);
    m_boxes.clear();
    m_selected.clear();
}

void KRDesignViewController::selectAll()
{
    const auto p = page();
    if (!p)
        return;
    QList<std::shared_ptr<KRObject>> controls = p->allObjects();
    controls.removeIf([](const std::shared_ptr<KRObject> &object) { return !krDesignControl(object.get()); });
    addObjectsToSelection(controls);
}

void KRDesignViewController::selectNextObject()
{
    selectStep(1);
}

void KRDesignViewController::selectPreviousObject()
{
    selectStep(-1);
}

void KRDesignViewController::pageObjectsDidChange()
{
    const auto p = page();
    if (!p)
        return;
    // Looked up, not searched for: with many objects selected, undoing their paste took time
    // with the square of their number.
    QSet<const KRObject *> all;
    for (const auto &object : p->allObjects())
        all.insert(object.get());
    std::vector<Box *> boxes;
    std::vector<const KRObject *> boxed;
    const auto gone = std::remove_if(m_selected.begin(), m_selected.end(), [&](const std::shared_ptr<KRObject> &object) {
        if (all.contains(object.get()))
            return false;
        if (const auto box = m_boxes.find(object.get()); box != m_boxes.end()) {
            boxes.push_back(&box->second);
            boxed.push_back(object.get());
        }
        return true;
    });
    if (gone == m_selected.end())
        return;
    removeSelectionBoxes(boxes);
    for (const KRObject *object : boxed)
        m_boxes.erase(object);
    m_selected.erase(gone, m_selected.end());
    emit selectedObjectsDidChange();
}

void KRDesignViewController::deviceFrameClicked()
{
    if (const auto p = page())
        emit didSelectObject(p.get());
}

void KRDesignViewController::selectStep(int direction)
{
    const auto p = page();
    if (!p)
        return;
    const QList<std::shared_ptr<KRObject>> all = p->allObjects();
    const qsizetype n = all.size();
    if (n < 3)
        return;
    qsizetype start = -1;
    if (!m_selected.empty()) {
        start = all.indexOf(m_selected.front());
    } else {
        for (qsizetype i = 0; i < n && start < 0; ++i)
            if (krDesignControl(all[i].get()))
                start = i;
    }
    if (start < 0)
        return;
    for (qsizetype step = 1; step < n; ++step) {
        const auto &candidate = all[((start + direction * step) % n + n) % n];
        if (krDesignControl(candidate.get())) {
            selectObject(candidate);
            return;
        }
    }
}

// --- Selection boxes

std::shared_ptr<DOMElement> KRDesignViewController::selectionBox(const KRObject *object) const
{
    const auto it = m_boxes.find(object);
    return it == m_boxes.end() ? nullptr : it->second.overlay;
}

std::shared_ptr<DOMElement> KRDesignViewController::selectionHandle(const KRObject *object, Handle handle) const
{
    const auto it = m_boxes.find(object);
    return it == m_boxes.end() || handle >= HandleCount ? nullptr : it->second.handles[handle];
}

std::shared_ptr<KRObject> KRDesignViewController::objectForSelectionBoxNode(const std::shared_ptr<DOMNode> &node) const
{
    if (!node)
        return nullptr;
    for (const auto &[object, box] : m_boxes) {
        if (box.overlay == node)
            return box.object.lock();
        for (const auto &handle : box.handles)
            if (handle == node)
                return box.object.lock();
    }
    return nullptr;
}

std::shared_ptr<KRObject> KRDesignViewController::objectForElement(const std::shared_ptr<DOMNode> &node) const
{
    if (const auto boxed = objectForSelectionBoxNode(node))
        return boxed;
    const auto p = page();
    if (!p || !node)
        return nullptr;
    const QList<std::shared_ptr<KRObject>> all = p->allObjects();
    for (std::shared_ptr<DOMNode> n = node; n; n = n->parentNode())
        for (const auto &object : all)
            if (krDesignControl(object.get()) && object->domElement() == n)
                return object;
    return nullptr;
}

void KRDesignViewController::drawSelectionBox(const std::shared_ptr<KRObject> &object, Box &box)
{
    const auto p = page();
    const auto parent = object->parentObject();
    if (!p || !p->domDocument() || !parent || !parent->domElement())
        return;
    const bool canDrag = krDesignControl(object.get())->canDrag();
    DOMDocument &document = *p->domDocument();
    const auto setAttributes = [canDrag](DOMElement &element) {
        element.style().setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
        element.style().setProperty(QStringLiteral("padding"), QStringLiteral("0"));
        element.style().setProperty(QStringLiteral("margin"), QStringLiteral("0"));
        element.style().setProperty(QStringLiteral("z-index"), QStringLiteral("999999"));
        // Moving and resizing run on pointer events in the page's agent, which reports through
        // the drag operations; the element only says which box or handle it is.
        if (canDrag)
            element.setAttribute(QStringLiteral("data-kr-drag"), QStringLiteral("true"));
        element.setAttribute(QStringLiteral("ondblclick"),
                             QStringLiteral("window.___kr_dwc.onDoubleClickElement_withEvent_(this,event);"));
    };

    // The box is made whole before it goes into the page, so that the web view gets it as one
    // inserted tree rather than a change for every style and attribute of its nine elements.
    box.overlay = document.createElement(QStringLiteral("div"));
    setAttributes(*box.overlay);
    // The box is drawn for the eye only: assistive tools learn of the selection from the
    // inspector and the object list, and a page of many selected controls is not described to
    // them as nine empty groups more for each (the engine described every box again as the
    // page changed, for seconds after a large paste was drawn).
    box.overlay->setAttribute(QStringLiteral("aria-hidden"), QStringLiteral("true"));
    auto &style = box.overlay->style();
    // A faint tint and dashed edge. The overlay itself stays opaque (the tint is in its colours)
    // so that the handles inside it show at full strength.
    style.setProperty(QStringLiteral("border-style"), QStringLiteral("dashed"));
    style.setProperty(QStringLiteral("border-color"), QStringLiteral("rgba(0, 0, 0, 0.2)"));
    // With a unit: the view reads the three as one "border" value, where the engine takes no
    // unitless width.
    style.setProperty(QStringLiteral("border-width"), QStringLiteral("1px"));
    style.setProperty(QStringLiteral("-webkit-border-radius"), QStringLiteral("1"));
    style.setProperty(QStringLiteral("background-color"), QStringLiteral("rgba(183, 201, 230, 0.2)"));
    if (canDrag)
        style.setProperty(QStringLiteral("cursor"), QStringLiteral("move"));
    // The element the box surrounds: where another control is drawn above that one, the view
    // gives a press there to that control, as a built page (which has no boxes) would.
    if (const auto surrounded = krDesignControl(object.get())->designViewSelectionElement())
        box.overlay->setAttribute(QStringLiteral("data-kr-box"), QString::number(surrounded->nodeId()));

    struct HandleStyle {
        const char *cursor;
        std::initializer_list<std::pair<const char *, const char *>> fixed;
    };
    static const HandleStyle styles[HandleCount] = {
        {"col-resize", {{"left", "0px"}, {"top", "0px"}, {"width", "8px"}}},
        {"col-resize", {{"top", "0px"}, {"width", "8px"}}},
        {"row-resize", {{"left", "0px"}, {"top", "0px"}, {"height", "8px"}}},
        {"row-resize", {{"left", "0px"}, {"height", "8px"}}},
        {"ne-resize", {{"width", "8px"}, {"height", "8px"}, {"top", "0px"}}},
        {"nw-resize", {{"width", "8px"}, {"height", "8px"}, {"top", "0px"}, {"left", "0px"}}},
        {"se-resize", {{"width", "8px"}, {"height", "8px"}}},
        {"sw-resize", {{"left", "0px"}, {"width", "8px"}, {"height", "8px"}}},
    };
    for (int h = 0; h < HandleCount; ++h) {
        auto handle = document.createElement(QStringLiteral("div"));
        box.overlay->appendChild(handle);
        setAttributes(*handle);
        handle->setAttribute(QStringLiteral("data-kr-handle"), QString::number(h));
        auto &handleStyle = handle->style();
        for (const auto &[name, value] : styles[h].fixed)
            handleStyle.setProperty(QString::fromLatin1(name), QString::fromLatin1(value));
        if (canDrag) {
            handleStyle.setProperty(QStringLiteral("cursor"), QString::fromLatin1(styles[h].cursor));
            // Its mark: a blue square with a white rim in the middle of the handle (an edge
            // handle's mark sits at the middle of its edge), seen on light and dark controls.
            handleStyle.setProperty(QStringLiteral("background-image"),
                                    QStringLiteral("linear-gradient(#2f6fd6, #2f6fd6), linear-gradient(#ffffff, #ffffff)"));
            handleStyle.setProperty(QStringLiteral("background-size"), QStringLiteral("6px 6px, 8px 8px"));
            handleStyle.setProperty(QStringLiteral("background-position"), QStringLiteral("center center, center center"));
            handleStyle.setProperty(QStringLiteral("background-repeat"), QStringLiteral("no-repeat, no-repeat"));
        }
        box.handles[h] = std::move(handle);
    }
    placeBox(box);
    parent->domElement()->appendChild(box.overlay);
}

void KRDesignViewController::removeSelectionBox(Box &box)
{
    box.tokens.clear();
    if (box.overlay) {
        if (const auto parent = box.overlay->parentNode())
            parent->removeChild(box.overlay);
    }
    box.overlay.reset();
    for (auto &handle : box.handles)
        handle.reset();
}

void KRDesignViewController::removeSelectionBoxes(const std::vector<Box *> &boxes)
{
    if (boxes.size() < 2) {
        for (Box *box : boxes)
            removeSelectionBox(*box);
        return;
    }
    // Grouped by parent, in the order met.
    std::vector<std::pair<std::shared_ptr<DOMNode>, DOMNode::NodeList>> parents;
    QHash<const DOMNode *, std::size_t> parentIndex;
    for (Box *box : boxes) {
        const auto parent = box->overlay ? box->overlay->parentNode() : nullptr;
        if (!parent)
            continue;
        auto at = parentIndex.constFind(parent.get());
        if (at == parentIndex.cend()) {
            at = parentIndex.insert(parent.get(), parents.size());
            parents.emplace_back(parent, DOMNode::NodeList());
        }
        parents[at.value()].second.push_back(box->overlay);
    }
    for (const auto &[parent, overlays] : parents)
        parent->removeChildren(overlays);
    for (Box *box : boxes)
        removeSelectionBox(*box); // what is left: its observations and elements
}

QRect KRDesignViewController::elementRect(const std::shared_ptr<KRObject> &object) const
{
    KRControl *control = krDesignControl(object.get());
    if (!control)
        return {};
    const auto element = control->designViewSelectionElement();
    const KRLayoutSource *source = control->layoutSource();
    if (element && source) {
        const KRNodeGeometry g = source->geometryForNode(element->nodeId());
        if (g.valid)
            return QRect(g.offsetLeft, g.offsetTop, g.offsetWidth, g.offsetHeight);
    }
    // Not measured yet: the model's own values.
    return QRect(krDesignIntValue(object->value(KRDesignViewControllerLeft)),
                 krDesignIntValue(object->value(KRDesignViewControllerTop)),
                 krDesignIntValue(object->value(KRDesignViewControllerWidth)), control->controlHeight());
}

QRect KRDesignViewController::selectionRect() const
{
    QRect united;
    for (const auto &object : m_selected) {
        if (krDesignControl(object.get()))
            united |= elementRect(object);
    }
    return united;
}

void KRDesignViewController::placeBox(Box &box)
{
    const auto object = box.object.lock();
    if (!object || !box.overlay)
        return;
    QRect r;
    if (m_dragging && box.hasDragStart) {
        // The view measures one round trip behind: during a drag the box follows the values
        // written since the drag started.
        const int now[4] = {krDesignIntValue(object->value(KRDesignViewControllerLeft)),
                            krDesignIntValue(object->value(KRDesignViewControllerTop)),
                            krDesignIntValue(object->value(KRDesignViewControllerWidth)),
                            krDesignIntValue(object->value(KRDesignViewControllerHeight))};
        const QRect &s = box.dragStartGeometry;
        r = QRect(s.x() + now[0] - box.dragStartValues[0], s.y() + now[1] - box.dragStartValues[1],
                  std::max(0, s.width() + now[2] - box.dragStartValues[2]),
                  std::max(0, s.height() + now[3] - box.dragStartValues[3]));
    } else {
        r = elementRect(object);
    }
    const int L = r.x(), T = r.y(), W = r.width(), H = r.height();
    DOMElement &o = *box.overlay;
    krDesignSetStyle(o, QStringLiteral("left"), krDesignPx(L - 2));
    krDesignSetStyle(o, QStringLiteral("top"), krDesignPx(T - 2));
    krDesignSetStyle(o, QStringLiteral("width"), krDesignPx(W + 4));
    krDesignSetStyle(o, QStringLiteral("height"), krDesignPx(H + 4));
    const auto set = [&box](Handle h, const char *name, int v) {
        krDesignSetStyle(*box.handles[h], QString::fromLatin1(name), krDesignPx(v));
    };
    set(Left, "height", H + 4);
    set(Right, "left", W - 4);
    set(Right, "height", H + 4);
    set(Top, "width", W + 4);
    set(Bottom, "top", H - 4);
    set(Bottom, "width", W + 4);
    set(NorthEast, "left", W - 4);
    set(SouthEast, "left", W - 4);
    set(SouthEast, "top", H - 4);
    set(SouthWest, "top", H - 4);
}

void KRDesignViewController::updateSelectionBoxes()
{
    for (auto &[object, box] : m_boxes)
        placeBox(box);
}

void KRDesignViewController::observeSelected(const std::shared_ptr<KRObject> &object, Box &box)
{
    const KRObject *raw = object.get();
    for (const QString &key : {KRDesignViewControllerTop, KRDesignViewControllerLeft, KRDesignViewControllerWidth,
                               KRDesignViewControllerHeight, KRDesignViewControllerLocked}) {
        box.tokens.push_back(object->observable().observe(
            key, [this, raw, key](const void *, const QString &, const QVariant &, const QVariant &) {
                objectDidChange(raw, key);
            }));
    }
}

void KRDesignViewController::objectDidChange(const KRObject *object, QString key) // a copy: the box may drop the observer that called
{
    auto it = m_boxes.find(object);
    if (it == m_boxes.end())
        return;
    if (key == KRDesignViewControllerLocked) {
        const auto strong = it->second.object.lock();
        removeSelectionBox(it->second);
        if (strong) {
            observeSelected(strong, it->second);
            drawSelectionBox(strong, it->second);
        }
    }
    if (m_dragging)
        return;
    // After the change has reached the document; a box gone meanwhile is not touched.
    QPointer<KRDesignViewController> self(this);
    std::weak_ptr<KRObject> weak = it->second.object;
    QTimer::singleShot(0, this, [self, weak] {
        const auto strong = weak.lock();
        if (!self || !strong || self->m_dragging)
            return;
        const auto box = self->m_boxes.find(strong.get());
        if (box != self->m_boxes.end())
            self->placeBox(box->second);
    });
}

// --- Clicks and the rubber band

void KRDesignViewController::onClickElement(const std::shared_ptr<DOMNode> &element, const QVariantMap &event)
{
    const auto p = page();
    if (!p)
        return;
    const auto object = p->objectFromElement(element);
    if (!object)
        return;
    // The press chose what is selected: a click reported by a control that the press was not
    // on (a box came under the pointer in between, say) changes nothing.
    if (event.contains(QStringLiteral("press"))) {
        const quint64 pressed = event.value(QStringLiteral("press")).toULongLong();
        const auto document = p->domDocument();
        if (objectForElement(document && pressed ? document->nodeForId(pressed) : nullptr) != object)
            return;
    }
    if (event.value(QStringLiteral("shiftKey")).toBool())
        addObjectToSelection(object);
    else
        selectObject(object);
}

void KRDesignViewController::onDoubleClickElement(const std::shared_ptr<DOMNode> &, const QVariantMap &)
{
    if (m_selected.size() == 1)
        emit didDoubleClickObject(m_selected.front().get());
}

void KRDesignViewController::onClickBody(const QVariantMap &event)
{
    if (m_bodyClickDisabled || m_band)
        return;
    const auto isPage = [&event](const char *tagKey, const char *roleKey) {
        const QString tag = event.value(QLatin1String(tagKey)).toString().toUpper();
        return tag == QLatin1String("BODY")
               || (tag == QLatin1String("DIV") && event.value(QLatin1String(roleKey)).toString() == QLatin1String("page"));
    };
    if (!isPage("targetTag", "targetDataRole"))
        return;
    // A click that began on a control or a box and ended elsewhere (its box appeared under the
    // pointer, say) is no click on the page.
    if (event.contains(QStringLiteral("press")) && !isPage("pressTag", "pressDataRole"))
        return;
    if (const auto p = page()) {
        deselectAll();
        emit didSelectObject(p.get());
        emit selectedObjectsDidChange();
    }
}

void KRDesignViewController::onMouseDown(const QVariantMap &event)
{
    const auto p = page();
    if (!p || !p->domDocument() || m_band)
        return;
    const QString tag = event.value(QStringLiteral("hitTag")).toString().toUpper();
    const bool pageDiv = tag == QLatin1String("DIV") && event.value(QStringLiteral("hitDataRole")).toString() == QLatin1String("page");
    if (tag != QLatin1String("BODY") && !pageDiv)
        return;
    const auto body = p->domDocument()->body();
    if (!body)
        return;
    body->setAttribute(QStringLiteral("onmousemove"), QStringLiteral("window.___kr_dwc.onMouseMove_(event)"));
    m_bandStart = m_bandCurrent = QPoint(krDesignEventInt(event, "clientX"), krDesignEventInt(event, "clientY"));
    m_band = p->domDocument()->createElement(QStringLiteral("div"));
    auto &s = m_band->style();
    s.setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
    s.setProperty(QStringLiteral("padding"), QStringLiteral("0"));
    s.setProperty(QStringLiteral("margin"), QStringLiteral("0"));
    s.setProperty(QStringLiteral("z-index"), QStringLiteral("1999999"));
    s.setProperty(QStringLiteral("border-style"), QStringLiteral("dashed"));
    s.setProperty(QStringLiteral("border-color"), QStringLiteral("#A1A1A1"));
    s.setProperty(QStringLiteral("border-width"), QStringLiteral("1px"));
    s.setProperty(QStringLiteral("top"), krDesignPx(m_bandStart.y()));
    s.setProperty(QStringLiteral("left"), krDesignPx(m_bandStart.x()));
    s.setProperty(QStringLiteral("width"), QStringLiteral("0px"));
    s.setProperty(QStringLiteral("height"), QStringLiteral("0px"));
    body->appendChild(m_band); // whole, as one change for the view
}

void KRDesignViewController::onMouseMove(const QVariantMap &event)
{
    if (!m_band)
        return;
    m_bandCurrent = QPoint(krDesignEventInt(event, "clientX"), krDesignEventInt(event, "clientY"));
    const int dx = m_bandCurrent.x() - m_bandStart.x();
    const int dy = m_bandCurrent.y() - m_bandStart.y();
    auto &s = m_band->style();
    s.setProperty(QStringLiteral("left"), krDesignPx(dx <= 0 ? m_bandStart.x() + dx : m_bandStart.x()));
    s.setProperty(QStringLiteral("width"), krDesignPx(std::abs(dx)));
    s.setProperty(QStringLiteral("top"), krDesignPx(dy <= 0 ? m_bandStart.y() + dy : m_bandStart.y()));
    s.setProperty(QStringLiteral("height"), krDesignPx(std::abs(dy)));
}

void KRDesignViewController::onMouseUp(const QVariantMap &event)
{
    const auto p = page();
    if (!m_band || !p)
        return;
    m_bandCurrent = QPoint(krDesignEventInt(event, "clientX"), krDesignEventInt(event, "clientY"));
    const QRect band(QPoint(std::min(m_bandStart.x(), m_bandCurrent.x()), std::min(m_bandStart.y(), m_bandCurrent.y())),
                     QSize(std::abs(m_bandCurrent.x() - m_bandStart.x()), std::abs(m_bandCurrent.y() - m_bandStart.y())));
    deselectAll();
    if (!band.isEmpty()) {
        for (const auto &object : p->allObjects()) {
            KRControl *control = krDesignControl(object.get());
            if (!control || !control->domElement() || !control->layoutSource())
                continue;
            const KRNodeGeometry g = control->layoutSource()->geometryForNode(control->domElement()->nodeId());
            const QRectF bounds(g.clientLeft, g.clientTop, g.boundingWidth, g.boundingHeight);
            if (g.valid && !bounds.isEmpty() && bounds.intersects(QRectF(band)))
                addObjectToSelection(object);
        }
    }
    if (m_selected.empty())
        addObjectToSelection(p);
    endDragSelection();
    // The click that follows the mouse-up must not select the page.
    m_bodyClickDisabled = true;
    QTimer::singleShot(250, this, [this] { m_bodyClickDisabled = false; });
}

void KRDesignViewController::endDragSelection()
{
    if (!m_band)
        return;
    if (const auto parent = m_band->parentNode()) {
        if (auto body = std::dynamic_pointer_cast<DOMElement>(parent))
            body->removeAttribute(QStringLiteral("onmousemove"));
        parent->removeChild(m_band);
    }
    m_band.reset();
}

// --- Context menus

QList<KRMenuItem> KRDesignViewController::contextMenuItemsForNode(const std::shared_ptr<DOMNode> &node) const
{
    const auto p = page();
    if (!p || !node)
        return {};
    if (const auto boxed = objectForSelectionBoxNode(node)) {
        const auto items = boxed->contextMenuItemsForObject();
        if (!items.isEmpty())
            return items;
    }
    if (const auto object = p->objectFromElement(node)) {
        const auto items = object->contextMenuItemsForObject();
        if (!items.isEmpty())
            return items;
    }
    return p->contextMenuItemsForObject();
}

// --- Moving and resizing

int KRDesignViewController::grid() const
{
    const auto p = page();
    const auto project = p ? p->project() : nullptr;
    return project ? int(std::max<qint64>(0, project->snapGrid())) : 0;
}

int KRDesignViewController::roundToGrid(int value) const
{
    const int g = grid();
    if (g <= 0)
        return value;
    const int r = value % g; // takes the sign of value
    return 2 * r < g ? value - r : value - r + g;
}

bool KRDesignViewController::isLocked(const KRObject &object) const
{
    return object.value(KRDesignViewControllerLocked) == QLatin1String("true");
}

void KRDesignViewController::snapControl(const std::shared_ptr<KRObject> &object)
{
    if (grid() <= 0 || !object || isLocked(*object))
        return;
    object->setValue(KRDesignViewControllerLeft,
                     QString::number(roundToGrid(krDesignIntValue(object->value(KRDesignViewControllerLeft)))));
    object->setValue(KRDesignViewControllerTop,
                     QString::number(roundToGrid(krDesignIntValue(object->value(KRDesignViewControllerTop)))));
}

void KRDesignViewController::onDragStart(const std::shared_ptr<DOMNode> &element, const QVariantMap &event)
{
    if (m_dragging || m_selected.empty())
        return;
    m_dragging = true;
    m_processedDrop = false;
    // The moved controls take their place among the others when they are dropped, not at
    // every step of the way.
    if (const auto p = page())
        p->holdBuildOrder(true);
    for (const auto &object : m_selected) {
        krDesignControl(object.get())->dragStarted();
        Box &box = m_boxes[object.get()];
        box.dragStartGeometry = elementRect(object);
        box.dragStartValues[0] = krDesignIntValue(object->value(KRDesignViewControllerLeft));
        box.dragStartValues[1] = krDesignIntValue(object->value(KRDesignViewControllerTop));
        box.dragStartValues[2] = krDesignIntValue(object->value(KRDesignViewControllerWidth));
        box.dragStartValues[3] = krDesignIntValue(object->value(KRDesignViewControllerHeight));
        box.hasDragStart = true;
    }
    m_dragType = DragMove;
    if (m_selected.size() < 2) {
        static const int codes[HandleCount] = {DragLeft, DragRight, DragTop, DragBottom, DragTop | DragRight,
                                               DragTop | DragLeft, DragBottom | DragRight, DragBottom | DragLeft};
        const Box &box = m_boxes[m_selected.front().get()];
        for (int h = 0; h < HandleCount; ++h) {
            if (element && box.handles[h] == element) {
                m_dragType = codes[h];
                break;
            }
        }
    }
    m_dragStartX = krDesignEventInt(event, "clientX");
    m_dragStartY = krDesignEventInt(event, "clientY");
}

void KRDesignViewController::onDrag(const std::shared_ptr<DOMNode> &, const QVariantMap &event)
{
    if (m_dragging)
        dragUpdate(event);
}

void KRDesignViewController::dragUpdate(const QVariantMap &event)
{
    const int x = krDesignEventInt(event, "clientX");
    const int y = krDesignEventInt(event, "clientY");
    int dx = x - m_dragStartX;
    int dy = y - m_dragStartY;
    const int g = grid();
    if (g > 0) {
        // Below a grid step nothing moves, and the start point stays so the movement builds up.
        if (std::abs(dx) < g)
            dx = 0;
        if (std::abs(dy) < g)
            dy = 0;
    }
    const auto write = [](KRObject &o, const QString &key, int v) { o.setValue(key, QString::number(v)); };
    for (const auto &object : m_selected) {
        KRObject &o = *object;
        if (isLocked(o))
            continue;
        int left = krDesignIntValue(o.value(KRDesignViewControllerLeft));
        int top = krDesignIntValue(o.value(KRDesignViewControllerTop));
        const bool fixedWidth = !o.value(KRDesignViewControllerWidth).contains(u'%');
        const bool fixedHeight = !o.value(KRDesignViewControllerHeight).contains(u'%');
        if (m_dragType == DragMove) {
            write(o, KRDesignViewControllerLeft, left + dx);
            write(o, KRDesignViewControllerTop, top + dy);
        } else {
            // A size never reaches zero or below: the engine would ignore such a value while
            // the model kept it. Dragging the start edge moves the origin so the far edge stays.
            const auto resizeAxis = [&](bool fixed, int startEdge, int endEdge, int origin, int size,
                                        int delta, const QString &originKey, const QString &sizeKey) {
                if (!fixed)
                    return;
                if (m_dragType & startEdge) {
                    const int newSize = std::max(1, size - delta);
                    origin += size - newSize;
                    size = newSize;
                    write(o, originKey, origin);
                    write(o, sizeKey, size);
                }
                if (m_dragType & endEdge)
                    write(o, sizeKey, std::max(1, size + delta));
            };
            const int width = krDesignIntValue(o.value(KRDesignViewControllerWidth));
            const int height = krDesignIntValue(o.value(KRDesignViewControllerHeight));
            resizeAxis(fixedWidth, DragLeft, DragRight, left, width, dx, KRDesignViewControllerLeft,
                       KRDesignViewControllerWidth);
            resizeAxis(fixedHeight, DragTop, DragBottom, top, height, dy, KRDesignViewControllerTop,
                       KRDesignViewControllerHeight);
        }
        const auto box = m_boxes.find(object.get());
        if (box != m_boxes.end())
            placeBox(box->second);
    }
    if (dx != 0)
        m_dragStartX = x;
    if (dy != 0)
        m_dragStartY = y;
}

void KRDesignViewController::onDragEnd(const std::shared_ptr<DOMNode> &, const QVariantMap &event)
{
    if (m_processedDrop)
        return;
    m_processedDrop = true;
    dragUpdate(event);
    m_dragging = false;
    const auto selected = m_selected;
    for (const auto &object : selected) {
        if (grid() > 0 && m_dragType == DragMove)
            snapControl(object);
        krDesignControl(object.get())->dragEnded();
        const auto box = m_boxes.find(object.get());
        if (box != m_boxes.end()) {
            box->second.hasDragStart = false;
            placeBox(box->second);
        }
    }
    if (const auto p = page())
        p->holdBuildOrder(false);
}

void KRDesignViewController::moveObjects(Arrow arrow)
{
    const auto p = page();
    KRUndoManager *undo = p && p->project() ? p->project()->undoManager() : nullptr;
    if (!undo)
        return;
    undo->beginUndoGrouping();
    undo->setActionName(QStringLiteral("Move"));
    const int step = std::max(grid(), 1);
    for (const auto &object : m_selected) {
        if (isLocked(*object))
            continue;
        const bool vertical = arrow == Arrow::Up || arrow == Arrow::Down;
        const QString &key = vertical ? KRDesignViewControllerTop : KRDesignViewControllerLeft;
        const int sign = (arrow == Arrow::Up || arrow == Arrow::Left) ? -1 : 1;
        object->setValue(key, QString::number(krDesignIntValue(object->value(key)) + sign * step));
        snapControl(object);
    }
    undo->endUndoGrouping();
}

void KRDesignViewController::align(const QString &actionName, bool vertical, int numerator)
{
    // numerator: 0 aligns the near edges, 1 the centres, 2 the far edges.
    const auto p = page();
    KRUndoManager *undo = p && p->project() ? p->project()->undoManager() : nullptr;
    if (!undo || m_selected.empty())
        return;
    const QString &positionKey = vertical ? KRDesignViewControllerTop : KRDesignViewControllerLeft;
    const auto extent = [vertical](const KRObject &o) {
        return vertical ? krDesignControl(&o)->controlHeight() : krDesignIntValue(o.value(KRDesignViewControllerWidth));
    };
    const KRObject &reference = *m_selected.front();
    const int a = krDesignIntValue(reference.value(positionKey)) + extent(reference) * numerator / 2;
    undo->beginUndoGrouping();
    undo->setActionName(actionName);
    for (size_t i = 1; i < m_selected.size(); ++i) {
        KRObject &o = *m_selected[i];
        if (isLocked(o))
            continue;
        o.setValue(positionKey, QString::number(a - extent(o) * numerator / 2));
    }
    undo->endUndoGrouping();
}

void KRDesignViewController::alignLeft() { align(QStringLiteral("Align Left"), false, 0); }
void KRDesignViewController::alignCenter() { align(QStringLiteral("Align Center"), false, 1); }
void KRDesignViewController::alignRight() { align(QStringLiteral("Align Right"), false, 2); }
void KRDesignViewController::vAlignTop() { align(QStringLiteral("Align Top"), true, 0); }
void KRDesignViewController::vAlignCenter() { align(QStringLiteral("Align Center"), true, 1); }
void KRDesignViewController::vAlignBottom() { align(QStringLiteral("Align Bottom"), true, 2); }

void KRDesignViewController::deleteSelection()
{
    const auto p = page();
    if (!p || m_selected.empty())
        return;
    const QList<std::shared_ptr<KRObject>> objects = selectedObjects();
    deselectAll();
    p->deleteObjects(objects, QStringLiteral("Delete"));
}

// --- Drops

bool KRDesignViewController::acceptsDrag(const QMimeData *data)
{
    return data && data->hasFormat(ObjectMimeType);
}

std::shared_ptr<KRObject> KRDesignViewController::performDrop(const QMimeData *data, const QPointF &viewPoint, double zoom,
                                                              const QPointF &scroll)
{
    const auto p = page();
    if (!p || !acceptsDrag(data) || zoom <= 0)
        return nullptr;
    const QString className = QString::fromUtf8(data->data(ObjectMimeType)).trimmed();
    if (className.isEmpty())
        return nullptr;
    const QPointF at = viewPoint / zoom + scroll;
    // The creation, its size check and the selection are one named step.
    KRUndoManager *undo = p->project() ? p->project()->undoManager() : nullptr;
    if (undo) {
        undo->beginUndoGrouping();
        undo->setActionName(QStringLiteral("Create %1").arg(className));
    }
    const auto object = p->createNewObject(className, std::floor(at.x()), std::floor(at.y()), QString());
    if (undo)
        undo->endUndoGrouping();
    if (!object)
        return nullptr;
    emit didInsertObject(object.get());
    selectObject(object);
    return object;
}

void KRDesignViewController::runPluginDesignDraw()
{
    const auto p = page();
    if (!p)
        return;
    for (const auto &object : p->allObjects())
        if (auto *plugin = dynamic_cast<KRPlugin *>(object.get()))
            plugin->designModeDraw();
}
