#include "KRBuilderSetup.h"

#include <controls/KRControlLibrary.h>
#include <model/KRPage.h>

void setUpProjectBuilder()
{
    KRPage::registerPageClass();
    registerControlLibrary();
}
