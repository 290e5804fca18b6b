// Golden markup and initialisers of every class of the basic control library: the element a
// new object gets in the design document, the element the same object gives for output, and its
// JavaScript initialisers, with the defaults and after edits.

#include "KRControlTestSupport.h"

#include <model/KRObject.h>
#include <platform/dom/DOMElement.h>

#include <QCoreApplication>

using namespace KRControlTest;

namespace {

struct Case {
    const char *className;
    QList<QPair<QString, QString>> edits;
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.className;
}

QString initialisers(const KRObject &object)
{
    QString text;
    const auto inits = object.jsPropertyInitializations();
    for (const QString &name : inits.allKeys())
        text += name + QStringLiteral(" = ") + inits.objectForKey(name) + QLatin1Char('\n');
    return text;
}

QString markup(const KRObject &object)
{
    return object.domElement() ? object.domElement()->outerHTML() + QLatin1Char('\n') : QStringLiteral("(no element)\n");
}

// The object's XML loaded again with design mode off.
std::shared_ptr<KRObject> outputObject(const KRObject &designObject)
{
    const auto page = openPage(designObject.xmlElement().xmlString(), false);
    return page ? page->objectForID(designObject.kr_id()) : nullptr;
}

QString describe(const std::shared_ptr<KRObject> &object)
{
    QString text = QStringLiteral("== design\n") + markup(*object);
    const auto output = outputObject(*object);
    if (!output)
        return text + QStringLiteral("(output failed)\n");
    text += QStringLiteral("== output\n") + markup(*output);
    text += QStringLiteral("== initialisers\n") + initialisers(*output);
    return text;
}

QList<QPair<QString, QString>> edits(std::initializer_list<std::pair<const char *, const char *>> list)
{
    QList<QPair<QString, QString>> result;
    for (const auto &[k, v] : list)
        result.append({QStringLiteral("kr_") + QString::fromUtf8(k), QString::fromUtf8(v)});
    return result;
}

const QList<Case> &cases()
{
    static const QList<Case> all = {
        {"KRDiv", edits({{"content", "<b>Hi</b> there"}, {"backgroundColor", "#fe0"}, {"borderWidth", "2"}, {"onClick", "go"}})},
        {"KRLabel", edits({{"value", "Hello & <world>"}, {"fontSize", "14"}, {"visible", "false"}, {"styleClass", "Big"}})},
        {"KRTextbox", edits({{"value", "v"}, {"maxsize", "10"}, {"placeholder", "Name"}, {"autocorrect", "off"}, {"disabled", "true"}, {"name", "user"}})},
        {"KRCheckbox", edits({{"value", "yes"}, {"checked", "true"}})},
        {"KRRadioButton", edits({{"value", "a"}, {"checked", "false"}})},
        {"KRButton", edits({{"value", "Go"}, {"gotoPage", "page2"}, {"gotoPageTransition", "slide"}, {"backgroundGradient", ""}})},
        {"KRTextArea", edits({{"value", "line 1\nline 2"}, {"autocapitalize", "off"}})},
        {"KRSelect", edits({{"options", "One\nTwo\nThree"}, {"value", "Two"}})},
        {"KRImage", edits({{"src", "images/a.png"}, {"onLoad", "loaded"}})},
        {"KRCanvas", edits({{"width", "300"}, {"height", "150"}})},
        {"KRTable", edits({{"rows", "2"}, {"columns", "3"}, {"borderColor", "red"}})},
        {"KRTimer", edits({{"interval", "1500"}, {"enabled", "false"}, {"onTimeout", "tick"}})},
        {"KRLocalDataSource", {}},
        {"JQMSlider", edits({{"label", "Volume"}, {"value", "30"}, {"step", "5"}, {"theme", "b"}, {"highlight", "true"}, {"name", "vol"}, {"disabled", "true"}})},
        {"JQMButton", edits({{"value", "Press"}, {"icon", "star"}, {"iconpos", "right"}, {"gotoPage", "page2"}, {"disabled", "true"}})},
        {"JQMTextbox", edits({{"label", "Name"}, {"type", "email"}, {"maxsize", "20"}, {"placeholder", "you@example.org"}, {"autocorrect", "off"}})},
        {"JQMTextArea", edits({{"label", "Notes"}, {"value", "a\nb"}, {"theme", "a"}, {"mini", "true"}})},
        {"JQMRadioButtonGroup", edits({{"options", "a|Apple\nb|Banana\\|Split\n\nc"}, {"value", "b"}, {"orientation", "horizontal"}, {"label", "Fruit"}})},
        {"JQMCheckboxGroup", edits({{"options", "x|One\ny|Two"}, {"value", "y"}, {"orientation", "Horizontal"}, {"mini", "true"}})},
        {"JQMSelect", edits({{"options", "1|One\n2|Two\n1|Uno"}, {"value", "2"}, {"label", "Pick"}, {"nativeMenu", "false"}, {"icon", "arrow-d"}})},
        {"JQMSlideToggle", edits({{"value", "On"}, {"label", "Light"}, {"trackTheme", "b"}})},
    };
    return all;
}

} // namespace

class KRControlMarkup : public ::testing::TestWithParam<Case>
{
};

TEST_P(KRControlMarkup, DefaultAndEditedMatchGoldenFiles)
{
    const Case &c = GetParam();
    const QString className = QString::fromLatin1(c.className);
    const auto page = openPage(QString(), true);
    ASSERT_TRUE(page);
    const auto object = page->createNewObject(className, 10, 20, QString());
    ASSERT_TRUE(object) << c.className;
    QString text = QStringLiteral("=== defaults\n") + describe(object);
    for (const auto &[key, value] : c.edits)
        object->setValue(key, value);
    QCoreApplication::processEvents();
    text += QStringLiteral("=== edited\n") + describe(object);
    expectGolden(className + QStringLiteral(".txt"), text);
}

INSTANTIATE_TEST_SUITE_P(Classes, KRControlMarkup, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.className); });
