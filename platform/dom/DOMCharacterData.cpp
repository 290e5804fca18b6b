#include "DOMCharacterData.h"

#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMMutationListener.h>

void DOMCharacterData::setData(const QString &data)
{
    if (data == m_data)
        return;
    m_data = data;
    if (DOMNode *p = parent())
        p->childrenChanged();
    if (DOMDocument *doc = document(); doc && doc->reports(this)) {
        DOMMutation m{DOMMutation::Type::TextChanged};
        m.target = nodeId();
        m.value = m_data;
        doc->notify(std::move(m));
    }
}
