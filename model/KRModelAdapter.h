#pragma once

#include <core/KRXMLNode.h>
#include <model/KRPropertyDescriptor.h>
#include <platform/foundation/KRObservationToken.h>

#include <QString>

#include <memory>
#include <vector>

class DOMElement;
class KRModelAdapterDOMWriter;
class KRObject;
class KRPageBase;
class KRProjectBase;
struct KRNotification;

// Keeps one property of one object in step with its storage in the object's XML element
// (attribute, element text, child element, or per-device JSON while the project's
// "autoAdjustObjects" is on), the design document (through the installed DOM writer) and its
// JavaScript initialiser. Made and enabled by the object; in design mode it then follows the
// object's property and, for per-device properties, the project's settings.
class KRModelAdapter : public std::enable_shared_from_this<KRModelAdapter>
{
public:
    KRModelAdapter(const KRPropertyDescriptor &descriptor, const std::shared_ptr<KRPageBase> &page,
                   const std::shared_ptr<KRObject> &object, const KRXMLElement &element, bool designMode);
    ~KRModelAdapter();

    // Reads the stored value into the object, writes the DOM, and in design mode starts
    // observing. Called once.
    void enable();

    // The stored value for the current device; "" when absent.
    QString xmlValue();
    // Stores the value (null counts as "").
    void updateXML(const QString &value);
    // Writes the value into the design document through the installed writer.
    void updateDOM(const QString &value);
    // Assigns the value through the object's key-value setter.
    void setKRObjectProperty(const QString &value);
    void undoValue(const QString &value) { setKRObjectProperty(value); }
    // The JavaScript initialiser; null for none.
    QString jsPropertyInit() const;

    // The attribute text, the attribute created empty when missing.
    QString xmlAttributeValue();
    void removeProjectObservers();
    void pageDidDeleteObject(const KRNotification &notification);
    void pageFunctionDidChangeID(const KRNotification &notification);

    const KRPropertyDescriptor &descriptor() const { return m_descriptor; }
    void setDescriptor(const KRPropertyDescriptor &descriptor) { m_descriptor = descriptor; }
    std::shared_ptr<KRObject> object() const { return m_object.lock(); }
    std::shared_ptr<KRPageBase> page() const { return m_page.lock(); }
    std::shared_ptr<KRProjectBase> project() const;
    KRXMLElement xmlElement() const { return m_element; }
    bool designMode() const { return m_designMode; }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    std::shared_ptr<DOMElement> domElement() const { return m_domElement; }
    void setDomElement(const std::shared_ptr<DOMElement> &element) { m_domElement = element; }

    // The process's DOM writer (null: none).
    static void setDOMWriter(std::shared_ptr<KRModelAdapterDOMWriter> writer);
    static std::shared_ptr<KRModelAdapterDOMWriter> domWriter();

    // The device whose entry a per-device value reads and writes.
    QString currentDevice() const;

private:
    void objectPropertyDidChange(const QString &newValue);
    void projectSettingDidChange(const QString &key, bool on);
    void observeFunctionReferences();

    KRPropertyDescriptor m_descriptor;
    std::weak_ptr<KRObject> m_object;   // the object owns its adapters
    std::weak_ptr<KRPageBase> m_page;   // the page owns the object
    std::weak_ptr<KRProjectBase> m_project;
    KRXMLElement m_element;
    std::shared_ptr<DOMElement> m_domElement;
    bool m_designMode;
    bool m_enabled = false;
    KRObservationToken m_objectToken;
    std::vector<KRObservationToken> m_projectTokens;
    std::vector<KRObservationToken> m_notificationTokens;
};
