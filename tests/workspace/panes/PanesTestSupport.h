#pragma once

// Pages with functions and controls for the pane tests, and a recorder in place of the error
// pop-over's web view.

#include "../../inspector/InspectorTestSupport.h"

#include <workspace/panes/KRFunctionViewController.h>

#include <QLabel>
#include <QPointer>

namespace KRPanesTest {

using KRInspectorTest::Fixture;

// page1: a button, a label, a list view, a timer and two functions: "onClick" (arguments
// "event", body "alert(event);") and "ready" (no arguments, body "go();\n\nstop();").
Fixture openSample();

// Shows what the error pop-over would load; installed for the life of the object.
class RecordingHelpContent : public KRSyntaxErrorHelpContent
{
public:
    static inline QString lastHTML;
    static inline int loads = 0;
    QWidget *takeView() override
    {
        m_label = new QLabel;
        m_label->setWordWrap(true);
        m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return m_label;
    }
    // The label shows the page as rich text, near enough to look at in a screenshot.
    void loadHTML(const QString &html, const QUrl &) override
    {
        lastHTML = html;
        ++loads;
        if (m_label)
            m_label->setText(html);
    }

private:
    QPointer<QLabel> m_label;
};

struct RecordingHelpInstaller {
    RecordingHelpInstaller();
    ~RecordingHelpInstaller();
    KRFunctionViewController::HelpContentFactory previous;
};

} // namespace KRPanesTest
