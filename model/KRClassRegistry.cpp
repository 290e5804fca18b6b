#include "KRClassRegistry.h"

#include <core/KRXMLDocument.h>
#include <model/KRFunction.h>
#include <model/KRModelAdapter.h>
#include <model/KRObject.h>
#include <model/KRPageBase.h>
#include <platform/foundation/KRException.h>

#include <atomic>
#include <utility>

namespace {
KRError registryError(const QString &text)
{
    return KRError(QStringLiteral("Korvane"), 200, text);
}

std::uint64_t newGeneration()
{
    static std::atomic<std::uint64_t> generations{0};
    return generations.fetch_add(1, std::memory_order_relaxed) + 1;
}
} // namespace

KRClassRegistry &KRClassRegistry::sharedInstance()
{
    static KRClassRegistry registry;
    return registry;
}

KRClassRegistry::KRClassRegistry() : m_generation(newGeneration())
{
    KRObjectClass base;
    base.className = QStringLiteral("KRObject");
    base.idBase = QStringLiteral("object");
    base.descriptors = {KRPropertyDescriptor(QStringLiteral("id"), QStringLiteral("id"), QString(),
                                             KRAdapterOptionPagePrefixedID)};
    base.factory = [](const KRObjectInit &init) { return std::make_shared<KRObject>(init); };
    registerClass(std::move(base));
    registerClass(KRFunction::objectClass());
}

KRResult<void> KRClassRegistry::registerClass(KRObjectClass objectClass)
{
    if (objectClass.className.isEmpty())
        return registryError(QStringLiteral("A class needs a name."));
    if (m_classes.contains(objectClass.className))
        return registryError(QStringLiteral("The class \"%1\" exists already.").arg(objectClass.className));
    if (!objectClass.superclassName.isEmpty() && !m_classes.contains(objectClass.superclassName))
        return registryError(QStringLiteral("The class \"%1\" names the unknown superclass \"%2\".")
                                 .arg(objectClass.className, objectClass.superclassName));
    if (objectClass.abstractClass && objectClass.factory)
        return registryError(QStringLiteral("The abstract class \"%1\" cannot have a factory.").arg(objectClass.className));
    const QString name = objectClass.className;
    const bool abstractClass = objectClass.abstractClass;
    auto registered = std::make_shared<RegisteredClass>();
    static_cast<KRObjectClass &>(*registered) = std::move(objectClass);
    m_classes.insert(name, std::move(registered));
    {
        const std::lock_guard lock(m_cacheLock);
        // A table asked for before the class existed was empty.
        if (auto replaced = m_tables.take(name))
            m_replaced.push_back(std::move(replaced));
    }
    classesDidChange();
    if (!abstractClass && !factoryFor(name)) {
        m_classes.remove(name);
        classesDidChange();
        return registryError(QStringLiteral("The class \"%1\" has no factory.").arg(name));
    }
    return {};
}

void KRClassRegistry::unregisterClass(const QString &className)
{
    m_classes.remove(className);
    {
        const std::lock_guard lock(m_cacheLock);
        for (auto &table : m_tables)
            m_replaced.push_back(std::move(table));
        m_tables.clear();
    }
    classesDidChange();
}

void KRClassRegistry::classesDidChange()
{
    for (const auto &objectClass : std::as_const(m_classes)) {
        const auto superclass = m_classes.constFind(objectClass->superclassName);
        objectClass->superclass = superclass == m_classes.constEnd() ? nullptr : superclass->get();
    }
    m_generation = newGeneration();
}

KRClassRegistry::Memory &KRClassRegistry::memory() const
{
    thread_local Memory memory;
    if (memory.registry != this || memory.generation != m_generation) {
        memory.registry = this;
        memory.generation = m_generation;
        memory.entries.fill(Remembered{});
        memory.next = 0;
        memory.last = 0;
    }
    return memory;
}

KRClassRegistry::Remembered *KRClassRegistry::remembered(const QString &className, bool make) const
{
    Memory &memory = this->memory();
    const auto sameText = [&className](const Remembered &entry) {
        return entry.name.constData() == className.constData() && entry.name.size() == className.size()
            && !entry.name.isNull();
    };
    // The entry found last (one object asks for its class many times in a row), the same text
    // (names handed round from one class description), then equal ones.
    if (sameText(memory.entries[memory.last]))
        return &memory.entries[memory.last];
    for (std::size_t i = 0; i < memory.entries.size(); ++i) {
        if (sameText(memory.entries[i])) {
            memory.last = i;
            return &memory.entries[i];
        }
    }
    for (std::size_t i = 0; i < memory.entries.size(); ++i) {
        Remembered &entry = memory.entries[i];
        if (entry.name == className && !entry.name.isNull()) {
            // The entry takes the caller's text: whoever asked once (an object for its class)
            // asks again with the same one, then found by the searches above.
            entry.name = className;
            memory.last = i;
            return &entry;
        }
    }
    if (!make)
        return nullptr;
    memory.last = memory.next;
    Remembered &entry = memory.entries[memory.next];
    memory.next = (memory.next + 1) % memory.entries.size();
    entry = Remembered{};
    entry.name = className;
    return &entry;
}

const KRObjectClass *KRClassRegistry::classNamed(const QString &className) const
{
    if (const Remembered *entry = remembered(className, false); entry && entry->objectClass)
        return entry->objectClass;
    const auto it = m_classes.constFind(className);
    if (it == m_classes.constEnd())
        return nullptr;
    remembered(className, true)->objectClass = it->get();
    return it->get();
}

bool KRClassRegistry::isKindOf(const QString &className, const QString &ancestor) const
{
    for (const KRObjectClass *c = classNamed(className); c; c = superclassOf(c)) {
        if (krSameString(c->className, ancestor))
            return true;
    }
    return false;
}

bool KRClassRegistry::isInstantiable(const QString &className) const
{
    const KRObjectClass *c = classNamed(className);
    return c && !c->abstractClass;
}

// The nearest factory up the chain; an abstract class ends the search, so a class below one
// needs its own.
const KRObjectClass::Factory *KRClassRegistry::factoryFor(const QString &className) const
{
    for (const KRObjectClass *c = classNamed(className); c && !c->abstractClass; c = superclassOf(c)) {
        if (c->factory)
            return &c->factory;
    }
    return nullptr;
}

std::shared_ptr<const std::vector<KRPropertyDescriptor>>
KRClassRegistry::descriptorTablePointer(const QString &className) const
{
    if (const Remembered *entry = remembered(className, false); entry && entry->table)
        return entry->table;
    const std::lock_guard lock(m_cacheLock);
    const auto cached = m_tables.constFind(className);
    if (cached != m_tables.constEnd()) {
        remembered(className, true)->table = *cached;
        return *cached;
    }
    std::vector<const KRObjectClass *> chain;
    for (const KRObjectClass *c = classNamed(className); c; c = superclassOf(c))
        chain.push_back(c);
    std::vector<KRPropertyDescriptor> table;
    QHash<QString, size_t> positions;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const KRPropertyDescriptor &descriptor : (*it)->descriptors) {
            const auto at = positions.constFind(descriptor.propertyName());
            if (at != positions.constEnd()) {
                table[*at] = descriptor;
            } else {
                positions.insert(descriptor.propertyName(), table.size());
                table.push_back(descriptor);
            }
        }
    }
    auto shared = std::make_shared<const std::vector<KRPropertyDescriptor>>(std::move(table));
    m_tables.insert(className, shared);
    remembered(className, true)->table = shared;
    return shared;
}

KRClassRegistry::TableIndex &KRClassRegistry::indexEntry(const QString &className) const
{
    // Compared by address: the thread's entry holds the table while it is remembered.
    if (const Remembered *entry = remembered(className, false);
        entry && entry->table && entry->index && entry->index->table == entry->table && entry->index->positions)
        return *entry->index;
    const auto table = descriptorTablePointer(className);
    // Asked for after the table, whose making may remember other classes in its place.
    Remembered *entry = remembered(className, true);
    if (entry->index && entry->index->table == table && entry->index->positions)
        return *entry->index;
    // An index is made once per table, by whichever thread asks first; its positions are
    // not changed afterwards.
    const std::lock_guard lock(m_cacheLock);
    TableIndex &cached = m_indexes[className];
    if (cached.table != table || !cached.positions) {
        auto positions = std::make_shared<QHash<QString, qsizetype>>();
        positions->reserve(qsizetype(table->size()));
        for (std::size_t i = 0; i < table->size(); ++i)
            positions->insert((*table)[i].kr_propertyName(), qsizetype(i));
        if (cached.positions)
            m_replaced.push_back(std::move(cached.positions));
        cached.table = table;
        cached.positions = std::move(positions);
        cached.jsInitializers.reset();
        cached.attributes.reset();
    }
    entry->index = &cached;
    entry->jsInitializers.reset();
    entry->attributes.reset();
    return cached;
}

std::shared_ptr<const QHash<QString, qsizetype>> KRClassRegistry::descriptorIndexPointer(const QString &className) const
{
    return indexEntry(className).positions;
}

const std::vector<KRPropertyDescriptor> *KRClassRegistry::lastingDescriptorTable(const QString &className) const
{
    if (const Remembered *entry = remembered(className, false); entry && entry->table)
        return entry->table.get();
    return descriptorTablePointer(className).get();
}

const QHash<QString, qsizetype> *KRClassRegistry::lastingDescriptorIndex(const QString &className) const
{
    return indexEntry(className).positions.get();
}

KRClassRegistry::TableIndex *KRClassRegistry::currentIndex(const QString &className,
                                                          const std::vector<KRPropertyDescriptor> *table) const
{
    if (!table)
        return nullptr;
    TableIndex &cached = indexEntry(className);
    return cached.table.get() == table ? &cached : nullptr;
}

template <typename T, typename Make>
const std::shared_ptr<const T> &KRClassRegistry::derived(const QString &className,
                                                         const std::vector<KRPropertyDescriptor> *table,
                                                         std::shared_ptr<const T> TableIndex::*indexField,
                                                         std::shared_ptr<const T> Remembered::*rememberedField,
                                                         Make make) const
{
    static const std::shared_ptr<const T> none;
    TableIndex *index = currentIndex(className, table);
    if (!index)
        return none;
    Remembered *entry = remembered(className, true); // made by currentIndex
    if (entry->index == index && entry->*rememberedField)
        return entry->*rememberedField;
    const std::lock_guard lock(m_cacheLock);
    std::shared_ptr<const T> &cached = index->*indexField;
    if (!cached)
        cached = make();
    if (entry->index == index)
        entry->*rememberedField = cached;
    return cached; // the index's own: its fields change only when the table does
}

const std::shared_ptr<const std::vector<std::size_t>> &
KRClassRegistry::jsInitializerPositions(const QString &className, const std::vector<KRPropertyDescriptor> *table) const
{
    return derived(className, table, &TableIndex::jsInitializers, &Remembered::jsInitializers, [table] {
        auto positions = std::make_shared<std::vector<std::size_t>>();
        for (std::size_t i = 0; i < table->size(); ++i) {
            if (KRModelAdapter::mayHaveJSPropertyInit((*table)[i]))
                positions->push_back(i);
        }
        return std::shared_ptr<const std::vector<std::size_t>>(std::move(positions));
    });
}

const std::shared_ptr<const std::vector<QByteArray>> &
KRClassRegistry::attributeNames(const QString &className, const std::vector<KRPropertyDescriptor> *table) const
{
    return derived(className, table, &TableIndex::attributes, &Remembered::attributes, [table] {
        auto names = std::make_shared<std::vector<QByteArray>>(table->size());
        QHash<QByteArray, std::size_t> first;
        for (std::size_t i = 0; i < table->size(); ++i) {
            const KRPropertyDescriptor &descriptor = (*table)[i];
            if (descriptor.hasOption(KRAdapterOptionXMLText) || descriptor.hasOption(KRAdapterOptionXMLChildElement))
                continue;
            const QByteArray &name = descriptor.propertyNameUTF8();
            if (const auto other = first.constFind(name); other != first.constEnd()) {
                (*names)[*other].clear(); // stored in by two: each adapter reads it itself
                continue;
            }
            first.insert(name, i);
            (*names)[i] = name;
        }
        return std::shared_ptr<const std::vector<QByteArray>>(std::move(names));
    });
}

std::shared_ptr<const QSet<QByteArrayView>> KRClassRegistry::writtenNames() const
{
    {
        const std::lock_guard lock(m_cacheLock);
        if (m_writtenNames && m_writtenNamesGeneration == m_generation)
            return m_writtenNames;
    }
    auto written = std::make_shared<KRXMLDocument::NameSet>();
    for (auto c = m_classes.constBegin(); c != m_classes.constEnd(); ++c) {
        if (!isInstantiable(c.key()))
            continue;
        written->insert(c.key().toUtf8());
        for (const KRPropertyDescriptor &descriptor : *descriptorTablePointer(c.key())) {
            if (!descriptor.hasOption(KRAdapterOptionXMLText))
                written->insert(descriptor.propertyNameUTF8());
        }
    }
    const std::lock_guard lock(m_cacheLock);
    m_writtenNames = KRXMLDocument::NameSet::share(written);
    m_writtenNamesGeneration = m_generation;
    return m_writtenNames;
}

QSet<QString> KRClassRegistry::objectProperties(const QString &className) const
{
    QSet<QString> names{QStringLiteral("enableUndo"), QStringLiteral("children")};
    for (const KRPropertyDescriptor &descriptor : descriptorTable(className))
        names.insert(descriptor.kr_propertyName());
    for (const KRObjectClass *c = classNamed(className); c; c = superclassOf(c)) {
        for (const QString &key : c->extraProperties)
            names.insert(key);
    }
    return names;
}

QString KRClassRegistry::idBase(const QString &className) const
{
    for (const KRObjectClass *c = classNamed(className); c; c = superclassOf(c)) {
        if (!c->idBase.isEmpty())
            return c->idBase;
    }
    return QStringLiteral("object");
}

KRResult<std::shared_ptr<KRObject>>
KRClassRegistry::makeObject(const QString &className, const KRXMLElement &element,
                            const std::shared_ptr<KRPageBase> &page, const std::shared_ptr<KRObject> &parent,
                            const QString &initialID, bool designMode, const QString &knownElementID) const
{
    const QString name = className.isEmpty() ? element.name() : className;
    const KRObjectClass *objectClass = classNamed(name);
    if (!objectClass)
        return KRError(KRExceptionName::InvalidElement, 1, QStringLiteral("Unknown object class \"%1\"").arg(name));
    const KRObjectClass::Factory *factory = factoryFor(name);
    if (!factory)
        return KRError(KRExceptionName::InvalidElement, 1, QStringLiteral("Abstract object class \"%1\"").arg(name));
    if (element.isNull() || !element.isElement())
        return KRError(KRExceptionName::InvalidElement, 2, QStringLiteral("Invalid element"));
    QString elementID;
    if (initialID.isEmpty()) {
        elementID = knownElementID.isNull() ? element.attribute(QStringLiteral("id")) : knownElementID;
        if (elementID.isEmpty())
            return KRError(KRExceptionName::InvalidElement, 3, QStringLiteral("Invalid kr_id"));
    }
    KRObjectInit init;
    init.elementID = std::move(elementID); // read once
    init.objectClass = objectClass;
    init.element = element;
    init.page = page;
    init.parent = parent;
    init.initialID = initialID;
    init.designMode = designMode;
    std::shared_ptr<KRObject> object = (*factory)(init);
    // A class that makes no object here (a page is made by its project only).
    if (!object)
        return KRError(KRExceptionName::InvalidElement, 4, QStringLiteral("Invalid KRObject class instance: '%1'").arg(name));
    object->setUp();
    return object;
}
