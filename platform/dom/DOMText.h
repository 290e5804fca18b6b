#pragma once

#include <platform/dom/DOMCharacterData.h>

class DOMText : public DOMCharacterData
{
public:
    DOMText(DOMDocument *document, const QString &data) : DOMCharacterData(NodeType::Text, document, data) {}
    QString nodeName() const override;

protected:
    std::shared_ptr<DOMNode> cloneInto(DOMDocument *document) const override;
};
