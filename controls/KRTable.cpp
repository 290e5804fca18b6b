#include "KRTable.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRTable::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRTable");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("table");
    c.descriptors = {
        krDescriptor("columns", nullptr, nullptr, KRAdapterOptionJSNumber),
        krDescriptor("rows", nullptr, nullptr, KRAdapterOptionJSNumber),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRTable>(init); };
    return c;
}

void KRTable::initializeDefaultProperties()
{
    KRControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("250"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("50"));
    setValue(QStringLiteral("kr_rows"), QStringLiteral("1"));
    setValue(QStringLiteral("kr_columns"), QStringLiteral("3"));
    setValue(QStringLiteral("kr_borderStyle"), QStringLiteral("solid"));
    setValue(QStringLiteral("kr_borderWidth"), QStringLiteral("1"));
    setValue(QStringLiteral("kr_borderRadius"), QStringLiteral("4"));
}

void KRTable::buildElement()
{
    KRControl::buildElement();
    if (!domElement())
        return;
    domElement()->style().setProperty(QStringLiteral("border-collapse"), QStringLiteral("collapse"));
    enableOwnAdapters(QStringLiteral("KRTable"));
    appendToParentElement();
    if (!designMode())
        return;
    // Every property change redraws the cells (the adapters of the remaining levels, if any,
    // are enabled after this and redraw too).
    m_selfObservation = observable().observe(QString(), [this](const void *, const QString &, const QVariant &,
                                                                const QVariant &) { designModeDraw(); });
    designModeDraw();
}

void KRTable::designModeDraw()
{
    const auto table = domElement();
    if (!designMode() || !table)
        return;
    table->removeAllChildren();
    const int columns = value(QStringLiteral("kr_columns")).trimmed().toInt();
    const int rows = value(QStringLiteral("kr_rows")).trimmed().toInt();
    const auto document = table->ownerDocument();
    for (int r = 0; r < rows; ++r) {
        const auto row = document->createElement(QStringLiteral("tr"));
        for (int col = 0; col < columns; ++col) {
            const auto cell = document->createElement(QStringLiteral("td"));
            DOMCSSStyleDeclaration &style = cell->style();
            style.setProperty(QStringLiteral("border-style"), value(QStringLiteral("kr_borderStyle")));
            // A bare number is pixels, as on the table itself; unitless it would be dropped.
            QString width = value(QStringLiteral("kr_borderWidth"));
            bool isNumber = false;
            width.toDouble(&isNumber);
            if (isNumber)
                width += QStringLiteral("px");
            style.setProperty(QStringLiteral("border-width"), width);
            style.setProperty(QStringLiteral("border-color"), value(QStringLiteral("kr_borderColor")));
            row->appendChild(cell);
        }
        table->appendChild(row);
    }
}
