#pragma once

#include "KRTabPropertyGroupViewController.h"

#include <ui/KRCachingViewController.h>
#include <platform/foundation/KRObservationToken.h>
#include <workspace/resources/KRResourceTabPaneViewController.h>
#include <workspace/resources/KRSyntaxErrorViewController.h>

#include <QHash>

#include <memory>

class KRObject;
class KRPage;
class KRTabView;

// The centre of the project window: one tab per opened page (its page group), the resources
// tab and the syntax-errors tab; only the selected one shows. Groups are made on a page's
// first selection, follow a change of the page's id and go with the page.
class KRMasterTabPaneViewController : public KRCachingViewController, public KRSyntaxErrorViewDelegate
{
    Q_OBJECT

public:
    static inline const QString ResourcesTabIdentifier = QStringLiteral("!!Resources");
    static inline const QString SyntaxErrorsTabIdentifier = QStringLiteral("!!SyntaxErrors");

    KRMasterTabPaneViewController();
    ~KRMasterTabPaneViewController() override;
    QString nibName() const override { return QStringLiteral("KRMasterTabPaneView"); }

    // The page's group (made on first use), its tab selected.
    KRTabPropertyGroupViewController *selectTabWithPage(const std::shared_ptr<KRPage> &page);
    // The group shown, when a page group is shown; null otherwise.
    KRTabPropertyGroupViewController *currentTabPropertyGroupViewController() const;
    KRTabPropertyGroupViewController *currentPageTabPropertyGroupViewController() const;
    // The selected object of the shown page group; null when no page group is shown.
    std::shared_ptr<KRObject> selectedObject() const;

    KRResourceTabPaneViewController *selectResourceTab();
    KRResourceTabPaneViewController *resourceTabPaneViewController() const { return m_resources.get(); }
    // The pane's delegate is this controller until someone else takes the part.
    KRSyntaxErrorViewController *selectSyntaxErrorTab();
    KRSyntaxErrorViewController *syntaxErrorViewController() const { return m_syntaxErrors.get(); }

    // The cached group under a page id; null when none.
    KRTabPropertyGroupViewController *groupForPageID(const QString &pageID) const;
    int groupCount() const { return int(m_groups.size()); }
    KRTabView *tabView() const { return m_tabView; }

    // A double-clicked finding: the page's group, the function's editor, the caret at the error.
    void syntaxErrorViewShowFunction(KRSyntaxErrorViewController *pane, const std::shared_ptr<KRPage> &page,
                                     const std::shared_ptr<KRFunction> &function, std::optional<int> line,
                                     std::optional<int> character) override;

protected:
    void awakeFromNib() override;

private:
    struct Group {
        std::unique_ptr<KRTabPropertyGroupViewController> controller;
        std::weak_ptr<KRPage> page;
        KRObservationToken idToken;
    };
    void projectDidDeletePage(const std::shared_ptr<KRPage> &page);
    void pageIDChanged(const QString &oldID, const QString &newID);

    KRTabView *m_tabView = nullptr; // part of view()
    QHash<QString, std::shared_ptr<Group>> m_groups; // by page id
    std::unique_ptr<KRResourceTabPaneViewController> m_resources;
    std::unique_ptr<KRSyntaxErrorViewController> m_syntaxErrors;
    KRObservationToken m_deletePageToken;
};
