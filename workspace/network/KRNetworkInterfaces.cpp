#include "KRNetworkInterfaces.h"

#include "KRNewsViewController.h"
#include "KRProxyAuthViewController.h"

#include <platform/appkit/KRInterfaceRegistry.h>
#include <widgets/help/KRActionSchemeHandler.h>

#include <QFormLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <functional>

namespace {

// The news page: its controller answers for every navigation, a frame's and a typed one too
// (the feed's text gets no frame and no address of its own choosing).
class KRNewsWebPage : public QWebEnginePage
{
public:
    using Handler = std::function<bool(const QUrl &url, NavigationType type, bool isMainFrame)>;

    KRNewsWebPage(Handler handler, QObject *parent)
        : QWebEnginePage(parent)
        , m_handler(std::move(handler))
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        return m_handler(url, type, isMainFrame);
    }

private:
    Handler m_handler;
};

} // namespace

// Builds the interfaces and connects the outlets of their owners.
class KRNetworkInterfacesBuilder
{
public:
    static QWidget *newsView(QObject *owner)
    {
        auto *controller = qobject_cast<KRNewsViewController *>(owner);
        auto *root = new QWidget;
        root->setObjectName(QStringLiteral("KRNewsView"));
        root->resize(380, 520);
        auto *layout = new QVBoxLayout(root);
        layout->setContentsMargins(0, 0, 0, 8);
        layout->setSpacing(8);
        auto *webView = new QWebEngineView(root);
        webView->setContextMenuPolicy(Qt::NoContextMenu);
        auto *page = new KRNewsWebPage(
            [controller](const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame) {
                return controller ? controller->acceptNavigation(url, type, isMainFrame) : false;
            },
            webView);
        KRActionSchemeHandler::installIn(page->profile());
        webView->setPage(page);
        layout->addWidget(webView, 1);
        auto *buttons = new QHBoxLayout;
        buttons->setContentsMargins(8, 0, 8, 0);
        // The address a click on the link under the pointer opens, whatever the link's text
        // shows; always written left to right.
        auto *address = new QLabel(root);
        address->setAccessibleName(QStringLiteral("Link address"));
        address->setTextFormat(Qt::PlainText);
        address->setLayoutDirection(Qt::LeftToRight);
        address->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        address->setMinimumWidth(0);
        QFont small = address->font();
        small.setPixelSize(11);
        address->setFont(small);
        address->setStyleSheet(QStringLiteral("color: #555555;"));
        buttons->addWidget(address, 1);
        auto *markAllRead = new QPushButton(QStringLiteral("Mark All Read"), root);
        buttons->addWidget(markAllRead);
        layout->addLayout(buttons);
        if (controller) {
            controller->m_webView = webView;
            controller->m_markAllReadButton = markAllRead;
            controller->m_linkAddressLabel = address;
            QObject::connect(markAllRead, &QPushButton::clicked, controller, &KRNewsViewController::markAllReadAction);
        }
        return root;
    }

    static QWidget *proxyAuthView(QObject *owner)
    {
        auto *root = new QWidget;
        root->setObjectName(QStringLiteral("KRProxyAuthView"));
        auto *form = new QFormLayout(root);
        form->setContentsMargins(0, 4, 0, 4);
        auto *username = new QLineEdit(root);
        auto *password = new QLineEdit(root);
        password->setEchoMode(QLineEdit::Password);
        username->setMinimumWidth(220);
        form->addRow(QStringLiteral("Name:"), username);
        form->addRow(QStringLiteral("Password:"), password);
        if (auto *controller = qobject_cast<KRProxyAuthViewController *>(owner)) {
            controller->m_username = username;
            controller->m_password = password;
        }
        return root;
    }
};

void KRNetworkInterfaces::registerInterfaces()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRNewsView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRNewsView"), &KRNetworkInterfacesBuilder::newsView);
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRProxyAuthView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRProxyAuthView"),
                                               &KRNetworkInterfacesBuilder::proxyAuthView);
}
