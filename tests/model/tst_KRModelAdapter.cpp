#include "KRModelTestFixtures.h"

#include <model/KRClassRegistry.h>
#include <model/KRFunction.h>
#include <model/KRModelAdapter.h>
#include <model/KRModelAdapterDOMWriter.h>
#include <platform/dom/DOMTextWriter.h>
#include <platform/foundation/KRUndoManager.h>

#include <KRTestSupport.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray projectWith(const QByteArray &objects, const QByteArray &pageAttributes = "")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\"><KRProject/>"
           "<KRPages><KRPage id=\"page1\" " + pageAttributes + "><KRContents>" + objects
           + "</KRContents></KRPage><KRPage id=\"page2\"><KRContents/></KRPage></KRPages></KRProjectDocument>\n";
}

class Adapter : public ::testing::Test
{
protected:
    void open(const QByteArray &objects, bool designMode = true, const QByteArray &pageAttributes = "")
    {
        project = krOpenTestProject(KRTest::makeTempDir(), projectWith(objects, pageAttributes), designMode);
        ASSERT_TRUE(project);
        ASSERT_TRUE(project->loadErrors.isEmpty()) << project->loadErrors.join(';').toStdString();
        page = project->testPages().first();
    }
    std::shared_ptr<KRObject> object(const QString &id) const { return page->objectForID(id); }
    KRXMLNode element(const QString &id) const { return object(id)->xmlElement(); }

    std::shared_ptr<KRTestProject> project;
    std::shared_ptr<KRTestPage> page;
};

TEST_F(Adapter, EnablingCreatesMissingAttributesEmpty)
{
    open("<KRTestControl id=\"c1\"/>");
    EXPECT_TRUE(element("c1").hasAttribute(QStringLiteral("text")));
    EXPECT_EQ(element("c1").attribute(QStringLiteral("text")), QString(""));
    EXPECT_EQ(object("c1")->value(QStringLiteral("kr_text")), QString(""));
    // Child-element storage reads "" without creating the child.
    EXPECT_TRUE(element("c1").firstElementForName(QStringLiteral("notes")).isNull());
}

TEST_F(Adapter, ElementTextWinsAndKeepsChildElements)
{
    open("<KRTestControl id=\"c1\">  before <KRContents><KRTestControl id=\"inner\">x</KRTestControl></KRContents>"
         " after\n</KRTestControl>");
    // "content" has both the element-text and the child-element bit: the text wins.
    EXPECT_EQ(object("c1")->value(QStringLiteral("kr_content")), QStringLiteral("  before  after\n"));
    object("c1")->setValue(QStringLiteral("kr_content"), QStringLiteral("new"));
    const KRXMLNode e = element("c1");
    EXPECT_EQ(e.elementsForName(QStringLiteral("KRContents")).size(), 1);
    EXPECT_EQ(e.elementsForName(QStringLiteral("content")).size(), 0);
    EXPECT_EQ(e.xmlString(), QStringLiteral("<KRTestControl id=\"c1\" top=\"\" left=\"\" text=\"\" count=\"\" enabled=\"\" "
                                            "raw=\"\" onClick=\"\" custom=\"\" both=\"\">new<KRContents><KRTestControl id=\"inner\">x"
                                            "</KRTestControl></KRContents></KRTestControl>"));
}

TEST_F(Adapter, ChildElementIsCreatedOnWrite)
{
    open("<KRTestControl id=\"c1\"/>");
    object("c1")->setValue(QStringLiteral("kr_notes"), QStringLiteral("a\nb"));
    EXPECT_EQ(element("c1").stringValueOfFirstElementForName(QStringLiteral("notes")), QStringLiteral("a\nb"));
}

TEST_F(Adapter, OutsideDesignModeChangesReachNeitherXMLNorHooks)
{
    open("<KRTestControl id=\"c1\" text=\"old\"/>", false);
    object("c1")->setValue(QStringLiteral("kr_text"), QStringLiteral("new"));
    EXPECT_EQ(element("c1").attribute(QStringLiteral("text")), QStringLiteral("old"));
}

TEST_F(Adapter, PerDeviceValueFallsBackToTheFirstDeviceWithAnEntry)
{
    open("<KRTestControl id=\"c1\" top='{\"iPhone\":\"10\"}'/>");
    project->setAutoAdjustObjects(true);
    project->setDesignTarget(QStringLiteral("iPad"));
    EXPECT_EQ(object("c1")->value(QStringLiteral("kr_top")), QStringLiteral("10"));
    // The new target got the value shown for it.
    EXPECT_EQ(element("c1").attribute(QStringLiteral("top")), QStringLiteral("{\"iPhone\":\"10\",\"iPad\":\"10\"}"));
    object("c1")->setValue(QStringLiteral("kr_top"), QStringLiteral("20"));
    EXPECT_EQ(element("c1").attribute(QStringLiteral("top")), QStringLiteral("{\"iPhone\":\"10\",\"iPad\":\"20\"}"));
    project->setDesignTarget(QStringLiteral("iPhone"));
    EXPECT_EQ(object("c1")->value(QStringLiteral("kr_top")), QStringLiteral("10"));
}

TEST_F(Adapter, AutoAdjustSwitchConvertsStoredValues)
{
    open("<KRTestControl id=\"a\" top=\"10\" left=\"\"/><KRTestControl id=\"b\" top='{\"iPad\":\"20\",\"iPhone\":\"10\"}'/>"
         "<KRTestControl id=\"c\" top='{\"iPad\":\"20\"}'/><KRTestControl id=\"d\" top='not json'/>");
    project->setAutoAdjustObjects(true);
    EXPECT_EQ(element("a").attribute(QStringLiteral("top")), QStringLiteral("{\"iPhone\":\"10\"}"));
    EXPECT_EQ(element("a").attribute(QStringLiteral("left")), QString("")); // empty stays empty
    EXPECT_EQ(object("d")->value(QStringLiteral("kr_top")), QString("not json")); // read at load, before the switch
    project->setAutoAdjustObjects(false);
    EXPECT_EQ(element("a").attribute(QStringLiteral("top")), QStringLiteral("10"));
    EXPECT_EQ(element("b").attribute(QStringLiteral("top")), QStringLiteral("10"));
    EXPECT_EQ(element("c").attribute(QStringLiteral("top")), QStringLiteral("20"));
    EXPECT_EQ(object("c")->value(QStringLiteral("kr_top")), QStringLiteral("20"));
}

TEST_F(Adapter, UnparsablePerDeviceTextReadsEmptyAndIsReplacedOnWrite)
{
    open("<KRTestControl id=\"c1\" top='{broken'/>");
    project->setAutoAdjustObjects(true);
    project->setDesignTarget(QStringLiteral("iPad"));
    EXPECT_EQ(object("c1")->value(QStringLiteral("kr_top")), QString(""));
    object("c1")->setValue(QStringLiteral("kr_top"), QStringLiteral("5"));
    EXPECT_EQ(element("c1").attribute(QStringLiteral("top")), QStringLiteral("{\"iPad\":\"5\"}"));
}

TEST_F(Adapter, KvoCleanupEndsProjectObservation)
{
    open("<KRTestControl id=\"c1\" top=\"10\"/>");
    project->kvoCleanup();
    project->setAutoAdjustObjects(true);
    EXPECT_EQ(element("c1").attribute(QStringLiteral("top")), QStringLiteral("10"));
}

struct InitRow
{
    const char *name;
    const char *key;
    QString value;
    QString expected; // null: none
};

class Initialiser : public Adapter, public ::testing::WithParamInterface<InitRow>
{};

TEST_P(Initialiser, FollowsTheOptionBits)
{
    open("<KRTestControl id=\"c1\"/>");
    const InitRow &row = GetParam();
    object("c1")->setValue(QLatin1String(row.key), row.value);
    const QString init = object("c1")->modelAdapter(QLatin1String(row.key))->jsPropertyInit();
    EXPECT_EQ(init.toStdString(), row.expected.toStdString());
    EXPECT_EQ(init.isEmpty(), row.expected.isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Initialiser,
    ::testing::Values(
        InitRow{"stringQuoted", "kr_text", QStringLiteral("say \"hi\""), QStringLiteral("\"say \\\"hi\\\"\"")},
        InitRow{"stringMultiline", "kr_text", QStringLiteral("a\nb\\"), QStringLiteral("\"a\\nb\\\\\"")},
        InitRow{"stringEmpty", "kr_text", QString(""), QString()},
        InitRow{"numberUnit", "kr_count", QStringLiteral("12px"), QStringLiteral("12")},
        InitRow{"numberNegative", "kr_count", QStringLiteral("-5"), QStringLiteral("-5")},
        InitRow{"numberComma", "kr_count", QStringLiteral("1,5"), QString()},
        InitRow{"numberUnitOnly", "kr_count", QStringLiteral("px"), QString()},
        InitRow{"boolUpper", "kr_enabled", QStringLiteral("TRUE"), QStringLiteral("true")},
        InitRow{"boolYes", "kr_enabled", QStringLiteral("yes"), QStringLiteral("false")},
        InitRow{"boolEmpty", "kr_enabled", QString(""), QString()},
        InitRow{"raw", "kr_raw", QStringLiteral("[1, 2]"), QStringLiteral("[1, 2]")},
        InitRow{"event", "kr_onClick", QStringLiteral("c1_onClick"), QStringLiteral("application._pages.page1._events.c1_onClick")},
        InitRow{"eventNotIdentifier", "kr_onClick", QStringLiteral("x); alert(1"), QString()},
        InitRow{"custom", "kr_custom", QStringLiteral("v"), QStringLiteral("custom(v)")},
        InitRow{"perDevicePlain", "kr_top", QStringLiteral("10"), QStringLiteral("\"10\"")},
        InitRow{"perDeviceJSON", "kr_top", QStringLiteral("{\"iPhone\":\"10\",\"iPad\":\"</script>\"}"),
                QStringLiteral("{\"iPhone\":\"10\",\"iPad\":\"<\\/script>\"}")},
        InitRow{"perDeviceBrokenJSON", "kr_top", QStringLiteral("{x"), QString()},
        InitRow{"noBits", "kr_notes", QStringLiteral("n"), QString()},
        InitRow{"stringBitTestedFirst", "kr_both", QStringLiteral("12"), QStringLiteral("\"12\"")}),
    [](const auto &info) { return std::string(info.param.name); });

// The list asks only the properties that can have an initialiser: it must still hold every
// adapter's own initialiser, in table order, for each object of the class.
TEST_F(Adapter, InitialiserListMatchesEveryAdapterInOrder)
{
    open("<KRTestControl id=\"c1\" text=\"a\" count=\"3\" enabled=\"true\" custom=\"v\" notes=\"n\"/>"
         "<KRTestControl id=\"c2\" raw=\"[2]\" onClick=\"f\" top=\"7\" both=\"1\"/>"
         "<KRTestControl id=\"c3\" text=\"&lt;/b&gt;\" top=\"&quot;1&quot;\" count=\"4\" enabled=\"false\" custom=\"w\" onClick=\"no handler\"/>");
    for (const char *id : {"c1", "c2", "c3"}) {
        QList<std::pair<QString, QString>> expected;
        for (const auto &adapter : object(QLatin1String(id))->modelAdapters()) {
            const QString init = adapter->jsPropertyInit();
            if (!init.isEmpty())
                expected.emplaceBack(adapter->descriptor().propertyName(), init);
        }
        EXPECT_GE(expected.size(), 4) << id;
        EXPECT_EQ(object(QLatin1String(id))->jsPropertyInitializationList(), expected) << id;
        // Written as script straight into a text that holds something already: the same
        // entries (the event's reference to the page included), after what was there.
        QString written = QStringLiteral("before\n");
        {
            DOMTextWriter out(written);
            object(QLatin1String(id))->writeJSPropertyInitializations(out, u"o.x.");
        }
        QString fromList = QStringLiteral("before\n");
        for (const auto &[name, init] : expected)
            fromList += QStringLiteral("o.x.") + name + QStringLiteral(" = ") + init + QStringLiteral(";\n");
        EXPECT_EQ(written, fromList) << id;
    }
    EXPECT_TRUE(object(QStringLiteral("c2"))->jsPropertyInitializations().objectForKey(QStringLiteral("onClick")).contains(QLatin1String("._events.f")));
    // Texts that need escapes are escaped in the script too.
    const auto c3 = object(QStringLiteral("c3"))->jsPropertyInitializations();
    EXPECT_TRUE(c3.objectForKey(QStringLiteral("onClick")).isNull());
    EXPECT_EQ(c3.objectForKey(QStringLiteral("text")), QStringLiteral("\"<\\/b>\""));
    EXPECT_EQ(c3.objectForKey(QStringLiteral("top")), QStringLiteral("\"\\\"1\\\"\""));
}

TEST_F(Adapter, PageEventsUseThePagesOwnId)
{
    open("", true, "onLoad=\"page1_onLoad\"");
    EXPECT_EQ(page->modelAdapter(QStringLiteral("kr_onLoad"))->jsPropertyInit(),
              QStringLiteral("application._pages.page1._events.page1_onLoad"));
}

TEST_F(Adapter, DesignHooksRunAfterTheStore)
{
    class Recorder : public KRModelAdapterDOMWriter
    {
    public:
        void updateDOM(KRModelAdapter &adapter, const QString &value) override
        {
            // The DOM is written before the XML.
            calls << adapter.descriptor().propertyName() + QLatin1Char('=') + value
                         + (adapter.enabled() ? QStringLiteral("") : QStringLiteral(" (enabling)")) + QStringLiteral(" xml=")
                         + adapter.xmlElement().attribute(adapter.descriptor().propertyName());
        }
        QStringList calls;
    };
    auto recorder = std::make_shared<Recorder>();
    KRModelAdapter::setDOMWriter(recorder);
    open("<KRTestControl id=\"c1\" text=\"t\"/>");
    EXPECT_TRUE(recorder->calls.contains(QStringLiteral("text=t (enabling) xml=t")));
    recorder->calls.clear();
    object("c1")->setValue(QStringLiteral("kr_text"), QStringLiteral("u"));
    EXPECT_EQ(recorder->calls, QStringList{QStringLiteral("text=u xml=t")});
    KRModelAdapter::setDOMWriter(nullptr);

    const auto control = std::dynamic_pointer_cast<KRTestControl>(object("c1"));
    ASSERT_TRUE(control);
    EXPECT_TRUE(control->designViewUpdates.isEmpty()); // enabling runs no hooks
    control->setValue(QStringLiteral("kr_content"), QStringLiteral("x"));
    EXPECT_EQ(control->designViewUpdates, QStringList{QStringLiteral("x")});
    EXPECT_EQ(control->checkSizeCalls, 0);
    control->setValue(QStringLiteral("kr_notes"), QStringLiteral("y"));
    EXPECT_EQ(control->checkSizeCalls, 1);
}

// Outside design mode an empty value goes straight into its object when the installed writer
// would write nothing for it. What one writer answered is never taken for the next one, and a
// value stored so reads as empty, not as absent.
TEST_F(Adapter, OutsideDesignModeTheInstalledWriterDecidesWhichEmptyValuesItSees)
{
    class Writer : public KRModelAdapterDOMWriter
    {
    public:
        explicit Writer(QString quiet) : quiet(std::move(quiet)) {}
        void updateDOM(KRModelAdapter &adapter, const QString &value) override
        {
            written << adapter.descriptor().propertyName() + QLatin1Char('=') + value;
        }
        bool writesNothingAtFirstEmpty(const KRPropertyDescriptor &descriptor) const override
        {
            return descriptor.propertyName() == quiet;
        }
        QString quiet;
        QStringList written;
    };
    const auto installed = KRModelAdapter::domWriter();
    for (const auto &[quiet, written] : {std::pair{"top", "left"}, std::pair{"left", "top"}, std::pair{"top", "left"}}) {
        const auto writer = std::make_shared<Writer>(QLatin1String(quiet));
        KRModelAdapter::setDOMWriter(writer);
        open("<KRTestControl id=\"c1\" top=\"\" left=\"\" text=\"t\"/><KRTestControl id=\"c2\" top=\"\" left=\"\"/>",
             false);
        for (const char *id : {"c1", "c2"}) {
            for (const char *key : {"kr_top", "kr_left"}) {
                const QString value = object(QLatin1String(id))->value(QLatin1String(key));
                EXPECT_TRUE(value.isEmpty() && !value.isNull()) << id << key;
            }
        }
        EXPECT_EQ(writer->written.count(QLatin1String(written) + QLatin1Char('=')), 2) << quiet;
        EXPECT_FALSE(writer->written.contains(QLatin1String(quiet) + QLatin1Char('='))) << quiet;
        EXPECT_TRUE(writer->written.contains(QStringLiteral("text=t"))) << quiet;
    }
    KRModelAdapter::setDOMWriter(installed);
}

TEST_F(Adapter, FunctionReferencesFollowDeleteAndRename)
{
    open("<KRTestControl id=\"c1\" onClick=\"f1\"/><KRTestControl id=\"c2\" onClick=\"f2\"/>"
         "<KRFunction id=\"f1\">x</KRFunction><KRFunction id=\"f2\">y</KRFunction>");
    auto other = project->testPages().at(1);
    const auto otherFunction = other->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("f1"));
    QCoreApplication::processEvents(); // the reference observers register after the current work
    KRUndoManager &undo = project->krDocument()->undoManager();

    std::dynamic_pointer_cast<KRFunction>(object("f2"))->setKr_id(QStringLiteral("renamed"));
    EXPECT_EQ(object("c2")->value(QStringLiteral("kr_onClick")), QStringLiteral("renamed"));
    EXPECT_EQ(element("c2").attribute(QStringLiteral("onClick")), QStringLiteral("renamed"));

    other->deleteObjects({otherFunction}); // same id on another page: nothing changes
    EXPECT_EQ(object("c1")->value(QStringLiteral("kr_onClick")), QStringLiteral("f1"));
    page->deleteObjects({object("f1")});
    EXPECT_EQ(element("c1").attribute(QStringLiteral("onClick")), QString(""));
    undo.undo();
    EXPECT_EQ(element("c1").attribute(QStringLiteral("onClick")), QStringLiteral("f1"));
    EXPECT_EQ(element("c2").attribute(QStringLiteral("onClick")), QStringLiteral("f2"));
}

// A control that enables its adapters in two sets with an observer of its own in between,
// as the real controls do (their text-style observers come between their adapter sets).
class StagedControl : public KRTestControl
{
public:
    using KRTestControl::KRTestControl;
    QStringList seen; // "key=attribute" as each change reached the observer

protected:
    void willEnableModelAdapters() override
    {
        static const std::vector<KRPropertyDescriptor> first = {
            KRPropertyDescriptor(QStringLiteral("text"), QString(), QString(), KRAdapterOptionJSString),
            KRPropertyDescriptor(QStringLiteral("onClick"), QString(), QString(),
                                 KRAdapterOptionEvent | KRAdapterOptionFunctionReference)};
        enableModelAdapters(first);
        m_token = observable().observe(QString(), [this](const void *, const QString &key, const QVariant &, const QVariant &) {
            seen.append(key + QLatin1Char('=') + xmlElement().attribute(key.mid(3)));
        });
    }

private:
    KRObservationToken m_token;
};

// Every edit of every object reaches its own element, each object's adapters are called where
// their own observers would be among the object's others (before one registered after them,
// after one registered before them), and the saved document reads back every value.
TEST_F(Adapter, EditsOfObjectsEnabledInSetsReachTheirElementsInOrder)
{
    static const bool registered = [] {
        KRObjectClass staged;
        staged.className = QStringLiteral("KRStagedControl");
        staged.superclassName = QStringLiteral("KRObject");
        staged.idBase = QStringLiteral("staged");
        staged.descriptors = {
            KRPropertyDescriptor(QStringLiteral("top"), QString(), QStringLiteral("top"),
                                 KRAdapterOptionPerDevice | KRAdapterOptionCSSPixels),
            KRPropertyDescriptor(QStringLiteral("text"), QString(), QString(), KRAdapterOptionJSString),
            KRPropertyDescriptor(QStringLiteral("count"), QString(), QString(), KRAdapterOptionJSNumber),
            KRPropertyDescriptor(QStringLiteral("onClick"), QString(), QString(),
                                 KRAdapterOptionEvent | KRAdapterOptionFunctionReference),
        };
        staged.factory = [](const KRObjectInit &init) { return std::make_shared<StagedControl>(init); };
        KRClassRegistry::sharedInstance().registerClass(staged);
        return true;
    }();
    ASSERT_TRUE(registered);
    open("<KRStagedControl id=\"s1\" top=\"1\" onClick=\"f1\"/><KRStagedControl id=\"s2\" text=\"keep\"/>"
         "<KRTestControl id=\"c1\"/><KRFunction id=\"f1\">x</KRFunction>");
    QCoreApplication::processEvents(); // the reference observers register after the current work
    const auto s1 = std::dynamic_pointer_cast<StagedControl>(object("s1"));
    const auto s2 = std::dynamic_pointer_cast<StagedControl>(object("s2"));
    ASSERT_TRUE(s1 && s2);

    // Interleaved over the objects and both sets of adapters.
    s1->seen.clear();
    s2->seen.clear();
    s1->setValue(QStringLiteral("kr_text"), QStringLiteral("one"));
    s2->setValue(QStringLiteral("kr_count"), QStringLiteral("2"));
    object("c1")->setValue(QStringLiteral("kr_text"), QStringLiteral("plain"));
    s2->setValue(QStringLiteral("kr_top"), QStringLiteral("20"));
    s1->setValue(QStringLiteral("kr_count"), QStringLiteral("1"));
    s1->setValue(QStringLiteral("kr_unknown"), QStringLiteral("no adapter"));
    // "text" was enabled before the observer: stored when it looks; "count" after: not yet.
    EXPECT_EQ(s1->seen, QStringList({QStringLiteral("kr_text=one"), QStringLiteral("kr_count="),
                                     QStringLiteral("kr_unknown=")}));
    EXPECT_EQ(s2->seen, QStringList({QStringLiteral("kr_count="), QStringLiteral("kr_top=")}));

    std::dynamic_pointer_cast<KRFunction>(object("f1"))->setKr_id(QStringLiteral("g1"));
    project->setAutoAdjustObjects(true); // per-device values become JSON in every object
    EXPECT_EQ(element("s1").xmlString(), QStringLiteral("<KRStagedControl id=\"s1\" top=\"{&quot;iPhone&quot;:&quot;1&quot;}\" "
                                                        "onClick=\"g1\" text=\"one\" count=\"1\"/>"));
    EXPECT_EQ(element("s2").xmlString(), QStringLiteral("<KRStagedControl id=\"s2\" text=\"keep\" onClick=\"\" top=\"{&quot;iPhone&quot;:&quot;20&quot;}\" "
                                                        "count=\"2\"/>"));
    EXPECT_EQ(element("c1").attribute(QStringLiteral("text")), QStringLiteral("plain"));

    // What is saved reads back the same.
    const QByteArray saved = project->krDocument()->xmlDocument().xmlData();
    const auto reopened = krOpenTestProject(KRTest::makeTempDir(), saved, true);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->krDocument()->xmlDocument().xmlData(), saved);
    const auto again = reopened->testPages().first();
    EXPECT_EQ(again->objectForID(QStringLiteral("s1"))->value(QStringLiteral("kr_count")), QStringLiteral("1"));
    EXPECT_EQ(again->objectForID(QStringLiteral("s2"))->value(QStringLiteral("kr_text")), QStringLiteral("keep"));
    EXPECT_EQ(again->objectForID(QStringLiteral("s1"))->value(QStringLiteral("kr_onClick")), QStringLiteral("g1"));
}

// Objects follow the project's settings and their page's functions through lists shared by
// all of them: objects that go leave them (most of a page at once too), and those left, and
// those made afterwards, still follow.
TEST_F(Adapter, ObjectsThatStayOrComeStillFollowSettingsAndFunctionsWhenOthersGo)
{
    QByteArray objects;
    for (int i = 1; i <= 6; ++i)
        objects += "<KRTestControl id=\"c" + QByteArray::number(i) + "\" top=\"" + QByteArray::number(i) + "\" onClick=\"f\"/>";
    open(objects + "<KRFunction id=\"f\">x</KRFunction>");
    QCoreApplication::processEvents(); // the reference observers register after the current work
    KRUndoManager &undo = project->krDocument()->undoManager();

    std::weak_ptr<KRObject> gone = object("c2");
    page->deleteObjects({object("c1"), object("c2"), object("c4"), object("c5")});
    undo.removeAllActions(); // nothing keeps the deleted objects any more
    QCoreApplication::processEvents();
    EXPECT_TRUE(gone.expired());
    const auto added = page->createNewObject(QStringLiteral("KRTestControl"), QStringLiteral("c"));
    ASSERT_TRUE(added);
    added->setValue(QStringLiteral("kr_top"), QStringLiteral("7"));
    added->setValue(QStringLiteral("kr_onClick"), QStringLiteral("f"));
    QCoreApplication::processEvents();

    project->setAutoAdjustObjects(true);
    std::dynamic_pointer_cast<KRFunction>(object("f"))->setKr_id(QStringLiteral("g"));
    for (const auto &[id, top] : {std::pair{"c3", "3"}, std::pair{"c6", "6"}}) {
        EXPECT_EQ(element(QLatin1String(id)).attribute(QStringLiteral("top")),
                  QStringLiteral("{\"iPhone\":\"%1\"}").arg(QLatin1String(top))) << id;
        EXPECT_EQ(element(QLatin1String(id)).attribute(QStringLiteral("onClick")), QStringLiteral("g")) << id;
    }
    EXPECT_EQ(added->xmlElement().attribute(QStringLiteral("top")), QStringLiteral("{\"iPhone\":\"7\"}"));
    EXPECT_EQ(added->xmlElement().attribute(QStringLiteral("onClick")), QStringLiteral("g"));

    page->deleteObjects({object("f")});
    EXPECT_EQ(element("c6").attribute(QStringLiteral("onClick")), QString(""));
    EXPECT_EQ(added->value(QStringLiteral("kr_onClick")), QString(""));
}

TEST_F(Adapter, ObjectsAndAdaptersAreReleased)
{
    open("<KRTestControl id=\"c1\" onClick=\"f\"/>");
    std::weak_ptr<KRObject> weakObject = object("c1");
    std::weak_ptr<KRModelAdapter> weakAdapter = object("c1")->modelAdapter(QStringLiteral("kr_onClick"));
    QCoreApplication::processEvents();
    page.reset();
    project.reset();
    EXPECT_TRUE(weakObject.expired());
    EXPECT_TRUE(weakAdapter.expired());
}

// Objects made outside design mode (a build) one after the other: each reads its own
// attributes, nothing of the object read before it, and per-device values for the target of
// the project the page belongs to.
TEST(AdapterOutsideDesignMode, EachObjectReadsItsOwnValuesForTheProjectsTarget)
{
    krRegisterTestClasses();
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Test.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    QFile file(package + QStringLiteral("/project.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(projectWith("<KRTestControl id=\"a\" top='{\"iPhone\":\"10\",\"iPad\":\"20\"}' text=\"first\" count=\"3\"/>"
                           "<KRTestControl id=\"b\" top='{\"iPhone\":\"11\"}' raw=\"x\"/>"
                           "<KRTestControl id=\"c\" left=\"5\"/>"));
    file.close();
    auto document = KRDocument::openPackage(package);
    ASSERT_TRUE(document.ok());
    const auto project = std::make_shared<KRTestProject>(document.value());
    project->setAutoAdjustObjects(true);
    project->setDesignTarget(QStringLiteral("iPad"));
    project->loadPages(false);
    ASSERT_TRUE(project->loadErrors.isEmpty()) << project->loadErrors.join(';').toStdString();
    const auto page = project->testPages().first();
    const auto value = [&page](const char *id, const char *key) {
        return page->objectForID(QLatin1String(id))->value(QLatin1String(key));
    };
    EXPECT_EQ(value("a", "kr_top"), QStringLiteral("20"));
    EXPECT_EQ(value("b", "kr_top"), QStringLiteral("11")); // no entry for the target: the first with one
    EXPECT_EQ(value("c", "kr_top"), QString(""));
    EXPECT_EQ(value("a", "kr_text"), QStringLiteral("first"));
    for (const char *id : {"b", "c"}) {
        EXPECT_EQ(value(id, "kr_text"), QString("")) << id;
        EXPECT_EQ(value(id, "kr_count"), QString("")) << id;
    }
    EXPECT_EQ(value("b", "kr_raw"), QStringLiteral("x"));
    EXPECT_EQ(value("c", "kr_raw"), QString(""));
    EXPECT_EQ(value("c", "kr_left"), QStringLiteral("5"));
    EXPECT_EQ(value("a", "kr_id"), QStringLiteral("a"));
    EXPECT_EQ(value("c", "kr_id"), QStringLiteral("c"));
}

} // namespace

// Entities of the file's own declarations never become an element's text (a function's
// source): a project that declares one is not opened.
TEST(AdapterText, EntityReferencesReadAsTextAndGoOnWrite)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE KRProjectDocument [<!ENTITY who \"World\">]>\n"
                           "<KRProjectDocument appVersion=\"0.1.0\"><KRProject/><KRPages><KRPage id=\"page1\"><KRContents>"
                           "<KRFunction id=\"f1\">alert('Hello &who;!');</KRFunction>"
                           "</KRContents></KRPage></KRPages></KRProjectDocument>\n";
    EXPECT_FALSE(krOpenTestProject(KRTest::makeTempDir(), xml, true));
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Who.krproj");
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    const auto opened = KRDocument::openPackage(package);
    ASSERT_FALSE(opened.ok());
    EXPECT_TRUE(opened.error().message().contains(QStringLiteral("declares the entity \u201Cwho\u201D")))
        << opened.error().message().toStdString();
}

// A function's id, should one not be an identifier, is quoted in the script, never code.
TEST(AdapterText, FunctionSourceQuotesAnIdThatIsNoIdentifier)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\"><KRProject/>"
                           "<KRPages><KRPage id=\"p\"><KRContents><KRFunction id=\"go\" arguments=\"e\">run(e)</KRFunction>"
                           "</KRContents></KRPage></KRPages></KRProjectDocument>\n";
    const auto project = krOpenTestProject(KRTest::makeTempDir(), xml, true);
    ASSERT_TRUE(project);
    const auto function = std::dynamic_pointer_cast<KRFunction>(project->testPages().first()->objectForID(QStringLiteral("go")));
    ASSERT_TRUE(function);
    EXPECT_EQ(function->functionSource(), QStringLiteral("application._pages.p._events.go = function(e) {\nrun(e)\n};\n"));
    function->setKr_id(QStringLiteral("a\"];alert(1);//"));
    EXPECT_EQ(function->functionSource(),
              QStringLiteral("application._pages.p._events[\"a\\\"];alert(1);//\"] = function(e) {\nrun(e)\n};\n"));
}
