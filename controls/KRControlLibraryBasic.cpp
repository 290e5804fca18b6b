#include "KRControlLibrary.h"

#include "KRButton.h"
#include "KRCanvas.h"
#include "KRCheckbox.h"
#include "KRControl.h"
#include "KRDiv.h"
#include "KRImage.h"
#include "KRLabel.h"
#include "KRLocalDataSource.h"
#include "KRRadioButton.h"
#include "KRSelect.h"
#include "KRTable.h"
#include "KRTextArea.h"
#include "KRTextbox.h"
#include "KRTimer.h"
#include "jqm/JQMButton.h"
#include "jqm/JQMCheckboxRadio.h"
#include "jqm/JQMSelect.h"
#include "jqm/JQMSlideToggle.h"
#include "jqm/JQMSlider.h"
#include "jqm/JQMTextArea.h"
#include "jqm/JQMTextbox.h"

void registerBasicControls()
{
    // Bases before the classes that derive from them.
    for (KRObjectClass (*make)() : {&KRControl::objectClass, &KRFormControl::objectClass, &KRDiv::objectClass,
                                    &KRLabel::objectClass, &KRTextbox::objectClass, &KRCheckbox::objectClass,
                                    &KRRadioButton::objectClass, &KRButton::objectClass, &KRTextArea::objectClass,
                                    &KRSelect::objectClass, &KRImage::objectClass, &KRCanvas::objectClass,
                                    &KRTable::objectClass, &KRTimer::objectClass, &KRLocalDataSource::objectClass,
                                    &JQMSlider::objectClass, &JQMButton::objectClass, &JQMTextbox::objectClass,
                                    &JQMTextArea::objectClass, &JQMCheckboxRadio::objectClass,
                                    &JQMRadioButtonGroup::objectClass, &JQMCheckboxGroup::objectClass,
                                    &JQMSelect::objectClass, &JQMSlideToggle::objectClass})
        krRegisterControlClass(make());
}
