#include "KRControlLibrary.h"

#include <mutex>

void registerControlLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        registerBasicControls();
        registerCompositeControls();
    });
}
