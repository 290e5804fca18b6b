#include "JQMShadowedNames.h"

#include <platform/dom/DOMElement.h>

#include <QSet>

#include <vector>

namespace {

// A form answers for its fields (and the images inside it) by name and by id ahead of its own
// members, and so does the document for named images, forms, embeds, frames and objects. Of
// all those members, these are the ones that jQuery 1.9 and jQuery Mobile 1.4 read of every
// form of a page (tried in the engine, a field of each name of a form's members on a page of
// every kind of control): a form whose parentNode is a field sends their walks up the tree
// round without end, and one whose nodeName, nodeType, getAttribute, ownerDocument,
// compareDocumentPosition or addEventListener is a field stops them before the page is shown,
// or leaves the form without its events. jQuery unbinds through removeEventListener when
// jQuery Mobile takes a page out of the document. The form's "submit", which a field of that
// name takes as well, the runtime reaches through the form's prototype.
const char *const kFormBreakingNames[] = {
    "addEventListener", "compareDocumentPosition", "getAttribute", "nodeName",
    "nodeType", "ownerDocument", "parentNode", "removeEventListener",
};

// The document's members that jQuery and jQuery Mobile call as they build and show a page (a
// picture of each name of the document's members, tried in the engine): a picture named
// "createElement" stands where the document's method is, and the page is not shown.
const char *const kDocumentBreakingNames[] = {
    "addEventListener", "compareDocumentPosition", "createDocumentFragment", "createElement",
    "createElementNS", "createTextNode", "getElementById", "getElementsByClassName",
    "getElementsByTagName", "nodeName", "nodeType", "ownerDocument",
    "parentNode", "removeEventListener",
};

template <std::size_t N>
QSet<QString> nameSet(const char *const (&names)[N])
{
    QSet<QString> set;
    set.reserve(qsizetype(N));
    for (const char *name : names)
        set.insert(QString::fromLatin1(name));
    return set;
}

const QSet<QString> &fieldTags()
{
    static const QSet<QString> tags = {QStringLiteral("button"), QStringLiteral("fieldset"), QStringLiteral("input"),
                                       QStringLiteral("object"), QStringLiteral("output"), QStringLiteral("select"),
                                       QStringLiteral("textarea")};
    return tags;
}

} // namespace

namespace JQMShadowedNames {

bool breaksForm(const QString &name)
{
    static const QSet<QString> names = nameSet(kFormBreakingNames);
    return names.contains(name);
}

bool breaksDocument(const QString &name)
{
    static const QSet<QString> names = nameSet(kDocumentBreakingNames);
    return names.contains(name);
}

bool isNamedOnForm(const DOMElement &element)
{
    return element.hasTagName(QLatin1String("img")) || fieldTags().contains(element.localName());
}

bool isNamedOnDocument(const DOMElement &element)
{
    static const QSet<QString> tags = {QStringLiteral("embed"), QStringLiteral("form"), QStringLiteral("iframe"),
                                       QStringLiteral("img"), QStringLiteral("object")};
    return tags.contains(element.localName());
}

bool holdsField(const DOMElement &element)
{
    // Content nests as deep as its author wrote it: walked without recursion.
    std::vector<const DOMElement *> pending = {&element};
    while (!pending.empty()) {
        const DOMElement *next = pending.back();
        pending.pop_back();
        if (fieldTags().contains(next->localName()))
            return true;
        for (const auto &child : next->childNodes()) {
            if (child->isElement())
                pending.push_back(static_cast<const DOMElement *>(child.get()));
        }
    }
    return false;
}

} // namespace JQMShadowedNames
