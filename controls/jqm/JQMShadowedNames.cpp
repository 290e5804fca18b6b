#include "JQMShadowedNames.h"

#include <platform/dom/DOMElement.h>

#include <QSet>

#include <vector>

namespace {

// Every property of a form element, its prototypes included.
const char *const kFormProperties[] = {
    "ATTRIBUTE_NODE", "CDATA_SECTION_NODE", "COMMENT_NODE", "DOCUMENT_FRAGMENT_NODE", "DOCUMENT_NODE",
    "DOCUMENT_POSITION_CONTAINED_BY", "DOCUMENT_POSITION_CONTAINS", "DOCUMENT_POSITION_DISCONNECTED",
    "DOCUMENT_POSITION_FOLLOWING", "DOCUMENT_POSITION_IMPLEMENTATION_SPECIFIC", "DOCUMENT_POSITION_PRECEDING",
    "DOCUMENT_TYPE_NODE", "ELEMENT_NODE", "ENTITY_NODE", "ENTITY_REFERENCE_NODE", "NOTATION_NODE",
    "PROCESSING_INSTRUCTION_NODE", "TEXT_NODE", "__defineGetter__", "__defineSetter__", "__lookupGetter__",
    "__lookupSetter__", "__proto__", "acceptCharset", "accessKey", "action", "addEventListener", "after",
    "animate", "append", "appendChild", "ariaAtomic", "ariaAutoComplete", "ariaBusy", "ariaChecked",
    "ariaColCount", "ariaColIndex", "ariaColIndexText", "ariaColSpan", "ariaCurrent", "ariaDescription",
    "ariaDisabled", "ariaExpanded", "ariaHasPopup", "ariaHidden", "ariaInvalid", "ariaKeyShortcuts",
    "ariaLabel", "ariaLevel", "ariaLive", "ariaModal", "ariaMultiLine", "ariaMultiSelectable",
    "ariaOrientation", "ariaPlaceholder", "ariaPosInSet", "ariaPressed", "ariaReadOnly", "ariaRelevant",
    "ariaRequired", "ariaRoleDescription", "ariaRowCount", "ariaRowIndex", "ariaRowIndexText", "ariaRowSpan",
    "ariaSelected", "ariaSetSize", "ariaSort", "ariaValueMax", "ariaValueMin", "ariaValueNow", "ariaValueText",
    "assignedSlot", "attachInternals", "attachShadow", "attributeStyleMap", "attributes", "autocapitalize",
    "autocomplete", "autofocus", "baseURI", "before", "blur", "checkValidity", "childElementCount",
    "childNodes", "children", "classList", "className", "click", "clientHeight", "clientLeft", "clientTop",
    "clientWidth", "cloneNode", "closest", "compareDocumentPosition", "computedStyleMap", "constructor",
    "contains", "contentEditable", "dataset", "dir", "dispatchEvent", "draggable", "elementTiming", "elements",
    "encoding", "enctype", "enterKeyHint", "firstChild", "firstElementChild", "focus", "getAnimations",
    "getAttribute", "getAttributeNS", "getAttributeNames", "getAttributeNode", "getAttributeNodeNS",
    "getBoundingClientRect", "getClientRects", "getElementsByClassName", "getElementsByTagName",
    "getElementsByTagNameNS", "getInnerHTML", "getRootNode", "hasAttribute", "hasAttributeNS", "hasAttributes",
    "hasChildNodes", "hasOwnProperty", "hasPointerCapture", "hidden", "id", "inert", "innerHTML", "innerText",
    "inputMode", "insertAdjacentElement", "insertAdjacentHTML", "insertAdjacentText", "insertBefore",
    "isConnected", "isContentEditable", "isDefaultNamespace", "isEqualNode", "isPrototypeOf", "isSameNode",
    "lang", "lastChild", "lastElementChild", "length", "localName", "lookupNamespaceURI", "lookupPrefix",
    "matches", "method", "name", "namespaceURI", "nextElementSibling", "nextSibling", "noValidate", "nodeName",
    "nodeType", "nodeValue", "nonce", "normalize", "offsetHeight", "offsetLeft", "offsetParent", "offsetTop",
    "offsetWidth", "onabort", "onanimationend", "onanimationiteration", "onanimationstart", "onauxclick",
    "onbeforecopy", "onbeforecut", "onbeforeinput", "onbeforematch", "onbeforepaste", "onbeforetoggle",
    "onbeforexrselect", "onblur", "oncancel", "oncanplay", "oncanplaythrough", "onchange", "onclick", "onclose",
    "oncontextlost", "oncontextmenu", "oncontextrestored", "oncopy", "oncuechange", "oncut", "ondblclick",
    "ondrag", "ondragend", "ondragenter", "ondragleave", "ondragover", "ondragstart", "ondrop",
    "ondurationchange", "onemptied", "onended", "onerror", "onfocus", "onformdata", "onfullscreenchange",
    "onfullscreenerror", "ongotpointercapture", "oninput", "oninvalid", "onkeydown", "onkeypress", "onkeyup",
    "onload", "onloadeddata", "onloadedmetadata", "onloadstart", "onlostpointercapture", "onmousedown",
    "onmouseenter", "onmouseleave", "onmousemove", "onmouseout", "onmouseover", "onmouseup", "onmousewheel",
    "onpaste", "onpause", "onplay", "onplaying", "onpointercancel", "onpointerdown", "onpointerenter",
    "onpointerleave", "onpointermove", "onpointerout", "onpointerover", "onpointerrawupdate", "onpointerup",
    "onprogress", "onratechange", "onreset", "onresize", "onscroll", "onscrollend", "onsearch",
    "onsecuritypolicyviolation", "onseeked", "onseeking", "onselect", "onselectionchange", "onselectstart",
    "onslotchange", "onstalled", "onsubmit", "onsuspend", "ontimeupdate", "ontoggle", "ontouchcancel",
    "ontouchend", "ontouchmove", "ontouchstart", "ontransitioncancel", "ontransitionend", "ontransitionrun",
    "ontransitionstart", "onvolumechange", "onwaiting", "onwebkitanimationend", "onwebkitanimationiteration",
    "onwebkitanimationstart", "onwebkitfullscreenchange", "onwebkitfullscreenerror", "onwebkittransitionend",
    "onwheel", "outerHTML", "outerText", "ownerDocument", "parentElement", "parentNode", "part", "prefix",
    "prepend", "previousElementSibling", "previousSibling", "propertyIsEnumerable", "querySelector",
    "querySelectorAll", "releasePointerCapture", "remove", "removeAttribute", "removeAttributeNS",
    "removeAttributeNode", "removeChild", "removeEventListener", "replaceChild", "replaceChildren",
    "replaceWith", "reportValidity", "requestFullscreen", "requestPointerLock", "requestSubmit", "reset",
    "role", "scroll", "scrollBy", "scrollHeight", "scrollIntoView", "scrollIntoViewIfNeeded", "scrollLeft",
    "scrollTo", "scrollTop", "scrollWidth", "setAttribute", "setAttributeNS", "setAttributeNode",
    "setAttributeNodeNS", "setPointerCapture", "shadowRoot", "slot", "spellcheck", "style", "submit",
    "tabIndex", "tagName", "target", "textContent", "title", "toLocaleString", "toString", "toggleAttribute",
    "translate", "valueOf", "virtualKeyboardPolicy", "webkitMatchesSelector", "webkitRequestFullScreen",
    "webkitRequestFullscreen",
};

// Every property of an HTML document, its prototypes included.
const char *const kDocumentProperties[] = {
    "ATTRIBUTE_NODE", "CDATA_SECTION_NODE", "COMMENT_NODE", "DOCUMENT_FRAGMENT_NODE", "DOCUMENT_NODE",
    "DOCUMENT_POSITION_CONTAINED_BY", "DOCUMENT_POSITION_CONTAINS", "DOCUMENT_POSITION_DISCONNECTED",
    "DOCUMENT_POSITION_FOLLOWING", "DOCUMENT_POSITION_IMPLEMENTATION_SPECIFIC", "DOCUMENT_POSITION_PRECEDING",
    "DOCUMENT_TYPE_NODE", "ELEMENT_NODE", "ENTITY_NODE", "ENTITY_REFERENCE_NODE", "NOTATION_NODE",
    "PROCESSING_INSTRUCTION_NODE", "TEXT_NODE", "URL", "__defineGetter__", "__defineSetter__",
    "__lookupGetter__", "__lookupSetter__", "__proto__", "activeElement", "addEventListener", "adoptNode",
    "adoptedStyleSheets", "alinkColor", "all", "anchors", "append", "appendChild", "applets", "baseURI",
    "bgColor", "body", "captureEvents", "caretRangeFromPoint", "characterSet", "charset", "childElementCount",
    "childNodes", "children", "clear", "cloneNode", "close", "compareDocumentPosition", "compatMode",
    "constructor", "contains", "contentType", "cookie", "createAttribute", "createAttributeNS",
    "createCDATASection", "createComment", "createDocumentFragment", "createElement", "createElementNS",
    "createEvent", "createExpression", "createNSResolver", "createNodeIterator", "createProcessingInstruction",
    "createRange", "createTextNode", "createTreeWalker", "currentScript", "defaultView", "designMode", "dir",
    "dispatchEvent", "doctype", "documentElement", "documentURI", "domain", "elementFromPoint",
    "elementsFromPoint", "embeds", "evaluate", "execCommand", "exitFullscreen", "exitPictureInPicture",
    "exitPointerLock", "featurePolicy", "fgColor", "firstChild", "firstElementChild", "fonts", "forms",
    "fragmentDirective", "fullscreen", "fullscreenElement", "fullscreenEnabled", "getAnimations",
    "getElementById", "getElementsByClassName", "getElementsByName", "getElementsByTagName",
    "getElementsByTagNameNS", "getRootNode", "getSelection", "hasChildNodes", "hasFocus", "hasOwnProperty",
    "head", "hidden", "images", "implementation", "importNode", "inputEncoding", "insertBefore", "isConnected",
    "isDefaultNamespace", "isEqualNode", "isPrototypeOf", "isSameNode", "lastChild", "lastElementChild",
    "lastModified", "linkColor", "links", "location", "lookupNamespaceURI", "lookupPrefix", "nextSibling",
    "nodeName", "nodeType", "nodeValue", "normalize", "onabort", "onanimationend", "onanimationiteration",
    "onanimationstart", "onauxclick", "onbeforecopy", "onbeforecut", "onbeforeinput", "onbeforematch",
    "onbeforepaste", "onbeforetoggle", "onbeforexrselect", "onblur", "oncancel", "oncanplay",
    "oncanplaythrough", "onchange", "onclick", "onclose", "oncontextlost", "oncontextmenu", "oncontextrestored",
    "oncopy", "oncuechange", "oncut", "ondblclick", "ondrag", "ondragend", "ondragenter", "ondragleave",
    "ondragover", "ondragstart", "ondrop", "ondurationchange", "onemptied", "onended", "onerror", "onfocus",
    "onformdata", "onfreeze", "onfullscreenchange", "onfullscreenerror", "ongotpointercapture", "oninput",
    "oninvalid", "onkeydown", "onkeypress", "onkeyup", "onload", "onloadeddata", "onloadedmetadata",
    "onloadstart", "onlostpointercapture", "onmousedown", "onmouseenter", "onmouseleave", "onmousemove",
    "onmouseout", "onmouseover", "onmouseup", "onmousewheel", "onpaste", "onpause", "onplay", "onplaying",
    "onpointercancel", "onpointerdown", "onpointerenter", "onpointerleave", "onpointerlockchange",
    "onpointerlockerror", "onpointermove", "onpointerout", "onpointerover", "onpointerrawupdate", "onpointerup",
    "onprogress", "onratechange", "onreadystatechange", "onreset", "onresize", "onresume", "onscroll",
    "onscrollend", "onsearch", "onsecuritypolicyviolation", "onseeked", "onseeking", "onselect",
    "onselectionchange", "onselectstart", "onslotchange", "onstalled", "onsubmit", "onsuspend", "ontimeupdate",
    "ontoggle", "ontouchcancel", "ontouchend", "ontouchmove", "ontouchstart", "ontransitioncancel",
    "ontransitionend", "ontransitionrun", "ontransitionstart", "onvisibilitychange", "onvolumechange",
    "onwaiting", "onwebkitanimationend", "onwebkitanimationiteration", "onwebkitanimationstart",
    "onwebkitfullscreenchange", "onwebkitfullscreenerror", "onwebkittransitionend", "onwheel", "open",
    "ownerDocument", "parentElement", "parentNode", "pictureInPictureElement", "pictureInPictureEnabled",
    "plugins", "pointerLockElement", "prepend", "previousSibling", "propertyIsEnumerable",
    "queryCommandEnabled", "queryCommandIndeterm", "queryCommandState", "queryCommandSupported",
    "queryCommandValue", "querySelector", "querySelectorAll", "readyState", "referrer", "releaseEvents",
    "removeChild", "removeEventListener", "replaceChild", "replaceChildren", "rootElement", "scripts",
    "scrollingElement", "styleSheets", "textContent", "timeline", "title", "toLocaleString", "toString",
    "valueOf", "visibilityState", "vlinkColor", "wasDiscarded", "webkitCancelFullScreen",
    "webkitCurrentFullScreenElement", "webkitExitFullscreen", "webkitFullscreenElement",
    "webkitFullscreenEnabled", "webkitHidden", "webkitIsFullScreen", "webkitVisibilityState", "write",
    "writeln", "xmlEncoding", "xmlStandalone", "xmlVersion",
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

bool shadowsFormProperty(const QString &name)
{
    static const QSet<QString> names = nameSet(kFormProperties);
    return names.contains(name);
}

bool shadowsDocumentProperty(const QString &name)
{
    static const QSet<QString> names = nameSet(kDocumentProperties);
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
