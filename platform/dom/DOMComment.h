#pragma once

#include <platform/dom/DOMCharacterData.h>

class DOMComment : public DOMCharacterData
{
public:
    DOMComment(DOMDocument *document, const QString &data) : DOMCharacterData(NodeType::Comment, document, data) {}
    QString nodeName() const override;

protected:
    std::shared_ptr<DOMNode> cloneInto(DOMDocument *document) const override;
};
