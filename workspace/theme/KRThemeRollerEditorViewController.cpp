#include "KRThemeRollerEditorViewController.h"

#include <core/KRRunLogger.h>
#include <model/KRProjectBase.h>
#include <model/KRProjectTheme.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRUndoManager.h>

#include <QFile>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

static void initThemeResources()
{
    Q_INIT_RESOURCE(krtheme);
}

namespace {

QString krThemeRollerResourceText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QWidget *krThemeRollerBuild(QObject *)
{
    auto *root = new QWidget;
    auto *layout = new QVBoxLayout(root);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *webView = new QWebEngineView(root);
    webView->setObjectName(QStringLiteral("webView"));
    layout->addWidget(webView);
    root->resize(760, 480);
    return root;
}

} // namespace

// --- The bridge

KRThemeRollerEditorViewControllerProxy::KRThemeRollerEditorViewControllerProxy(KRThemeRollerEditorViewController *delegate,
                                                                               QObject *parent)
    : QObject(parent), m_delegate(delegate)
{
}

QString KRThemeRollerEditorViewControllerProxy::CSS() const
{
    return m_delegate ? m_delegate->CSS() : QString();
}

void KRThemeRollerEditorViewControllerProxy::setCSS_(const QString &css)
{
    if (m_delegate)
        m_delegate->setCSS(css);
}

void KRThemeRollerEditorViewControllerProxy::registerUndo()
{
    if (m_delegate)
        m_delegate->registerUndo();
}

void KRThemeRollerEditorViewControllerProxy::log_(const QString &message)
{
    Q_UNUSED(message);
}

// --- The tab

KRThemeRollerEditorViewController::KRThemeRollerEditorViewController()
{
    initThemeResources();
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRThemeRollerEditorView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRThemeRollerEditorView"), krThemeRollerBuild);
}

KRThemeRollerEditorViewController::~KRThemeRollerEditorViewController()
{
    // The page's steps end with the page.
    if (const auto project = m_undoProject.lock())
        if (KRUndoManager *undo = project->undoManager())
            undo->removeAllActionsWithTarget(this);
}

void KRThemeRollerEditorViewController::awakeFromNib()
{
    KR_LOG(QString());
    m_webView = view()->findChild<QWebEngineView *>(QStringLiteral("webView"));
    // The page has no context menu.
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);
    QWebEnginePage *page = m_webView->page();
    page->settings()->setFontSize(QWebEngineSettings::DefaultFontSize, 16);
    page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);

    static const QString channelSource = krThemeRollerResourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    static const QString bridgeSource = krThemeRollerResourceText(QStringLiteral(":/kr/theme/KRThemeBridge.js"));
    QWebEngineScript script;
    script.setName(QStringLiteral("kr-theme-bridge"));
    script.setSourceCode(channelSource + QLatin1Char('\n') + bridgeSource);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    page->scripts().insert(script);

    installProxy();
    // Every new document gets a bridge of its own.
    connect(page, &QWebEnginePage::loadStarted, this, &KRThemeRollerEditorViewController::installProxy);
    m_webView->load(QUrl(PageURL));
}

void KRThemeRollerEditorViewController::installProxy()
{
    QWebEnginePage *page = m_webView ? m_webView->page() : nullptr;
    if (!page)
        return;
    if (!m_channel) {
        m_channel = new QWebChannel(this);
        page->setWebChannel(m_channel, QWebEngineScript::MainWorld);
    }
    if (m_proxy) {
        m_channel->deregisterObject(m_proxy);
        m_proxy->deleteLater();
    }
    m_expectedPageRegistrations = 0;
    m_proxy = new KRThemeRollerEditorViewControllerProxy(this, this);
    m_channel->registerObject(QStringLiteral("__KR"), m_proxy);
}

void KRThemeRollerEditorViewController::setTheme(const std::shared_ptr<KRProjectTheme> &theme)
{
    m_theme = theme;
    if (m_proxy)
        emit m_proxy->cssChanged();
}

QString KRThemeRollerEditorViewController::CSS() const
{
    return m_theme ? m_theme->css() : QString();
}

void KRThemeRollerEditorViewController::setCSS(const QString &css)
{
    if (!m_theme || css == m_theme->css())
        return;
    m_theme->setCss(css);
    if (m_proxy)
        emit m_proxy->cssChanged();
}

void KRThemeRollerEditorViewController::registerUndo()
{
    const auto project = KRCachingViewController::project();
    KRUndoManager *undo = project ? project->undoManager() : nullptr;
    if (!undo)
        return;
    m_undoProject = project;
    if (m_expectedPageRegistrations > 0) {
        --m_expectedPageRegistrations;
        return;
    }
    QPointer<KRThemeRollerEditorViewController> self(this);
    undo->registerUndo(this, [self] {
        if (self)
            self->performUndo();
    });
}

void KRThemeRollerEditorViewController::performUndo()
{
    KR_LOG(QString());
    const auto project = KRCachingViewController::project();
    KRUndoManager *undo = project ? project->undoManager() : nullptr;
    const bool redoing = undo && undo->isRedoing();
    if (m_webView)
        m_webView->page()->runJavaScript(redoing ? QStringLiteral("TR.redo();") : QStringLiteral("TR.undo();"));
    // The page answers with registerUndo, but only after this undo or redo has ended, too late
    // to become its counterpart: the host records the counterpart now and lets that answer go.
    if (undo && (undo->isUndoing() || undo->isRedoing())) {
        ++m_expectedPageRegistrations;
        QPointer<KRThemeRollerEditorViewController> self(this);
        undo->registerUndo(this, [self] {
            if (self)
                self->performUndo();
        });
    }
}
