#pragma once

#include <platform/foundation/KRAlertService.h>

// The alert service of the application: a QMessageBox, window-modal on the active window
// where there is one (the nearest thing to a sheet), application-modal otherwise. It blocks
// in a nested event loop until a button is clicked and answers 1000 plus that button's index
// in the order the buttons were added, whatever order the platform lays them out in.
// Pop-overs open when it is asked stay open, behind the box, until it has been answered; the box
// then blocks the whole application.
//
// The first button is the default (Return). Escape answers the button titled "Cancel" when
// there is one, or the only button; otherwise Escape and the window's close button do
// nothing, so an answer is always a button the caller offered.
class KRMessageBoxAlertService : public KRAlertService
{
public:
    int runModal(const KRAlert &alert) override;
};
