#include "DOMComment.h"

QString DOMComment::nodeName() const
{
    return QStringLiteral("#comment");
}

std::shared_ptr<DOMNode> DOMComment::cloneInto(DOMDocument *document) const
{
    return std::make_shared<DOMComment>(document, data());
}
