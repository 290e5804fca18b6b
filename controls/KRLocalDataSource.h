#pragma once

#include <model/KRObject.h>
#include <model/KRObjectClass.h>

// A non-visual page object without properties of its own; the runtime gives it key-value
// storage in the browser's local storage.
class KRLocalDataSource : public KRObject
{
public:
    using KRObject::KRObject;
    static KRObjectClass objectClass();
};
