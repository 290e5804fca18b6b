#include "KRModelAdapter.h"

#include <core/KRJSONSerialization.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <core/KRXMLDocument.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRModelAdapterDOMWriter.h>
#include <model/KRObject.h>
#include <model/KRObjectInfo.h>
#include <model/KRPageBase.h>
#include <model/KRProjectBase.h>
#include <platform/dom/DOMTextWriter.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

using ordered_json = nlohmann::ordered_json;

namespace {

const QString kDefaultDevice = QStringLiteral("iPhone");

std::shared_ptr<KRModelAdapterDOMWriter> &writerStorage()
{
    static std::shared_ptr<KRModelAdapterDOMWriter> writer;
    return writer;
}

// Counts the writers installed: what was asked of one writer is not taken for the next.
std::atomic<std::uint64_t> &writerSerial()
{
    static std::atomic<std::uint64_t> serial{0};
    return serial;
}

// How enabling may treat an attribute read ahead (KRModelAdapterBlock::ReadAhead::pending).
enum ReadAheadState : char {
    kTaken = 0, // taken already, or not read ahead: the adapter reads the element
    kPending = 1,
    kPendingQuietWhenEmpty = 2, // pending; read empty, the value goes straight into its slot
};

// For each descriptor of a class's table: whether, outside design mode, an empty first value
// only has to be stored (kept in an attribute, not the id, nothing for the installed writer to
// write). Kept by each thread for each table it met, for the writer installed when it was
// made: tables last as long as the class registry, so an address names one table for good.
const std::vector<char> &quietWhenFirstEmpty(const KRModelAdapterBlock::Table &table)
{
    struct Kept
    {
        std::uint64_t serial = 0;
        std::vector<char> quiet;
    };
    thread_local std::unordered_map<const KRModelAdapterBlock::Table *, Kept> kept;
    const std::uint64_t serial = writerSerial().load(std::memory_order_acquire);
    Kept &entry = kept[&table];
    if (entry.serial == serial && entry.quiet.size() == table.size())
        return entry.quiet;
    const KRModelAdapterDOMWriter *writer = writerStorage().get();
    entry.serial = serial;
    entry.quiet.assign(table.size(), 0);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const KRPropertyDescriptor &d = table[i];
        entry.quiet[i] = !d.hasOption(KRAdapterOptionXMLText) && !d.hasOption(KRAdapterOptionXMLChildElement)
            && !d.isIDProperty() && (!writer || writer->writesNothingAtFirstEmpty(d));
    }
    return entry.quiet;
}

// Text, CDATA and entity references ("&name;" of the file's own declarations) make up the
// element's own text.
bool isTextNode(const KRXMLNode &node)
{
    return node.kind() == KRXMLNode::Kind::Text || node.kind() == KRXMLNode::Kind::CDATA
        || node.kind() == KRXMLNode::Kind::EntityReference;
}

// The element's own text: its text, CDATA and entity children, not the text of child elements.
QString ownText(const KRXMLNode &element)
{
    QString text;
    for (const KRXMLNode &child : element.children()) {
        if (isTextNode(child))
            text += child.stringValue();
    }
    return text;
}

// Replaces the element's own text and keeps its child elements where they are.
void setOwnText(KRXMLNode &element, const QString &text)
{
    if (element.elements().isEmpty()) {
        element.setStringValue(text);
        return;
    }
    int insertAt = -1;
    for (int i = element.childCount() - 1; i >= 0; --i) {
        if (isTextNode(element.childAt(i))) {
            element.removeChildAtIndex(i);
            insertAt = i;
        }
    }
    if (text.isEmpty())
        return;
    KRXMLNode textNode = element.document().createTextNode(text);
    textNode.setStringValue(text);
    element.insertChild(textNode, insertAt < 0 ? 0 : insertAt);
}

// An entry of a per-device object as text; null and non-scalar entries read as "".
QString entryText(const ordered_json &entry)
{
    if (entry.is_string())
        return QString::fromStdString(entry.get<std::string>());
    if (entry.is_number() || entry.is_boolean())
        return QString::fromStdString(entry.dump());
    return {};
}

std::optional<ordered_json> parseObject(const QString &text)
{
    if (!text.startsWith(QLatin1Char('{')))
        return std::nullopt;
    // Nested no deeper than the script engine reads, as the built page's script holds it.
    std::optional<ordered_json> json = KRJSONSerialization::parse(text.toStdString());
    if (!json || !json->is_object())
        return std::nullopt;
    return json;
}

} // namespace

struct KRModelAdapterBlock::Private
{
};

namespace {

// Allocates a block's shared state with the room for its adapters right behind it: one
// allocation an object instead of two, freed together.
template <typename T>
struct BlockAllocator
{
    using value_type = T;

    BlockAllocator(std::size_t adapterCount, KRModelAdapter **room) : count(adapterCount), adapters(room) {}
    template <typename U>
    BlockAllocator(const BlockAllocator<U> &other) : count(other.count), adapters(other.adapters)
    {
    }

    T *allocate(std::size_t n)
    {
        static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        constexpr std::size_t align = alignof(KRModelAdapter);
        const std::size_t head = (n * sizeof(T) + align - 1) / align * align;
        char *memory = static_cast<char *>(::operator new(head + count * sizeof(KRModelAdapter)));
        if (adapters)
            *adapters = count > 0 ? reinterpret_cast<KRModelAdapter *>(memory + head) : nullptr;
        return reinterpret_cast<T *>(memory);
    }
    void deallocate(T *memory, std::size_t) { ::operator delete(static_cast<void *>(memory)); }

    template <typename U>
    bool operator==(const BlockAllocator<U> &other) const
    {
        return count == other.count;
    }

    std::size_t count;
    KRModelAdapter **adapters; // where allocate() tells the room made (used once, while creating)
};

} // namespace

struct KRModelAdapterBlock::ReadAhead
{
    std::vector<QString> values;
    std::vector<char> pending;

    // Those of the thread's objects read lately, emptied, for the next ones: an object's
    // values are read and let go within its setting up, which may set up others meanwhile.
    static std::vector<std::unique_ptr<ReadAhead>> &spares()
    {
        thread_local std::vector<std::unique_ptr<ReadAhead>> kept;
        return kept;
    }
};

KRModelAdapterBlock::KRModelAdapterBlock(const Private &) {}

std::shared_ptr<KRModelAdapterBlock> KRModelAdapterBlock::create(const Table *table,
                                                                 const std::shared_ptr<KRPageBase> &page,
                                                                 const std::shared_ptr<KRObject> &object,
                                                                 const KRXMLElement &element, bool designMode)
{
    const std::size_t count = table ? table->size() : 0;
    KRModelAdapter *room = nullptr;
    auto block = std::allocate_shared<KRModelAdapterBlock>(BlockAllocator<KRModelAdapterBlock>(count, &room), Private{});
    block->m_self = block;
    block->m_table = table;
    block->m_object = object;
    block->m_objectPointer = object.get();
    // A page is its own owner.
    std::shared_ptr<KRPageBase> self;
    if (object && object->isPage())
        self = std::static_pointer_cast<KRPageBase>(object);
    const std::shared_ptr<KRPageBase> &owner = self ? self : page;
    block->m_page = owner;
    // Outside design mode the project is seldom asked for: the page answers then, and the
    // blocks of a build's threads share no count on the project.
    if (owner && designMode)
        block->m_project = owner->pageProject();
    block->m_element = element;
    block->m_designMode = designMode;
    if (count > 0) {
        block->m_adapters = room;
        for (const KRPropertyDescriptor &descriptor : *block->m_table) {
            new (block->m_adapters + block->m_count) KRModelAdapter(descriptor, *block);
            ++block->m_count;
        }
    }
    return block;
}

// The observers of a block's adapters. Each adapter observes as if it had observers of its
// own: the object's observers are shared by the adapters that start observing in one
// EnablingScope (nothing else observes the object meanwhile, so each is called exactly where
// its own observer would have been among the object's others), and the project's settings and
// the page's notifications are observed once for all, calling the adapters in the order they
// started observing.
struct KRModelAdapterBlock::Observers
{
    std::vector<KRObservationToken> objectTokens; // by group
    std::vector<std::uint16_t> projectMembers; // in the order they started observing
    std::vector<std::uint16_t> functionMembers;
    std::vector<std::uint16_t> functionsPending; // until the page's functions are followed
    bool functionsScheduled = false;
    // The lists of followers the block is in (by KRModelAdapterFollowers::Kind), its place in each.
    std::weak_ptr<KRModelAdapterFollowers> followers[2];
    std::size_t followerIndex[2] = {0, 0};
};

// The blocks whose adapters follow a project's settings (or a page's functions), in the order
// they started to: the project (the page) is observed once for all of them, not once for each
// adapter (a project has tens of thousands of such adapters). A block leaves when it goes.
class KRModelAdapterFollowers
{
public:
    enum Kind { Settings = 0, Functions = 1 };
    explicit KRModelAdapterFollowers(Kind kind) : m_kind(kind) {}

    static void followSettings(KRProjectBase &project, KRModelAdapterBlock &block)
    {
        std::shared_ptr<KRModelAdapterFollowers> &followers = project.modelAdapterFollowers();
        if (!followers) {
            followers = std::make_shared<KRModelAdapterFollowers>(Settings);
            followers->m_self = followers;
            const std::weak_ptr<KRModelAdapterFollowers> weak = followers;
            for (const char *key : {"designTarget", "autoAdjustObjects", "kvoCleanup"}) {
                followers->m_tokens.push_back(project.settingsObservable().observe(
                    QLatin1String(key), [weak](const void *, const QString &changed, const QVariant &, const QVariant &newValue) {
                        if (const auto self = weak.lock())
                            self->deliver([&](KRModelAdapterBlock &b) { b.projectSettingDidChange(changed, newValue); });
                    }));
            }
        }
        followers->add(block);
    }

    static void followFunctions(KRPageBase &page, KRModelAdapterBlock &block)
    {
        std::shared_ptr<KRModelAdapterFollowers> &followers = page.modelAdapterFollowers();
        if (!followers) {
            followers = std::make_shared<KRModelAdapterFollowers>(Functions);
            followers->m_self = followers;
            const std::weak_ptr<KRModelAdapterFollowers> weak = followers;
            auto &center = KRNotificationCenter::defaultCenter();
            followers->m_tokens.push_back(center.addObserver(KRPageDidDeleteObjectNotification, page.identity(),
                                                             [weak](const KRNotification &n) {
                                                                 // Only a function's deletion changes what follows functions:
                                                                 // asking every follower of every deleted object made deleting
                                                                 // many objects grow with the square of their number.
                                                                 const auto self = weak.lock();
                                                                 if (self && KRFunction::deletedBy(n))
                                                                     self->deliver([&](KRModelAdapterBlock &b) { b.pageDidDeleteObject(n); });
                                                             }));
            followers->m_tokens.push_back(center.addObserver(KRPageFunctionDidChangeIDNotification, page.identity(),
                                                             [weak](const KRNotification &n) {
                                                                 if (const auto self = weak.lock())
                                                                     self->deliver([&](KRModelAdapterBlock &b) { b.pageFunctionDidChangeID(n); });
                                                             }));
        }
        followers->add(block);
    }

    void leave(const KRModelAdapterBlock::Observers &kept)
    {
        m_blocks[kept.followerIndex[m_kind]] = nullptr;
        ++m_gone;
        compact();
    }

private:
    void add(KRModelAdapterBlock &block)
    {
        KRModelAdapterBlock::Observers &kept = block.observers();
        kept.followers[m_kind] = weakFromThis();
        kept.followerIndex[m_kind] = m_blocks.size();
        m_blocks.push_back(&block);
    }
    std::weak_ptr<KRModelAdapterFollowers> weakFromThis() const { return m_self; }

    // Blocks that start following meanwhile are called from the next delivery on; those that
    // go meanwhile are not called.
    template <typename Call>
    void deliver(const Call &call)
    {
        ++m_delivering;
        const std::size_t count = m_blocks.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (KRModelAdapterBlock *block = m_blocks[i])
                call(*block);
        }
        --m_delivering;
        compact();
    }

    // Drops the places of blocks gone once they are half of the list (never while delivering).
    void compact()
    {
        if (m_delivering > 0 || m_gone * 2 <= m_blocks.size())
            return;
        std::size_t kept = 0;
        for (KRModelAdapterBlock *block : m_blocks) {
            if (!block)
                continue;
            block->m_observers->followerIndex[m_kind] = kept;
            m_blocks[kept++] = block;
        }
        m_blocks.resize(kept);
        m_gone = 0;
    }

    friend class KRModelAdapterBlock;
    Kind m_kind;
    std::weak_ptr<KRModelAdapterFollowers> m_self; // set by its maker
    std::vector<KRObservationToken> m_tokens;
    std::vector<KRModelAdapterBlock *> m_blocks; // null: gone
    std::size_t m_gone = 0;
    int m_delivering = 0;
};

KRModelAdapterBlock::Observers &KRModelAdapterBlock::observers()
{
    if (!m_observers)
        m_observers = std::make_unique<Observers>();
    return *m_observers;
}

KRModelAdapterBlock::EnablingScope::EnablingScope(KRModelAdapterBlock &block)
    : m_block(block), m_outerGroup(block.m_enablingGroup),
      m_groupsBefore(block.m_observers ? block.m_observers->objectTokens.size() : 0)
{
    block.m_enablingGroup = kNoGroupYet;
}

KRModelAdapterBlock::EnablingScope::~EnablingScope()
{
    // An enclosing scope whose observer is no longer the object's latest makes a new one.
    const std::size_t groups = m_block.m_observers ? m_block.m_observers->objectTokens.size() : 0;
    m_block.m_enablingGroup = m_outerGroup >= 0 && groups != m_groupsBefore ? kNoGroupYet : m_outerGroup;
}

std::uint16_t KRModelAdapterBlock::objectGroupFor()
{
    if (m_enablingGroup >= 0)
        return std::uint16_t(m_enablingGroup);
    Observers &kept = observers();
    const std::size_t group = kept.objectTokens.size();
    KR_ASSERT(group < 0xffff, "an object's adapters observe it in fewer groups than that");
    // Every key: the adapters of the group are found by theirs. The block keeps the token (see
    // startObserving).
    KRModelAdapterBlock *const self = this;
    kept.objectTokens.push_back(m_objectPointer->observable().observe(
        QString(), [self, group](const void *, const QString &key, const QVariant &, const QVariant &newValue) {
            self->objectDidChange(group, key, newValue);
        }));
    if (m_enablingGroup == kNoGroupYet)
        m_enablingGroup = int(group);
    return std::uint16_t(group);
}

void KRModelAdapterBlock::objectDidChange(std::size_t group, const QString &key, const QVariant &newValue)
{
    const qsizetype index = indexOf(key);
    if (index < 0)
        return;
    const std::shared_ptr<KRModelAdapterBlock> keep = m_self.lock(); // lives through the call
    if (!keep)
        return;
    KRModelAdapter &adapter = m_adapters[index];
    if ((adapter.m_observing & KRModelAdapter::ObservesObject) && adapter.m_objectGroup == group)
        adapter.objectPropertyDidChange(newValue.toString());
}

void KRModelAdapterBlock::projectSettingDidChange(const QString &key, const QVariant &newValue)
{
    const std::shared_ptr<KRModelAdapterBlock> keep = m_self.lock(); // lives through the calls
    if (!keep)
        return;
    const bool on = newValue.toBool();
    // Adapters may be added while the change is delivered: called from the next one on.
    const std::size_t count = m_observers->projectMembers.size();
    for (std::size_t i = 0; i < count; ++i) {
        KRModelAdapter &adapter = m_adapters[m_observers->projectMembers[i]];
        if (adapter.m_observing & KRModelAdapter::ObservesProject)
            adapter.projectSettingDidChange(key, on);
    }
}

void KRModelAdapterBlock::observeFunctionReferences()
{
    Observers &kept = observers();
    kept.functionsScheduled = false;
    std::vector<std::uint16_t> pending;
    pending.swap(kept.functionsPending);
    const auto o = m_object.lock();
    if (!o)
        return;
    const std::shared_ptr<KRPageBase> p = o->page();
    if (!p)
        return;
    if (kept.functionMembers.empty() && !pending.empty())
        KRModelAdapterFollowers::followFunctions(*p, *this);
    for (const std::uint16_t index : pending) {
        m_adapters[index].m_observing |= KRModelAdapter::ObservesFunctions;
        kept.functionMembers.push_back(index);
    }
}

void KRModelAdapterBlock::pageDidDeleteObject(const KRNotification &notification)
{
    const std::shared_ptr<KRModelAdapterBlock> keep = m_self.lock(); // lives through the calls
    if (!keep)
        return;
    const std::size_t count = m_observers->functionMembers.size();
    for (std::size_t i = 0; i < count; ++i)
        m_adapters[m_observers->functionMembers[i]].pageDidDeleteObject(notification);
}

void KRModelAdapterBlock::pageFunctionDidChangeID(const KRNotification &notification)
{
    const std::shared_ptr<KRModelAdapterBlock> keep = m_self.lock(); // lives through the calls
    if (!keep)
        return;
    const std::size_t count = m_observers->functionMembers.size();
    for (std::size_t i = 0; i < count; ++i)
        m_adapters[m_observers->functionMembers[i]].pageFunctionDidChangeID(notification);
}

KRModelAdapterBlock::~KRModelAdapterBlock()
{
    if (m_observers) {
        for (const auto &list : m_observers->followers) {
            if (const auto followers = list.lock())
                followers->leave(*m_observers);
        }
    }
    m_observers.reset(); // no observer calls an adapter that is going
    delete m_readAhead; // set up cut short
    // Their room goes with the block's.
    while (m_count > 0)
        m_adapters[--m_count].~KRModelAdapter();
}

std::shared_ptr<KRModelAdapter> KRModelAdapterBlock::pointer(std::size_t index)
{
    std::shared_ptr<KRModelAdapterBlock> owner = m_self.lock();
    if (!owner || index >= m_count)
        return nullptr;
    return std::shared_ptr<KRModelAdapter>(std::move(owner), m_adapters + index);
}

qsizetype KRModelAdapterBlock::indexOf(const QString &krKey, std::size_t hint) const
{
    if (m_count == 0)
        return -1;
    const std::size_t start = hint < m_count ? hint : 0;
    std::size_t i = start;
    do {
        if (krSameString(m_adapters[i].descriptor().kr_propertyName(), krKey))
            return qsizetype(i);
        i = i + 1 < m_count ? i + 1 : 0;
    } while (i != start);
    return -1;
}

void KRModelAdapterBlock::readAttributesAhead(const std::vector<QByteArray> &names)
{
    if (m_count == 0 || names.size() != m_count)
        return;
    dropAttributesReadAhead();
    auto &spares = ReadAhead::spares();
    std::unique_ptr<ReadAhead> read;
    if (spares.empty()) {
        read = std::make_unique<ReadAhead>();
    } else {
        read = std::move(spares.back());
        spares.pop_back();
    }
    read->values.resize(m_count);
    m_element.attributeValues(names.data(), qsizetype(m_count), read->values.data());
    // An attribute not found is absent: its adapter takes the null value (and adds it).
    read->pending.resize(m_count);
    const std::vector<char> *quiet = m_designMode ? nullptr : &quietWhenFirstEmpty(*m_table);
    for (std::size_t i = 0; i < m_count; ++i) {
        read->pending[i] = names[i].isEmpty() ? kTaken
            : quiet && (*quiet)[i]           ? kPendingQuietWhenEmpty
                                             : kPending;
    }
    m_readAhead = read.release();
}

void KRModelAdapterBlock::dropAttributesReadAhead()
{
    if (!m_readAhead)
        return;
    std::unique_ptr<ReadAhead> read(std::exchange(m_readAhead, nullptr));
    read->values.clear();
    read->pending.clear();
    ReadAhead::spares().push_back(std::move(read));
}

KRModelAdapter::KRModelAdapter(const KRPropertyDescriptor &descriptor, KRModelAdapterBlock &block)
    : m_block(&block)
{
    Q_UNUSED(descriptor); // the table's at the adapter's place (see descriptor())
}


void KRModelAdapter::setDOMWriter(std::shared_ptr<KRModelAdapterDOMWriter> writer)
{
    writerStorage() = std::move(writer);
    writerSerial().fetch_add(1, std::memory_order_release);
}

std::shared_ptr<KRModelAdapterDOMWriter> KRModelAdapter::domWriter()
{
    return writerStorage();
}

void KRModelAdapter::setDescriptor(const KRPropertyDescriptor &descriptor)
{
    // Kept by the block (an adapter is small: an object has some fifty).
    const std::size_t index = std::size_t(this - m_block->m_adapters);
    auto copy = std::make_unique<KRPropertyDescriptor>(descriptor);
    m_ownDescriptor = true;
    for (auto &[at, own] : m_block->m_ownDescriptors) {
        if (at == index) {
            own = std::move(copy);
            return;
        }
    }
    m_block->m_ownDescriptors.emplace_back(index, std::move(copy));
}

const KRPropertyDescriptor &KRModelAdapterBlock::ownDescriptor(std::size_t index) const
{
    for (const auto &[at, own] : m_ownDescriptors) {
        if (at == index)
            return *own;
    }
    KR_FATAL("an adapter's own descriptor is missing");
}

std::shared_ptr<DOMElement> KRModelAdapter::domElement() const
{
    if (m_domElement) {
        for (const std::shared_ptr<DOMElement> &held : m_block->m_domElements) {
            if (held.get() == m_domElement)
                return held;
        }
    }
    return nullptr;
}

void KRModelAdapter::setDomElement(const std::shared_ptr<DOMElement> &element)
{
    DOMElement *const old = m_domElement;
    if (old == element.get())
        return;
    std::vector<std::shared_ptr<DOMElement>> &held = m_block->m_domElements;
    if (element && std::none_of(held.begin(), held.end(), [&](const auto &e) { return e.get() == element.get(); }))
        held.push_back(element);
    m_domElement = element.get();
    if (!old)
        return;
    // The block lets the element go once none of its adapters has it.
    for (std::size_t i = 0; i < m_block->m_count; ++i) {
        if (m_block->m_adapters[i].m_domElement == old)
            return;
    }
    const auto it = std::find_if(held.begin(), held.end(), [&](const auto &e) { return e.get() == old; });
    if (it == held.end())
        return;
    const std::shared_ptr<DOMElement> released = std::move(*it); // goes once the list is whole
    held.erase(it);
}

std::shared_ptr<KRObject> KRModelAdapter::object() const
{
    return m_block->m_object.lock();
}

KRObject *KRModelAdapter::liveObject() const
{
    return m_block->m_object.expired() ? nullptr : m_block->m_objectPointer;
}

std::shared_ptr<KRPageBase> KRModelAdapter::page() const
{
    return m_block->m_page.lock();
}

std::shared_ptr<KRProjectBase> KRModelAdapter::project() const
{
    if (m_block->m_designMode)
        return m_block->m_project.lock();
    const auto p = m_block->m_page.lock();
    return p ? p->pageProject() : nullptr;
}

KRXMLElement KRModelAdapter::xmlElement() const
{
    return m_block->m_element;
}


bool KRModelAdapter::designMode() const
{
    return m_block->m_designMode;
}

std::shared_ptr<KRModelAdapter> KRModelAdapter::sharedPointer()
{
    return m_block->pointer(std::size_t(this - m_block->m_adapters));
}

QString KRModelAdapter::currentDevice() const
{
    const auto p = project();
    const QString target = p ? p->designTarget() : QString();
    return target.isEmpty() ? kDefaultDevice : target;
}

QString KRModelAdapter::xmlAttributeValue()
{
    QString text;
    const std::size_t index = std::size_t(this - m_block->m_adapters);
    if (KRModelAdapterBlock::ReadAhead *read = m_block->m_readAhead; read && !m_ownDescriptor && read->pending[index]) {
        read->pending[index] = false;
        text = std::move(read->values[index]);
    } else {
        text = m_block->m_element.attributeForUTF8Name(descriptor().propertyNameUTF8());
    }
    if (text.isNull()) {
        // Written with the project as an empty attribute; until then it takes a name's room.
        m_block->m_element.addEmptyAttribute(descriptor().propertyNameUTF8());
        text = QLatin1String("");
    }
    return text;
}

QString KRModelAdapter::xmlValue()
{
    if (descriptor().hasOption(KRAdapterOptionXMLText))
        return ownText(m_block->m_element);
    if (descriptor().hasOption(KRAdapterOptionXMLChildElement)) {
        const KRXMLNode child = std::as_const(m_block->m_element).firstElementForName(descriptor().propertyName());
        return child.isNull() ? QString(QLatin1String("")) : child.stringValue();
    }
    QString text = xmlAttributeValue();
    // Only an object can hold per-device values: the project is asked about no other text.
    if (!descriptor().hasOption(KRAdapterOptionPerDevice) || !text.startsWith(QLatin1Char('{')))
        return text;
    return perDeviceValue(text);
}

KRResult<void> KRModelAdapter::checkJSONValueDepth(const KRXMLNode &element)
{
    const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    // Only text that opens with a bracket can nest at all: the others are passed by one look.
    const auto refusal = [](const KRXMLNode &object, const QString &property, const QString &text) -> std::optional<KRError> {
        const QString trimmed = text.trimmed();
        if (!trimmed.startsWith(QLatin1Char('[')) && !trimmed.startsWith(QLatin1Char('{')))
            return std::nullopt;
        const QByteArray utf8 = trimmed.toUtf8();
        const KRResult<void> within = KRJSONSerialization::checkDepth(std::string_view(utf8.constData(), std::size_t(utf8.size())));
        if (within)
            return std::nullopt;
        const int depth = within.error().userInfo().value(QStringLiteral("depth")).toInt();
        const QString id = object.attribute(QStringLiteral("id"));
        const QString name = id.size() > 60 ? id.left(59) + QChar(0x2026) : id;
        const QString owner = name.isEmpty() ? object.name() : QStringLiteral("%1 \u201C%2\u201D").arg(object.name(), name);
        const QString reason = QStringLiteral("line %1: the value \u201C%2\u201D of the %3 %4")
                                   .arg(object.lineNumber())
                                   .arg(property, owner, KRJSONSerialization::tooDeepReason(depth));
        return KRError(KRJSONSerialization::errorDomain, 2, reason,
                       {{QStringLiteral("line"), object.lineNumber()}, {QStringLiteral("property"), property},
                        {QStringLiteral("depth"), depth}, {QStringLiteral("refused"), true}});
    };
    // A document nests its elements no deeper than it may be read: the stack stays small.
    QList<KRXMLNode> pending{element};
    while (!pending.isEmpty()) {
        const KRXMLNode object = pending.takeLast();
        if (object.name() == QLatin1String("KRProject")) {
            // The project's settings, no object: its include lists are JSON arrays of names.
            for (const QString &key : {QStringLiteral("javascriptIncludes"), QStringLiteral("cssIncludes")}) {
                if (std::optional<KRError> refused = refusal(object, key, object.attribute(key)))
                    return *refused;
            }
        } else if (registry.classNamed(object.name())) {
            for (const KRPropertyDescriptor &descriptor : *registry.descriptorTablePointer(object.name())) {
                const bool items = descriptor.hasOption(KRAdapterOptionJSONValue);
                if (!items && !descriptor.hasOption(KRAdapterOptionPerDevice))
                    continue;
                // Per-device values are kept in attributes; item lists in either.
                const bool ownTextValue = descriptor.hasOption(KRAdapterOptionXMLText);
                if (!items && (ownTextValue || descriptor.hasOption(KRAdapterOptionXMLChildElement)))
                    continue;
                const QString text = ownTextValue ? ownText(object) : object.attribute(descriptor.propertyName());
                if (std::optional<KRError> refused = refusal(object, descriptor.propertyName(), text))
                    return *refused;
            }
        }
        const QList<KRXMLNode> below = object.elements();
        for (auto it = below.crbegin(); it != below.crend(); ++it)
            pending.append(*it);
    }
    return {};
}

// Apart from xmlValue, which every adapter of every object runs through on enabling: the
// JSON work weighs on none of them.
Q_NEVER_INLINE QString KRModelAdapter::perDeviceValue(const QString &text) const
{
    const auto p = project();
    if (!p || !p->autoAdjustObjects())
        return text;
    const std::optional<ordered_json> json = parseObject(text);
    if (!json)
        return QString(QLatin1String(""));
    const std::string device = currentDevice().toStdString();
    if (json->contains(device)) {
        const QString value = entryText((*json)[device]);
        if (!value.isEmpty())
            return value;
    }
    const auto devices = KRObjectInfo::sharedInstance().deviceInformation();
    for (const QString &id : devices.keyEnumerator()) {
        const std::string key = id.toStdString();
        if (json->contains(key)) {
            const QString value = entryText((*json)[key]);
            if (!value.isEmpty())
                return value;
        }
    }
    return QString(QLatin1String(""));
}

namespace {

// Tells whoever shows the project that the property of `element` keeps `text` without the
// characters a project file cannot hold.
void krTellOfReplacedCharacters(const KRProjectBase &project, const KRXMLNode &element, const QString &property)
{
    const std::shared_ptr<KRDocument> document = project.krDocument();
    if (!document)
        return;
    QString page;
    for (KRXMLNode node = element; !node.isNull() && node.isElement(); node = node.parent()) {
        if (node.name() == QLatin1String("KRPage")) {
            page = node.attribute(QStringLiteral("id"));
            break;
        }
    }
    const QString owner = KRDocument::objectPlace(element.name(), element.attribute(QStringLiteral("id")), page);
    const QString message =
        QStringLiteral("The value of \u201C%1\u201D of %2 held characters that a project file cannot hold: each was "
                       "replaced by \u201C\uFFFD\u201D, or left out if it was a control character.")
            .arg(property, owner);
    KR_LOG(message);
    KRNotificationCenter::defaultCenter().post(KRDocumentDidReplaceCharactersNotification, document->identity(),
                                               {{QStringLiteral("message"), message}});
}

} // namespace

void KRModelAdapter::updateXML(const QString &value)
{
    const QString text = value.isNull() ? QString(QLatin1String("")) : value;
    const auto p = project();
    const bool perDevice = descriptor().hasOption(KRAdapterOptionPerDevice) && p && p->autoAdjustObjects()
        && !descriptor().hasOption(KRAdapterOptionXMLText) && !descriptor().hasOption(KRAdapterOptionXMLChildElement);
    // Per-device values are JSON, which keeps every character as an escape.
    if (!perDevice && p && !KRXMLDocument::isStorable(text))
        krTellOfReplacedCharacters(*p, m_block->m_element, descriptor().propertyName());
    if (descriptor().hasOption(KRAdapterOptionXMLText)) {
        setOwnText(m_block->m_element, text);
        return;
    }
    if (descriptor().hasOption(KRAdapterOptionXMLChildElement)) {
        KRXMLNode child = m_block->m_element.firstElementForName(descriptor().propertyName(), true);
        child.setStringValue(text);
        return;
    }
    if (perDevice) {
        ordered_json json = parseObject(m_block->m_element.attribute(descriptor().propertyName())).value_or(ordered_json::object());
        json[currentDevice().toStdString()] = text.toStdString();
        m_block->m_element.setAttribute(descriptor().propertyName(), KRJSONSerialization::storableText(json));
        return;
    }
    m_block->m_element.setAttribute(descriptor().propertyName(), text);
}

void KRModelAdapter::updateDOM(const QString &value)
{
    // Writers are installed between edits, never while one writes.
    if (KRModelAdapterDOMWriter *writer = writerStorage().get())
        writer->updateDOM(*this, value);
}

void KRModelAdapter::setKRObjectProperty(const QString &value)
{
    if (const auto o = object())
        o->setValue(descriptor().kr_propertyName(), value);
}

bool KRModelAdapter::takeEmptyFirstValue(const QString &value)
{
    if (!value.isEmpty() || m_ownDescriptor)
        return false;
    KRObject *const o = liveObject();
    const KRModelAdapterDOMWriter *writer = writerStorage().get();
    if (!o || (writer && !writer->writesNothing(*this, value)))
        return false;
    QString taken = value;
    return o->storeEmptyFirstValue(m_block->table(), std::size_t(this - m_block->m_adapters), taken);
}

void KRModelAdapter::enable()
{
    // Outside design mode most attributes of an object were read ahead empty: one is taken
    // straight from there when storing it is all enabling would do (as below, without the
    // way through xmlValue).
    if (KRModelAdapterBlock::ReadAhead *const read = m_block->m_readAhead; read && !m_block->m_designMode) {
        const std::size_t index = std::size_t(this - m_block->m_adapters);
        QString &ahead = read->values[index];
        const char state = read->pending[index];
        if (state != kTaken && ahead.isEmpty() && !ahead.isNull()) {
            // Known for the descriptor, the writer is not asked again. A value taken is not
            // read again.
            KRObject *const o = state == kPendingQuietWhenEmpty && !m_ownDescriptor ? liveObject() : nullptr;
            if (o ? o->storeEmptyFirstValue(m_block->m_table, index, ahead)
                  : !descriptor().hasOption(KRAdapterOptionXMLText) && !descriptor().hasOption(KRAdapterOptionXMLChildElement)
                        && takeEmptyFirstValue(ahead)) {
                read->pending[index] = kTaken;
                m_enabled = true;
                return;
            }
        }
    }
    const QString value = xmlValue();
    if (designMode()) {
        setKRObjectProperty(value);
        updateDOM(value);
        startObserving();
    } else if (!takeEmptyFirstValue(value)) {
        // Outside design mode most properties of an object read empty: takeEmptyFirstValue
        // put such a value straight into the object when neither the object nor the design
        // document would do more with it. Others go the usual way, to the object that is
        // enabling its adapters (so it lives meanwhile).
        if (KRObject *const o = liveObject())
            o->setValue(descriptor().kr_propertyName(), value);
        updateDOM(value);
    }
    m_enabled = true;
}

// Apart from enable for the same reason.
Q_NEVER_INLINE void KRModelAdapter::startObserving()
{
    KRModelAdapterBlock &block = *m_block;
    const std::size_t index = std::size_t(this - block.m_adapters);
    if (const auto o = object()) {
        m_objectGroup = block.objectGroupFor();
        m_observing |= ObservesObject;
    }
    const auto p = project();
    if (descriptor().hasOption(KRAdapterOptionPerDevice) && p) {
        KRModelAdapterBlock::Observers &observers = block.observers();
        if (observers.projectMembers.empty())
            KRModelAdapterFollowers::followSettings(*p, block);
        observers.projectMembers.push_back(std::uint16_t(index));
        m_observing |= ObservesProject;
    }
    if (descriptor().hasOption(KRAdapterOptionFunctionReference)) {
        // Registered after the current work, when the object has its page.
        KRModelAdapterBlock::Observers &observers = block.observers();
        observers.functionsPending.push_back(std::uint16_t(index));
        if (!observers.functionsScheduled) {
            observers.functionsScheduled = true;
            const std::weak_ptr<KRModelAdapterBlock> weakBlock = block.m_self;
            QTimer::singleShot(0, [weakBlock] {
                if (const auto self = weakBlock.lock())
                    self->observeFunctionReferences();
            });
        }
    }
}

void KRModelAdapter::objectPropertyDidChange(const QString &value)
{
    const auto o = object();
    if (!o)
        return;
    updateDOM(value);
    updateXML(value);
    if (descriptor().hasOption(KRAdapterOptionUpdateDesignView))
        o->updateDesignView(*this, value);
    if (descriptor().hasOption(KRAdapterOptionCheckSize))
        o->checkSize();
}

void KRModelAdapter::projectSettingDidChange(const QString &key, bool on)
{
    if (key == QLatin1String("designTarget")) {
        const QString value = xmlValue();
        setKRObjectProperty(value);
        updateDOM(value);
    } else if (key == QLatin1String("autoAdjustObjects")) {
        const QString text = xmlAttributeValue();
        if (on) {
            if (!text.isEmpty() && !text.startsWith(QLatin1Char('{')))
                updateXML(text);
        } else if (text.startsWith(QLatin1Char('{'))) {
            const std::optional<ordered_json> json = parseObject(text);
            QString value = QLatin1String("");
            if (json) {
                if (json->contains("iPhone"))
                    value = entryText((*json)["iPhone"]);
                if (value.isEmpty() && !json->empty())
                    value = entryText(json->begin().value());
            }
            updateXML(value);
            updateDOM(value);
            setKRObjectProperty(value);
        }
    } else if (key == QLatin1String("kvoCleanup")) {
        removeProjectObservers();
    }
}

void KRModelAdapter::removeProjectObservers()
{
    m_observing &= std::uint8_t(~ObservesProject);
}

void KRModelAdapter::pageDidDeleteObject(const KRNotification &notification)
{
    const auto o = object();
    const auto function = KRFunction::deletedBy(notification);
    if (!o || !function)
        return;
    const QString current = o->value(descriptor().kr_propertyName());
    if (!current.isEmpty() && current == function->kr_id())
        o->setValue(descriptor().kr_propertyName(), QString(QLatin1String("")));
}

void KRModelAdapter::pageFunctionDidChangeID(const KRNotification &notification)
{
    const auto o = object();
    if (!o)
        return;
    const QString current = o->value(descriptor().kr_propertyName());
    if (!current.isEmpty() && current == notification.userInfo.value(QStringLiteral("oldID")).toString())
        o->setValue(descriptor().kr_propertyName(), notification.userInfo.value(QStringLiteral("newID")).toString());
}

bool KRModelAdapter::mayHaveJSPropertyInit(const KRPropertyDescriptor &descriptor)
{
    constexpr std::uint32_t scriptOptions = KRAdapterOptionJSString | KRAdapterOptionJSNumber | KRAdapterOptionJSBoolean
        | KRAdapterOptionJSRaw | KRAdapterOptionEvent | KRAdapterOptionPerDevice | KRAdapterOptionJSCustom;
    return (descriptor.adapterOptions() & scriptOptions) != 0;
}

QString KRModelAdapter::objectValue(const KRObject &object) const
{
    const QString *slot = m_ownDescriptor ? nullptr
                                          : object.valueForDescriptor(m_block->table(), std::size_t(this - m_block->m_adapters));
    return slot ? *slot : object.value(descriptor().kr_propertyName());
}

bool KRModelAdapter::writeJSPropertyInit(DOMTextWriter &out, QStringView prefix, const QString *pageID) const
{
    const auto writeStart = [&] {
        out.append(prefix);
        out.append(descriptor().propertyName());
        out.append(QLatin1String(" = "));
    };
    // A string literal of printable ASCII without a character the literal escapes is the text
    // itself in quotes: written so, without making the literal first. Anything else goes the
    // usual way.
    const auto writeQuoted = [&](const QString &text) {
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u < 0x20 || u > 0x7e || u == '\\' || u == '"' || u == '/' || u == '<')
                return false;
        }
        writeStart();
        out.append(QLatin1Char('"'));
        out.append(text);
        out.append(QLatin1String("\";\n"));
        return true;
    };
    const std::uint32_t options = descriptor().adapterOptions();
    const KRObject *const o = liveObject(); // whoever asks holds the object
    if (!o)
        return false;
    if (options & KRAdapterOptionJSString) {
        const QString v = objectValue(*o);
        if (v.isEmpty())
            return false;
        if (writeQuoted(v))
            return true;
    }
    // A per-device text as above, when jsPropertyInit would take it as one (no option tried
    // before it set).
    constexpr std::uint32_t triedFirst = KRAdapterOptionJSString | KRAdapterOptionJSNumber | KRAdapterOptionJSBoolean
        | KRAdapterOptionJSRaw | KRAdapterOptionEvent;
    if ((options & triedFirst) == 0 && (options & KRAdapterOptionPerDevice)) {
        const QString text = m_block->m_element.attributeForUTF8Name(descriptor().propertyNameUTF8());
        if (text.isEmpty())
            return false;
        if (!text.startsWith(QLatin1Char('{')) && writeQuoted(text))
            return true;
    }
    const QString init = jsPropertyInit(pageID);
    if (init.isEmpty())
        return false;
    writeStart();
    out.append(init);
    out.append(QLatin1String(";\n"));
    return true;
}

QString KRModelAdapter::jsPropertyInit(const QString *knownPageID) const
{
    // Most properties have no initialiser at all: answered without reading the value.
    if (!mayHaveJSPropertyInit(descriptor()))
        return {};
    KRObject *const o = liveObject(); // whoever asks holds the object
    if (!o)
        return {};
    const QString v = objectValue(*o);
    const auto nonEmpty = [](const QString &text) { return text.isEmpty() ? QString() : text; };
    if (descriptor().hasOption(KRAdapterOptionJSString))
        return v.isEmpty() ? QString() : KRJavaScript::quotedString(v);
    if (descriptor().hasOption(KRAdapterOptionJSNumber))
        return v.isEmpty() ? QString() : nonEmpty(KRJavaScript::numberLiteral(v));
    if (descriptor().hasOption(KRAdapterOptionJSBoolean)) {
        if (v.isEmpty())
            return {};
        return v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ? QStringLiteral("true")
                                                                           : QStringLiteral("false");
    }
    if (descriptor().hasOption(KRAdapterOptionJSRaw))
        return nonEmpty(v);
    if (descriptor().hasOption(KRAdapterOptionEvent)) {
        QString pageID;
        if (knownPageID) {
            pageID = *knownPageID;
        } else {
            const auto p = o->page();
            pageID = p ? p->kr_id() : QString();
        }
        // Both names go into code: only identifiers make a reference.
        if (v.isEmpty() || !KRJavaScript::isValidIdentifier(v) || !KRJavaScript::isValidIdentifier(pageID))
            return {};
        return QLatin1String("application._pages.") + pageID + QLatin1String("._events.") + v;
    }
    if (descriptor().hasOption(KRAdapterOptionPerDevice)) {
        const QString text = m_block->m_element.attributeForUTF8Name(descriptor().propertyNameUTF8());
        if (text.isEmpty())
            return {};
        if (text.startsWith(QLatin1Char('{'))) {
            // Emitted as an object literal only when it is one; re-serialised so that nothing
            // but JSON reaches the script.
            const std::optional<ordered_json> json = parseObject(text);
            return json ? QString::fromStdString(json->dump(-1, ' ', true)).replace(QStringLiteral("</"), QStringLiteral("<\\/"))
                        : QString();
        }
        return KRJavaScript::quotedString(text);
    }
    if (descriptor().hasOption(KRAdapterOptionJSCustom))
        return nonEmpty(o->jsInitializerForKey(descriptor().kr_propertyName()));
    return {};
}
