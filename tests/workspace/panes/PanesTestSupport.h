#pragma once

// Pages with functions and controls for the pane tests, and a recorder in place of the error
// pop-over's web view.

#include "../../inspector/InspectorTestSupport.h"

#include <model/KRFunction.h>
#include <workspace/panes/KRFunctionViewController.h>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>

namespace KRPanesTest {

using KRInspectorTest::Fixture;

// page1: a button, a label, a list view, a timer and two functions: "onClick" (arguments
// "event", body "alert(event);") and "ready" (no arguments, body "go();\n\nstop();").
Fixture openSample();

// A fixture with the sample page opened; derived fixtures return when HasFatalFailure().
class SampleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        f = openSample();
        ASSERT_TRUE(f.page);
    }
    std::shared_ptr<KRObject> object(const char *id) const { return f.object(QString::fromLatin1(id)); }
    std::shared_ptr<KRFunction> function(const char *id) const { return std::dynamic_pointer_cast<KRFunction>(object(id)); }

    Fixture f;
};

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
