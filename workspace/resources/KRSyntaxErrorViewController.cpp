#include "KRSyntaxErrorViewController.h"

#include <platform/appkit/KRInterfaceRegistry.h>
#include <widgets/views/KRPaneHeaderView.h>

#include <QTableView>
#include <QVBoxLayout>

KRSyntaxErrorViewController::KRSyntaxErrorViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRSyntaxErrorView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRSyntaxErrorView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRSyntaxErrorViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            controller->m_headerView = new KRPaneHeaderView(view);
            controller->m_tableView = new QTableView(view);
            layout->addWidget(controller->m_headerView);
            layout->addWidget(controller->m_tableView, 1);
            view->resize(600, 300);
            return view;
        });
}

KRSyntaxErrorViewController::~KRSyntaxErrorViewController() = default;

void KRSyntaxErrorViewController::awakeFromNib() {}
void KRSyntaxErrorViewController::setup() {}
void KRSyntaxErrorViewController::doubleAction(int) {}
void KRSyntaxErrorViewController::reload() {}
