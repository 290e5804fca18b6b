#pragma once

#include <core/KRXMLNode.h>
#include <model/KRPropertyDescriptor.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservationToken.h>

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <vector>

class DOMElement;
class DOMTextWriter;
class KRModelAdapterBlock;
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
//
// An object's adapters are made together in one KRModelAdapterBlock, which holds what they
// share (object, page, project, element, descriptor table); a shared pointer to one adapter
// keeps its whole block alive.
class KRModelAdapter
{
public:
    KRModelAdapter(const KRPropertyDescriptor &descriptor, KRModelAdapterBlock &block);
    ~KRModelAdapter() = default; // inline: a block ends some fifty at once
    KRModelAdapter(const KRModelAdapter &) = delete;
    KRModelAdapter &operator=(const KRModelAdapter &) = delete;

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
    QString jsPropertyInit() const { return jsPropertyInit(nullptr); }
    // The same, given the id of the object's page when the caller has it (null: the page is
    // asked).
    QString jsPropertyInit(const QString *pageID) const;
    // Writes "<prefix><name> = <initialiser>;\n" when there is an initialiser (false when
    // none), an event's reference straight into the text.
    bool writeJSPropertyInit(DOMTextWriter &out, QStringView prefix, const QString *pageID) const;
    // False when adapters of the descriptor never have an initialiser.
    static bool mayHaveJSPropertyInit(const KRPropertyDescriptor &descriptor);
    // Refuses objects (the element and those below it, as a project, a page or a paste holds
    // them) with a value read as JSON, item lists and per-device values (and the project's
    // include lists), nested deeper than JSON may be: the error names the line, the object, the
    // property and the depth.
    static KRResult<void> checkJSONValueDepth(const KRXMLNode &element);

    // The attribute text, the attribute created empty when missing.
    QString xmlAttributeValue();
    void removeProjectObservers();
    void pageDidDeleteObject(const KRNotification &notification);
    void pageFunctionDidChangeID(const KRNotification &notification);

    const KRPropertyDescriptor &descriptor() const; // below
    // Gives this adapter a descriptor of its own in place of its class's.
    void setDescriptor(const KRPropertyDescriptor &descriptor);
    std::shared_ptr<KRObject> object() const;
    // The object while it lives, without taking a share in it: for work that cannot end it
    // (writing the design document). Null once it is gone.
    KRObject *liveObject() const;
    std::shared_ptr<KRPageBase> page() const;
    std::shared_ptr<KRProjectBase> project() const;
    KRXMLElement xmlElement() const;
    bool designMode() const;
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    std::shared_ptr<DOMElement> domElement() const;
    // The same without taking a share: valid while the adapter keeps it.
    DOMElement *domElementPointer() const { return m_domElement; }
    void setDomElement(const std::shared_ptr<DOMElement> &element);

    // A shared pointer to this adapter (it shares ownership of the block).
    std::shared_ptr<KRModelAdapter> sharedPointer();
    std::weak_ptr<KRModelAdapter> weakPointer() { return sharedPointer(); }

    // The process's DOM writer (null: none).
    static void setDOMWriter(std::shared_ptr<KRModelAdapterDOMWriter> writer);
    static std::shared_ptr<KRModelAdapterDOMWriter> domWriter();

    // The device whose entry a per-device value reads and writes.
    QString currentDevice() const;

private:
    // The object's value of the property (its slot when the values are laid out by the
    // adapters' table).
    QString objectValue(const KRObject &object) const;
    // Stores an empty first value outside design mode when that is all enabling would do.
    bool takeEmptyFirstValue(const QString &value);
    // The value of a per-device text ("{...}") for the current device.
    QString perDeviceValue(const QString &text) const;
    // In design mode: follows the object's property, the project's settings and the page's
    // functions, as the descriptor asks.
    void startObserving();
    void objectPropertyDidChange(const QString &newValue);
    void projectSettingDidChange(const QString &key, bool on);

    KRModelAdapterBlock *m_block; // owns this adapter
    DOMElement *m_domElement = nullptr; // held by the block, for all its adapters that have it
    bool m_enabled = false;
    bool m_ownDescriptor = false; // set by setDescriptor (the block keeps the descriptor)
    // What a design-mode adapter observes. The observers themselves are its block's, shared by
    // the block's adapters (an object has some fifty): the adapter only says which reach it.
    enum Observing : std::uint8_t { ObservesObject = 1, ObservesProject = 2, ObservesFunctions = 4 };
    std::uint8_t m_observing = 0;
    std::uint16_t m_objectGroup = 0; // the block's observer of the object that calls it
    friend class KRModelAdapterBlock;
    friend class KRModelAdapterFollowers;
};

// The adapters of one object, one per descriptor of its class's table and in its order, made
// in one allocation, with what they all share.
class KRModelAdapterBlock
{
public:
    using Table = std::vector<KRPropertyDescriptor>;

    static std::shared_ptr<KRModelAdapterBlock> create(const Table *table,
                                                       const std::shared_ptr<KRPageBase> &page,
                                                       const std::shared_ptr<KRObject> &object,
                                                       const KRXMLElement &element, bool designMode);
    ~KRModelAdapterBlock();
    KRModelAdapterBlock(const KRModelAdapterBlock &) = delete;
    KRModelAdapterBlock &operator=(const KRModelAdapterBlock &) = delete;

    std::size_t size() const { return m_count; }
    // The descriptor table the adapters were made from.
    const Table *table() const { return m_table; }
    KRModelAdapter &at(std::size_t index) { return m_adapters[index]; }
    const KRModelAdapter &at(std::size_t index) const { return m_adapters[index]; }
    // A shared pointer to the adapter at the index, sharing ownership of the block.
    std::shared_ptr<KRModelAdapter> pointer(std::size_t index);
    // The index of the adapter of the "kr_" key, the search starting at `hint`; -1 when none.
    qsizetype indexOf(const QString &krKey, std::size_t hint = 0) const;
    // Reads the attributes of the adapters in one pass over the element (names[i]: the
    // attribute of the adapter at i, empty for none), for an object about to be enabled
    // while nothing else writes its element (a page being built): each adapter takes its
    // value once instead of searching the element for it.
    void readAttributesAhead(const std::vector<QByteArray> &names);
    // Forgets what no adapter took: later reads go to the element.
    void dropAttributesReadAhead();

    // Held by the object while it enables a set of its adapters: those that start observing
    // the object meanwhile share one observer of it, made when the first does (as if each
    // had made its own then). An adapter enabled outside such a scope has one of its own.
    class EnablingScope
    {
    public:
        explicit EnablingScope(KRModelAdapterBlock &block);
        ~EnablingScope();
        EnablingScope(const EnablingScope &) = delete;
        EnablingScope &operator=(const EnablingScope &) = delete;

    private:
        KRModelAdapterBlock &m_block;
        int m_outerGroup;
        std::size_t m_groupsBefore;
    };

    // Made through create() only.
    struct Private;
    explicit KRModelAdapterBlock(const Private &);

private:
    friend class KRModelAdapter;
    friend class KRModelAdapterFollowers;
    const Table *m_table = nullptr; // lasting (see KRClassRegistry)
    std::weak_ptr<KRModelAdapterBlock> m_self;
    std::weak_ptr<KRObject> m_object;   // the object owns its adapters
    KRObject *m_objectPointer = nullptr; // the same, valid while m_object is
    std::weak_ptr<KRPageBase> m_page;   // the page owns the object
    std::weak_ptr<KRProjectBase> m_project; // design mode only; otherwise asked of the page
    KRXMLElement m_element;
    bool m_designMode = false;
    KRModelAdapter *m_adapters = nullptr;
    std::size_t m_count = 0;
    // Set by readAttributesAhead: the value of each adapter (null: the attribute is absent),
    // and whether the adapter has yet to take it. The thread keeps it for its next object.
    struct ReadAhead;
    ReadAhead *m_readAhead = nullptr;

    // The observers of the adapters that observe (design mode): made on first use.
    struct Observers;
    Observers &observers();
    // The observer of the object that an adapter starting to observe now is called by (made
    // when needed).
    std::uint16_t objectGroupFor();
    void objectDidChange(std::size_t group, const QString &key, const QVariant &newValue);
    void projectSettingDidChange(const QString &key, const QVariant &newValue);
    void observeFunctionReferences();
    void pageDidDeleteObject(const KRNotification &notification);
    void pageFunctionDidChangeID(const KRNotification &notification);
    std::unique_ptr<Observers> m_observers;
    // The descriptors adapters were given of their own (KRModelAdapter::setDescriptor), by
    // the adapter's index.
    std::vector<std::pair<std::size_t, std::unique_ptr<KRPropertyDescriptor>>> m_ownDescriptors;
    const KRPropertyDescriptor &ownDescriptor(std::size_t index) const;
    // The design elements the adapters have (mostly one for all of them), each while one has it.
    std::vector<std::shared_ptr<DOMElement>> m_domElements;
    static constexpr int kNotEnabling = -2; // no EnablingScope is open
    static constexpr int kNoGroupYet = -1;  // one is, and no adapter of it observes yet
    int m_enablingGroup = kNotEnabling;
};

// The table's descriptor at the adapter's place, unless it was given one of its own: an
// adapter keeps no pointer to it (an object has some fifty adapters).
inline const KRPropertyDescriptor &KRModelAdapter::descriptor() const
{
    const std::size_t index = std::size_t(this - m_block->m_adapters);
    return m_ownDescriptor ? m_block->ownDescriptor(index) : (*m_block->m_table)[index];
}
