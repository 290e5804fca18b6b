#include "KRModelTestFixtures.h"

#include <model/KRClassRegistry.h>
#include <model/KRDocumentWindowController.h>
#include <model/KRFunction.h>
#include <model/KRModelAdapter.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>

#include <KRTestSupport.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

const QByteArray kProject =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\"><KRProject/><KRPages>"
    "<KRPage id=\"page1\"><KRContents><KRTestControl id=\"button1\"/><KRTestControl id=\"label1\" text=\"a\"/>"
    "<KRFunction id=\"button1_onClick\">x</KRFunction></KRContents></KRPage>"
    "<KRPage id=\"page2\"><KRContents/></KRPage></KRPages></KRProjectDocument>\n";

class ObjectBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = krOpenTestProject(KRTest::makeTempDir(), kProject, true);
        ASSERT_TRUE(project);
        page = project->testPages().first();
        undo = &project->krDocument()->undoManager();
    }
    std::shared_ptr<KRObject> object(const QString &id) const { return page->objectForID(id); }

    std::shared_ptr<KRTestProject> project;
    std::shared_ptr<KRTestPage> page;
    KRUndoManager *undo = nullptr;
};

struct IdRow
{
    const char *name;
    QString id;
    QString message; // "" when valid
};

class IdRules : public ObjectBase, public ::testing::WithParamInterface<IdRow>
{};

TEST_P(IdRules, Validate)
{
    const KRResult<void> result = object(QStringLiteral("label1"))->validateKr_id(GetParam().id);
    if (GetParam().message.isEmpty()) {
        EXPECT_TRUE(result.ok()) << result.error().message().toStdString();
    } else {
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().domain(), QStringLiteral("Korvane"));
        EXPECT_EQ(result.error().code(), 100);
        EXPECT_EQ(result.error().message().toStdString(), GetParam().message.toStdString());
    }
}

const QString kNotIdentifier = QStringLiteral(
    "The object id is also used as its JavaScript identifiers.  \"%1\" is not a valid JavaScript identifier.");

INSTANTIATE_TEST_SUITE_P(
    Rows, IdRules,
    ::testing::Values(IdRow{"dollarFirst", QStringLiteral("$x"), QString()},
                      IdRow{"dollarLater", QStringLiteral("x$"), kNotIdentifier.arg("x$")},
                      IdRow{"digitFirst", QStringLiteral("1a"), kNotIdentifier.arg("1a")},
                      IdRow{"dash", QStringLiteral("a-b"), kNotIdentifier.arg("a-b")},
                      IdRow{"empty", QString(""), QStringLiteral("Cannot create an object with an empty id.")},
                      IdRow{"reserved", QStringLiteral("new"),
                            QStringLiteral("\"new\" is a reserved word in JavaScript and cannot be used as an object id.")},
                      IdRow{"ownId", QStringLiteral("label1"), QString()},
                      IdRow{"otherObject", QStringLiteral("button1"),
                            QStringLiteral("Object id \"button1\" already exists on page \"page1\".")},
                      IdRow{"otherPageObject", QStringLiteral("page2thing"), QString()}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ObjectBase, PageIdsAreUniqueInTheProject)
{
    EXPECT_TRUE(page->validateKr_id(QStringLiteral("page1")).ok());
    EXPECT_EQ(page->validateKr_id(QStringLiteral("page2")).error().message(),
              QStringLiteral("A page with the id \"page2\" already exists in this project."));
}

TEST_F(ObjectBase, PropertyEditsUndoAndRedo)
{
    const auto label = object(QStringLiteral("label1"));
    label->setValue(QStringLiteral("kr_text"), QStringLiteral("a")); // same value: no step
    QCoreApplication::processEvents();
    EXPECT_EQ(undo->undoCount(), 0);
    label->setValue(QStringLiteral("kr_text"), QStringLiteral("b"));
    QCoreApplication::processEvents(); // closes the step of this event
    EXPECT_EQ(undo->undoCount(), 1);
    EXPECT_TRUE(project->krDocument()->isDocumentEdited());
    EXPECT_EQ(label->xmlElement().attribute(QStringLiteral("text")), QStringLiteral("b"));
    undo->undo();
    EXPECT_EQ(label->value(QStringLiteral("kr_text")), QStringLiteral("a"));
    EXPECT_EQ(label->xmlElement().attribute(QStringLiteral("text")), QStringLiteral("a"));
    EXPECT_FALSE(project->krDocument()->isDocumentEdited());
    EXPECT_EQ(undo->redoCount(), 1);
    undo->redo();
    EXPECT_EQ(label->xmlElement().attribute(QStringLiteral("text")), QStringLiteral("b"));
    EXPECT_EQ(undo->undoCount(), 1);
}

TEST_F(ObjectBase, NoUndoBeforeThePageAddsTheObjectOrOutsideDesignMode)
{
    KRXMLNode element = project->krDocument()->xmlDocument().createElement(QStringLiteral("KRTestControl"));
    auto made = KRClassRegistry::sharedInstance().makeObject(QString(), element, page, nullptr, QStringLiteral("loose"), true);
    ASSERT_TRUE(made.ok());
    made.value()->setValue(QStringLiteral("kr_text"), QStringLiteral("x")); // undo switch still off
    QCoreApplication::processEvents();
    EXPECT_EQ(undo->undoCount(), 0);

    auto output = krOpenTestProject(KRTest::makeTempDir(), kProject, false);
    const auto label = output->testPages().first()->objectForID(QStringLiteral("label1"));
    label->setValue(QStringLiteral("kr_text"), QStringLiteral("y"));
    QCoreApplication::processEvents();
    EXPECT_EQ(output->krDocument()->undoManager().undoCount(), 0);
}

TEST_F(ObjectBase, NewObjectsGetDefaultsAndNumberedIds)
{
    const auto function = std::dynamic_pointer_cast<KRFunction>(
        page->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("function")));
    ASSERT_TRUE(function);
    EXPECT_EQ(function->kr_id(), QStringLiteral("function"));
    EXPECT_EQ(function->kr_source(), QStringLiteral("\n\t// Your code here\n"));
    EXPECT_EQ(function->kr_serverFunction(), QStringLiteral("No"));
    EXPECT_EQ(function->xmlElement().stringValue(), QStringLiteral("\n\t// Your code here\n"));
    EXPECT_EQ(function->functionSource(),
              QStringLiteral("application._pages.page1._events.function = function() {\n\n\t// Your code here\n\n};\n"));
    EXPECT_FALSE(function->hasJSInstanceVariable());
    EXPECT_EQ(function->defaultProperty(), QStringLiteral("source"));
    EXPECT_EQ(function->idBase(), QStringLiteral("function"));
}

TEST_F(ObjectBase, EventHandlersAreCreatedAndNumbered)
{
    const auto button = object(QStringLiteral("button1"));
    const auto handler = button->createEventHandlerForProperty(QStringLiteral("onClick"));
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->kr_id(), QStringLiteral("button1_onClick2"));
    EXPECT_EQ(handler->kr_arguments(), QStringLiteral("event"));
    EXPECT_EQ(button->value(QStringLiteral("kr_onClick")), QStringLiteral("button1_onClick2"));
    EXPECT_EQ(button->xmlElement().attribute(QStringLiteral("onClick")), QStringLiteral("button1_onClick2"));
}

TEST(ObjectServerEvents, ServerEventsGetRequestAndResponse)
{
    auto project = krOpenTestProject(KRTest::makeTempDir(), kProject, true, QStringLiteral("KRPage"));
    ASSERT_TRUE(project);
    const auto page = project->testPages().first();
    const auto handler = page->createEventHandlerForProperty(QStringLiteral("onGET"));
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->kr_id(), QStringLiteral("page1_onGET"));
    EXPECT_EQ(handler->kr_serverFunction(), QStringLiteral("Yes"));
    EXPECT_EQ(handler->kr_arguments(), QStringLiteral("request, response"));
}

TEST_F(ObjectBase, EventMenuActionOpensTheHandlerInTheWindow)
{
    class Window : public KRDocumentWindowController
    {
    public:
        std::shared_ptr<KRProjectBase> project() const override { return nullptr; }
        void editFunction(const std::shared_ptr<KRFunction> &function) override { edited << function->kr_id(); }
        void projectRunAction() override {}
        void createPageAction() override {}
        QStringList edited;
    };
    Window *window = nullptr;
    KRDocument::setWindowControllerFactory([&window](KRDocument &) {
        auto made = std::make_unique<Window>();
        window = made.get();
        return made;
    });
    project->krDocument()->makeWindowControllers();
    KRDocument::setWindowControllerFactory(nullptr);
    ASSERT_TRUE(window);
    const auto label = object(QStringLiteral("label1"));
    label->eventContextMenuAction(QStringLiteral("onClick")); // creates label1_onClick
    label->eventContextMenuAction(QStringLiteral("onClick")); // opens it again
    EXPECT_EQ(window->edited, (QStringList{"label1_onClick", "label1_onClick"}));
    label->setValue(QStringLiteral("kr_onClick"), QStringLiteral("gone"));
    label->eventContextMenuAction(QStringLiteral("onClick")); // names no function: nothing
    EXPECT_EQ(window->edited.size(), 2);
}

TEST_F(ObjectBase, ContextMenus)
{
    EXPECT_TRUE(page->contextMenuItemsForObject().isEmpty());
    const auto button = object(QStringLiteral("button1"));
    button->setValue(QStringLiteral("kr_onClick"), QStringLiteral("button1_onClick"));
    QList<KRMenuItem> items = button->contextMenuItemsForObject();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0].title, QStringLiteral("Cut"));
    EXPECT_EQ(items[1].title, QStringLiteral("Copy"));
    EXPECT_EQ(items[2].title, QStringLiteral("Delete"));
    EXPECT_TRUE(items[3].separator);
    items[0].action();
    items[1].action();
    EXPECT_EQ(page->cut.size(), 1);
    EXPECT_EQ(page->copied.size(), 1);
    button->addEventContextMenuItems(items, {QStringLiteral("onClick")});
    button->addEventContextMenuItems(items, {QStringLiteral("onTouchStart")});
    ASSERT_EQ(items.size(), 5); // one "Events" item holds both
    EXPECT_EQ(items[4].submenu.size(), 2);
    EXPECT_TRUE(items[4].submenu[0].bold);
    EXPECT_EQ(items[4].submenu[1].imageName, QStringLiteral("plus-circle-Template"));
    items[2].action();
    EXPECT_FALSE(page->objectForID(QStringLiteral("button1")));
}

TEST_F(ObjectBase, RenamingAFunctionPostsOldAndNewId)
{
    QVariantMap seen;
    KRObservationToken token = KRNotificationCenter::defaultCenter().addObserver(
        KRPageFunctionDidChangeIDNotification, page->identity(), [&](const KRNotification &n) { seen = n.userInfo; });
    std::dynamic_pointer_cast<KRFunction>(object(QStringLiteral("button1_onClick")))->setKr_id(QStringLiteral("f2"));
    EXPECT_EQ(seen.value("oldID").toString(), QStringLiteral("button1_onClick"));
    EXPECT_EQ(seen.value("newID").toString(), QStringLiteral("f2"));
}

TEST_F(ObjectBase, InitializationsKeepOrderAndSkipEmpty)
{
    const auto label = object(QStringLiteral("label1"));
    label->setValue(QStringLiteral("kr_count"), QStringLiteral("3"));
    const auto inits = label->jsPropertyInitializations();
    EXPECT_EQ(inits.allKeys(), (QStringList{"text", "count"}));
    EXPECT_EQ(inits.objectForKey("text"), QStringLiteral("\"a\""));
}

// Values of the class's keys sit in slots filled mostly in table order; keys set out of that
// order, keys outside the table, and keys never set all read back as stored, and observers
// see the old value of a slot.
TEST_F(ObjectBase, ValuesReadBackWhateverOrderAndKeyTheyAreStoredWith)
{
    const auto label = object(QStringLiteral("label1"));
    EXPECT_EQ(label->value(QStringLiteral("kr_id")), QStringLiteral("label1"));
    EXPECT_EQ(label->value(QStringLiteral("kr_text")), QStringLiteral("a"));
    EXPECT_FALSE(label->value(QStringLiteral("kr_count")).isNull()); // loaded: "" stored
    EXPECT_TRUE(label->value(QStringLiteral("kr_elsewhere")).isNull());

    QStringList seen;
    const KRObservationToken token = label->observable().observe(
        QStringLiteral("kr_count"), [&seen](const void *, const QString &, const QVariant &oldValue, const QVariant &newValue) {
            seen << oldValue.toString() + QLatin1String("->") + newValue.toString();
        });
    const QStringList keys{"kr_raw", "kr_count", "kr_text", "kr_elsewhere", "kr_left", "kr_top", "kr_count"};
    for (int i = 0; i < keys.size(); ++i)
        label->setValue(keys.at(i), QString::number(i));
    EXPECT_EQ(label->value(QStringLiteral("kr_raw")), QStringLiteral("0"));
    EXPECT_EQ(label->value(QStringLiteral("kr_text")), QStringLiteral("2"));
    EXPECT_EQ(label->value(QStringLiteral("kr_elsewhere")), QStringLiteral("3"));
    EXPECT_EQ(label->value(QStringLiteral("kr_top")), QStringLiteral("5"));
    EXPECT_EQ(label->value(QStringLiteral("kr_count")), QStringLiteral("6"));
    EXPECT_EQ(seen, (QStringList{"->1", "1->6"}));
    label->setValue(QStringLiteral("kr_other"), QString(QLatin1String("")));
    EXPECT_FALSE(label->value(QStringLiteral("kr_other")).isNull());
    // The element keeps what the adapters wrote, whichever order the values came in.
    EXPECT_EQ(label->xmlElement().attribute(QStringLiteral("count")), QStringLiteral("6"));
}

// An adapter may be held past its object (a queued call): it then answers without the object
// and still has its descriptor, whose table outlives the object with it.
TEST_F(ObjectBase, AdaptersHeldPastTheirObjectStayUsable)
{
    std::shared_ptr<KRModelAdapter> text;
    std::weak_ptr<KRObject> weakObject;
    {
        KRXMLNode element = project->krDocument()->xmlDocument().createElement(QStringLiteral("KRTestControl"));
        auto made = KRClassRegistry::sharedInstance().makeObject(QString(), element, page, nullptr, QStringLiteral("loose"), false);
        ASSERT_TRUE(made.ok());
        text = made.value()->modelAdapter(QStringLiteral("kr_text"));
        ASSERT_TRUE(text);
        EXPECT_EQ(text->object(), made.value());
        EXPECT_EQ(made.value()->modelAdapters().size(),
                  KRClassRegistry::sharedInstance().descriptorTable(QStringLiteral("KRTestControl")).size());
        weakObject = made.value();
    }
    ASSERT_TRUE(weakObject.expired());

    EXPECT_FALSE(text->object());
    EXPECT_EQ(text->liveObject(), nullptr);
    EXPECT_EQ(text->descriptor().kr_propertyName(), QStringLiteral("kr_text"));
    EXPECT_TRUE(text->jsPropertyInit().isNull());
    text->updateDOM(QStringLiteral("x")); // nothing to write into
    text->setKRObjectProperty(QStringLiteral("x"));
    std::weak_ptr<KRModelAdapter> weakText = text;
    text.reset();
    EXPECT_TRUE(weakText.expired());
}

TEST_F(ObjectBase, RegistryRefusesUnknownClassesAndElementsWithoutId)
{
    KRXMLDocument xml = project->krDocument()->xmlDocument();
    KRXMLNode unknown = xml.createElement(QStringLiteral("KRNoSuchThing"));
    unknown.setAttribute(QStringLiteral("id"), QStringLiteral("x"));
    auto made = KRClassRegistry::sharedInstance().makeObject(QString(), unknown, page, nullptr, QString(), true);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().message(), QStringLiteral("Unknown object class \"KRNoSuchThing\""));
    KRXMLNode noID = xml.createElement(QStringLiteral("KRTestControl"));
    made = KRClassRegistry::sharedInstance().makeObject(QString(), noID, page, nullptr, QString(), true);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().message(), QStringLiteral("Invalid kr_id"));
    made = KRClassRegistry::sharedInstance().makeObject(QString(), noID, page, nullptr, QStringLiteral("given"), true);
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(noID.attribute(QStringLiteral("id")), QStringLiteral("given"));
    EXPECT_EQ(made.value()->kr_className(), QStringLiteral("KRTestControl"));
    EXPECT_TRUE(made.value()->objectProperties().contains(QStringLiteral("kr_onClick")));
    // Classes registered at run time join the chain.
    KRObjectClass plugin;
    plugin.className = QStringLiteral("KRPluginThing");
    plugin.superclassName = QStringLiteral("KRTestControl");
    plugin.descriptors = {KRPropertyDescriptor(QStringLiteral("level"), QString(), QString(),
                                               KRAdapterOptionPluginProperty | KRAdapterOptionJSNumber)};
    plugin.plugin = true;
    ASSERT_TRUE(KRClassRegistry::sharedInstance().registerClass(plugin).ok());
    EXPECT_FALSE(KRClassRegistry::sharedInstance().registerClass(plugin).ok());
    EXPECT_TRUE(KRClassRegistry::sharedInstance().isKindOf(QStringLiteral("KRPluginThing"), QStringLiteral("KRObject")));
    const auto &table = KRClassRegistry::sharedInstance().descriptorTable(QStringLiteral("KRPluginThing"));
    EXPECT_EQ(table.front().propertyName(), QStringLiteral("id"));
    EXPECT_EQ(table.back().propertyName(), QStringLiteral("level"));
    // An object made before its class changes keeps the table it was laid out by.
    KRXMLNode thingElement = xml.createElement(QStringLiteral("KRPluginThing"));
    thingElement.setAttribute(QStringLiteral("id"), QStringLiteral("thing"));
    thingElement.setAttribute(QStringLiteral("level"), QStringLiteral("3"));
    auto thing = KRClassRegistry::sharedInstance().makeObject(QString(), thingElement, page, nullptr, QString(), false);
    ASSERT_TRUE(thing.ok());
    KRClassRegistry::sharedInstance().unregisterClass(QStringLiteral("KRPluginThing"));
    plugin.descriptors = {KRPropertyDescriptor(QStringLiteral("depth"), QString(), QString(), KRAdapterOptionJSNumber)};
    ASSERT_TRUE(KRClassRegistry::sharedInstance().registerClass(plugin).ok());
    EXPECT_EQ(KRClassRegistry::sharedInstance().descriptorTable(QStringLiteral("KRPluginThing")).back().propertyName(),
              QStringLiteral("depth"));
    EXPECT_EQ(thing.value()->value(QStringLiteral("kr_level")), QStringLiteral("3"));
    thing.value()->setValue(QStringLiteral("kr_level"), QStringLiteral("4"));
    EXPECT_EQ(thing.value()->value(QStringLiteral("kr_level")), QStringLiteral("4"));
    EXPECT_TRUE(thing.value()->modelAdapter(QStringLiteral("kr_level")));
    thing = KRResult<std::shared_ptr<KRObject>>(nullptr);
    KRClassRegistry::sharedInstance().unregisterClass(QStringLiteral("KRPluginThing"));
}

// Lookups come from several threads at once (pages made side by side); what a thread
// remembered of a class is forgotten when the classes change.
TEST_F(ObjectBase, RegistryAnswersThreadsAndForgetsChangedClasses)
{
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    const QString name = QStringLiteral("KRThreadThing");
    auto registerWith = [&](const char *property) {
        KRObjectClass thing;
        thing.className = name;
        thing.superclassName = QStringLiteral("KRTestControl");
        thing.descriptors = {KRPropertyDescriptor(QLatin1String(property), QString(), QString(), KRAdapterOptionJSNumber)};
        ASSERT_TRUE(registry.registerClass(thing).ok());
    };
    auto lastProperty = [&] {
        const auto table = registry.descriptorTablePointer(name);
        const auto index = registry.descriptorIndexPointer(name);
        const auto attributes = registry.attributeNames(name, table.get());
        const bool consistent = registry.isKindOf(name, QStringLiteral("KRObject")) && attributes
            && attributes->size() == table->size() && index->value(table->back().kr_propertyName(), -1) == qsizetype(table->size() - 1);
        return consistent ? table->back().propertyName() : QStringLiteral("(inconsistent)");
    };
    registerWith("level");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                EXPECT_EQ(lastProperty(), QStringLiteral("level"));
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    // A thread that asked before the class was changed (while it waited) asks again after.
    std::atomic<int> phase{0};
    QString before, after;
    std::thread asker([&] {
        before = lastProperty();
        phase = 1;
        while (phase != 2)
            std::this_thread::yield();
        after = lastProperty();
    });
    while (phase != 1)
        std::this_thread::yield();
    registry.unregisterClass(name); // frees what the thread remembered
    registerWith("depth");
    phase = 2;
    asker.join();
    EXPECT_EQ(before, QStringLiteral("level"));
    EXPECT_EQ(after, QStringLiteral("depth"));
    registry.unregisterClass(name);
}

} // namespace

namespace {

// The initialisers of an object holding hostile values make a script that parses and gives
// back the values.
TEST_F(ObjectBase, GeneratedInitialisersParseWithHostileValues)
{
    const QString node = QStringLiteral("/usr/bin/node");
    if (!QFile::exists(node))
        GTEST_SKIP() << "node is not installed at /usr/bin/node";
    const auto label = object(QStringLiteral("label1"));
    const QString hostile = QString::fromUtf16(u"\"quoted\" \\ back\\\nline\r\u2028</script><!--");
    label->setValue(QStringLiteral("kr_text"), hostile);
    label->setValue(QStringLiteral("kr_count"), QStringLiteral("-007.50px"));
    label->setValue(QStringLiteral("kr_enabled"), QStringLiteral("TRUE"));
    label->setValue(QStringLiteral("kr_top"), QStringLiteral("{\"iPhone\":\"</script>\\u2028\",\"iPad\":\"2\"}"));
    label->setValue(QStringLiteral("kr_left"), hostile);
    label->setValue(QStringLiteral("kr_onClick"), QStringLiteral("button1_onClick"));
    QString script = QStringLiteral("'use strict';\nconst application = {_pages: {page1: {_events: {button1_onClick: 1}}}};\n"
                                    "const o = {label1: {}};\n");
    const auto inits = label->jsPropertyInitializations();
    for (const QString &name : inits.keyEnumerator())
        script += QStringLiteral("o.label1.%1 = %2;\n").arg(name, inits.objectForKey(name));
    QString codes;
    for (QChar c : hostile)
        codes += QString::number(c.unicode()) + QLatin1Char(',');
    codes.chop(1);
    script += QStringLiteral("if (o.label1.text !== String.fromCharCode(%1)) process.exit(3);\n"
                             "if (o.label1.count !== -7.5 || o.label1.enabled !== true) process.exit(4);\n"
                             "if (o.label1.top.iPhone !== '<\\/script>\\u2028' || o.label1.left !== o.label1.text) process.exit(5);\n"
                             "if (o.label1.onClick !== 1) process.exit(6);\n").arg(codes);
    EXPECT_FALSE(script.contains(QStringLiteral("</script")));
    const QString path = KRTest::makeTempDir() + QStringLiteral("/page.js");
    KRTest::writeFile(path, script.toUtf8());
    QProcess run;
    run.start(node, {path});
    ASSERT_TRUE(run.waitForFinished(30000));
    EXPECT_EQ(run.exitCode(), 0) << script.toStdString() << run.readAllStandardError().toStdString();
}

} // namespace
