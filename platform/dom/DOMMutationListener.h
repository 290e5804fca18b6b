#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class DOMNode;

// One change of a document's tree, in the order it happened. Nodes are named by their ids
// (DOMNode::nodeId), which stay valid for the node's life in its document and are never reused.
struct DOMMutation {
    enum class Type {
        ChildInserted,    // target: parent; node: the inserted child; before: the next sibling or 0
        ChildRemoved,     // target: parent; node: the removed child
        AttributeSet,     // target: element; name, value (never "class": see ClassAdded)
        AttributeRemoved, // target: element; name
        TextChanged,      // target: text or comment node; value: its new data
        StyleSet,         // target: element, or the style element of a rule (index: the rule); name, value,
                          // priority. For a rule, "selectorText" names its new selector and
                          // "cssText" its whole new declaration (an element's whole inline
                          // style comes as AttributeSet of "style")
        StyleRemoved,     // as StyleSet, without value
        ClassAdded,       // target: element; name: one class word
        ClassRemoved,     // target: element; name: one class word
        RuleInserted,     // target: style element; index; value: the rule's text
        RuleDeleted,      // target: style element; index
        ScriptEvaluated,  // target: the document; value: the script
    };

    explicit DOMMutation(Type mutationType) : type(mutationType) {}

    Type type;
    std::uint64_t target = 0;
    std::uint64_t node = 0;
    std::uint64_t before = 0;
    int index = -1;
    QString name;
    QString value;
    QString priority;
    // The inserted node itself, so that a listener can copy its subtree while it is notified
    // (the subtree may change before the listener's queue runs). Null for other types.
    std::shared_ptr<DOMNode> insertedNode;
};

// Receives every change of the nodes connected to a document, synchronously and in order.
// Class changes come as single words because a live view adds classes of its own, which a
// replayed "set the whole class attribute" would wipe out.
class DOMMutationListener
{
public:
    virtual void domDidMutate(const DOMMutation &mutation) = 0;

protected:
    ~DOMMutationListener() = default;
};
