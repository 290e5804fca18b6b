#pragma once

#include <platform/foundation/KRObservationToken.h>
#include <workspace/designview/KRPageDesignView.h>

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>

class KRDesignViewController;
class KRDeviceInformation;
class KRProject;
class KRUserDefaults;
class QComboBox;
class QMenu;
class QScrollArea;

// Where the skin and the page sit in the canvas, for a skin of `skinSize` pixels shown at
// `zoom` in a visible area of `clipSize`: the zoomed area is never smaller than the visible
// one, the skin is centred horizontally, and vertically too when it fits (else its top is at
// the top). The page rectangle is the device's screen area, scaled.
struct KRDesignCanvasLayout {
    QSize contentSize;
    QRect skinRect;
    QRect pageRect;

    static KRDesignCanvasLayout compute(QSize skinSize, double zoom, QSize clipSize, const KRDeviceInformation &device);
};

// The design canvas of one page: a header with the device and zoom pop-ups over a scrolling
// area in which the page's live web view sits in the skin of the project's design target,
// zoomed from 50 to 200 %. It shows a loading picture until the design document has loaded,
// draws the project's grid over the page while "Show Grid" is on, takes palette drops (and
// nothing else), and builds context menus from the model's descriptions. Every canvas of a
// project follows the project's design target; the device pop-up follows the devices the user
// keeps in the preferences.
class KRDesignCanvas : public QWidget
{
    Q_OBJECT

public:
    // The background behind the device follows the "designViewBackground" default of
    // `defaults` (the shared defaults when none are given).
    explicit KRDesignCanvas(KRPageDesignView *designView, QWidget *parent = nullptr, KRUserDefaults *defaults = nullptr);
    ~KRDesignCanvas() override;

    KRDesignViewController *surface() const { return m_surface.get(); }
    KRPageDesignView *designView() const { return m_designView; }
    QComboBox *devicePopUp() const { return m_devicePopUp; }
    QComboBox *zoomPopUp() const { return m_zoomPopUp; }

    double zoom() const { return m_zoom; }
    // Percent, one of the pop-up's values.
    void setZoomPercent(int percent);
    QString deviceID() const;
    const KRDesignCanvasLayout &currentLayout() const { return m_layout; }
    bool isGridShown() const;

    // Gives the page's web view the keyboard, where the page's edit commands answer.
    void focusPage();

    // The menu for the node (an own-DOM node id) as the model describes it; null when empty.
    QMenu *contextMenuForNode(quint64 nodeId, QWidget *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    class ZoomView;
    class GridOverlay;
    class LoadingView;

    void setupDevice();
    void viewResized();
    void buildDevicePopUp();
    void installDropFilter();
    void loadBackground();

    QPointer<KRPageDesignView> m_designView;
    std::weak_ptr<KRProject> m_project;
    std::unique_ptr<KRDesignViewController> m_surface;
    QComboBox *m_devicePopUp;
    QComboBox *m_zoomPopUp;
    QScrollArea *m_scroll;
    ZoomView *m_zoomView;
    GridOverlay *m_grid;
    LoadingView *m_loading;
    QPointer<QObject> m_filtered;
    std::shared_ptr<KRDeviceInformation> m_device;
    QImage m_skin;
    QImage m_background;
    KRUserDefaults *m_defaults;
    double m_zoom = 1.0;
    KRDesignCanvasLayout m_layout;
    KRObservationToken m_targetToken;
    KRObservationToken m_gridToken;
    KRObservationToken m_showGridToken;
    KRObservationToken m_backgroundToken;
    KRObservationToken m_userDevicesToken;
};
