#include "PanesTestSupport.h"

namespace KRPanesTest {

Fixture openSample()
{
    return KRInspectorTest::open(QStringLiteral(
        "<JQMButton id=\"button1\" top=\"10\" left=\"10\"/>"
        "<KRLabel id=\"label1\" top=\"60\" left=\"10\">Hello</KRLabel>"
        "<JQMListView id=\"listview1\" top=\"100\" left=\"10\">[{\"label\":\"One\"}]</JQMListView>"
        "<KRTimer id=\"timer1\"/>"
        "<KRFunction id=\"onClick\" arguments=\"event\">alert(event);</KRFunction>"
        "<KRFunction id=\"ready\">go();\n\nstop();</KRFunction>"));
}

RecordingHelpInstaller::RecordingHelpInstaller()
{
    RecordingHelpContent::lastHTML.clear();
    RecordingHelpContent::loads = 0;
    previous = KRFunctionViewController::setHelpContentFactory([] { return std::make_unique<RecordingHelpContent>(); });
}

RecordingHelpInstaller::~RecordingHelpInstaller()
{
    KRFunctionViewController::setHelpContentFactory(previous);
}

} // namespace KRPanesTest
