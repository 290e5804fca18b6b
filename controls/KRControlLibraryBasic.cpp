#include "KRControlLibrary.h"

void registerBasicControls()
{
}
