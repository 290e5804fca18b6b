#include "KRControlLibrary.h"

#include "KRBluffGraph.h"
#include "KRControl.h"
#include "KRPhotoSwipe.h"
#include "KRPlugin.h"
#include "jqm/JQMBaseToolbar.h"
#include "jqm/JQMFooterToolbar.h"
#include "jqm/JQMHeaderToolbar.h"
#include "jqm/JQMListView.h"
#include "jqm/JQMSimplePopup.h"

void registerCompositeControls()
{
    krRegisterControlClass(JQMBaseToolbar::objectClass());
    krRegisterControlClass(JQMHeaderToolbar::objectClass());
    krRegisterControlClass(JQMFooterToolbar::objectClass());
    krRegisterControlClass(JQMListView::objectClass());
    krRegisterControlClass(KRBluffGraph::objectClass());
    krRegisterControlClass(KRPhotoSwipe::objectClass());
    krRegisterControlClass(JQMSimplePopup::objectClass());
    krRegisterControlClass(KRPlugin::objectClass());
}
