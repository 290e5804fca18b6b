#pragma once

#include "CERegex.h"

#include <QString>
#include <QVariantMap>

class CETextView;

// What a host of an editor may answer or learn. Every method has the answer used when the
// host has no opinion, so a host overrides only what it needs.
class CEEditorDelegate
{
public:
    virtual ~CEEditorDelegate() = default;

    // Asked before every change of the text, whatever its source (typing, paste, drop, input
    // method, cut, the text commands). False refuses the change.
    virtual bool shouldChangeText(CETextView *, CERange, const QString &) { return true; }
    virtual CERange willChangeSelection(CETextView *, CERange, CERange proposed) { return proposed; }
    virtual void textDidChange(CETextView *) {}
    virtual void selectionDidChange(CETextView *) {}
    virtual bool textShouldBeginEditing(CETextView *) { return true; }
    virtual bool textShouldEndEditing(CETextView *) { return true; }
    virtual void textDidBeginEditing(CETextView *) {}
    virtual void textDidEndEditing(CETextView *) {}
    // Attributes for a line (first line 1), laid over its gutter number and its whole text
    // line; empty for none.
    virtual QVariantMap attributesForLineNumber(int) { return {}; }
};
