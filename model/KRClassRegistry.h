#pragma once

#include <core/KRXMLNode.h>
#include <model/KRObjectClass.h>
#include <platform/foundation/KRError.h>

#include <QHash>
#include <QSet>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class KRObject;
class KRPageBase;

// Page-object classes by name. The model registers "KRObject" and "KRFunction"; each
// library of object classes registers its own at start-up, and the plug-in loader registers
// plug-in classes at run time. Classes are registered and removed on the main thread while
// nothing else uses the registry; the other calls may come from several threads at once (a
// build makes its pages side by side).
class KRClassRegistry
{
public:
    static KRClassRegistry &sharedInstance();
    KRClassRegistry();

    // Adds a class. Errors: an empty or taken name, an unknown superclass, no factory
    // anywhere in the chain below the nearest abstract class, or a factory given to an abstract
    // class (domain "Korvane", code 200).
    KRResult<void> registerClass(KRObjectClass objectClass);
    // Removes a class registered at run time (tests, plug-in unloading).
    void unregisterClass(const QString &className);

    const KRObjectClass *classNamed(const QString &className) const;
    bool isKindOf(const QString &className, const QString &ancestor) const;
    // A registered class whose objects can be made: neither unknown nor abstract.
    bool isInstantiable(const QString &className) const;
    // The whole table: superclass descriptors first; a descriptor of a name already present
    // replaces that one in its place. Cached; the table stays valid while the pointer is held,
    // whatever is registered meanwhile.
    std::shared_ptr<const std::vector<KRPropertyDescriptor>> descriptorTablePointer(const QString &className) const;
    // The same; valid until the next registerClass or unregisterClass.
    const std::vector<KRPropertyDescriptor> &descriptorTable(const QString &className) const
    {
        return *descriptorTablePointer(className);
    }
    // The position of each "kr_" key in the class's current table; built once per table.
    std::shared_ptr<const QHash<QString, qsizetype>> descriptorIndexPointer(const QString &className) const;
    // The class's table and its index, as above, held without counting: a table or index the
    // registry lets go of when the classes change is kept for as long as the registry lives.
    // Every object holds its class's: pages made side by side then do not count on the same
    // reference.
    const std::vector<KRPropertyDescriptor> *lastingDescriptorTable(const QString &className) const;
    const QHash<QString, qsizetype> *lastingDescriptorIndex(const QString &className) const;
    // The positions in `table` of the descriptors whose adapters may write a script
    // initialiser, in table order; null unless `table` is the class's current table. What the
    // pointer points to lives as long as the table stays the class's, whoever holds a copy.
    const std::shared_ptr<const std::vector<std::size_t>> &
    jsInitializerPositions(const QString &className, const std::vector<KRPropertyDescriptor> *table) const;
    // For each descriptor of `table`, the name of the attribute it alone is stored in (empty
    // for the others); null unless `table` is the class's current table. The same lifetime.
    const std::shared_ptr<const std::vector<QByteArray>> &
    attributeNames(const QString &className, const std::vector<KRPropertyDescriptor> *table) const;
    QSet<QString> objectProperties(const QString &className) const;
    QString idBase(const QString &className) const;
    // Every element and attribute name the objects of the registered classes may write: the
    // names of the instantiable classes and of their properties stored in attributes or child
    // elements. Made anew once the classes change; the set and the bytes its views refer to
    // last while the pointer is held.
    std::shared_ptr<const QSet<QByteArrayView>> writtenNames() const;

    // Makes and sets up an object of the element's class (or className when given). An
    // unknown or abstract class or an element without id (and no initial id) is an error,
    // never a crash. `elementID`, when not null, is the element's "id" as the caller read it.
    KRResult<std::shared_ptr<KRObject>> makeObject(const QString &className, const KRXMLElement &element,
                                                   const std::shared_ptr<KRPageBase> &page,
                                                   const std::shared_ptr<KRObject> &parent,
                                                   const QString &initialID, bool designMode,
                                                   const QString &elementID = QString()) const;

private:
    const KRObjectClass::Factory *factoryFor(const QString &className) const;
    // A class as registered, with its superclass (null: none, or not registered) set anew
    // whenever the classes change: the chains are walked for every object.
    struct RegisteredClass : KRObjectClass
    {
        const KRObjectClass *superclass = nullptr;
    };
    QHash<QString, std::shared_ptr<RegisteredClass>> m_classes;
    // Of a class the registry holds (as every class it hands out).
    static const KRObjectClass *superclassOf(const KRObjectClass *objectClass)
    {
        return static_cast<const RegisteredClass *>(objectClass)->superclass;
    }
    void classesDidChange();
    // What is made when first asked for (tables, their indexes and what is derived from
    // them) is made and read under this lock.
    mutable std::mutex m_cacheLock;
    mutable QHash<QString, std::shared_ptr<const std::vector<KRPropertyDescriptor>>> m_tables;
    // Tables and indexes replaced since: objects made before hold them (see lastingDescriptorTable).
    mutable std::vector<std::shared_ptr<const void>> m_replaced;
    struct TableIndex
    {
        std::shared_ptr<const std::vector<KRPropertyDescriptor>> table; // the table it was built from
        std::shared_ptr<const QHash<QString, qsizetype>> positions;
        std::shared_ptr<const std::vector<std::size_t>> jsInitializers; // made when first asked for
        std::shared_ptr<const std::vector<QByteArray>> attributes; // the same
    };
    struct NameHash
    {
        std::size_t operator()(const QString &name) const { return qHash(name); }
    };
    // Node-based: an entry stays where it is while others are added (entries are never removed).
    mutable std::unordered_map<QString, TableIndex, NameHash> m_indexes;
    // The class's entry, brought up to its current table.
    TableIndex &indexEntry(const QString &className) const;
    // The classes each thread asked for last, by name: making one object asks for its class,
    // its superclasses and its table again and again. Kept per thread, without a lock, and
    // forgotten whenever the classes change (a new generation).
    struct Remembered
    {
        QString name;
        const KRObjectClass *objectClass = nullptr;
        std::shared_ptr<const std::vector<KRPropertyDescriptor>> table;
        TableIndex *index = nullptr; // in m_indexes, current for `table`
        std::shared_ptr<const std::vector<std::size_t>> jsInitializers; // of `index`, once asked for
        std::shared_ptr<const std::vector<QByteArray>> attributes; // the same
    };
    struct Memory
    {
        const KRClassRegistry *registry = nullptr;
        std::uint64_t generation = 0;
        std::array<Remembered, 16> entries;
        std::size_t next = 0;
        std::size_t last = 0; // the entry found or made last
    };
    std::uint64_t m_generation; // unique among all registries of the process
    // writtenNames, and the generation it was made for; under m_cacheLock.
    mutable std::shared_ptr<const QSet<QByteArrayView>> m_writtenNames;
    mutable std::uint64_t m_writtenNamesGeneration = 0;
    Memory &memory() const;
    // The entry of the name, made in place of the oldest when `make` is set; null otherwise.
    Remembered *remembered(const QString &className, bool make) const;
    // The class's entry when `table` is its current table; null otherwise.
    TableIndex *currentIndex(const QString &className, const std::vector<KRPropertyDescriptor> *table) const;
    // What is derived from the class's current table, kept in a field of its entry and of the
    // thread's remembered class: made by `make` under the lock by whichever thread asks first.
    // Null unless `table` is the class's current table.
    // Handed out by reference: copying a pointer shared by every thread of a build costs each
    // of them the same contended count.
    template <typename T, typename Make>
    const std::shared_ptr<const T> &derived(const QString &className, const std::vector<KRPropertyDescriptor> *table,
                                     std::shared_ptr<const T> TableIndex::*indexField,
                                     std::shared_ptr<const T> Remembered::*rememberedField, Make make) const;
};
