#include "KRControl.h"

#include <core/KRJavaScript.h>
#include <model/KRClassRegistry.h>
#include <model/KRModelAdapter.h>
#include <model/KRPage.h>
#include <model/KRProjectBase.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/KRLayoutSource.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRUndoManager.h>

#include <QTimer>

namespace {
KRControl::LayoutSourceProvider &layoutProvider()
{
    static KRControl::LayoutSourceProvider provider;
    return provider;
}

// The integer at the start of a size ("48px" is 48); anything else counts as 0.
int leadingInteger(const QString &text)
{
    qsizetype end = 0;
    const QString t = text.trimmed();
    if (end < t.size() && (t.at(end) == QLatin1Char('-') || t.at(end) == QLatin1Char('+')))
        ++end;
    while (end < t.size() && t.at(end).isDigit())
        ++end;
    bool ok = false;
    const int v = t.left(end).toInt(&ok);
    return ok ? v : 0;
}
} // namespace

QString krSelectorLiteral(const QString &elementID, const QString &descendants)
{
    const QString selector = descendants.isEmpty() ? QLatin1Char('#') + elementID
                                                   : QStringLiteral("#%1 %2").arg(elementID, descendants);
    // The descendant part is always a constant of ours.
    if (KRJavaScript::isValidIdentifier(elementID))
        return QStringLiteral("'%1'").arg(selector);
    return KRJavaScript::quotedString(selector);
}

void krRegisterControlClass(KRObjectClass objectClass)
{
    const QString name = objectClass.className;
    const KRResult<void> result = KRClassRegistry::sharedInstance().registerClass(std::move(objectClass));
    KR_ASSERT(result.ok() || KRClassRegistry::sharedInstance().classNamed(name), "control class registers");
}

KRControl::KRControl(const KRObjectInit &init) : KRObject(init)
{
    setVisualObject(true);
}

KRControl::~KRControl() = default;

KRObjectClass KRControl::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRControl");
    c.superclassName = QStringLiteral("KRObject");
    c.idBase = QStringLiteral("control");
    constexpr std::uint32_t dev = KRAdapterOptionPerDevice | KRAdapterOptionCSSPixels;
    constexpr std::uint32_t imp = KRAdapterOptionCSSImportant;
    constexpr std::uint32_t px = KRAdapterOptionCSSPixels;
    constexpr std::uint32_t event = KRAdapterOptionEvent | KRAdapterOptionFunctionReference;
    c.descriptors = {
        krDescriptor("top", nullptr, "top", dev),
        krDescriptor("left", nullptr, "left", dev),
        krDescriptor("width", nullptr, "width", dev),
        krDescriptor("height", nullptr, "height", dev),
        krDescriptor("locked", nullptr, nullptr, 0),
        krDescriptor("zIndex", nullptr, "z-index", 0),
        krDescriptor("color", nullptr, "color", imp),
        krDescriptor("backgroundColor", nullptr, "background-color", imp),
        krDescriptor("backgroundImage", nullptr, "background-image", imp | KRAdapterOptionCSSURL),
        krDescriptor("backgroundGradient", nullptr, "background", imp | KRAdapterOptionLinearGradient),
        krDescriptor("backgroundRepeat", nullptr, "background-repeat", imp),
        krDescriptor("backgroundPosition", nullptr, "background-position", imp),
        krDescriptor("backgroundAttachment", nullptr, "background-attachment", imp),
        krDescriptor("opacity", nullptr, "opacity", 0),
        krDescriptor("styleClass", "class", nullptr, KRAdapterOptionLowercase),
        krDescriptor("textAlign", nullptr, "text-align", 0),
        krDescriptor("letterSpacing", nullptr, "letter-spacing", px),
        krDescriptor("lineHeight", nullptr, "line-height", 0),
        krDescriptor("borderTopStyle", nullptr, "border-top-style", 0),
        krDescriptor("borderTopColor", nullptr, "border-top-color", 0),
        krDescriptor("borderTopWidth", nullptr, "border-top-width", px),
        krDescriptor("borderBottomStyle", nullptr, "border-bottom-style", 0),
        krDescriptor("borderBottomColor", nullptr, "border-bottom-color", 0),
        krDescriptor("borderBottomWidth", nullptr, "border-bottom-width", px),
        krDescriptor("borderLeftStyle", nullptr, "border-left-style", 0),
        krDescriptor("borderLeftColor", nullptr, "border-left-color", 0),
        krDescriptor("borderLeftWidth", nullptr, "border-left-width", px),
        krDescriptor("borderRightWidth", nullptr, "border-right-width", px),
        krDescriptor("borderRightStyle", nullptr, "border-right-style", 0),
        krDescriptor("borderRightColor", nullptr, "border-right-color", 0),
        krDescriptor("borderStyle", nullptr, "border-style", 0),
        krDescriptor("borderColor", nullptr, "border-color", 0),
        krDescriptor("borderWidth", nullptr, "border-width", px),
        krDescriptor("borderRadius", nullptr, "border-radius", px),
        krDescriptor("paddingTop", nullptr, "padding-top", px),
        krDescriptor("paddingBottom", nullptr, "padding-bottom", px),
        krDescriptor("paddingLeft", nullptr, "padding-left", px),
        krDescriptor("paddingRight", nullptr, "padding-right", px),
        krDescriptor("padding", nullptr, "padding", px),
        krDescriptor("fontFamily", nullptr, "font-family", imp),
        krDescriptor("fontStyle", nullptr, "font-style", 0),
        krDescriptor("fontWeight", nullptr, "font-weight", 0),
        krDescriptor("fontSize", nullptr, "font-size", px),
        krDescriptor("textShadow", nullptr, "text-shadow", imp),
        krDescriptor("boxShadow", nullptr, "box-shadow", 0),
        krDescriptor("visible", nullptr, "display", KRAdapterOptionDisplayBoolean),
        krDescriptor("onClick", nullptr, nullptr, event),
        krDescriptor("onTouchStart", nullptr, nullptr, event),
        krDescriptor("onTouchMove", nullptr, nullptr, event),
        krDescriptor("onTouchEnd", nullptr, nullptr, event),
    };
    // A base only: an element of this name in a file is skipped like one of an unknown class.
    c.abstractClass = true;
    return c;
}

QString KRControl::domElementName() const
{
    krRaise(KRExceptionName::InvalidMethod, QStringLiteral("domElementName at wrong level"));
    return QString();
}

void KRControl::initializeDefaultProperties()
{
    KRObject::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("40"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("20"));
}

std::shared_ptr<KRPage> KRControl::designPage() const
{
    return std::dynamic_pointer_cast<KRPage>(owningPage());
}

QString KRControl::pageID() const
{
    const auto page = owningPage();
    return page ? page->kr_id() : QString();
}

std::shared_ptr<DOMElement> KRControl::parentDomElement() const
{
    const auto parent = parentObject();
    if (parent && !parent->isPage() && parent->domElement())
        return parent->domElement();
    const auto page = designPage();
    return page ? page->pageDivElement() : nullptr;
}

void KRControl::appendToParentElement()
{
    const auto element = domElement();
    const auto parent = parentDomElement();
    if (element && parent)
        parent->appendChild(element);
}

void KRControl::setNoSelectStyles()
{
    if (!designMode() || !domElement())
        return;
    DOMCSSStyleDeclaration &style = domElement()->style();
    style.setProperty(QStringLiteral("-webkit-user-select"), QStringLiteral("none"));
    style.setProperty(QStringLiteral("cursor"), QStringLiteral("default"));
}

void KRControl::willEnableModelAdapters()
{
    buildElement();
}

void KRControl::enableOwnAdapters(const QString &className)
{
    if (const KRObjectClass *c = KRClassRegistry::sharedInstance().classNamed(className))
        enableModelAdapters(c->descriptors);
}

void KRControl::buildElement()
{
    const auto page = designPage();
    if (!page)
        return;
    const auto element = page->domDocument()->createElement(domElementName());
    setDomElement(element);
    // The id first, so that the element carries it before anything else.
    enableOwnAdapters(QStringLiteral("KRObject"));
    DOMCSSStyleDeclaration &style = element->style();
    style.setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
    element->setAttribute(QStringLiteral("data-role"), QStringLiteral("none"));
    if (designMode()) {
        style.setProperty(QStringLiteral("-webkit-user-select"), QStringLiteral("none"));
        style.setProperty(QStringLiteral("-webkit-user-modify"), QStringLiteral("read-only"));
        style.setProperty(QStringLiteral("outline"), QStringLiteral("none"));
        style.setProperty(QStringLiteral("cursor"), QStringLiteral("default"));
        element->setAttribute(QStringLiteral("onClick"),
                              QStringLiteral("window.___kr_dwc.onClickElement_withEvent_(this, event);"));
        element->setAttribute(QStringLiteral("ondblclick"),
                              QStringLiteral("window.___kr_dwc.onDoubleClickElement_withEvent_(this,event);"));
    }
    appendToParentElement();
    enableOwnAdapters(QStringLiteral("KRControl"));
}

void KRControl::setValue(const QString &key, const QString &value)
{
    KRObject::setValue(key, value);
    if (key == QLatin1String("kr_fontSize"))
        checkSize();
}

QList<KRMenuItem> KRControl::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRObject::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onClick"), QStringLiteral("onTouchStart"),
                                     QStringLiteral("onTouchMove"), QStringLiteral("onTouchEnd")});
    return items;
}

void KRControl::setLayoutSourceProvider(LayoutSourceProvider provider)
{
    layoutProvider() = std::move(provider);
}

const KRLayoutSource *KRControl::layoutSource() const
{
    const LayoutSourceProvider &provider = layoutProvider();
    return provider ? provider(designPage().get()) : nullptr;
}

void KRControl::checkSize()
{
    if (!designMode() || !domElement())
        return;
    const KRLayoutSource *source = layoutSource();
    const KRNodeGeometry geometry = source ? source->geometryForNode(domElement()->nodeId()) : KRNodeGeometry{};
    const QString height = value(QStringLiteral("kr_height"));
    if (!height.endsWith(QLatin1Char('%')) && leadingInteger(height) + 4 < geometry.scrollHeight)
        setValue(QStringLiteral("kr_height"), QString::number(geometry.scrollHeight));
    const QString width = value(QStringLiteral("kr_width"));
    if (!width.endsWith(QLatin1Char('%')) && leadingInteger(width) + 4 < geometry.scrollWidth)
        setValue(QStringLiteral("kr_width"), QString::number(geometry.scrollWidth));
}

int KRControl::controlHeight() const
{
    const int h = leadingInteger(value(QStringLiteral("kr_height")));
    if (h > 0)
        return h;
    const KRLayoutSource *source = layoutSource();
    if (!source || !domElement())
        return 0;
    return source->geometryForNode(domElement()->nodeId()).offsetHeight;
}

bool KRControl::canDrag() const
{
    return value(QStringLiteral("kr_locked")) != QLatin1String("true");
}

void KRControl::dragStarted()
{
    setEnableUndo(false);
    m_oldTop = value(QStringLiteral("kr_top"));
    m_oldLeft = value(QStringLiteral("kr_left"));
    m_oldWidth = value(QStringLiteral("kr_width"));
    m_oldHeight = value(QStringLiteral("kr_height"));
}

void KRControl::dragEnded()
{
    setEnableUndo(true);
    KRUndoManager *undo = undoManager();
    if (!undo)
        return;
    undo->beginUndoGrouping();
    undo->setActionName(QStringLiteral("Drag %1").arg(kr_className()));
    const std::shared_ptr<KRObject> self = shared_from_this();
    const std::pair<const char *, QString> remembered[] = {
        {"kr_top", m_oldTop}, {"kr_left", m_oldLeft}, {"kr_width", m_oldWidth}, {"kr_height", m_oldHeight}};
    for (const auto &[key, old] : remembered) {
        const QString k = QString::fromLatin1(key);
        if (old == value(k))
            continue;
        // The undoable setter: undoing registers the inverse, so redo works.
        undo->registerUndo(self, [self, k, old] { self->setValue(k, old); });
    }
    undo->endUndoGrouping();
}

// --- KRFormControl

KRObjectClass KRFormControl::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRFormControl");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QString();
    c.abstractClass = true;
    c.descriptors = {
        krDescriptor("name", "name", nullptr, KRAdapterOptionDefaultToID),
        krDescriptor("disabled", "disabled", nullptr, KRAdapterOptionBooleanAttribute),
        krDescriptor("onChange", nullptr, nullptr, KRAdapterOptionEvent | KRAdapterOptionFunctionReference),
    };
    return c;
}

void KRFormControl::buildElement()
{
    KRControl::buildElement();
    enableOwnAdapters(QStringLiteral("KRFormControl"));
}

QList<KRMenuItem> KRFormControl::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRControl::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onChange")});
    return items;
}

void KRControl::followTextStyle(std::vector<KRObservationToken> &tokens)
{
    // The control's own properties of those the page's rules know, by their CSS names.
    static const std::vector<std::pair<QString, QString>> textProperties = [] {
        std::vector<std::pair<QString, QString>> found;
        for (const KRPropertyDescriptor &descriptor : KRControl::objectClass().descriptors) {
            if (KRPage::widgetTextProperties().contains(descriptor.cssAttributeName()))
                found.emplace_back(descriptor.kr_propertyName(), descriptor.cssAttributeName());
        }
        return found;
    }();
    const auto mark = [](KRControl &self) {
        const auto element = self.domElement();
        if (!element)
            return;
        // The CSS names of the properties set, separated by blanks. Present also while
        // empty: it tells the widgets a style class reaches into.
        QString text;
        for (const auto &[key, css] : textProperties) {
            if (self.value(key).isEmpty())
                continue;
            if (!text.isEmpty())
                text += QLatin1Char(' ');
            text += css;
        }
        if (!element->hasAttribute(KRPage::widgetTextAttribute()) || element->getAttribute(KRPage::widgetTextAttribute()) != text)
            element->setAttribute(KRPage::widgetTextAttribute(), text);
    };
    mark(*this);
    if (!designMode())
        return;
    // One observer of every key for the nine properties: most changes of a control are of
    // other keys, and nine observers each for thousands of controls weighed more than the
    // check of a key against them.
    const std::weak_ptr<KRObject> weak = weak_from_this();
    tokens.push_back(observable().observe(QString(), [weak, mark](const void *, const QString &key, const QVariant &, const QVariant &) {
        const bool followed = std::any_of(textProperties.begin(), textProperties.end(),
                                          [&key](const auto &property) { return property.first == key; });
        if (!followed)
            return;
        if (const auto self = std::static_pointer_cast<KRControl>(weak.lock()))
            mark(*self);
    }));
}

void KRControl::observeForRebuild(std::vector<KRObservationToken> &tokens, const QStringList &keys,
                                  std::function<void(KRControl &)> rebuild, std::function<bool()> skip)
{
    const std::weak_ptr<KRObject> weak = weak_from_this();
    const auto scheduled = std::make_shared<bool>(false);
    for (const QString &key : keys) {
        tokens.push_back(observable().observe(key, [weak, scheduled, rebuild, skip](const void *, const QString &, const QVariant &,
                                                                                    const QVariant &) {
            if (weak.expired() || *scheduled)
                return;
            if (skip && skip())
                return;
            *scheduled = true;
            QTimer::singleShot(0, [weak, scheduled, rebuild] {
                if (const auto self = std::static_pointer_cast<KRControl>(weak.lock())) {
                    *scheduled = false;
                    rebuild(*self);
                }
            });
        }));
    }
}
