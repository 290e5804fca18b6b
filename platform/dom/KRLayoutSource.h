#pragma once

#include <cstdint>

// The rendered geometry of one element of a design document, in CSS pixels, as the live view
// measured it after applying the changes made so far.
struct KRNodeGeometry {
    bool valid = false; // false: the view has not measured the node (yet), or it is gone
    int offsetLeft = 0;
    int offsetTop = 0;
    int offsetWidth = 0;
    int offsetHeight = 0;
    int scrollWidth = 0;
    int scrollHeight = 0;
    int clientWidth = 0;
    int clientHeight = 0;
    // The border box relative to the view's viewport (getBoundingClientRect).
    double clientLeft = 0;
    double clientTop = 0;
    double boundingWidth = 0;
    double boundingHeight = 0;

    friend bool operator==(const KRNodeGeometry &, const KRNodeGeometry &) = default;
};

// Where model code reads element sizes (a control's height, whether a label's text overflows).
// Only a live view can answer; headless code uses a fake. Header-only and free of QtWebEngine,
// so the model can depend on the interface without linking the view.
class KRLayoutSource
{
public:
    virtual ~KRLayoutSource() = default;
    // The last measured geometry of the node with that own-DOM id; invalid when unknown.
    virtual KRNodeGeometry geometryForNode(std::uint64_t nodeId) const = 0;
};
