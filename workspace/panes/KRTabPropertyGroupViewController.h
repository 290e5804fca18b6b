#pragma once

#include "KRPropertyPaneViewController.h"
#include "KRTabPaneViewController.h"

#include <ui/KRCachingViewController.h>
#include <platform/foundation/KRObservationToken.h>

#include <QPointer>
#include <QSplitter>

#include <memory>
#include <vector>

class KRPage;

// The split view of a page group. The first time it gets a size the inspector side is placed
// at InspectorWidth; from then on the inspector keeps its width when the window resizes and is
// never narrower than MinimumInspectorWidth.
class KRTabPropertyGroupSplitter : public QSplitter
{
    Q_OBJECT
public:
    using QSplitter::QSplitter;
    bool isFixed() const { return m_fixed; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_fixed = false;
};

// One page group: the page's editor tabs on the left, its inspector pane on the right. The
// group keeps the two in step: what one selects, the other shows.
class KRTabPropertyGroupViewController : public KRCachingViewController,
                                         public KRTabPaneDelegate,
                                         public KRPropertyPaneDelegate
{
    Q_OBJECT

public:
    static constexpr int InspectorWidth = 275;
    static constexpr int MinimumInspectorWidth = 200;

    KRTabPropertyGroupViewController();
    ~KRTabPropertyGroupViewController() override;
    QString nibName() const override { return QStringLiteral("KRTabPropertyGroupView"); }

    std::shared_ptr<KRPage> page() const { return m_page.lock(); }
    void setPage(const std::shared_ptr<KRPage> &page);
    void selectObject(const std::shared_ptr<KRObject> &object);
    std::shared_ptr<KRObject> selectedObject() const;

    KRFunctionViewController *editFunction(const std::shared_ptr<KRFunction> &function);
    void editHTML(const std::shared_ptr<KRObject> &object, const QString &key);
    void editListViewItems(const std::shared_ptr<KRObject> &listView);
    void editNavbarItems(const std::shared_ptr<KRObject> &object, const QString &key);

    KRTabPaneViewController *tabPaneViewController() const { return m_tabPane.get(); }
    KRPropertyPaneViewController *propertyPaneViewController() const { return m_propertyPane.get(); }
    KRTabPropertyGroupSplitter *splitView() const { return m_splitView; }

    // KRTabPaneDelegate
    void tabPaneDidSelectObject(KRTabPaneViewController *, const std::shared_ptr<KRObject> &object) override;
    void tabPaneDidDoubleClickObject(KRTabPaneViewController *, const std::shared_ptr<KRObject> &object) override;
    // KRPropertyPaneDelegate
    void propertyPaneDidSelectObject(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &object) override;
    void propertyPaneEditFunction(KRPropertyPaneViewController *, const std::shared_ptr<KRFunction> &function) override;
    void propertyPaneEditHTML(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &object,
                              const QString &key) override;
    void propertyPaneEditListViewItems(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &listView) override;
    void propertyPaneEditNavbarItems(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &object,
                                     const QString &key) override;

protected:
    void awakeFromNib() override;

private:
    KRTabPropertyGroupSplitter *m_splitView = nullptr; // part of view()
    std::unique_ptr<KRTabPaneViewController> m_tabPane;
    std::unique_ptr<KRPropertyPaneViewController> m_propertyPane;
    std::weak_ptr<KRPage> m_page;
    std::vector<KRObservationToken> m_observers;
};
