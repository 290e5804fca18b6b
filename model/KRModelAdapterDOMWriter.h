#pragma once

#include <QString>

class KRModelAdapter;
class KRPropertyDescriptor;

// Writes an adapter's value into its object's design document. The design-view layer
// installs one with KRModelAdapter::setDOMWriter; without one, adapters write no DOM (as for
// objects built only for output, whose markup the controls build themselves).
class KRModelAdapterDOMWriter
{
public:
    virtual ~KRModelAdapterDOMWriter() = default;
    // value: the new value, null for none.
    virtual void updateDOM(KRModelAdapter &adapter, const QString &value) = 0;
    // True when updateDOM(adapter, value) would change nothing now; false when unsure.
    virtual bool writesNothing(const KRModelAdapter &, const QString &) const { return false; }
    // True when, outside design mode, the first write of an empty value through any adapter
    // of the descriptor, not yet enabled, would change nothing: asked once for each
    // descriptor of a class and remembered for as long as this writer stays installed.
    virtual bool writesNothingAtFirstEmpty(const KRPropertyDescriptor &) const { return false; }
};
