#pragma once

#include <core/KRXMLNode.h>
#include <core/OrderedDictionary.h>
#include <model/KRMenuItem.h>
#include <model/KRPropertyDescriptor.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservable.h>

#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

class DOMElement;
class DOMTextWriter;
class KRModelAdapter;
class KRModelAdapterBlock;
class KRPageBase;
class KRProjectBase;
class KRUndoManager;
struct KRObjectClass;

// What the class registry hands a factory.
struct KRObjectInit
{
    const KRObjectClass *objectClass = nullptr;
    KRXMLElement element;
    std::shared_ptr<KRPageBase> page; // null for a page itself
    std::shared_ptr<class KRObject> parent;
    QString initialID; // null: the element's "id"
    QString elementID; // the element's "id" when already read (null: not read)
    bool designMode = false;
};

// The base of every model object that stands for one element of project.xml: pages,
// controls, functions, style classes. Every editable property is a string value under a
// "kr_<name>" key; one KRModelAdapter per descriptor of the class keeps it in step with the
// XML element (and, through the DOM writer, the design document).
//
// Objects are made by KRClassRegistry::makeObject, which constructs and then calls setUp()
// (adapters need the object's shared pointer). Main thread only.
class KRObject : public std::enable_shared_from_this<KRObject>
{
public:
    explicit KRObject(const KRObjectInit &init);
    virtual ~KRObject();
    KRObject(const KRObject &) = delete;
    KRObject &operator=(const KRObject &) = delete;

    // Identity used as notification sender and undo target.
    const void *identity() const { return static_cast<const void *>(this); }

    // --- Class-level description (overridden per class where it differs)
    const KRObjectClass &objectClass() const { return *m_class; }
    const QString &kr_className() const;
    QString idBase() const;
    virtual QString defaultProperty() const { return QStringLiteral("id"); }
    // A custom JavaScript initialiser for a property (option 0x400000); null for none.
    virtual QString jsInitializerForKey(const QString &key) const;
    virtual bool hasJSInstanceVariable() const { return true; }
    virtual void cleanup() {}
    virtual bool isPage() const { return false; }
    // Design hooks of options 0x80000 and 0x10000000; controls implement them.
    virtual void updateDesignView(KRModelAdapter &adapter, const QString &newValue);
    virtual void checkSize() {}

    // --- Properties
    // The value of a "kr_" key; null when never set.
    QString value(const QString &key) const
    {
        const QString *stored = findValue(key);
        return stored ? *stored : QString();
    }
    // Key-value setting with undo: while enableUndo and designMode both hold and the value
    // differs, registers the inverse on the document's undo manager (no action name).
    virtual void setValue(const QString &key, const QString &value);
    void undoValue(const QString &value, const QString &key) { setValue(key, value); }
    // A user's edit of one property (the inspector's rows, the item editors): the change and
    // all that follows from it are one undo step, named `actionName` unless the step being
    // recorded has a name already.
    void setValueNamingUndo(const QString &key, const QString &value, const QString &actionName);
    // Observation of the "kr_" keys (old and new values as QString).
    KRObservable &observable() { return m_observable; }

    QString kr_id() const { return m_idSlot >= 0 ? m_tableValues[std::size_t(m_idSlot)] : value(QStringLiteral("kr_id")); }
    void setKr_id(const QString &id) { setValue(QStringLiteral("kr_id"), id); }
    // Checks a new id: syntax, reserved words, uniqueness on the page (this object excluded)
    // or, for a page, in the project. Errors: domain "Korvane", code 100.
    KRResult<void> validateKr_id(const QString &id) const;

    // Names of the keys the class declares with its superclasses ("kr_..." and the base's
    // own "enableUndo" and "children").
    QSet<QString> objectProperties() const;
    // Gives a new object the catalogue's default values (never called for loaded objects).
    virtual void initializeDefaultProperties();

    // The value in the slot of the descriptor at `index` of `table`: that of its "kr_" key
    // when `table` is the one the object's values are laid out by; null otherwise.
    const QString *valueForDescriptor(const std::vector<KRPropertyDescriptor> *table, std::size_t index) const
    {
        return table == m_valueTable && index < m_tableValues.size() ? &m_tableValues[index] : nullptr;
    }
    // Outside design mode, stores an empty first value of the descriptor at `index` of the
    // table the values are laid out by straight into its slot, when setting it would do
    // nothing else: no observer of the key, not the id (the setters' own work is for ids and
    // non-empty values). Stored, `empty` is taken (left null); false, and nothing stored or
    // taken, when the value must be set the usual way.
    bool storeEmptyFirstValue(const std::vector<KRPropertyDescriptor> *table, std::size_t index, QString &empty);

    // Property name (without "kr_") to JavaScript initialiser, in adapter order; empty
    // initialisers are left out.
    OrderedDictionary<QString, QString> jsPropertyInitializations() const;
    // The same as a list of (name, initialiser), one entry per adapter.
    QList<std::pair<QString, QString>> jsPropertyInitializationList() const;
    // The same written as script, "<prefix><name> = <initialiser>;\n" for each entry of the
    // list, straight into the text being written.
    void writeJSPropertyInitializations(DOMTextWriter &out, QStringView prefix) const;

    // --- Structure
    KRXMLElement xmlElement() const { return m_xmlElement; }
    void setXmlElement(const KRXMLElement &element) { m_xmlElement = element; }
    std::shared_ptr<DOMElement> domElement() const { return m_domElement; }
    void setDomElement(const std::shared_ptr<DOMElement> &element) { m_domElement = element; }
    std::shared_ptr<KRPageBase> owningPage() const { return m_owningPage.lock(); }
    void setOwningPage(const std::shared_ptr<KRPageBase> &page) { m_owningPage = page; }
    // The page itself for a page, else the owning page.
    std::shared_ptr<KRPageBase> page() const;
    std::shared_ptr<KRProjectBase> project() const;
    std::shared_ptr<KRObject> parentObject() const { return m_parent.lock(); }
    QList<std::shared_ptr<KRObject>> &children() { return m_children; }
    bool designMode() const { return m_designMode; }
    bool visualObject() const { return m_visualObject; }
    void setVisualObject(bool visual) { m_visualObject = visual; }
    bool enableUndo() const { return m_enableUndo; }
    void setEnableUndo(bool enable) { m_enableUndo = enable; }
    QImage objectIcon() const;

    // The adapters in the order of the class's descriptor table.
    std::vector<std::shared_ptr<KRModelAdapter>> modelAdapters() const;
    std::shared_ptr<KRModelAdapter> modelAdapter(const QString &krKey) const;
    // Makes one adapter per descriptor of the table (the class's whole table); once.
    void createModelAdapters(const std::vector<KRPropertyDescriptor> *table);
    // Enables the not yet enabled adapters of the descriptors' keys.
    void enableModelAdapters(const std::vector<KRPropertyDescriptor> &descriptors);

    // --- Commands
    void deleteObject();
    void cutObject();
    void pasteboardCopyObject();
    virtual QList<KRMenuItem> contextMenuItemsForObject();
    void addEventContextMenuItems(QList<KRMenuItem> &items, const QStringList &eventProperties);
    // Opens the event's handler, creating it when the property is empty.
    void eventContextMenuAction(const QString &eventName);
    // A new KRFunction on the page named "<id>_<event>" (numbered when taken); null when the
    // object has no page.
    std::shared_ptr<class KRFunction> createEventHandlerForProperty(const QString &eventName);

    // Called by KRClassRegistry after construction: creates and enables the adapters of the
    // class's whole descriptor table.
    void setUp();

protected:
    // Runs between creating and enabling the adapters (a page points its title adapter at
    // the title element here).
    virtual void willEnableModelAdapters() {}
    // Stores without undo and announces the change to observers.
    void storeValue(const QString &key, const QString &value);
    KRUndoManager *undoManager() const;

private:
    friend class KRModelAdapter;
    // Calls visit(adapter, page id or null) for each adapter that may have an initialiser, in
    // order; the page's id is given from the first event property on.
    template <typename Visit>
    void forEachJSPropertyAdapter(Visit &&visit) const;
    const KRObjectClass *m_class;
    KRXMLElement m_xmlElement;
    std::shared_ptr<DOMElement> m_domElement;
    std::weak_ptr<KRPageBase> m_owningPage; // the page owns its objects
    std::weak_ptr<KRObject> m_parent;       // the parent owns its children
    QList<std::shared_ptr<KRObject>> m_children;
    std::shared_ptr<KRModelAdapterBlock> m_modelAdapters; // null until made
    std::size_t m_nextAdapter = 0; // where enabling looks first
    // The stored value of the key; null when never set.
    const QString *findValue(const QString &key) const;
    // Where the key's value goes, made when missing.
    QString &valueStorage(const QString &key);

    // Values of the keys of the class's descriptor table, one slot per key in table order
    // (laid out when the object is made), and of every other key.
    const std::vector<KRPropertyDescriptor> *m_valueTable = nullptr; // lasting (see KRClassRegistry)
    const QHash<QString, qsizetype> *m_valueIndex = nullptr;          // key to slot; the same
    std::vector<QString> m_tableValues;
    std::size_t m_nextValueSlot = 0; // values mostly come in table order: tried first
    qsizetype m_idSlot = -1; // the slot of "kr_id", read most often
    QHash<QString, QString> m_values;
    KRObservable m_observable;
    bool m_designMode;
    bool m_visualObject = false;
    bool m_enableUndo = false;
};
