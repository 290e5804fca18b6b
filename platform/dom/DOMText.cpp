#include "DOMText.h"

QString DOMText::nodeName() const
{
    return QStringLiteral("#text");
}

std::shared_ptr<DOMNode> DOMText::cloneInto(DOMDocument *document) const
{
    return std::make_shared<DOMText>(document, data());
}
