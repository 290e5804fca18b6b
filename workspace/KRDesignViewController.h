#pragma once

#include <model/KRMenuItem.h>
#include <platform/foundation/KRObservationToken.h>
#include <platform/webview/KRDesignViewHandler.h>

#include <QHash>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRect>

#include <map>
#include <memory>
#include <vector>

class DOMElement;
class DOMNode;
class KRControl;
class KRObject;
class KRPage;
class QMimeData;

// The design surface of one page: what the user selects, moves, resizes and aligns, and where
// palette drops land. It works on the page's own document: selection boxes and the rubber band
// are elements of that document (a live view mirrors them), and sizes are read through the
// controls' layout source. The page's scripts reach it through the handler operations.
//
// Selection: controls only; selecting the page or a non-visual object leaves the selection as
// it is and only tells listeners. Selected controls are observed; a change of position, size
// or lock re-places (or redraws) their box on the next pass of the event loop, not during a
// drag, where the boxes follow the pointer at once.
class KRDesignViewController : public QObject, public KRDesignViewHandler
{
    Q_OBJECT

public:
    // The MIME type of a palette drag; its data is the class name (UTF-8).
    static inline const QString ObjectMimeType = QStringLiteral("KRObject");

    // The eight handles of a selection box, in the order they are built and matched.
    enum Handle { Left, Right, Top, Bottom, NorthEast, NorthWest, SouthEast, SouthWest, HandleCount };
    // What a drag changes: 1 moves, otherwise the sum of the dragged edges.
    enum DragEdge { DragMove = 1, DragLeft = 2, DragRight = 4, DragTop = 8, DragBottom = 16 };
    enum class Arrow { Up, Down, Left, Right };

    explicit KRDesignViewController(const std::shared_ptr<KRPage> &page, QObject *parent = nullptr);
    ~KRDesignViewController() override;

    std::shared_ptr<KRPage> page() const { return m_page.lock(); }

    // --- Selection
    QList<std::shared_ptr<KRObject>> selectedObjects() const;
    void selectObject(const std::shared_ptr<KRObject> &object);
    void selectObjects(const QList<std::shared_ptr<KRObject>> &objects);
    void addObjectToSelection(const std::shared_ptr<KRObject> &object);
    void addObjectsToSelection(const QList<std::shared_ptr<KRObject>> &objects);
    void deselectAll();
    void selectAll();
    // Tab and Shift-Tab: the next (previous) control of the page's objects after (before) the
    // first selected one, wrapping round; pages of fewer than three objects do nothing.
    void selectNextObject();
    void selectPreviousObject();
    // The device frame around the page was clicked: the page is reported, the selection stays.
    void deviceFrameClicked();

    // The box overlay of a selected control, and one of its handles; null when none.
    std::shared_ptr<DOMElement> selectionBox(const KRObject *object) const;
    std::shared_ptr<DOMElement> selectionHandle(const KRObject *object, Handle handle) const;
    // Places every box from the latest measurements (a live view calls this after each batch).
    void updateSelectionBoxes();
    // The control whose box (overlay or handle) is the node; null when none.
    std::shared_ptr<KRObject> objectForSelectionBoxNode(const std::shared_ptr<DOMNode> &node) const;
    // The control a node of the page belongs to: the one whose box it is, else the one with the
    // nearest enclosing element (text nodes count as their parent). Null when none.
    std::shared_ptr<KRObject> objectForElement(const std::shared_ptr<DOMNode> &node) const;
    bool isRubberBandOpen() const { return m_band != nullptr; }
    // The rectangle the selected controls take on the page (page pixels); empty when none.
    QRect selectionRect() const;

    // --- Editing
    bool isDragging() const { return m_dragging; }
    int dragType() const { return m_dragType; }
    // The project's grid; 0 when there is none.
    int grid() const;
    // The nearest multiple of the grid (halfway rounds up); negative values go toward zero.
    int roundToGrid(int value) const;
    void snapControl(const std::shared_ptr<KRObject> &object);
    // One undoable "Move" of the selection by max(grid, 1), then snapped.
    void moveObjects(Arrow arrow);
    void alignLeft();
    void alignCenter();
    void alignRight();
    void vAlignTop();
    void vAlignCenter();
    void vAlignBottom();
    // Deletes the selected controls as one "Delete" step.
    void deleteSelection();

    // --- Palette drops
    // Only drags that carry a palette class are accepted; anything else is refused before it
    // can be reported as performed.
    static bool acceptsDrag(const QMimeData *data);
    // Creates the class named by the drag at `viewPoint` (the web view's widget coordinates,
    // scaled by `zoom`; `scroll` is the page's scroll offset in page pixels), selects it and
    // tells listeners. Null when the drag carries no class or the class cannot be made.
    std::shared_ptr<KRObject> performDrop(const QMimeData *data, const QPointF &viewPoint, double zoom,
                                          const QPointF &scroll = QPointF());

    // --- Context menus: the items for a node under the pointer (box, object, else page).
    QList<KRMenuItem> contextMenuItemsForNode(const std::shared_ptr<DOMNode> &node) const;

    // --- KRDesignViewHandler
    void onClickElement(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override;
    void onDoubleClickElement(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override;
    void onClickBody(const QVariantMap &event) override;
    void onDragStart(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override;
    void onDrag(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override;
    void onDragEnd(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override;
    void onMouseDown(const QVariantMap &event) override;
    void onMouseMove(const QVariantMap &event) override;
    void onMouseUp(const QVariantMap &event) override;
    void runPluginDesignDraw() override;

signals:
    // An object was selected (or, for the page and non-visual objects, only reported).
    void didSelectObject(KRObject *object);
    void selectedObjectsDidChange();
    void didDoubleClickObject(KRObject *object);
    void didInsertObject(KRObject *object);

private:
    struct Box {
        std::weak_ptr<KRObject> object;
        std::shared_ptr<DOMElement> overlay;
        std::shared_ptr<DOMElement> handles[HandleCount];
        std::vector<KRObservationToken> tokens;
        // Where the element was measured when the drag started, with the values then.
        QRect dragStartGeometry;
        int dragStartValues[4] = {0, 0, 0, 0};
        bool hasDragStart = false;
    };

    void drawSelectionBox(const std::shared_ptr<KRObject> &object, Box &box);
    void removeSelectionBox(Box &box);
    // The boxes leave the page together, in one pass over each parent's children: one at a
    // time, thousands of them took time with the square of their number.
    void removeSelectionBoxes(const std::vector<Box *> &boxes);
    void placeBox(Box &box);
    void observeSelected(const std::shared_ptr<KRObject> &object, Box &box);
    void objectDidChange(const KRObject *object, QString key);
    void selectStep(int direction);
    // Drops the selected objects the page no longer holds (deleted through a menu, undone).
    void pageObjectsDidChange();
    void dragUpdate(const QVariantMap &event);
    void align(const QString &actionName, bool vertical, int numerator);
    void endDragSelection();
    QRect elementRect(const std::shared_ptr<KRObject> &object) const;
    bool isLocked(const KRObject &object) const;

    std::weak_ptr<KRPage> m_page;
    std::vector<std::shared_ptr<KRObject>> m_selected; // selection order
    std::map<const KRObject *, Box> m_boxes;
    bool m_isSelecting = false;
    KRObservationToken m_pageObjectsToken;

    bool m_dragging = false;
    bool m_processedDrop = true;
    int m_dragType = DragMove;
    int m_dragStartX = 0;
    int m_dragStartY = 0;

    std::shared_ptr<DOMElement> m_band;
    QPoint m_bandStart;
    QPoint m_bandCurrent;
    bool m_bodyClickDisabled = false;
};
