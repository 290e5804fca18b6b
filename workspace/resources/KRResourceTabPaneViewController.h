#pragma once

#include <ui/KRCachingViewController.h>
#include <widgets/tabbar/TBTabBarControlDelegate.h>

#include <QHash>
#include <QPointer>

#include <functional>
#include <memory>

class KRProjectResource;
class KRResourceTabPaneViewController;
class KRResourceViewController;
class TBTabBarControl;
class TBTabView;
class TBTabViewItem;

// What the resource tabs ask of the project window.
class KRResourceTabPaneDelegate
{
public:
    virtual ~KRResourceTabPaneDelegate() = default;
    // The last tab closed: the window shows the project's first page.
    virtual void lastResourceTabClosedAction(KRResourceTabPaneViewController *pane) = 0;
};

// The tab bar of open resource editors and theme editors. A resource tab is known by the
// resource's full path and labelled with the file name; a theme tab by the theme's name.
class KRResourceTabPaneViewController : public KRCachingViewController, public TBTabBarControlDelegate
{
    Q_OBJECT

public:
    // Makes the editor of a theme (the theme component installs it); without one no theme
    // tab opens.
    using ThemeEditorFactory = std::function<std::unique_ptr<KRCachingViewController>(const QString &themeName)>;
    static void setThemeEditorFactory(ThemeEditorFactory factory);

    KRResourceTabPaneViewController();
    ~KRResourceTabPaneViewController() override;
    QString nibName() const override { return QStringLiteral("KRResourceTabPaneView"); }

    KRResourceTabPaneDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRResourceTabPaneDelegate *delegate) { m_delegate = delegate; }
    TBTabBarControl *tabBarControl() const { return m_tabBarControl; }
    TBTabView *tabView() const { return m_tabView; }

    // Opens the resource's editor tab, or selects it when it is open; returns its editor.
    KRResourceViewController *editResource(const std::shared_ptr<KRProjectResource> &resource);
    KRCachingViewController *editTheme(const QString &themeName);
    bool isResourceOpenInTab(const std::shared_ptr<KRProjectResource> &resource) const;
    bool resourceIsOpenInTab(const std::shared_ptr<KRProjectResource> &resource) const
    {
        return isResourceOpenInTab(resource);
    }
    bool themeIsOpenInTab(const QString &themeName) const;
    void selectResource(const std::shared_ptr<KRProjectResource> &resource);
    void selectTheme(const QString &themeName);
    void nextTab();
    // Forgets the editors whose tabs are gone.
    void purgeViewControllers();
    // The editor of the open tab of the resource; null when none is open.
    KRResourceViewController *resourceViewController(const std::shared_ptr<KRProjectResource> &resource) const;
    KRCachingViewController *selectedViewController() const;
    int numberOfTabs() const;

    // --- TBTabBarControlDelegate: closing a tab of an edited resource asks whether to save
    // the project first.
    std::optional<bool> tabViewShouldCloseItem(TBTabView *tabView, TBTabViewItem *item) override;
    void tabViewDidCloseItem(TBTabView *tabView, TBTabViewItem *item) override;
    std::optional<bool> tabViewDisableTabCloseForItem(TBTabView *, TBTabViewItem *) override { return false; }

protected:
    void awakeFromNib() override;

private:
    KRCachingViewController *showEditor(const QString &identifier, const QString &label,
                                        const std::function<std::unique_ptr<KRCachingViewController>()> &make,
                                        bool *created);
    void select(const QString &identifier);

    TBTabBarControl *m_tabBarControl = nullptr;
    TBTabView *m_tabView = nullptr;
    QHash<QString, std::shared_ptr<KRCachingViewController>> m_viewControllers;
    KRResourceTabPaneDelegate *m_delegate = nullptr; // not owned: the window controller
};
