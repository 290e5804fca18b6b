#pragma once

#include <platform/foundation/KRAlertService.h>

// The alert service of the application: a QMessageBox, window-modal on the active window
// where there is one (the nearest thing to a sheet), application-modal otherwise. It blocks
// in a nested event loop until a button is clicked and answers 1000 plus that button's index
// in the order the buttons were added, whatever order the platform lays them out in.
// Pop-overs open when it is asked stay open, behind the box, until it has been answered; the box
// then blocks the whole application.
//
// The first button is the default (Return), but for a destructive question, whose default is
// its harmless choice (KRAlert::harmlessButtonIndex). Escape and the window's close button
// answer with the harmless choice, and so does a question that ends without a click (its
// window was destroyed, the question was cancelled).
class KRMessageBoxAlertService : public KRAlertService
{
public:
    int runModal(const KRAlert &alert) override;

    // Whether a question is waiting for an answer.
    static bool hasOpenQuestions();
    // Answers every open question with its harmless choice; each runModal returns once the
    // event loops above it have unwound. False when none was open.
    static bool cancelOpenQuestions();
};
