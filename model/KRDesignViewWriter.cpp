#include "KRDesignViewWriter.h"

#include <core/markdown/KRMarkdown.h>
#include <model/KRModelAdapter.h>
#include <model/KRObject.h>
#include <model/KRPageBase.h>
#include <model/KRStyleClass.h>
#include <platform/dom/DOMCSSProperties.h>
#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRAssert.h>

#include <QSet>

#include <algorithm>
#include <initializer_list>
#include <typeinfo>

namespace {
bool isBackgroundTrio(const QString &name)
{
    return name == QLatin1String("backgroundImage") || name == QLatin1String("backgroundColor") ||
           name == QLatin1String("backgroundGradient");
}

bool isAnyOf(const QString &name, std::initializer_list<const char *> names)
{
    return std::any_of(names.begin(), names.end(), [&name](const char *n) { return name == QLatin1String(n); });
}

// The generic family that stands in for a face that is missing: the one of its kind for a
// few well-known typewriter and book faces, sans-serif for any other.
QLatin1String genericFamilyFor(const QString &face)
{
    QString name = face.trimmed().toLower();
    if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'\'') && name.back() == name.front())
        name = name.mid(1, name.size() - 2).trimmed();
    if (name.contains(QLatin1String("mono")) || name.contains(QLatin1String("courier"))
        || isAnyOf(name, {"consolas", "menlo", "monaco", "lucida console"}))
        return QLatin1String("monospace");
    if ((name.contains(QLatin1String("serif")) && !name.contains(QLatin1String("sans")))
        || isAnyOf(name, {"georgia", "times", "times new roman", "palatino", "palatino linotype", "book antiqua",
                          "garamond", "baskerville", "cambria", "didot", "bodoni 72", "hoefler text"}))
        return QLatin1String("serif");
    return QLatin1String("sans-serif");
}

// A page is shown on machines that have few of the faces a project names (phones, desktops
// without one vendor's faces), and a browser that finds none of a list's faces uses its
// default face, a serif one on most: a button's default "Helvetica Neue" came out in Times.
// A family list that names no generic family therefore ends with the one its first face
// belongs to. A CSS-wide keyword, a value with a function or a priority in it, and one a style
// would not take are written as they are.
QString withGenericFamily(const QString &families)
{
    static const QString fontFamily = QStringLiteral("font-family");
    if (families.contains(QLatin1Char('(')) || families.contains(QLatin1Char('!'))
        || !DOMCSSProperties::isValidValue(fontFamily, families))
        return families;
    // A quoted name is a face, never a generic family.
    const QStringList names = DOMCSSProperties::splitTopLevel(families, QLatin1Char(','));
    for (const QString &name : names) {
        if (name.isEmpty()
            || isAnyOf(name.toLower(), {"serif", "sans-serif", "monospace", "cursive", "fantasy", "system-ui", "ui-serif",
                                        "ui-sans-serif", "ui-monospace", "ui-rounded", "math", "emoji", "fangsong",
                                        "inherit", "initial", "unset", "revert", "revert-layer"}))
            return families; // names a generic family already, or is no list a browser takes
    }
    return families + QStringLiteral(", ") + genericFamilyFor(names.first());
}
} // namespace

namespace {

// Elements of content that would load or run something of their own in the design view.
bool isActiveElement(const DOMElement &element)
{
    static const QSet<QString> names = {
        QStringLiteral("script"), QStringLiteral("iframe"), QStringLiteral("frame"), QStringLiteral("frameset"),
        QStringLiteral("object"), QStringLiteral("embed"), QStringLiteral("applet"), QStringLiteral("portal"),
        QStringLiteral("fencedframe"), QStringLiteral("meta"), QStringLiteral("base"), QStringLiteral("link")};
    return names.contains(element.localName());
}

// An attribute of content that would run or send something: a handler, a frame's document,
// a form's or button's target, a link's ping, a script address in any attribute.
bool isActiveAttribute(const QString &name, const QString &value)
{
    if (name.startsWith(QLatin1String("on")) || name == QLatin1String("srcdoc") || name == QLatin1String("formaction")
        || name == QLatin1String("action") || name == QLatin1String("ping"))
        return true;
    QString compact;
    compact.reserve(std::min<qsizetype>(value.size(), 16));
    for (const QChar c : value) {
        if (c.unicode() > 0x20 && (c.unicode() < 0x7f || c.unicode() > 0xa0))
            compact += c.toLower();
        if (compact.size() >= 14)
            break;
    }
    return compact.startsWith(QLatin1String("javascript:")) || compact.startsWith(QLatin1String("vbscript:"))
        || compact.startsWith(QLatin1String("livescript:")) || compact.startsWith(QLatin1String("data:text/html"));
}

// The elements whose name the document (and the window) answers for as a property of its own:
// a picture or form named "createElement" would stand in for the document's function.
bool isNamedOnDocument(const DOMElement &element)
{
    static const QSet<QString> names = {QStringLiteral("img"), QStringLiteral("form"), QStringLiteral("embed"),
                                        QStringLiteral("object"), QStringLiteral("iframe")};
    return names.contains(element.localName());
}

// An id or a data option that jQuery Mobile would write into markup of its own (a pop-up's
// placeholder comment and screen, a button's classes) and that would end the text or the
// attribute it stands in there: it would be markup in the design document, not data.
bool endsJQMMarkup(const QString &name, const QString &value)
{
    if (name != QLatin1String("id") && !name.startsWith(QLatin1String("data-")))
        return false;
    return std::any_of(value.cbegin(), value.cend(), [](QChar c) {
        return c == u'<' || c == u'>' || c == u'\'' || c == u'"';
    });
}

// Leaves out of the content what would run or load something of its own, and the names that
// would stand in for the document's own properties: in the design view a project's markup is
// shown, never run, and changes nothing of the document it is shown in (the built application
// runs it and keeps its names).
void keepInertMarkup(DOMElement &parent)
{
    const auto children = parent.childNodes(); // a copy: the loop removes
    for (const auto &child : children) {
        if (!child->isElement())
            continue;
        auto &element = static_cast<DOMElement &>(*child);
        if (isActiveElement(element)) {
            parent.removeChild(child);
            continue;
        }
        QStringList refused;
        for (const auto &[name, value] : element.attributes()) {
            if (isActiveAttribute(name, value) || (name == QLatin1String("name") && isNamedOnDocument(element))
                || endsJQMMarkup(name, value))
                refused << name;
        }
        for (const QString &name : std::as_const(refused))
            element.removeAttribute(name);
        keepInertMarkup(element);
    }
}

} // namespace

// Asked for every property write: a type comparison rather than a failing dynamic_cast
// (the class is final).
static bool isStyleClass(const KRObject &object)
{
    return typeid(object) == typeid(KRStyleClass);
}

namespace {

// Writes that go elsewhere first, make a value of nothing (the id, the page prefix), or reach
// other elements or adapters.
constexpr std::uint32_t kOtherWrites = KRAdapterOptionDOMText | KRAdapterOptionOptionList | KRAdapterOptionHTMLContent
    | KRAdapterOptionDefaultToID | KRAdapterOptionPagePrefixedID | KRAdapterOptionParentStyle
    | KRAdapterOptionRefreshOptions;

// A plain style property: its first empty write writes nothing (see setCSSAttribute).
bool isPlainStyle(const KRPropertyDescriptor &d)
{
    return (d.adapterOptions() & kOtherWrites) == 0 && !d.cssAttributeName().isEmpty()
        && !d.isSizeProperty(); // a canvas's size is also an attribute
}

// The first write of an empty value to a plain style property (most properties of a freshly
// loaded object) writes nothing: answered before anything is looked up.
bool isUnchangingFirstStyleWrite(const KRModelAdapter &adapter, const QString &newValue)
{
    return newValue.isEmpty() && !adapter.enabled() && isPlainStyle(adapter.descriptor());
}

// A property with no style, attribute or other write has nothing to write, whatever its value.
bool hasNoDOMWrite(const KRPropertyDescriptor &d)
{
    return (d.adapterOptions() & kOtherWrites) == 0 && d.cssAttributeName().isEmpty() && d.htmlAttributeName().isEmpty()
        && !d.isSizeProperty();
}

// The element the adapter writes, which the adapter keeps once found: written through
// without taking a share in it.
DOMElement *writtenElement(KRModelAdapter &adapter)
{
    if (DOMElement *const cached = adapter.domElementPointer())
        return cached;
    return KRDesignViewWriter::targetElement(adapter).get();
}

} // namespace

bool KRDesignViewWriter::writesNothing(const KRModelAdapter &adapter, const QString &value) const
{
    const KRPropertyDescriptor &d = adapter.descriptor();
    return (d.hasOption(KRAdapterOptionNoDesignDOM) && adapter.designMode()) || hasNoDOMWrite(d)
        || isUnchangingFirstStyleWrite(adapter, value);
}

bool KRDesignViewWriter::writesNothingAtFirstEmpty(const KRPropertyDescriptor &descriptor) const
{
    return hasNoDOMWrite(descriptor) || isPlainStyle(descriptor);
}

std::shared_ptr<DOMElement> KRDesignViewWriter::targetElement(KRModelAdapter &adapter)
{
    if (const auto cached = adapter.domElement())
        return cached;
    KRObject *const object = adapter.liveObject();
    if (!object)
        return nullptr;
    std::shared_ptr<DOMElement> element;
    if (adapter.descriptor().hasOption(KRAdapterOptionPageDiv)) {
        if (auto *const page = dynamic_cast<KRPageBase *>(object))
            element = page->pageDivElement();
    } else {
        element = object->domElement();
    }
    if (element)
        adapter.setDomElement(element);
    return element;
}

DOMCSSStyleDeclaration *KRDesignViewWriter::style(KRModelAdapter &adapter)
{
    KRObject *const object = adapter.liveObject();
    if (object && isStyleClass(*object)) {
        const auto rule = static_cast<KRStyleClass *>(object)->cssRule();
        return rule ? &rule->style() : nullptr;
    }
    DOMElement *const element = writtenElement(adapter);
    return element ? &element->style() : nullptr;
}

void KRDesignViewWriter::updateDOM(KRModelAdapter &adapter, const QString &newValue)
{
    const KRPropertyDescriptor &d = adapter.descriptor();
    KRObject *const object = adapter.liveObject();
    if (!object)
        return;
    if (writesNothing(adapter, newValue))
        return;
    const bool styleClass = isStyleClass(*object);
    DOMElement *const element = styleClass ? nullptr : writtenElement(adapter);
    if (!element && !styleClass)
        return;
    QString v = newValue;
    if (d.hasOption(KRAdapterOptionDefaultToID) && v.isEmpty())
        v = object->kr_id();

    if (d.hasOption(KRAdapterOptionDOMText) && element) {
        element->setTextContent(v);
    } else if (d.hasOption(KRAdapterOptionOptionList) && element) {
        element->removeAllChildren();
        if (!v.isNull()) {
            const QString selected = object->value(QStringLiteral("kr_value"));
            const auto document = element->ownerDocument();
            for (const QString &line : v.split(QLatin1Char('\n'))) {
                auto option = document->createElement(QStringLiteral("option"));
                if (line == selected)
                    option->setAttribute(QStringLiteral("selected"), QStringLiteral("selected"));
                option->setTextContent(line);
                element->appendChild(option);
            }
        }
    } else if (d.hasOption(KRAdapterOptionHTMLContent) && element) {
        QString html = v;
        if (v.startsWith(QLatin1String("markdown:")))
            html = KRMarkdown::htmlFromMarkdown(v.mid(9));
        else if (v.startsWith(QLatin1String("html:")))
            html = adapter.designMode() ? QStringLiteral("(HTML content)") : v.mid(5);
        if (adapter.designMode()) {
            // Parsed aside and cleaned there, so the document never holds the active parts.
            const auto content = element->ownerDocument()->createElement(element->localName());
            content->setInnerHTML(html);
            keepInertMarkup(*content);
            element->removeAllChildren();
            while (!content->childNodes().empty()) {
                const std::shared_ptr<DOMNode> first = content->childNodes().front(); // held: moving it frees the slot
                element->appendChild(first);
            }
        } else {
            element->setInnerHTML(html);
        }
    } else if (!d.cssAttributeName().isEmpty()) {
        setCSSAttribute(adapter, v);
    } else if (!d.htmlAttributeName().isEmpty() && element) {
        setHTMLAttribute(adapter, d.htmlAttributeName(), v);
    }

    if (d.hasOption(KRAdapterOptionRefreshOptions)) {
        if (const auto options = object->modelAdapter(QStringLiteral("kr_options")))
            options->updateDOM(object->value(QStringLiteral("kr_options")));
    }
    if (element && d.isSizeProperty() &&
        object->kr_className() == QLatin1String("KRCanvas"))
        element->setAttribute(d.propertyName(), v);
}

QString KRDesignViewWriter::convertValue(const KRModelAdapter &adapter, const QString &v)
{
    const KRPropertyDescriptor &d = adapter.descriptor();
    QString r = v;
    if (d.hasOption(KRAdapterOptionCSSPixels) && !r.isEmpty() && !r.endsWith(QLatin1Char('%')))
        r += QStringLiteral("px");
    if (d.hasOption(KRAdapterOptionPagePrefixedID)) {
        KRObject *const object = adapter.liveObject();
        if (object && !object->isPage()) {
            const auto page = object->owningPage();
            r = (page ? page->kr_id() : QString()) + QLatin1Char('_') + r;
        }
    }
    if (d.hasOption(KRAdapterOptionLowercase))
        r = r.toLower();
    if (d.hasOption(KRAdapterOptionLinearGradient) && !r.isEmpty())
        r = QStringLiteral("-webkit-linear-gradient(%1)").arg(r);
    if (d.hasOption(KRAdapterOptionDisplayBoolean) && !adapter.designMode())
        r = v == QLatin1String("false") ? QStringLiteral("none") : QString();
    if (d.hasOption(KRAdapterOptionBooleanAttribute))
        r = v == QLatin1String("true") ? d.propertyName() : QString();
    if (d.hasOption(KRAdapterOptionCSSURL) && !r.isEmpty())
        r = QStringLiteral("url('%1')").arg(r);
    if (!r.isEmpty() && d.cssAttributeName() == QLatin1String("font-family"))
        r = withGenericFamily(r);
    return r;
}

void KRDesignViewWriter::setCSSAttribute(KRModelAdapter &adapter, const QString &v)
{
    const KRPropertyDescriptor &d = adapter.descriptor();
    const QString c = convertValue(adapter, v);
    // An empty first value (most properties of a loaded object) writes nothing.
    if (c.isEmpty() && !adapter.enabled() && !d.hasOption(KRAdapterOptionParentStyle))
        return;
    const QString priority = d.hasOption(KRAdapterOptionCSSImportant) ? QStringLiteral("important") : QString();
    const QString &n = d.cssAttributeName();
    DOMCSSStyleDeclaration *s = style(adapter);
    KRObject *const object = adapter.liveObject();
    const QString &property = d.propertyName(); // not copied: the table is shared by all threads
    auto clearBackground = [s] {
        s->removeProperty(QStringLiteral("background"));
        s->removeProperty(QStringLiteral("background-image"));
        s->removeProperty(QStringLiteral("background-color"));
    };
    if (!c.isEmpty() && s) {
        if (adapter.enabled() && isBackgroundTrio(property))
            clearBackground();
        s->setProperty(n, c, priority);
    } else if (c.isEmpty() && adapter.enabled() && s) {
        if (isBackgroundTrio(property)) {
            clearBackground();
            for (const char *key : {"kr_backgroundImage", "kr_backgroundColor", "kr_backgroundGradient"}) {
                const QString current = object->value(QString::fromLatin1(key));
                if (!current.isEmpty())
                    object->modelAdapter(QString::fromLatin1(key))->updateDOM(current);
            }
        } else {
            s->removeProperty(n);
            for (const char *prefix : {"border", "padding"}) {
                if (!property.startsWith(QLatin1String(prefix)))
                    continue;
                for (const auto &sibling : object->modelAdapters()) {
                    if (sibling.get() == &adapter || !sibling->descriptor().propertyName().startsWith(QLatin1String(prefix)))
                        continue;
                    const QString current = object->value(sibling->descriptor().kr_propertyName());
                    if (!current.isEmpty())
                        sibling->updateDOM(current);
                }
            }
        }
    }
    if (d.hasOption(KRAdapterOptionParentStyle)) {
        DOMElement *const element = writtenElement(adapter);
        const auto parent = element ? element->parentElement() : nullptr;
        if (parent) {
            if (!c.isEmpty())
                parent->style().setProperty(n, c, priority);
            else
                parent->style().removeProperty(n);
        }
    }
}

void KRDesignViewWriter::setHTMLAttribute(KRModelAdapter &adapter, const QString &name, const QString &v)
{
    DOMElement *const element = writtenElement(adapter);
    if (!element)
        return;
    const QString c = convertValue(adapter, v);
    element->removeAttribute(name);
    if (!c.isEmpty())
        element->setAttribute(name, c);
}
