#include "KRSyntaxErrorViewController.h"

#include <model/KRFunction.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/appkit/KRTableModel.h>
#include <platform/foundation/KRAssert.h>
#include <widgets/views/KRPaneHeaderView.h>

#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

namespace {

using KRSyntaxErrorTableModel = KRTableModel<QVariantMap>;

// A record's whole-number field; nullopt when it has none.
std::optional<int> syntaxErrorNumber(const QVariantMap &record, const QString &key)
{
    if (!record.contains(key))
        return std::nullopt;
    bool ok = false;
    const int value = record.value(key).toString().trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QList<KRTableColumn<QVariantMap>> syntaxErrorColumns()
{
    const auto text = [](const char *key) {
        return [name = QString::fromLatin1(key)](const QVariantMap &record, int role) -> QVariant {
            if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
                return {};
            return record.value(name).toString();
        };
    };
    return {
        {QStringLiteral("Page"), text("page_id"), {}},
        {QStringLiteral("Function"), text("function_id"), {}},
        {QStringLiteral("Line"), text("line"), {}},
        {QStringLiteral("Column"), text("character"), {}},
        {QStringLiteral("Problem"), text("reason"), {}},
    };
}

} // namespace

KRSyntaxErrorViewController::KRSyntaxErrorViewController()
{
    Q_INIT_RESOURCE(wsresources);
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRSyntaxErrorView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRSyntaxErrorView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRSyntaxErrorViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            controller->m_headerView = new KRPaneHeaderView(view);
            controller->m_tableView = new QTableView(view);
            controller->m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
            controller->m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
            controller->m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
            controller->m_tableView->setAlternatingRowColors(true);
            controller->m_tableView->setShowGrid(false);
            controller->m_tableView->setFrameShape(QFrame::NoFrame);
            controller->m_tableView->verticalHeader()->hide();
            controller->m_tableView->verticalHeader()->setDefaultSectionSize(20);
            controller->m_tableView->horizontalHeader()->setStretchLastSection(true);
            layout->addWidget(controller->m_headerView);
            layout->addWidget(controller->m_tableView, 1);
            view->resize(600, 300);
            return view;
        });
}

KRSyntaxErrorViewController::~KRSyntaxErrorViewController()
{
    m_observation = {};
}

void KRSyntaxErrorViewController::awakeFromNib()
{
    m_headerView->setLabelText(QStringLiteral("JavaScript Syntax Errors"));
    m_headerView->setDrawBottomBorder(true);
    m_headerView->setDrawBackground(true);
    m_headerView->setImage(QImage(QStringLiteral(":/workspace-resources/kr-warning-yellow.png")));

    auto *model = new KRSyntaxErrorTableModel(syntaxErrorColumns(), m_tableView);
    m_model = model;
    model->attachView(m_tableView);
    m_tableView->setColumnWidth(0, 110);
    m_tableView->setColumnWidth(1, 130);
    m_tableView->setColumnWidth(2, 50);
    m_tableView->setColumnWidth(3, 60);
    QObject::connect(m_tableView, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            doubleAction(index.row());
    });
}

void KRSyntaxErrorViewController::setup()
{
    const auto project = std::dynamic_pointer_cast<KRProject>(this->project());
    KR_ASSERT(project, "the syntax-error pane has no project");
    m_observation = project->observable().observe(
        QStringLiteral("syntaxErrors"), [this](const void *, const QString &, const QVariant &, const QVariant &) { reload(); });
    reload();
}

void KRSyntaxErrorViewController::reload()
{
    const auto project = std::dynamic_pointer_cast<KRProject>(this->project());
    m_records = project ? project->syntaxErrors() : QList<QVariantMap>();
    static_cast<KRSyntaxErrorTableModel *>(m_model)->setRows(m_records);
}

void KRSyntaxErrorViewController::doubleAction(int row)
{
    if (row < 0 || row >= m_records.size() || !m_delegate)
        return;
    const QVariantMap record = m_records.at(row);
    const auto project = std::dynamic_pointer_cast<KRProject>(this->project());
    const std::shared_ptr<KRPage> page = project ? project->pageForID(record.value(QStringLiteral("page_id")).toString())
                                                 : nullptr;
    // A record of a page or function that is gone since the check leads nowhere.
    if (!page)
        return;
    const auto function = std::dynamic_pointer_cast<KRFunction>(
        page->kr_objects().value(record.value(QStringLiteral("function_id")).toString()));
    if (!function)
        return;
    std::optional<int> line = syntaxErrorNumber(record, QStringLiteral("line"));
    std::optional<int> character = syntaxErrorNumber(record, QStringLiteral("character"));
    if (!line || !character)
        line = character = std::nullopt;
    m_delegate->syntaxErrorViewShowFunction(this, page, function, line, character);
}
