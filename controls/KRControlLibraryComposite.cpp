#include "KRControlLibrary.h"

void registerCompositeControls()
{
}
