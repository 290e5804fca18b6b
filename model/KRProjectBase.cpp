#include "KRProjectBase.h"

#include <model/KRDocument.h>

KRUndoManager *KRProjectBase::undoManager() const
{
    const std::shared_ptr<KRDocument> document = krDocument();
    return document ? &document->undoManager() : nullptr;
}
