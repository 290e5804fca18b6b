#include "KRControlLibrary.h"

#include "KRControl.h"

void registerBasicControls()
{
    krRegisterControlClass(KRControl::objectClass());
    krRegisterControlClass(KRFormControl::objectClass());
}
