#include "DesignViewTestSupport.h"

#include <core/KRNodeRunner.h>
#include <model/KRClassRegistry.h>
#include <model/KRLocalServerPort.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <QDir>
#include <QWebEnginePage>

namespace KRDesignViewTest {

namespace {

std::shared_ptr<DOMElement> placeControl(KRObject &object, const KRObjectInit &init)
{
    object.setVisualObject(true);
    const auto page = std::dynamic_pointer_cast<KRPage>(init.page);
    if (!page)
        return nullptr;
    auto div = page->domDocument()->createElement(QStringLiteral("div"));
    div->setAttribute(QStringLiteral("id"), page->kr_id() + QLatin1Char('_') + init.element.attribute(QStringLiteral("id")));
    div->setAttribute(QStringLiteral("data-role"), QStringLiteral("none"));
    div->setAttribute(QStringLiteral("onclick"), QStringLiteral("window.___kr_dwc.onClickElement_withEvent_(this, event);"));
    div->setAttribute(QStringLiteral("ondblclick"), QStringLiteral("window.___kr_dwc.onDoubleClickElement_withEvent_(this,event);"));
    div->style().setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
    page->pageDivElement()->appendChild(div);
    object.setDomElement(div);
    return div;
}

KRPropertyDescriptor d(const char *name, const char *css, std::uint32_t options)
{
    return KRPropertyDescriptor(QString::fromLatin1(name), QString(), QString::fromLatin1(css), options);
}

std::vector<KRPropertyDescriptor> placement()
{
    return {d("top", "top", KRAdapterOptionCSSPixels), d("left", "left", KRAdapterOptionCSSPixels),
            d("width", "width", KRAdapterOptionCSSPixels), d("height", "height", KRAdapterOptionCSSPixels),
            d("color", "color", 0)};
}

KRNodeRunner *g_runner = nullptr;
QString g_documentRoot;

} // namespace

LiveLabel::LiveLabel(const KRObjectInit &init) : KRObject(init)
{
    if (const auto div = placeControl(*this, init))
        div->style().setProperty(QStringLiteral("overflow"), QStringLiteral("hidden"));
}

// As the control base does: grow to the content when it overflows by more than 4 pixels;
// percentage sizes stay.
void LiveLabel::checkSize()
{
    const auto page = std::dynamic_pointer_cast<KRPage>(this->page());
    const KRLayoutSource *source = page ? page->layoutSource() : nullptr;
    if (!designMode() || !source || !domElement())
        return;
    const KRNodeGeometry g = source->geometryForNode(domElement()->nodeId());
    if (!g.valid)
        return;
    const auto grow = [this](const QString &key, int content) {
        const QString size = value(key);
        if (size.endsWith(QLatin1Char('%')))
            return;
        if (size.toInt() + 4 < content)
            setValue(key, QString::number(content));
    };
    grow(QStringLiteral("kr_height"), g.scrollHeight);
    grow(QStringLiteral("kr_width"), g.scrollWidth);
}

LiveSelect::LiveSelect(const KRObjectInit &init) : KRObject(init)
{
    if (const auto div = placeControl(*this, init)) {
        select = div->ownerDocument()->createElement(QStringLiteral("select"));
        select->setAttribute(QStringLiteral("id"), QStringLiteral("_") + div->getAttribute(QStringLiteral("id")) + QStringLiteral("_sel"));
        div->appendChild(select);
    }
}

void LiveSelect::willEnableModelAdapters()
{
    for (const char *key : {"kr_options", "kr_value"})
        if (const auto adapter = modelAdapter(QString::fromLatin1(key)); adapter && select)
            adapter->setDomElement(select);
}

LiveButton::LiveButton(const KRObjectInit &init) : KRObject(init)
{
    if (placeControl(*this, init))
        createChildren(init.element.attribute(QStringLiteral("text")));
}

void LiveButton::updateDesignView(KRModelAdapter &adapter, const QString &newValue)
{
    if (adapter.descriptor().propertyName() != QLatin1String("text"))
        return;
    createChildren(newValue);
    const auto page = std::dynamic_pointer_cast<KRPage>(this->page());
    if (page)
        page->evaluateScript(QStringLiteral("$('#%1').enhanceWithin();").arg(domElement()->getAttribute(QStringLiteral("id"))));
}

void LiveButton::createChildren(const QString &text)
{
    const auto div = domElement();
    if (!div)
        return;
    div->removeAllChildren();
    auto a = div->ownerDocument()->createElement(QStringLiteral("a"));
    a->setAttribute(QStringLiteral("href"), QStringLiteral("#"));
    a->setAttribute(QStringLiteral("data-role"), QStringLiteral("button"));
    a->setTextContent(text);
    div->appendChild(a);
}

void registerLiveClasses()
{
    KRPage::registerPageClass();
    static bool done = false;
    if (done)
        return;
    done = true;
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();

    KRObjectClass label;
    label.className = QStringLiteral("LiveLabel");
    label.superclassName = QStringLiteral("KRObject");
    label.idBase = QStringLiteral("label");
    label.descriptors = placement();
    label.descriptors.push_back(d("text", "", KRAdapterOptionDOMText | KRAdapterOptionCheckSize));
    label.descriptors.push_back(d("fontSize", "font-size", KRAdapterOptionCSSPixels | KRAdapterOptionCheckSize));
    label.factory = [](const KRObjectInit &init) { return std::make_shared<LiveLabel>(init); };
    registry.registerClass(label);

    KRObjectClass select;
    select.className = QStringLiteral("LiveSelect");
    select.superclassName = QStringLiteral("KRObject");
    select.idBase = QStringLiteral("select");
    select.descriptors = placement();
    select.descriptors.push_back(d("options", "", KRAdapterOptionOptionList | KRAdapterOptionXMLChildElement));
    select.descriptors.push_back(d("value", "", KRAdapterOptionRefreshOptions));
    select.factory = [](const KRObjectInit &init) { return std::make_shared<LiveSelect>(init); };
    registry.registerClass(select);

    KRObjectClass button;
    button.className = QStringLiteral("LiveButton");
    button.superclassName = QStringLiteral("KRObject");
    button.idBase = QStringLiteral("button");
    button.descriptors = placement();
    button.descriptors.push_back(d("text", "", KRAdapterOptionUpdateDesignView));
    button.factory = [](const KRObjectInit &init) { return std::make_shared<LiveButton>(init); };
    registry.registerClass(button);
}

bool startRuntimeServer()
{
    if (!g_runner) {
        if (KRNodeRunner::nodeExecutablePath().isEmpty())
            return false;
        g_runner = new KRNodeRunner();
        g_documentRoot = KRTest::makeTempDir();
        g_runner->setDocumentRootPath(g_documentRoot);
        g_runner->setRequestedPortNumber(0);
        g_runner->start();
    }
    const qint64 port = g_runner->portNumber();
    KRLocalServerPort::setProvider([port] { return port; });
    return port > 0;
}

void stopRuntimeServer()
{
    if (!g_runner)
        return;
    g_runner->terminate();
    delete g_runner;
    g_runner = nullptr;
}

qint64 runtimeServerPort() { return g_runner ? g_runner->portNumber() : -1; }

QString runtimeServerDocumentRoot() { return g_documentRoot; }

QByteArray projectXML(const QString &pagesXML)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                          "<KRProject JQMVersion=\"1.4\"/><KRPages>%2</KRPages></KRProjectDocument>\n")
        .arg(KRDocument::applicationShortVersion(), pagesXML)
        .toUtf8();
}

std::shared_ptr<KRProject> openProject(const QByteArray &xml, std::shared_ptr<KRDocument> &documentOut, bool designMode)
{
    registerLiveClasses();
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Live.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(package);
    if (!document)
        return nullptr;
    documentOut = document.value();
    KRResult<std::shared_ptr<KRProject>> project = KRProject::create(document.value(), designMode);
    return project ? project.value() : nullptr;
}

QVariant js(QWebEngineView &view, const QString &script)
{
    QVariant result;
    bool done = false;
    view.page()->runJavaScript(script, [&](const QVariant &r) {
        result = r;
        done = true;
    });
    KRTest::processEventsUntil([&] { return done; }, std::chrono::seconds(10));
    return result;
}

QString liveNode(const std::shared_ptr<DOMNode> &node)
{
    return QStringLiteral("window.___kr_agent.node(%1)").arg(node ? node->nodeId() : 0);
}

QString artifactsDir()
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/designview");
    QDir().mkpath(dir);
    return dir;
}

} // namespace KRDesignViewTest
