#pragma once

#include <QString>

class DOMElement;

// Names that an element of a built page must not carry, because a browser would give the
// element in place of a property of its form or of the document: a form answers for its
// fields (and the images inside it) by name and by id, and the document for images, forms,
// embeds, frames and objects by name, ahead of their own properties and methods. A field
// named "parentNode", "nodeName" or "submit" takes those from its form, and the libraries and
// scripts that read them hang, stop or do nothing. The lists are the properties of a form and
// of the document in current browsers.
namespace JQMShadowedNames {

// Whether a field (or an image in the form) of this name or id takes a property of its form.
bool shadowsFormProperty(const QString &name);
// Whether a named image, form, embed, frame or object of this name takes a property of the
// document.
bool shadowsDocumentProperty(const QString &name);

// Whether its form answers for the element by name and id: a field (input, select, text area,
// button, field set, output, object) or an image.
bool isNamedOnForm(const DOMElement &element);
// Whether the document answers for the element by name: an image, form, embed, frame or object.
bool isNamedOnDocument(const DOMElement &element);
// Whether the element is a field or holds one.
bool holdsField(const DOMElement &element);

} // namespace JQMShadowedNames
