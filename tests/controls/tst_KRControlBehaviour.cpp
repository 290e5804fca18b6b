// Behaviour of the control bases, the plain controls and the jQuery Mobile widgets: sizes from
// the layout source, drag undo, menus, option lists, rebuilds and design scripts.

#include "KRControlTestSupport.h"

#include <controls/KRControl.h>
#include <controls/KRTable.h>
#include <model/KRClassRegistry.h>
#include <model/KRStyleClass.h>
#include <controls/jqm/JQMCheckboxRadio.h>
#include <controls/jqm/JQMSelect.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/dom/KRFakeLayoutSource.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRUndoManager.h>

#include <QCoreApplication>

using namespace KRControlTest;

namespace {

// Installs a fake layout source for the test's lifetime.
struct FakeLayout {
    KRFakeLayoutSource source;
    FakeLayout()
    {
        KRControl::setLayoutSourceProvider([this](const KRPage *) { return &source; });
    }
    ~FakeLayout() { KRControl::setLayoutSourceProvider(nullptr); }
    void setScroll(const KRObject &object, int width, int height)
    {
        KRNodeGeometry g;
        g.scrollWidth = width;
        g.scrollHeight = height;
        g.offsetHeight = height;
        source.setGeometry(object.domElement()->nodeId(), g);
    }
};

std::shared_ptr<KRControl> newControl(const std::shared_ptr<KRPage> &page, const char *className)
{
    return as<KRControl>(page->createNewObject(QString::fromLatin1(className), 0, 0, QString()));
}

QStringList eventTitles(KRObject &object)
{
    for (const KRMenuItem &item : object.contextMenuItemsForObject()) {
        if (item.title == QLatin1String("Events") && item.hasSubmenu) {
            QStringList titles;
            for (const KRMenuItem &entry : item.submenu)
                titles.append(entry.title);
            return titles;
        }
    }
    return {};
}

QStringList designScripts(const std::shared_ptr<KRPage> &page)
{
    const auto *host = dynamic_cast<DOMRecordingScriptHost *>(page->scriptHost());
    return host ? host->evaluatedScripts() : QStringList();
}

void clearScripts(const std::shared_ptr<KRPage> &page)
{
    if (auto *host = dynamic_cast<DOMRecordingScriptHost *>(page->scriptHost()))
        host->clearEvaluatedScripts();
}

QStringList ids(const std::vector<std::shared_ptr<DOMElement>> &elements)
{
    QStringList result;
    for (const auto &e : elements)
        result.append(e->id());
    return result;
}

} // namespace

TEST(KRControlBase, NewControlIsFortyByTwentyAndTheBaseIsNotPlaceable)
{
    const auto page = openPage(QString(), true);
    ASSERT_TRUE(page);
    const auto canvas = newControl(page, "KRCanvas");
    ASSERT_TRUE(canvas);
    EXPECT_EQ(canvas->value(QStringLiteral("kr_width")), QStringLiteral("40"));
    EXPECT_EQ(canvas->value(QStringLiteral("kr_height")), QStringLiteral("20"));
    // The element's id comes first, then the placement the design surface relies on.
    EXPECT_TRUE(canvas->domElement()->outerHTML().startsWith(
        QStringLiteral("<canvas id=\"page1_canvas1\" style=\"position: absolute;")))
        << canvas->domElement()->outerHTML().toStdString();
    // An abstract class cannot be created and leaves nothing behind.
    EXPECT_FALSE(page->createNewObject(QStringLiteral("KRControl"), 0, 0, QString()));
    EXPECT_TRUE(page->xmlElement().firstElementForXPath(QStringLiteral(".//KRControl")).isNull());
}

TEST(KRControlBase, CheckSizeGrowsOnlyWhenContentOverflowsByMoreThanFourPixels)
{
    FakeLayout layout;
    const auto page = openPage(QString(), true);
    const auto label = newControl(page, "KRLabel");
    ASSERT_TRUE(label);
    layout.setScroll(*label, 0, 30);
    const struct {
        const char *height;
        const char *expected;
    } rows[] = {{"", "30"}, {"28", "28"}, {"25", "30"}, {"50%", "50%"}, {"abc", "30"}};
    for (const auto &row : rows) {
        label->setValue(QStringLiteral("kr_height"), QString::fromLatin1(row.height));
        label->checkSize();
        EXPECT_EQ(label->value(QStringLiteral("kr_height")), QString::fromLatin1(row.expected)) << row.height;
    }
    // Width the same way.
    layout.setScroll(*label, 180, 0);
    label->setValue(QStringLiteral("kr_width"), QStringLiteral("100"));
    label->checkSize();
    EXPECT_EQ(label->value(QStringLiteral("kr_width")), QStringLiteral("180"));
    EXPECT_EQ(label->domElement()->style().getPropertyValue(QStringLiteral("width")), QStringLiteral("180px"));

    // Outside design mode nothing changes.
    const auto output = openPage(QStringLiteral("<KRLabel id=\"l\" height=\"10\">x</KRLabel>"), false);
    const auto built = as<KRControl>(output->objectForID(QStringLiteral("l")));
    layout.setScroll(*built, 0, 30);
    built->checkSize();
    EXPECT_EQ(built->value(QStringLiteral("kr_height")), QStringLiteral("10"));
}

TEST(KRControlBase, OnlyTheFontSizeRerunsCheckSize)
{
    FakeLayout layout;
    const auto page = openPage(QString(), true);
    const auto label = newControl(page, "KRLabel");
    layout.setScroll(*label, 0, 60);
    label->setValue(QStringLiteral("kr_color"), QStringLiteral("red"));
    label->setValue(QStringLiteral("kr_name"), QStringLiteral("n"));
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("32"));
    label->setValue(QStringLiteral("kr_fontSize"), QStringLiteral("30"));
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("60"));

    // A widget's label carries the re-measure bit.
    const auto slider = newControl(page, "JQMSlider");
    layout.setScroll(*slider, 0, 70);
    slider->setValue(QStringLiteral("kr_label"), QStringLiteral("Much taller now"));
    EXPECT_EQ(slider->value(QStringLiteral("kr_height")), QStringLiteral("70"));
}

TEST(KRControlBase, ControlHeightFallsBackToTheRenderedHeight)
{
    FakeLayout layout;
    const auto page = openPage(QString(), true);
    const auto label = newControl(page, "KRLabel");
    layout.setScroll(*label, 0, 33);
    for (const char *height : {"0", "", "-5"}) {
        label->setValue(QStringLiteral("kr_height"), QString::fromLatin1(height));
        EXPECT_EQ(label->controlHeight(), 33) << height;
    }
    label->setValue(QStringLiteral("kr_height"), QStringLiteral("48px"));
    EXPECT_EQ(label->controlHeight(), 48);
}

TEST(KRControlBase, LockedControlsCannotBeDragged)
{
    const auto page = openPage(QString(), true);
    const auto label = newControl(page, "KRLabel");
    EXPECT_TRUE(label->canDrag());
    for (const char *v : {"false", "", "TRUE"}) {
        label->setValue(QStringLiteral("kr_locked"), QString::fromLatin1(v));
        EXPECT_TRUE(label->canDrag()) << v;
    }
    label->setValue(QStringLiteral("kr_locked"), QStringLiteral("true"));
    EXPECT_FALSE(label->canDrag());
}

TEST(KRControlBase, DragIsOneUndoStepThatRestoresOnlyWhatMovedAndRedoes)
{
    std::shared_ptr<KRDocument> document;
    const auto page = openPage(QString(), true, &document);
    const auto label = newControl(page, "KRLabel");
    ASSERT_TRUE(label && label->enableUndo());
    label->setValue(QStringLiteral("kr_top"), QStringLiteral("10"));
    label->setValue(QStringLiteral("kr_left"), QStringLiteral("20"));
    QCoreApplication::processEvents(); // closes the automatic undo group of this turn
    KRUndoManager &undo = document->undoManager();
    undo.removeAllActions();

    // A click without movement leaves no step.
    label->dragStarted();
    label->dragEnded();
    QCoreApplication::processEvents();
    EXPECT_EQ(undo.undoCount(), 0);

    label->dragStarted();
    for (int step = 1; step <= 5; ++step) {
        label->setValue(QStringLiteral("kr_top"), QString::number(10 + step * 10));
        label->setValue(QStringLiteral("kr_left"), QString::number(20 + step * 5));
    }
    EXPECT_EQ(undo.undoCount(), 0);
    label->dragEnded();
    QCoreApplication::processEvents();
    EXPECT_TRUE(label->enableUndo());
    ASSERT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Drag KRLabel"));

    undo.undo();
    QCoreApplication::processEvents();
    EXPECT_EQ(label->value(QStringLiteral("kr_top")), QStringLiteral("10"));
    EXPECT_EQ(label->value(QStringLiteral("kr_left")), QStringLiteral("20"));
    EXPECT_EQ(label->value(QStringLiteral("kr_width")), QStringLiteral("100"));
    EXPECT_EQ(label->domElement()->style().getPropertyValue(QStringLiteral("top")), QStringLiteral("10px"));
    ASSERT_TRUE(undo.canRedo());
    undo.redo();
    QCoreApplication::processEvents();
    EXPECT_EQ(label->value(QStringLiteral("kr_top")), QStringLiteral("60"));
    EXPECT_EQ(label->value(QStringLiteral("kr_left")), QStringLiteral("45"));
    EXPECT_EQ(label->xmlElement().attribute(QStringLiteral("top")), QStringLiteral("60"));
}

TEST(KRControlBase, EventsSubmenuListsTheWholeChainBaseFirst)
{
    const auto page = openPage(QString(), true);
    const QStringList base = {QStringLiteral("onClick"), QStringLiteral("onTouchStart"), QStringLiteral("onTouchMove"),
                              QStringLiteral("onTouchEnd")};
    const QStringList form = base + QStringList{QStringLiteral("onChange"), QStringLiteral("onFocus"), QStringLiteral("onBlur")};
    EXPECT_EQ(eventTitles(*newControl(page, "KRTextbox")), form);
    EXPECT_EQ(eventTitles(*newControl(page, "KRImage")), base + QStringList{QStringLiteral("onLoad")});
    EXPECT_EQ(eventTitles(*newControl(page, "JQMSelect")), form);
    const auto timer = page->createNewObject(QStringLiteral("KRTimer"), 0, 0, QString());
    EXPECT_EQ(eventTitles(*timer), QStringList{QStringLiteral("onTimeout")});
}

// A renamed class takes the objects that use it along, whatever the case they name it in and
// among the other classes they name, on its own page only, and in the rename's one undo step.
TEST(KRPlainControls, ObjectsThatUseAStyleClassFollowItsRenameInOneStep)
{
    EXPECT_EQ(KRStyleClass::renamedInClassList(QStringLiteral(" big\tBigger  BIG "), QStringLiteral("Big"),
                                               QStringLiteral("Huge")),
              QStringLiteral(" Huge\tBigger  Huge "));
    KRControlTest::registerClasses();
    std::shared_ptr<KRDocument> document;
    auto project = krOpenRegisteredProject(
        krProjectXML(QStringLiteral(
            "<KRPage id=\"p\"><KRContents><KRStyleClass id=\"Big\" color=\"red\"/>"
            "<KRLabel id=\"a\" styleClass=\"Big\">A</KRLabel><KRLabel id=\"b\" styleClass=\"frame big\">B</KRLabel>"
            "<KRLabel id=\"c\" styleClass=\"Bigger\">C</KRLabel>"
            "<KRDiv id=\"box\"><KRContents><KRLabel id=\"inner\" styleClass=\"Big\">I</KRLabel></KRContents></KRDiv>"
            "</KRContents></KRPage>"
            "<KRPage id=\"q\"><KRContents><KRLabel id=\"elsewhere\" styleClass=\"Big\">E</KRLabel></KRContents></KRPage>")),
        true, &document);
    const auto page = project->krPages().first();
    const auto other = project->krPages().at(1);
    const auto big = page->objectForID(QStringLiteral("Big"));
    ASSERT_TRUE(big);
    const auto classes = [&](const QString &id) {
        const auto object = page->objectForID(id) ? page->objectForID(id) : other->objectForID(id);
        return object->value(QStringLiteral("kr_styleClass"));
    };
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    big->setValue(QStringLiteral("kr_id"), QStringLiteral("Huge"));
    undo.endUndoGrouping();
    EXPECT_EQ(classes(QStringLiteral("a")), QStringLiteral("Huge"));
    EXPECT_EQ(classes(QStringLiteral("b")), QStringLiteral("frame Huge"));
    EXPECT_EQ(classes(QStringLiteral("c")), QStringLiteral("Bigger"));
    EXPECT_EQ(classes(QStringLiteral("inner")), QStringLiteral("Huge"));
    EXPECT_EQ(classes(QStringLiteral("elsewhere")), QStringLiteral("Big"));
    // The page draws them with the class, and the file names it.
    const auto a = page->objectForID(QStringLiteral("a"));
    EXPECT_TRUE(a->domElement()->classes().contains(QStringLiteral("huge"))) << a->domElement()->classes().join(u' ').toStdString();
    EXPECT_FALSE(a->domElement()->classes().contains(QStringLiteral("big")));
    EXPECT_EQ(a->xmlElement().attribute(QStringLiteral("styleClass")), QStringLiteral("Huge"));

    undo.undo();
    EXPECT_EQ(big->kr_id(), QStringLiteral("Big"));
    EXPECT_EQ(classes(QStringLiteral("a")), QStringLiteral("Big"));
    EXPECT_EQ(classes(QStringLiteral("b")), QStringLiteral("frame big"));
    EXPECT_EQ(classes(QStringLiteral("inner")), QStringLiteral("Big"));
    EXPECT_TRUE(a->domElement()->classes().contains(QStringLiteral("big")));
    undo.redo();
    EXPECT_EQ(classes(QStringLiteral("b")), QStringLiteral("frame Huge"));
    EXPECT_EQ(classes(QStringLiteral("inner")), QStringLiteral("Huge"));
}

TEST(KRPlainControls, BooleanAndNameAttributes)
{
    const auto page = openPage(QStringLiteral("<KRCheckbox id=\"c1\" checked=\"true\"/><KRCheckbox id=\"c2\" checked=\"false\"/>"
                                              "<KRRadioButton id=\"r1\" checked=\"false\"/><KRRadioButton id=\"r2\" checked=\"true\"/>"
                                              "<KRTextbox id=\"t1\" name=\"\"/>"),
                               false);
    ASSERT_TRUE(page);
    auto element = [&](const char *id) { return page->objectForID(QString::fromLatin1(id))->domElement(); };
    EXPECT_EQ(element("c1")->getAttribute(QStringLiteral("checked")), QStringLiteral("checked"));
    EXPECT_FALSE(element("c2")->hasAttribute(QStringLiteral("checked")));
    // A radio button whose property says false is not checked; the stored value stays.
    EXPECT_FALSE(element("r1")->hasAttribute(QStringLiteral("checked")));
    EXPECT_EQ(page->objectForID(QStringLiteral("r1"))->xmlElement().attribute(QStringLiteral("checked")), QStringLiteral("false"));
    EXPECT_EQ(element("r2")->getAttribute(QStringLiteral("checked")), QStringLiteral("checked"));
    EXPECT_EQ(element("t1")->getAttribute(QStringLiteral("name")), QStringLiteral("t1"));
}

// A face missing on the device must not leave the text to the browser's default face: a list
// naming no generic family is written with the one of its first face at its end, in the
// design page and the built one alike, while the project keeps the value as chosen.
TEST(KRPlainControls, FontListsWithoutAGenericFamilyEndWithOne)
{
    const struct {
        const char *stored;
        const char *written;
    } cases[] = {
        {"Helvetica Neue", "Helvetica Neue, sans-serif"},
        {"\"Trebuchet MS\", Helvetica", "\"Trebuchet MS\", Helvetica, sans-serif"},
        {"'Courier New'", "'Courier New', monospace"},
        {"Georgia, Arial", "Georgia, Arial, serif"},
        {"\"serif\"", "\"serif\", serif"}, // quoted, a face's name
        {"\"Open, Sans\"", "\"Open, Sans\", sans-serif"},
        {"Georgia, serif", "Georgia, serif"},
        {"Courier, MONOSPACE", "Courier, MONOSPACE"},
        {"system-ui", "system-ui"},
        {"inherit", "inherit"},
        {"var(--face)", "var(--face)"},
    };
    for (const bool designMode : {true, false}) {
        QString objects;
        for (std::size_t i = 0; i < std::size(cases); ++i)
            objects += QStringLiteral("<KRLabel id=\"l%1\" fontFamily=\"%2\"/>")
                           .arg(i)
                           .arg(QString::fromUtf8(cases[i].stored).toHtmlEscaped());
        const auto page = openPage(objects, designMode);
        ASSERT_TRUE(page);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const auto label = page->objectForID(QStringLiteral("l%1").arg(i));
            ASSERT_TRUE(label && label->domElement()) << cases[i].stored;
            EXPECT_EQ(label->domElement()->style().getPropertyValue(QStringLiteral("font-family")),
                      QString::fromUtf8(cases[i].written))
                << cases[i].stored << (designMode ? " (design)" : " (output)");
            EXPECT_EQ(label->value(QStringLiteral("kr_fontFamily")), QString::fromUtf8(cases[i].stored));
        }
    }
    // Chosen in the inspector: the new value replaces the old list, and none leaves no font.
    const auto page = openPage(QString(), true);
    const auto button = newControl(page, "KRButton");
    DOMCSSStyleDeclaration &style = button->domElement()->style();
    EXPECT_EQ(style.getPropertyValue(QStringLiteral("font-family")), QStringLiteral("Helvetica Neue, sans-serif"));
    button->setValue(QStringLiteral("kr_fontFamily"), QStringLiteral("Palatino"));
    EXPECT_EQ(style.getPropertyValue(QStringLiteral("font-family")), QStringLiteral("Palatino, serif"));
    button->setValue(QStringLiteral("kr_fontFamily"), QString());
    EXPECT_EQ(style.getPropertyValue(QStringLiteral("font-family")), QString());
}

TEST(KRPlainControls, SelectMarksTheOptionEqualToItsValue)
{
    const auto page = openPage(QString(), true);
    const auto select = newControl(page, "KRSelect");
    select->setValue(QStringLiteral("kr_options"), QStringLiteral("a\nb\nc"));
    auto selected = [&] {
        QStringList s;
        for (const auto &option : select->domElement()->children())
            s.append(option->hasAttribute(QStringLiteral("selected")) ? option->textContent() : QString());
        return s;
    };
    EXPECT_EQ(select->domElement()->children().size(), 3u);
    select->setValue(QStringLiteral("kr_value"), QStringLiteral("b"));
    EXPECT_EQ(selected(), (QStringList{QString(), QStringLiteral("b"), QString()}));
    select->setValue(QStringLiteral("kr_value"), QStringLiteral("z"));
    EXPECT_EQ(selected(), (QStringList{QString(), QString(), QString()}));
}

TEST(KRPlainControls, TableCellsOnlyInDesignMode)
{
    const QString xml = QStringLiteral("<KRTable id=\"t\" rows=\"2\" columns=\"3\" borderStyle=\"solid\" borderWidth=\"1\"/>");
    const auto page = openPage(xml, true);
    const auto table = as<KRTable>(page->objectForID(QStringLiteral("t")));
    ASSERT_TRUE(table);
    const auto rows = table->domElement()->children();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]->children().size(), 3u);
    EXPECT_EQ(rows[0]->children()[0]->style().getPropertyValue(QStringLiteral("border-style")), QStringLiteral("solid"));
    table->setValue(QStringLiteral("kr_rows"), QStringLiteral("0"));
    EXPECT_TRUE(table->domElement()->children().empty());
    table->setValue(QStringLiteral("kr_rows"), QStringLiteral("x"));
    EXPECT_TRUE(table->domElement()->children().empty());

    const auto built = openPage(xml, false);
    EXPECT_TRUE(built->objectForID(QStringLiteral("t"))->domElement()->children().empty());
}

TEST(KRPlainControls, DivTriggersPageCreateForNewContentOnly)
{
    const auto page = openPage(QString(), true);
    const auto div = newControl(page, "KRDiv");
    clearScripts(page);
    div->setValue(QStringLiteral("kr_content"), QStringLiteral("<a data-role=\"button\">x</a>"));
    div->setValue(QStringLiteral("kr_content"), QString());
    EXPECT_EQ(designScripts(page), QStringList{QStringLiteral("$('#page1_div1').trigger('pagecreate');")});
}

TEST(KRPlainControls, NonVisualObjectsHaveNoElement)
{
    const auto page = openPage(QStringLiteral("<KRTimer id=\"timer1\" interval=\"5\"/><KRLocalDataSource id=\"dataSource1\"/>"), true);
    for (const char *id : {"timer1", "dataSource1"}) {
        const auto object = page->objectForID(QString::fromLatin1(id));
        ASSERT_TRUE(object) << id;
        EXPECT_FALSE(object->domElement()) << id;
        EXPECT_FALSE(object->visualObject()) << id;
    }
    EXPECT_EQ(page->pageDivElement()->children().size(), 0u);
}

TEST(JQMWidgets, NameAndDisabledLiveOnlyInTheInnerMarkup)
{
    const auto page = openPage(QString(), true);
    const auto slider = newControl(page, "JQMSlider");
    const auto outer = slider->domElement();
    EXPECT_FALSE(outer->hasAttribute(QStringLiteral("name")));
    EXPECT_FALSE(outer->hasAttribute(QStringLiteral("disabled")));
    EXPECT_FALSE(outer->hasAttribute(QStringLiteral("data-role")));
    const auto input = outer->firstElementByTagName(QStringLiteral("input"));
    EXPECT_EQ(input->getAttribute(QStringLiteral("name")), QStringLiteral("slider1"));
    EXPECT_EQ(input->id(), QStringLiteral("_page1_slider1_inp"));
    // "True" is not "true"; the change reaches the markup at the next rebuild.
    slider->setValue(QStringLiteral("kr_disabled"), QStringLiteral("True"));
    slider->setValue(QStringLiteral("kr_theme"), QStringLiteral("a"));
    EXPECT_FALSE(outer->firstElementByTagName(QStringLiteral("input"))->hasAttribute(QStringLiteral("disabled")));
    slider->setValue(QStringLiteral("kr_disabled"), QStringLiteral("true"));
    EXPECT_FALSE(outer->firstElementByTagName(QStringLiteral("input"))->hasAttribute(QStringLiteral("disabled")));
    slider->setValue(QStringLiteral("kr_theme"), QStringLiteral("b"));
    EXPECT_TRUE(outer->firstElementByTagName(QStringLiteral("input"))->hasAttribute(QStringLiteral("disabled")));
    EXPECT_FALSE(outer->hasAttribute(QStringLiteral("disabled")));
    EXPECT_EQ(slider->xmlElement().attribute(QStringLiteral("disabled")), QStringLiteral("true"));
}

TEST(JQMWidgets, EnhancementScriptQueuedAfterEachRebuild)
{
    const auto page = openPage(QString(), true);
    const auto textbox = newControl(page, "JQMTextbox");
    const auto button = newControl(page, "JQMButton");
    EXPECT_TRUE(designScripts(page).filter(QStringLiteral("textinput")).isEmpty()); // jQuery Mobile not loaded yet
    page->jqueryMobileLoaded();
    const QString textboxScript =
        QStringLiteral("$('#page1_textbox1').trigger('create');$('#_page1_textbox1_inp').textinput('disable');"
                       "$('#page1_textbox1').trigger('updatelayout');");
    KRTest::processEventsUntil([&] { return designScripts(page).contains(textboxScript); }, std::chrono::milliseconds(5000));
    const QStringList first = designScripts(page);
    EXPECT_TRUE(first.contains(textboxScript)) << first.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("$('#_page1_button1_inp').button();$('#_page1_button1_inp').button('disable');"
                                              "$('#page1_button1').trigger('updatelayout');")));
    clearScripts(page);
    textbox->setValue(QStringLiteral("kr_type"), QStringLiteral("password"));
    EXPECT_EQ(designScripts(page).size(), 1);
    EXPECT_EQ(textbox->domElement()->firstElementByTagName(QStringLiteral("input"))->getAttribute(QStringLiteral("type")),
              QStringLiteral("password"));
    textbox->setValue(QStringLiteral("kr_type"), QString());
    EXPECT_EQ(textbox->domElement()->firstElementByTagName(QStringLiteral("input"))->getAttribute(QStringLiteral("type")),
              QStringLiteral("text"));
    // A button's name reaches its input at once; its caption does not follow renames.
    button->setValue(QStringLiteral("kr_name"), QStringLiteral("go"));
    EXPECT_EQ(as<KRObject>(button)->domElement()->firstElementByTagName(QStringLiteral("input"))->getAttribute(QStringLiteral("name")),
              QStringLiteral("go"));
}

TEST(JQMWidgets, RenameRebuildsInnerIdsAfterTheOuterId)
{
    const auto page = openPage(QString(), true);
    const auto group = as<JQMCheckboxRadio>(page->createNewObject(QStringLiteral("JQMRadioButtonGroup"), 0, 0, QString()));
    ASSERT_TRUE(group);
    EXPECT_EQ(ids(group->fieldsetElement()->getElementsByTagName(QStringLiteral("input"))),
              (QStringList{QStringLiteral("page1_radio1-1"), QStringLiteral("page1_radio1-2"), QStringLiteral("page1_radio1-3")}));
    group->setKr_id(QStringLiteral("fruit"));
    QCoreApplication::processEvents();
    EXPECT_EQ(group->domElement()->id(), QStringLiteral("page1_fruit"));
    EXPECT_EQ(ids(group->fieldsetElement()->getElementsByTagName(QStringLiteral("input"))),
              (QStringList{QStringLiteral("page1_fruit-1"), QStringLiteral("page1_fruit-2"), QStringLiteral("page1_fruit-3")}));
    EXPECT_EQ(group->domElement()->getElementsByTagName(QStringLiteral("fieldset")).size(), 1u);
}

TEST(JQMWidgets, OptionListsParseEscapesDuplicatesAndSpaces)
{
    const auto page = openPage(QString(), true);
    const auto select = as<JQMSelect>(page->createNewObject(QStringLiteral("JQMSelect"), 0, 0, QString()));
    select->setValue(QStringLiteral("kr_options"),
                     QStringLiteral("a\\|b|Label\\|1|ignored\n\nx|First\n y|Spaced\nx|Second\n"));
    select->setValue(QStringLiteral("kr_value"), QStringLiteral("y"));
    const auto options = select->selectElement()->children();
    ASSERT_EQ(options.size(), 3u);
    EXPECT_EQ(options[0]->getAttribute(QStringLiteral("value")), QStringLiteral("a|b"));
    EXPECT_EQ(options[0]->textContent(), QStringLiteral("Label|1"));
    EXPECT_EQ(options[1]->getAttribute(QStringLiteral("value")), QStringLiteral("x"));
    EXPECT_EQ(options[1]->textContent(), QStringLiteral("Second"));
    EXPECT_EQ(options[2]->getAttribute(QStringLiteral("value")), QStringLiteral(" y"));
    for (const auto &option : options)
        EXPECT_FALSE(option->hasAttribute(QStringLiteral("selected")));
    select->setValue(QStringLiteral("kr_value"), QStringLiteral("x"));
    EXPECT_EQ(select->selectElement()->children()[1]->getAttribute(QStringLiteral("selected")), QStringLiteral("selected"));
    EXPECT_EQ(select->selectElement()->getAttribute(QStringLiteral("value")), QStringLiteral("x"));

    const auto toggle = page->createNewObject(QStringLiteral("JQMSlideToggle"), 0, 0, QString());
    EXPECT_EQ(toggle->domElement()->getElementsByTagName(QStringLiteral("option")).size(), 2u);
}

TEST(JQMWidgets, DefaultPropertiesAndAbstractGroup)
{
    const auto page = openPage(QString(), true);
    EXPECT_EQ(page->createNewObject(QStringLiteral("JQMCheckboxGroup"), 0, 0, QString())->defaultProperty(), QStringLiteral("id"));
    EXPECT_EQ(page->createNewObject(QStringLiteral("JQMRadioButtonGroup"), 0, 0, QString())->defaultProperty(), QStringLiteral("label"));
    EXPECT_FALSE(page->createNewObject(QStringLiteral("JQMCheckboxRadio"), 0, 0, QString()));
}

TEST(KRPlainControls, ControlsInsideADivGoIntoItsElement)
{
    const auto page = openPage(QStringLiteral("<KRDiv id=\"box\" top=\"5\">Some text<KRContents><KRLabel id=\"inner\">x</KRLabel>"
                                              "</KRContents></KRDiv>"),
                               true);
    ASSERT_TRUE(page);
    const auto box = page->objectForID(QStringLiteral("box"));
    const auto inner = page->objectForID(QStringLiteral("inner"));
    ASSERT_TRUE(box && inner);
    EXPECT_EQ(inner->domElement()->parentElement(), box->domElement());
    EXPECT_EQ(inner->parentObject(), box);
    EXPECT_TRUE(box->domElement()->innerHTML().startsWith(QStringLiteral("Some text"))) << box->domElement()->innerHTML().toStdString();
    // New content keeps the child controls in the design view.
    box->setValue(QStringLiteral("kr_content"), QStringLiteral("<p>Other</p>"));
    EXPECT_EQ(inner->domElement()->parentElement(), box->domElement());
    EXPECT_TRUE(box->domElement()->innerHTML().startsWith(QStringLiteral("<p>Other</p>"))) << box->domElement()->innerHTML().toStdString();
    box->setValue(QStringLiteral("kr_content"), QString());
    EXPECT_EQ(inner->domElement()->parentElement(), box->domElement());
}

TEST(JQMWidgets, SelectRebuildsAfterANameChangeAndBuiltWidgetsDeleteQuietly)
{
    const auto page = openPage(QString(), true);
    const auto select = as<JQMSelect>(page->createNewObject(QStringLiteral("JQMSelect"), 0, 0, QString()));
    select->setValue(QStringLiteral("kr_name"), QStringLiteral("choice"));
    EXPECT_EQ(select->selectElement()->getAttribute(QStringLiteral("name")), QStringLiteral("select1"));
    QCoreApplication::processEvents();
    EXPECT_EQ(select->selectElement()->getAttribute(QStringLiteral("name")), QStringLiteral("choice"));
    EXPECT_FALSE(select->domElement()->hasAttribute(QStringLiteral("name")));

    const auto built = openPage(QStringLiteral("<JQMSlider id=\"s\"/><JQMSelect id=\"m\">a\nb</JQMSelect>"), false);
    ASSERT_TRUE(built);
    EXPECT_NO_THROW(built->deleteObjects({built->objectForID(QStringLiteral("s")), built->objectForID(QStringLiteral("m"))}));
    QCoreApplication::processEvents();
    EXPECT_FALSE(built->objectForID(QStringLiteral("s")));
}

// Elements named after the abstract bases open like those of a missing plug-in: skipped with a
// warning, kept in the file, and the controls around them load.
TEST(KRControlBase, AbstractClassElementsAreSkippedAndKept)
{
    std::shared_ptr<KRDocument> document;
    const auto page = openPage(QStringLiteral("<KRControl id=\"c\"/><KRFormControl id=\"f\" top=\"5\"/>"
                                              "<JQMCheckboxRadio id=\"g\" top=\"6\"/><KRLabel id=\"l\" top=\"7\"/>"),
                               true, &document);
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->objectForID(QStringLiteral("l")));
    EXPECT_EQ(page->kr_objects().size(), 1);
    EXPECT_EQ(page->loadWarnings().size(), 3);
    for (const char *name : {"KRControl", "KRFormControl", "JQMCheckboxRadio"})
        EXPECT_FALSE(page->xmlElement().firstElementForXPath(QStringLiteral(".//") + QString::fromLatin1(name)).isNull()) << name;
    // A plug-in cannot make one either: a subclass below an abstract class needs a factory.
    KRObjectClass orphan;
    orphan.className = QStringLiteral("KROrphanControl");
    orphan.superclassName = QStringLiteral("KRControl");
    EXPECT_FALSE(KRClassRegistry::sharedInstance().registerClass(orphan).ok());
    EXPECT_FALSE(KRClassRegistry::sharedInstance().classNamed(QStringLiteral("KROrphanControl")));
}

// A widget's element names the text properties set on it, in the catalogue's order, as each
// changes in the design view; other changes and output pages leave the mark alone.
TEST(JQMWidgets, TextMarkFollowsTheTextPropertiesSet)
{
    const auto page = openPage(QString(), true);
    const auto button = newControl(page, "JQMButton");
    const auto select = newControl(page, "JQMSelect");
    const QString mark = QStringLiteral("data-kr-text");
    ASSERT_TRUE(button->domElement()->hasAttribute(mark));
    EXPECT_EQ(button->domElement()->getAttribute(mark), QString(QLatin1String("")));
    button->setValue(QStringLiteral("kr_fontSize"), QStringLiteral("20"));
    EXPECT_EQ(button->domElement()->getAttribute(mark), QStringLiteral("font-size"));
    button->setValue(QStringLiteral("kr_color"), QStringLiteral("#ff0000"));
    const QString both = button->domElement()->getAttribute(mark);
    EXPECT_EQ(both.split(QLatin1Char(' ')).size(), 2) << both.toStdString();
    EXPECT_TRUE(both.contains(QStringLiteral("color")) && both.contains(QStringLiteral("font-size")));
    // Another widget's change, and a change of another property, leave the mark as it is.
    select->setValue(QStringLiteral("kr_fontWeight"), QStringLiteral("bold"));
    EXPECT_EQ(select->domElement()->getAttribute(mark), QStringLiteral("font-weight"));
    button->setValue(QStringLiteral("kr_theme"), QStringLiteral("b"));
    EXPECT_EQ(button->domElement()->getAttribute(mark), both);
    button->setValue(QStringLiteral("kr_fontSize"), QString());
    button->setValue(QStringLiteral("kr_color"), QString());
    EXPECT_EQ(button->domElement()->getAttribute(mark), QString(QLatin1String("")));
    EXPECT_TRUE(button->domElement()->hasAttribute(mark));
    EXPECT_EQ(select->domElement()->getAttribute(mark), QStringLiteral("font-weight"));
}
