#include "KRObject.h"

#include <core/KRJavaScript.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRDocumentWindowController.h>
#include <model/KRFunction.h>
#include <model/KRModelAdapter.h>
#include <model/KRObjectClass.h>
#include <model/KRObjectInfo.h>
#include <model/KRPageBase.h>
#include <model/KRProjectBase.h>
#include <platform/dom/DOMTextWriter.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRUndoManager.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace {
KRError idError(const QString &text)
{
    return KRError(QStringLiteral("Korvane"), 100, text);
}

// The slot of a key in a class's value table. Properties are nearly always asked for by the
// same few literal names, and hashing a string costs far more than comparing one: each thread
// remembers the slot found for a table and the address of a key's text. What it remembers is
// only a guess, checked against the table's own name for the slot before it is used, so a
// table or a text freed and made again at the same address can never mislead it.
qsizetype tableSlot(const std::vector<KRPropertyDescriptor> &table, const QHash<QString, qsizetype> &index,
                    const QString &key)
{
    struct Guess
    {
        const void *table = nullptr;
        const QChar *key = nullptr;
        std::size_t slot = 0;
    };
    // Room for every key a page's classes read (some hundreds of table and key pairs), two
    // places for each, so that they do not push each other out page after page.
    constexpr unsigned guessBits = 10;
    thread_local std::array<Guess, std::size_t(1) << guessBits> guesses;
    const auto bits = (std::uint64_t(reinterpret_cast<std::uintptr_t>(key.constData())) * 0x9E3779B97F4A7C15u)
        ^ std::uint64_t(reinterpret_cast<std::uintptr_t>(&table));
    Guess *const pair = &guesses[((bits * 0x9E3779B97F4A7C15u) >> (64 - guessBits)) & ~std::uint64_t(1)];
    for (int place = 0; place < 2; ++place) {
        const Guess &guess = pair[place];
        if (guess.table == &table && guess.key == key.constData() && guess.slot < table.size()
            && krSameString(table[guess.slot].kr_propertyName(), key))
            return qsizetype(guess.slot);
    }
    const auto found = index.constFind(key);
    if (found == index.constEnd())
        return -1;
    // The newest guess first; the one it replaces there stays second.
    pair[1] = pair[0];
    pair[0] = Guess{&table, key.constData(), std::size_t(*found)};
    return *found;
}
} // namespace

KRObject::KRObject(const KRObjectInit &init)
    : m_class(init.objectClass), m_xmlElement(init.element), m_owningPage(init.page), m_parent(init.parent),
      m_observable(this), m_designMode(init.designMode)
{
    KR_ASSERT(m_class, "objects are made through the class registry");
    // Held by pointer: enabling may run observers that register classes.
    const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    m_valueTable = registry.lastingDescriptorTable(m_class->className);
    m_valueIndex = registry.lastingDescriptorIndex(m_class->className);
    m_tableValues.resize(m_valueTable->size());
    if (m_valueIndex)
        m_idSlot = tableSlot(*m_valueTable, *m_valueIndex, QStringLiteral("kr_id"));
    QString &id = m_idSlot >= 0 ? m_tableValues[std::size_t(m_idSlot)] : valueStorage(QStringLiteral("kr_id"));
    if (!init.initialID.isEmpty()) {
        id = init.initialID;
        m_xmlElement.setAttribute(QStringLiteral("id"), init.initialID);
    } else {
        id = init.elementID.isNull() ? m_xmlElement.attribute(QStringLiteral("id")) : init.elementID;
    }
}

KRObject::~KRObject()
{
    // Adapters stop observing before the object goes away.
    m_modelAdapters.reset();
}

const QString &KRObject::kr_className() const
{
    // Not copied: the name's count is shared by every object of the class, on every thread.
    return m_class->className;
}

QString KRObject::idBase() const
{
    return KRClassRegistry::sharedInstance().idBase(kr_className());
}

QString KRObject::jsInitializerForKey(const QString &) const
{
    return {};
}

void KRObject::updateDesignView(KRModelAdapter &, const QString &) {}

void KRObject::setUp()
{
    // The table the values were laid out by.
    const auto *descriptors = m_valueTable;
    createModelAdapters(descriptors);
    // Outside design mode nothing but the adapters themselves writes the element while they
    // are enabled (and they only add what is missing): its attributes are read in one pass.
    const bool readAhead = !m_designMode && m_modelAdapters;
    if (readAhead) {
        if (const std::vector<QByteArray> *names
            = KRClassRegistry::sharedInstance().attributeNames(m_class->className, descriptors).get())
            m_modelAdapters->readAttributesAhead(*names);
    }
    willEnableModelAdapters();
    enableModelAdapters(*descriptors);
    if (readAhead)
        m_modelAdapters->dropAttributesReadAhead();
}

std::vector<std::shared_ptr<KRModelAdapter>> KRObject::modelAdapters() const
{
    std::vector<std::shared_ptr<KRModelAdapter>> adapters;
    if (!m_modelAdapters)
        return adapters;
    adapters.reserve(m_modelAdapters->size());
    for (std::size_t i = 0; i < m_modelAdapters->size(); ++i)
        adapters.push_back(m_modelAdapters->pointer(i));
    return adapters;
}

std::shared_ptr<KRModelAdapter> KRObject::modelAdapter(const QString &krKey) const
{
    if (!m_modelAdapters)
        return nullptr;
    const qsizetype index = m_modelAdapters->indexOf(krKey);
    return index < 0 ? nullptr : m_modelAdapters->pointer(std::size_t(index));
}

void KRObject::createModelAdapters(const std::vector<KRPropertyDescriptor> *table)
{
    KR_ASSERT(!m_modelAdapters, "an object makes its adapters once");
    m_modelAdapters = KRModelAdapterBlock::create(table, owningPage(), shared_from_this(), m_xmlElement,
                                                  m_designMode);
}

void KRObject::enableModelAdapters(const std::vector<KRPropertyDescriptor> &descriptors)
{
    if (!m_modelAdapters)
        return;
    // Descriptors come in table order mostly, class level after class level: the search
    // starts after the adapter found last.
    const auto block = m_modelAdapters; // enabling may run observers
    const KRModelAdapterBlock::EnablingScope scope(*block);
    if (block->table() == &descriptors) {
        // The block's own table: the adapter of each descriptor is the one at its place (a
        // table names each property once).
        for (std::size_t i = 0; i < block->size(); ++i) {
            m_nextAdapter = i + 1;
            KRModelAdapter &adapter = block->at(i);
            if (!adapter.enabled())
                adapter.enable();
        }
        return;
    }
    for (const KRPropertyDescriptor &descriptor : descriptors) {
        // Mostly the adapter right after the last one: tried here before any search.
        const QString &key = descriptor.kr_propertyName();
        const std::size_t next = m_nextAdapter;
        const qsizetype index = next < block->size() && krSameString(block->at(next).descriptor().kr_propertyName(), key)
            ? qsizetype(next)
            : block->indexOf(key, next);
        if (index < 0)
            continue;
        m_nextAdapter = std::size_t(index) + 1;
        KRModelAdapter &adapter = block->at(std::size_t(index));
        if (!adapter.enabled())
            adapter.enable();
    }
}

std::shared_ptr<KRPageBase> KRObject::page() const
{
    if (isPage())
        return std::const_pointer_cast<KRPageBase>(std::static_pointer_cast<const KRPageBase>(shared_from_this()));
    return owningPage();
}

std::shared_ptr<KRProjectBase> KRObject::project() const
{
    const auto p = page();
    return p ? p->pageProject() : nullptr;
}

KRUndoManager *KRObject::undoManager() const
{
    const auto proj = project();
    return proj ? proj->undoManager() : nullptr;
}

const QString *KRObject::findValue(const QString &key) const
{
    if (m_valueIndex) {
        if (const qsizetype slot = tableSlot(*m_valueTable, *m_valueIndex, key); slot >= 0)
            return &m_tableValues[std::size_t(slot)];
    }
    if (m_values.isEmpty())
        return nullptr;
    const auto it = m_values.constFind(key);
    return it == m_values.constEnd() ? nullptr : &*it;
}

QString &KRObject::valueStorage(const QString &key)
{
    if (m_valueIndex) {
        if (m_nextValueSlot < m_tableValues.size() && krSameString((*m_valueTable)[m_nextValueSlot].kr_propertyName(), key))
            return m_tableValues[m_nextValueSlot++];
        if (const qsizetype slot = tableSlot(*m_valueTable, *m_valueIndex, key); slot >= 0) {
            m_nextValueSlot = std::size_t(slot) + 1;
            return m_tableValues[std::size_t(slot)];
        }
    }
    return m_values[key];
}

void KRObject::storeValue(const QString &key, const QString &newValue)
{
    // One lookup; a key never set reads as null, as value() gives it.
    const QString old = std::exchange(valueStorage(key), newValue);
    if (!m_observable.hasObservers(key))
        return;
    m_observable.notifyChange(key, old.isNull() ? QVariant() : QVariant(old),
                              newValue.isNull() ? QVariant() : QVariant(newValue));
}

bool KRObject::storeEmptyFirstValue(const std::vector<KRPropertyDescriptor> *table, std::size_t index, QString &empty)
{
    if (m_designMode || !empty.isEmpty() || table != m_valueTable || index >= m_tableValues.size())
        return false;
    QString &slot = m_tableValues[index];
    if (!slot.isNull())
        return false;
    const KRPropertyDescriptor &descriptor = (*table)[index];
    // Objects being built are observed by nobody yet: answered before the keyed search, which
    // for a hundred thousand values a build measured a few percent of it.
    if (descriptor.isIDProperty() || (!m_observable.isUnobserved() && m_observable.hasObservers(descriptor.kr_propertyName())))
        return false;
    slot.swap(empty); // the slot was null
    m_nextValueSlot = index + 1; // as valueStorage() leaves it: the next key is looked up there first
    return true;
}

void KRObject::setValue(const QString &key, const QString &newValue)
{
    if (m_enableUndo && m_designMode) {
        const QString *current = findValue(key);
        if (!current || current->isNull() || *current != newValue) {
            if (KRUndoManager *undo = undoManager()) {
                const QString old = current ? *current : QString();
                std::shared_ptr<KRObject> self = shared_from_this();
                undo->registerUndo(self, [self, old, key] { self->undoValue(old, key); });
            }
        }
    }
    storeValue(key, newValue);
}

void KRObject::setValueNamingUndo(const QString &key, const QString &value, const QString &actionName)
{
    KRUndoManager *undo = m_enableUndo && m_designMode ? undoManager() : nullptr;
    if (!undo) {
        setValue(key, value);
        return;
    }
    undo->beginUndoGrouping();
    if (undo->undoActionName().isEmpty() && !undo->isUndoing() && !undo->isRedoing())
        undo->setActionName(actionName);
    setValue(key, value);
    undo->endUndoGrouping();
}

KRResult<void> KRObject::validateKr_id(const QString &id) const
{
    if (id.isEmpty())
        return idError(QStringLiteral("Cannot create an object with an empty id."));
    if (!KRJavaScript::isValidIdentifier(id))
        return idError(QStringLiteral("The object id is also used as its JavaScript identifiers.  \"%1\" is not a "
                                      "valid JavaScript identifier.").arg(id));
    if (KRObjectInfo::sharedInstance().isJavaScriptReservedWord(id))
        return idError(QStringLiteral("\"%1\" is a reserved word in JavaScript and cannot be used as an object id.").arg(id));
    if (!isPage()) {
        const auto p = owningPage();
        const std::shared_ptr<KRObject> other = p ? p->objectForID(id) : nullptr;
        // The object itself does not count: confirming an unchanged id is no conflict.
        if (other && other.get() != this)
            return idError(QStringLiteral("Object id \"%1\" already exists on page \"%2\".").arg(id, p->kr_id()));
    } else if (const auto proj = project()) {
        for (const auto &other : proj->pages()) {
            if (other.get() != this && other->kr_id() == id)
                return idError(QStringLiteral("A page with the id \"%1\" already exists in this project.").arg(id));
        }
    }
    return {};
}

QSet<QString> KRObject::objectProperties() const
{
    return KRClassRegistry::sharedInstance().objectProperties(kr_className());
}

void KRObject::initializeDefaultProperties()
{
    KRObjectInfo &catalogue = KRObjectInfo::sharedInstance();
    for (const QString &key : objectProperties()) {
        if (!key.startsWith(QLatin1String("kr_")))
            continue;
        const KRPropertyInfo *info = catalogue.propertyInfoForProperty(key.mid(3), kr_className());
        if (info && !info->defaultValue.isEmpty())
            setValue(key, info->defaultValue);
    }
}

OrderedDictionary<QString, QString> KRObject::jsPropertyInitializations() const
{
    OrderedDictionary<QString, QString> result;
    for (const auto &[name, init] : jsPropertyInitializationList())
        result.setObject(init, name);
    return result;
}

template <typename Visit>
void KRObject::forEachJSPropertyAdapter(Visit &&visit) const
{
    if (!m_modelAdapters)
        return;
    const auto block = m_modelAdapters; // initialisers may call out
    // The id of the object's page, asked for once by the event properties that need it.
    std::optional<QString> pageID;
    const auto visitOne = [&](const KRModelAdapter &adapter) {
        if (!pageID && adapter.descriptor().hasOption(KRAdapterOptionEvent)) {
            const auto p = page();
            pageID = p ? p->kr_id() : QString();
        }
        visit(adapter, pageID ? &*pageID : nullptr);
    };
    // Only a few properties of a class can have one: those of the class's table, when the
    // adapters were made from it. (Not copied: classes change only while no object is at work.)
    if (const std::vector<std::size_t> *positions
        = KRClassRegistry::sharedInstance().jsInitializerPositions(m_class->className, block->table()).get()) {
        for (const std::size_t i : *positions)
            visitOne(block->at(i));
        return;
    }
    for (std::size_t i = 0; i < block->size(); ++i)
        visitOne(block->at(i));
}

QList<std::pair<QString, QString>> KRObject::jsPropertyInitializationList() const
{
    QList<std::pair<QString, QString>> result;
    forEachJSPropertyAdapter([&result](const KRModelAdapter &adapter, const QString *pageID) {
        QString init = adapter.jsPropertyInit(pageID);
        if (!init.isEmpty())
            result.emplaceBack(adapter.descriptor().propertyName(), std::move(init));
    });
    return result;
}

void KRObject::writeJSPropertyInitializations(DOMTextWriter &out, QStringView prefix) const
{
    forEachJSPropertyAdapter([&out, prefix](const KRModelAdapter &adapter, const QString *pageID) {
        adapter.writeJSPropertyInit(out, prefix, pageID);
    });
}

QImage KRObject::objectIcon() const
{
    return KRObjectInfo::sharedInstance().objectIcon(kr_className());
}

void KRObject::deleteObject()
{
    if (const auto p = owningPage())
        p->deleteObjects({shared_from_this()});
}

void KRObject::cutObject()
{
    if (const auto p = owningPage())
        p->cutObjects({shared_from_this()});
}

void KRObject::pasteboardCopyObject()
{
    if (const auto p = owningPage())
        p->pasteboardCopyObjects({shared_from_this()});
}

QList<KRMenuItem> KRObject::contextMenuItemsForObject()
{
    if (isPage())
        return {};
    std::weak_ptr<KRObject> weakSelf = weak_from_this();
    const auto item = [&](const char *title, void (KRObject::*command)()) {
        KRMenuItem menuItem;
        menuItem.title = QLatin1String(title);
        menuItem.action = [weakSelf, command] {
            if (const auto self = weakSelf.lock())
                ((*self).*command)();
        };
        return menuItem;
    };
    return {item("Cut", &KRObject::cutObject), item("Copy", &KRObject::pasteboardCopyObject),
            item("Delete", &KRObject::deleteObject), KRMenuItem::separatorItem()};
}

void KRObject::addEventContextMenuItems(QList<KRMenuItem> &items, const QStringList &eventProperties)
{
    qsizetype index = -1;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i).title == QLatin1String("Events") && items.at(i).hasSubmenu) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        KRMenuItem events;
        events.title = QStringLiteral("Events");
        events.hasSubmenu = true;
        events.submenuTitle = QStringLiteral("Events");
        items.append(events);
        index = items.size() - 1;
    }
    std::weak_ptr<KRObject> weakSelf = weak_from_this();
    for (const QString &name : eventProperties) {
        KRMenuItem item;
        item.title = name;
        item.representedObject = name;
        item.action = [weakSelf, name] {
            if (const auto self = weakSelf.lock())
                self->eventContextMenuAction(name);
        };
        if (!value(QStringLiteral("kr_") + name).isEmpty()) {
            item.imageName = QStringLiteral("follow-link");
            item.imageIsTemplate = true;
            item.bold = true;
        } else {
            item.imageName = QStringLiteral("plus-circle-Template");
            item.imageIsTemplate = true;
            item.imageSize = 10;
        }
        items[index].submenu.append(item);
    }
}

void KRObject::eventContextMenuAction(const QString &eventName)
{
    const QString handlerID = value(QStringLiteral("kr_") + eventName);
    std::shared_ptr<KRFunction> function;
    if (!handlerID.isEmpty()) {
        const auto p = page();
        function = p ? std::dynamic_pointer_cast<KRFunction>(p->objectForID(handlerID)) : nullptr;
        if (!function)
            return;
    } else {
        function = createEventHandlerForProperty(eventName);
    }
    if (!function)
        return;
    const auto proj = project();
    const auto document = proj ? proj->krDocument() : nullptr;
    if (KRDocumentWindowController *controller = document ? document->krWindowController() : nullptr)
        controller->editFunction(function);
}

std::shared_ptr<KRFunction> KRObject::createEventHandlerForProperty(const QString &eventName)
{
    const auto p = page();
    if (!p)
        return nullptr;
    const auto function = std::dynamic_pointer_cast<KRFunction>(
        p->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("%1_%2").arg(kr_id(), eventName)));
    if (!function)
        return nullptr;
    const KRPropertyInfo *info = KRObjectInfo::sharedInstance().propertyInfoForProperty(eventName, kr_className());
    if (info && info->serverFunction) {
        function->setValue(QStringLiteral("kr_serverFunction"), QStringLiteral("Yes"));
        function->setValue(QStringLiteral("kr_arguments"), KRFunction::eventArguments(true));
    } else {
        function->setValue(QStringLiteral("kr_arguments"), KRFunction::eventArguments(false));
    }
    setValue(QStringLiteral("kr_") + eventName, function->kr_id());
    return function;
}
