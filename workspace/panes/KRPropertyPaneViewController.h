#pragma once

#include <ui/KRCachingViewController.h>
#include <inspector/KRPropertyEditorViewController.h>
#include <platform/foundation/KRObservationToken.h>

#include <QComboBox>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class KRFunction;
class KRObject;
class KRPage;
class KRPropertyPaneHeaderView;
class KRTabView;
class QMouseEvent;
class QPainter;

class KRPropertyPaneHeaderDelegate
{
public:
    virtual ~KRPropertyPaneHeaderDelegate() = default;
    virtual void propertyPaneHeaderMouseUp(KRPropertyPaneHeaderView *header, QMouseEvent *event) = 0;
};

// The header of the inspector pane: the shown object's icon and id over the header gradient;
// a click in it opens the object pop-up.
class KRPropertyPaneHeaderView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int PreferredHeight = 44;

    explicit KRPropertyPaneHeaderView(QWidget *parent = nullptr);
    ~KRPropertyPaneHeaderView() override;

    std::shared_ptr<KRObject> object() const { return m_object.lock(); }
    // Follows the object's id until another object is set.
    void setObject(const std::shared_ptr<KRObject> &object);
    KRPropertyPaneHeaderDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRPropertyPaneHeaderDelegate *delegate) { m_delegate = delegate; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    static QImage classIcon(const std::shared_ptr<KRObject> &object);
    void draw(QPainter &painter) const;
    std::weak_ptr<KRObject> m_object;
    QImage m_icon; // the object's
    KRObservationToken m_idToken;
    KRPropertyPaneHeaderDelegate *m_delegate = nullptr;
};

// The pane's background: a line along its left edge and one just above the inspectors.
class KRPropertyPaneView : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
    QWidget *tabView() const { return m_tabView; }
    void setTabView(QWidget *tabView) { m_tabView = tabView; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<QWidget> m_tabView;
};

// The object pop-up; tells when its list closes, so that the header click that closes it
// does not open it again, and tells a choice made in its open list (a click, Return) from a
// step of the keys or the wheel on the closed box, which the box also reports as activated.
class KRPropertyPanePopUp : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void hidePopup() override;
    // True while the closed box handles a key or the wheel.
    bool isStepping() const { return m_stepping; }

signals:
    void popupHidden();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    bool m_stepping = false;
};

class KRPropertyPaneViewController;

// The page group, told what the inspector pane wants.
class KRPropertyPaneDelegate
{
public:
    virtual ~KRPropertyPaneDelegate() = default;
    virtual void propertyPaneDidSelectObject(KRPropertyPaneViewController *pane, const std::shared_ptr<KRObject> &object) = 0;
    virtual void propertyPaneEditFunction(KRPropertyPaneViewController *pane, const std::shared_ptr<KRFunction> &function) = 0;
    virtual void propertyPaneEditHTML(KRPropertyPaneViewController *pane, const std::shared_ptr<KRObject> &object,
                                      const QString &key) = 0;
    virtual void propertyPaneEditListViewItems(KRPropertyPaneViewController *pane, const std::shared_ptr<KRObject> &listView) = 0;
    virtual void propertyPaneEditNavbarItems(KRPropertyPaneViewController *pane, const std::shared_ptr<KRObject> &object,
                                             const QString &key) = 0;
};

// The inspector pane of one page: a header with the shown object, a pop-up of every object of
// the page and one inspector per object ever shown, kept so that coming back to an object
// finds its inspector as it was left. Inspectors live until their object is deleted.
class KRPropertyPaneViewController : public KRCachingViewController,
                                     public KRPropertyEditorDelegate,
                                     public KRPropertyPaneHeaderDelegate
{
    Q_OBJECT

public:
    // A header click this soon after the pop-up's list closed is the click that closed it.
    static constexpr qint64 HeaderClickGuardMSecs = 250;
    static constexpr int InspectorWidth = 275;

    using Clock = std::function<qint64()>;

    KRPropertyPaneViewController();
    ~KRPropertyPaneViewController() override;
    QString nibName() const override { return QStringLiteral("KRPropertyPaneView"); }

    std::shared_ptr<KRPage> page() const { return m_page.lock(); }
    void setPage(const std::shared_ptr<KRPage> &page);
    KRPropertyPaneDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRPropertyPaneDelegate *delegate) { m_delegate = delegate; }
    std::shared_ptr<KRObject> selectedObject() const { return m_selectedObject.lock(); }

    void selectObject(const std::shared_ptr<KRObject> &object);
    void editDefaultPropertyForObject(const std::shared_ptr<KRObject> &object);
    // An object chosen in the pop-up: one chosen from its open list hands the keyboard back
    // (objectChosenFromList); a step of the keys on the closed box only selects it.
    void popupSelected();
    void setPopupButtonContents();
    void selectTabViewItemForObject(const std::shared_ptr<KRObject> &object);
    KRPropertyEditorViewController *propertyEditorViewControllerForObject(const std::shared_ptr<KRObject> &object);
    // The cached inspector under the id; null when none.
    KRPropertyEditorViewController *cachedPropertyEditor(const QString &objectID) const;
    int cachedPropertyEditorCount() const { return int(m_editors.size()); }

    KRPropertyPaneHeaderView *headerView() const { return m_headerView; }
    KRPropertyPanePopUp *popupButton() const { return m_popupButton; }
    KRTabView *tabView() const { return m_tabView; }
    // Milliseconds of a steady clock; tests pass their own.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // When the pop-up last closed after a header click opened it; -1 when never.
    qint64 lastHeaderClick() const { return m_lastHeaderClick; }

    // KRPropertyEditorDelegate
    void propertyEditorViewEditFunction(KRPropertyEditorViewController *, const std::shared_ptr<KRFunction> &function) override;
    void propertyEditorViewEditHTML(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &object,
                                    const QString &key) override;
    void propertyEditorViewEditListViewItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &listView) override;
    void propertyEditorViewEditNavbarItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &toolbar,
                                           const QString &key) override;
    // KRPropertyPaneHeaderDelegate
    void propertyPaneHeaderMouseUp(KRPropertyPaneHeaderView *header, QMouseEvent *event) override;

signals:
    // The user chose an object in the open list of the page's objects (not by stepping
    // through them with the keys on the closed pop-up).
    void objectChosenFromList();

protected:
    void awakeFromNib() override;

private:
    struct Entry {
        std::unique_ptr<KRPropertyEditorViewController> editor;
        std::weak_ptr<KRObject> object;
        KRObservationToken idToken;
    };
    void pageDidDeleteObject(const std::shared_ptr<KRObject> &object);
    // Has the catalogue read the properties of the page's classes, one class a turn.
    void prepareClasses();
    void prepareNextClass();
    QStringList m_classesToPrepare;
    QTimer m_prepareTimer;
    void objectIDChanged(const QString &oldID, const QString &newID);

    KRPropertyPaneHeaderView *m_headerView = nullptr; // part of view()
    KRPropertyPanePopUp *m_popupButton = nullptr;
    KRTabView *m_tabView = nullptr;
    std::weak_ptr<KRObject> m_selectedObject;
    QHash<QString, std::shared_ptr<Entry>> m_editors; // by object id
    std::weak_ptr<KRPage> m_page;
    KRPropertyPaneDelegate *m_delegate = nullptr;
    KRObservationToken m_allObjectsToken;
    KRObservationToken m_deleteToken;
    std::vector<std::weak_ptr<KRObject>> m_popupObjects; // one per pop-up item
    Clock m_clock;
    qint64 m_lastHeaderClick = -1;
    bool m_headerOpened = false;
};
