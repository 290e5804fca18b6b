#include "KRBluffGraph.h"

#include <core/KRJavaScript.h>
#include <model/KRPage.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <QRegularExpression>

namespace {
std::function<bool()> &draggingProvider()
{
    static std::function<bool()> provider;
    return provider;
}
} // namespace

KRBluffGraph::KRBluffGraph(const KRObjectInit &init) : KRControl(init) {}

KRBluffGraph::~KRBluffGraph() = default;

void KRBluffGraph::setDraggingProvider(std::function<bool()> provider)
{
    draggingProvider() = std::move(provider);
}

KRObjectClass KRBluffGraph::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRBluffGraph");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("graph");
    c.requiredScripts = {QStringLiteral("js-class.js"), QStringLiteral("bluff-src.js")};
    c.descriptors = {
        krDescriptor("title", nullptr, nullptr, KRAdapterOptionJSString),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionJSString),
        krDescriptor("type", nullptr, nullptr, KRAdapterOptionJSString),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRBluffGraph>(init); };
    return c;
}

void KRBluffGraph::buildElement()
{
    KRControl::buildElement();
    enableOwnAdapters(QStringLiteral("KRBluffGraph"));
    appendToParentElement();
    createChildren();
    if (!designMode())
        return;
    observeForRebuild(
        m_tokens, {QString()}, [](KRControl &self) { static_cast<KRBluffGraph &>(self).createChildren(); },
        [] { return draggingProvider() && draggingProvider()(); });
}

void KRBluffGraph::initializeDefaultProperties()
{
    KRControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("300"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("200"));
}

void KRBluffGraph::updateDesignView(KRModelAdapter &, const QString &)
{
    createChildren();
}

QString KRBluffGraph::canvasID() const
{
    return QStringLiteral("_%1_%2_canvas").arg(pageID(), kr_id());
}

QString KRBluffGraph::designScript() const
{
    // Type and theme become names in code: anything but a plain name falls back to the default.
    static const QRegularExpression themeName(QStringLiteral("^[0-9A-Za-z_]+$"));
    QString type = value(QStringLiteral("kr_type"));
    if (!KRJavaScript::isValidIdentifier(type) || type.startsWith(QLatin1Char('$')))
        type = QStringLiteral("Line");
    QString theme = value(QStringLiteral("kr_theme"));
    if (!themeName.match(theme).hasMatch())
        theme = QStringLiteral("greyscale");
    QString script = QStringLiteral("$(document).ready(function() {\n");
    script += QStringLiteral("var g = new Bluff.%1(%2, %3);\n")
                  .arg(type, KRJavaScript::quotedString(canvasID()),
                       KRJavaScript::quotedString(QStringLiteral("%1x%2").arg(value(QStringLiteral("kr_width")),
                                                                              value(QStringLiteral("kr_height")))));
    script += QStringLiteral("g.title = %1;\n").arg(KRJavaScript::quotedString(value(QStringLiteral("kr_title"))));
    script += QStringLiteral("g.theme_%1();\n").arg(theme);
    script += QStringLiteral("g.set_font(null);");
    script += QStringLiteral("g.data('Apples', [1, 2, 3, 4, 4, 3]);\n");
    script += QStringLiteral("g.draw();\n");
    script += QStringLiteral("});\n");
    return script;
}

void KRBluffGraph::createChildren()
{
    const auto element = domElement();
    const auto page = designPage();
    if (!element || !page)
        return;
    element->removeAllChildren();
    element->setAttribute(QStringLiteral("class"), QStringLiteral("bluff-wrapper"));
    auto canvas = page->domDocument()->createElement(QStringLiteral("canvas"));
    canvas->setAttribute(QStringLiteral("id"), canvasID());
    element->appendChild(canvas);
    if (!designMode())
        return;
    page->queueDesignSetUpScript(shared_from_this(), designScript());
}
