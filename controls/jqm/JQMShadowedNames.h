#pragma once

#include <QString>

class DOMElement;

// Names that an element of a built page must not carry as they are, because a browser would
// give the element in place of a member of its form or of the document that jQuery and jQuery
// Mobile rely on: a form answers for its fields (and the images inside it) by name and by id,
// and the document for images, forms, embeds, frames and objects by name, ahead of their own
// members. A field named "parentNode" hangs the page, one named "nodeName" or "getAttribute"
// leaves it blank. Every other name of a member of a form or the document (name, title, id,
// action, submit, length, ...) does no harm to a page that holds no script of the user's.
namespace JQMShadowedNames {

// Whether a field (or an image in the form) of this name or id would break its form.
bool breaksForm(const QString &name);
// Whether a named image, form, embed, frame or object of this name would break the document.
bool breaksDocument(const QString &name);

// Whether its form answers for the element by name and id: a field (input, select, text area,
// button, field set, output, object) or an image.
bool isNamedOnForm(const DOMElement &element);
// Whether the document answers for the element by name: an image, form, embed, frame or object.
bool isNamedOnDocument(const DOMElement &element);
// Whether the element is a field or holds one.
bool holdsField(const DOMElement &element);

} // namespace JQMShadowedNames
