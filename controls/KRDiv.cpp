#include "KRDiv.h"

#include <model/KRModelAdapter.h>
#include <model/KRPage.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRDiv::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRDiv");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("div");
    c.descriptors = {
        krDescriptor("content", nullptr, nullptr, KRAdapterOptionUpdateDesignView | KRAdapterOptionXMLText | KRAdapterOptionHTMLContent),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRDiv>(init); };
    return c;
}

void KRDiv::buildElement()
{
    KRControl::buildElement();
    if (!domElement())
        return;
    setNoSelectStyles();
    enableOwnAdapters(QStringLiteral("KRDiv"));
    appendToParentElement();
}

void KRDiv::updateDesignView(KRModelAdapter &, const QString &newValue)
{
    const auto page = designPage();
    if (!designMode() || !page || !domElement())
        return;
    // New content replaces the element's children: put the child controls back after it.
    for (const auto &child : children()) {
        if (child->domElement())
            domElement()->appendChild(child->domElement());
    }
    if (newValue.isEmpty())
        return;
    page->evaluateScript(QStringLiteral("$(%1).trigger('pagecreate');").arg(krSelectorLiteral(domElement()->id())));
}
