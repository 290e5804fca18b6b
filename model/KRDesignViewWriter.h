#pragma once

#include <model/KRModelAdapterDOMWriter.h>

class DOMCSSStyleDeclaration;
class KRModelAdapter;

// Writes adapter values into the own-DOM design document: CSS declarations with their
// priority on the element, its parent or a style class's rule, HTML attributes, text, inner
// markup ("markdown:" and "html:" content), option lists, and the sibling rules that keep the
// background, border and padding families in force when one member is cleared.
class KRDesignViewWriter : public KRModelAdapterDOMWriter
{
public:
    void updateDOM(KRModelAdapter &adapter, const QString &value) override;
    bool writesNothing(const KRModelAdapter &adapter, const QString &value) const override;
    bool writesNothingAtFirstEmpty(const KRPropertyDescriptor &descriptor) const override;

    static QString convertValue(const KRModelAdapter &adapter, const QString &value);
    static void setCSSAttribute(KRModelAdapter &adapter, const QString &value);
    static void setHTMLAttribute(KRModelAdapter &adapter, const QString &name, const QString &value);
    // The declaration CSS values go to: a style class's rule or the target element's style.
    static DOMCSSStyleDeclaration *style(KRModelAdapter &adapter);
    static std::shared_ptr<class DOMElement> targetElement(KRModelAdapter &adapter);
};
