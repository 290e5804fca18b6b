#pragma once

#include <platform/dom/KRLayoutSource.h>

#include <unordered_map>

// A layout source with configured numbers, for headless tests of code that reads sizes.
class KRFakeLayoutSource : public KRLayoutSource
{
public:
    void setGeometry(std::uint64_t nodeId, KRNodeGeometry geometry)
    {
        geometry.valid = true;
        m_geometry[nodeId] = geometry;
    }
    // Convenience: offset and scroll sizes alike.
    void setSize(std::uint64_t nodeId, int width, int height)
    {
        KRNodeGeometry g;
        g.offsetWidth = g.scrollWidth = g.clientWidth = width;
        g.offsetHeight = g.scrollHeight = g.clientHeight = height;
        g.boundingWidth = width;
        g.boundingHeight = height;
        setGeometry(nodeId, g);
    }
    void remove(std::uint64_t nodeId) { m_geometry.erase(nodeId); }

    KRNodeGeometry geometryForNode(std::uint64_t nodeId) const override
    {
        const auto it = m_geometry.find(nodeId);
        return it == m_geometry.end() ? KRNodeGeometry{} : it->second;
    }

private:
    std::unordered_map<std::uint64_t, KRNodeGeometry> m_geometry;
};
