#pragma once

#include <platform/dom/DOMNode.h>

// The common part of text and comment nodes: their data.
class DOMCharacterData : public DOMNode
{
public:
    const QString &data() const { return m_data; }
    void setData(const QString &data);

    QString textContent() const override { return m_data; }
    void setTextContent(const QString &text) override { setData(text); }

protected:
    DOMCharacterData(NodeType type, DOMDocument *document, const QString &data)
        : DOMNode(type, document), m_data(data) {}

private:
    QString m_data;
};
