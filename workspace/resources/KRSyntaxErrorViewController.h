#pragma once

#include <ui/KRCachingViewController.h>
#include <platform/foundation/KRObservationToken.h>

#include <QPointer>
#include <QVariantMap>

#include <memory>
#include <optional>

class KRFunction;
class KRPage;
class KRPaneHeaderView;
class KRSyntaxErrorViewController;
class KRTableModelBase;
class QTableView;

// Where a double-clicked error is shown: the window opens the page's tab and the function's
// editor with the insertion point at the error, and selects the page in the outline.
class KRSyntaxErrorViewDelegate
{
public:
    virtual ~KRSyntaxErrorViewDelegate() = default;
    // line and character are absent when the record has no position.
    virtual void syntaxErrorViewShowFunction(KRSyntaxErrorViewController *pane, const std::shared_ptr<KRPage> &page,
                                             const std::shared_ptr<KRFunction> &function, std::optional<int> line,
                                             std::optional<int> character) = 0;
};

// The list of the last syntax check's findings, one row per record, following every check.
class KRSyntaxErrorViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    KRSyntaxErrorViewController();
    ~KRSyntaxErrorViewController() override;
    QString nibName() const override { return QStringLiteral("KRSyntaxErrorView"); }

    // Binds the list to the project's findings; the project must be known.
    void setup();
    QTableView *tableView() const { return m_tableView; }
    KRPaneHeaderView *headerView() const { return m_headerView; }
    KRSyntaxErrorViewDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRSyntaxErrorViewDelegate *delegate) { m_delegate = delegate; }
    // The records shown, in order.
    QList<QVariantMap> records() const { return m_records; }

    // The table's double click on a row.
    void doubleAction(int row);

protected:
    void awakeFromNib() override;

private:
    void reload();

    QTableView *m_tableView = nullptr;
    KRPaneHeaderView *m_headerView = nullptr;
    KRTableModelBase *m_model = nullptr; // owned by the table view
    QList<QVariantMap> m_records;
    KRSyntaxErrorViewDelegate *m_delegate = nullptr; // not owned
    KRObservationToken m_observation;
};
