#pragma once

// The generated project the builder and open-memory benchmarks share, so that both measure the
// same shape: every page a header toolbar and 40 objects, three controls of the real control
// library and one function in every four (plain HTML controls, jQuery Mobile widgets, list views,
// graphs and galleries, the controls' handlers naming those functions). The control classes must
// be registered (setUpProjectBuilder) for the project to open with its controls.

#include <QByteArray>

namespace KRBench {

constexpr int mixedObjectsPerPage = 40;

// The project XML of `pages` pages ("page1", "Page 1", ...), the start page "page3".
inline QByteArray mixedControlsProjectXML(int pages)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" startPage=\"page3\" sitemap=\"true\" "
                     "generateManifest=\"true\" ajaxPageLoading=\"true\"/>\n  <KRPages>\n";
    for (int p = 1; p <= pages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p) + "\">\n"
               "      <KRContents>\n";
        xml += "        <JQMHeaderToolbar id=\"header\" title=\"Page " + QByteArray::number(p)
               + "\" navbarItems='[{\"label\":\"One\",\"active\":true},{\"label\":\"Two\",\"onClick\":\"f4\"}]'/>\n";
        for (int o = 1; o <= mixedObjectsPerPage; ++o) {
            const QByteArray n = QByteArray::number(o);
            const QByteArray place = "top=\"" + QByteArray::number(o * 12) + "\" left=\"4\" width=\"300\"";
            const QByteArray handler = "\"f" + QByteArray::number((o / 4 + 1) * 4) + "\"";
            if (o % 4 == 0) {
                xml += "        <KRFunction id=\"f" + n + "\" serverFunction=\"No\" arguments=\"event\">\n"
                       "\tvar x = \"" + n + "\";\n\treturn x;\n</KRFunction>\n";
                continue;
            }
            switch (o % 9) {
            case 0:
                xml += "        <JQMListView id=\"c" + n + "\" " + place + " inset=\"true\">[{\"label\":\"A\"},"
                       "{\"label\":\"B\",\"onClick\":" + handler + "}]</JQMListView>\n";
                break;
            case 1:
                xml += "        <JQMTextbox id=\"c" + n + "\" " + place + " label=\"Field " + n + "\" placeholder=\"Type\"/>\n";
                break;
            case 2:
                xml += "        <JQMButton id=\"c" + n + "\" " + place + " value=\"Button " + n + "\" onClick=" + handler + "/>\n";
                break;
            case 3:
                xml += "        <JQMSelect id=\"c" + n + "\" " + place + " label=\"Pick\">1|One\n2|Two\n3|Three</JQMSelect>\n";
                break;
            case 5:
                xml += "        <KRButton id=\"c" + n + "\" " + place + " value=\"Go\" onClick=" + handler + "/>\n";
                break;
            case 6:
                xml += "        <KRImage id=\"c" + n + "\" " + place + " height=\"40\" src=\"images/photo1.jpg\"/>\n";
                break;
            case 7:
                xml += p % 5 == 0 ? "        <KRPhotoSwipe id=\"c" + n + "\" " + place + " height=\"200\">images/photo1.jpg|One\nimages/photo2.jpg</KRPhotoSwipe>\n"
                                  : "        <KRBluffGraph id=\"c" + n + "\" " + place + " height=\"200\" type=\"Bar\" title=\"Chart\"/>\n";
                break;
            default:
                xml += "        <KRLabel id=\"c" + n + "\" " + place + " value=\"Label " + n + " of a generated page\" onClick=" + handler + "/>\n";
                break;
            }
        }
        xml += "      </KRContents>\n    </KRPage>\n";
    }
    xml += "  </KRPages>\n</KRProjectDocument>\n";
    return xml;
}

} // namespace KRBench
