#include "InspectorTestSupport.h"
#include "KRTestSupport.h"

#include <inspector/KRItemEditorViewController.h>
#include <widgets/help/KRHelpButtonController.h>

#include <controls/KRPluginLoader.h>
#include <core/KRJSONSerialization.h>
#include <model/KRClassRegistry.h>
#include <model/KRPasteboard.h>
#include <platform/dom/DOMElement.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <platform/appkit/KRBinding.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QMimeData>
#include <QDir>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonObject>
#include <QApplication>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace KRInspectorTest;

namespace {

void settle()
{
    // Closes the automatic undo group of the current event.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

QString normal(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

// Edit, then undo and redo: the XML attribute follows each step, and the edit is one step
// that the Edit menu names after the property.
void expectRoundTrip(const Fixture &f, const std::shared_ptr<KRObject> &object, const QString &attributeName,
                     const QString &expected, const std::function<void()> &edit)
{
    SCOPED_TRACE(attributeName.toStdString());
    KRUndoManager &undo = f.document->undoManager();
    settle();
    const QString before = normal(attribute(object, attributeName));
    const int steps = undo.undoCount();
    const QString title = QStringLiteral("Undo Change ") + attributeName;
    edit();
    settle();
    EXPECT_EQ(normal(attribute(object, attributeName)), expected);
    EXPECT_EQ(undo.undoCount(), steps + 1);
    EXPECT_EQ(undo.undoMenuItemTitle(), title);
    undo.undo();
    settle();
    EXPECT_EQ(normal(attribute(object, attributeName)), before);
    EXPECT_EQ(undo.redoMenuItemTitle(), QStringLiteral("Redo Change ") + attributeName);
    undo.redo();
    settle();
    EXPECT_EQ(normal(attribute(object, attributeName)), expected);
    EXPECT_EQ(undo.undoMenuItemTitle(), title);
}

void typeInto(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

QString layoutOf(const std::shared_ptr<KRObject> &object)
{
    auto inspector = KRCachingViewController::create<KRPropertyEditorViewController>();
    inspector->setObject(object);
    return inspector->layoutDescription().join(QLatin1Char('\n')) + QLatin1Char('\n');
}

const char *const kPalette[][2] = {
    {"KRLabel", ""}, {"KRDiv", ""}, {"KRImage", ""}, {"KRCanvas", ""}, {"KRTable", ""},
    {"KRBluffGraph", ""}, {"KRPhotoSwipe", ""}, {"KRButton", ""}, {"KRTextbox", ""}, {"KRTextArea", ""},
    {"KRCheckbox", ""}, {"KRRadioButton", ""}, {"KRSelect", ""}, {"KRTimer", ""}, {"KRLocalDataSource", ""},
    {"JQMButton", ""}, {"JQMTextbox", ""}, {"JQMTextArea", ""}, {"JQMSelect", ""}, {"JQMSlider", ""},
    {"JQMSlideToggle", ""}, {"JQMRadioButtonGroup", ""}, {"JQMCheckboxGroup", ""}, {"JQMListView", ""},
    {"JQMHeaderToolbar", ""}, {"JQMFooterToolbar", ""}, {"JQMSimplePopup", ""}, {"KRStyleClass", ""},
    {"KRFunction", ""}};

} // namespace

// --- Layout by class

TEST(KRPropertyEditorLayout, EveryPaletteClassMatchesItsGoldenLayoutAndInspectingWritesNothing)
{
    QString contents;
    for (const auto &entry : kPalette)
        contents += QStringLiteral("<%1 id=\"o%1\"/>").arg(QLatin1String(entry[0]));
    const Fixture f = open(contents);
    ASSERT_TRUE(f.page);
    settle();
    const QByteArray xmlBefore = f.document->xmlDocument().xmlData();
    const std::int64_t changes = f.document->undoManager().changeCount();
    for (const auto &entry : kPalette) {
        const QString className = QLatin1String(entry[0]);
        const auto object = f.object(QStringLiteral("o") + className);
        ASSERT_TRUE(object) << className.toStdString();
        krExpectGoldenFile(QStringLiteral(KR_TEST_DATA_DIR "/inspector/layouts/") + className + QStringLiteral(".txt"),
                           layoutOf(object));
    }
    krExpectGoldenFile(QStringLiteral(KR_TEST_DATA_DIR "/inspector/layouts/KRPage.txt"), layoutOf(f.page));

    // Choosing what is already stored (a missing value counts as empty) records nothing.
    auto inspector = inspect(f.object(QStringLiteral("oJQMButton")));
    auto *theme = row<KRPropertyEditorItemEnumViewController>(*inspector, QStringLiteral("theme"));
    theme->chooseIndex(theme->popupButton()->currentIndex());
    row<KRPropertyEditorItemEventViewController>(*inspector, QStringLiteral("onClick"))->chooseIndex(0);
    row<KRPropertyEditorItemEnumComboViewController>(*inspector, QStringLiteral("icon"))->commitText(QString());
    row<KRPropertyEditorItemPageViewController>(*inspector, QStringLiteral("gotoPage"))->chooseIndex(0);
    typeInto(row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("value"))->textField(), QString());
    settle();
    EXPECT_EQ(f.document->undoManager().changeCount(), changes);
    EXPECT_FALSE(f.document->isDocumentEdited());
    EXPECT_EQ(f.document->xmlDocument().xmlData(), xmlBefore);
}

TEST(KRPropertyEditorLayout, TextboxRowsAndSectionsFollowTheFixedOrder)
{
    const Fixture f = open(QStringLiteral("<JQMTextbox id=\"t\"/>"));
    auto inspector = inspect(f.object(QStringLiteral("t")));
    QStringList names;
    for (auto *item : inspector->visiblePropertyEditorItems()) {
        if (auto *header = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(item))
            names << QLatin1Char('[') + header->label()->text() + QLatin1Char(']');
        else if (!item->propertyName().isEmpty())
            names << item->propertyName();
        else
            names << item->kindName();
    }
    EXPECT_EQ(names.join(QLatin1Char(' ')),
              QStringLiteral("[JQMTextbox Properties] id Control styleClass type color boxShadow name disabled label "
                             "placeholder value theme mini maxsize autocapitalize autocorrect HLine [Background] "
                             "[Font & Text] fontFamily fontWeight fontStyle fontSize textShadow textAlign letterSpacing "
                             "lineHeight HLine [Borders & Padding] [Events]"));
    EXPECT_EQ(inspector->propertyEditorItems().size(), 73u);

    // Help texts by button identifier; none once the object is gone.
    auto *title = inspector->visiblePropertyEditorItems().first();
    EXPECT_EQ(title->helpContent(QStringLiteral("objectHelp_JQMTextbox")),
              KRObjectInfo::sharedInstance().objectHelpHTML(QStringLiteral("JQMTextbox")));
    EXPECT_EQ(title->helpContent(QStringLiteral("helpButton_placeholder")),
              KRObjectInfo::sharedInstance().propertyHelpHTML(QStringLiteral("placeholder"), QStringLiteral("JQMTextbox")));
    EXPECT_FALSE(title->helpContent(QStringLiteral("helpButton_placeholder")).isEmpty());
    EXPECT_EQ(title->helpContent(QStringLiteral("other")), QString());

    // Opening a section shows its rows in place; closing hides exactly them again.
    auto *events = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(inspector->visiblePropertyEditorItems().last());
    ASSERT_TRUE(events);
    const auto before = inspector->visiblePropertyEditorItems();
    QTest::mouseClick(events->disclosureButton(), Qt::LeftButton);
    QStringList shown;
    for (auto *item : inspector->visiblePropertyEditorItems().mid(before.size()))
        shown << item->propertyName();
    EXPECT_EQ(shown.join(QLatin1Char(' ')),
              QStringLiteral("onChange onClick onFocus onBlur onTouchStart onTouchMove onTouchEnd "));
    EXPECT_TRUE(events->childViewControllers().last()->view()->isVisibleTo(inspector->view()));
    QTest::mouseClick(events->disclosureButton(), Qt::LeftButton);
    EXPECT_EQ(inspector->visiblePropertyEditorItems(), before);
}

TEST(KRPropertyEditorLayout, PageIncludesOnlyWithoutAjaxLoadingAndDefaultPropertyTakesFocus)
{
    const Fixture ajax = open(QString());
    ajax.project->setAjaxPageLoading(true);
    EXPECT_FALSE(layoutOf(ajax.page).contains(QLatin1String("cssIncludes")));
    const Fixture plain = open(QStringLiteral("<KRLabel id=\"l\"/>"));
    EXPECT_TRUE(layoutOf(plain.page).contains(QLatin1String("MLTable cssIncludes")));

    auto inspector = inspect(plain.object(QStringLiteral("l")));
    inspector->view()->activateWindow();
    inspector->editDefaultProperty();
    const QString defaultProperty = plain.object(QStringLiteral("l"))->defaultProperty();
    auto *edited = row<KRPropertyEditorItemStringViewController>(*inspector, defaultProperty);
    ASSERT_TRUE(edited) << defaultProperty.toStdString();
    EXPECT_EQ(inspector->view()->focusWidget(), edited->textField());
    // Tab from the last visible row wraps to row 1 (row 0 is the title).
    auto *table = inspector->propertyTableView();
    const auto &visible = inspector->visiblePropertyEditorItems();
    ASSERT_TRUE(table->attemptToSelectKeyViewFollowingView(visible.last()->view()));
    EXPECT_EQ(table->rowForView(inspector->view()->focusWidget()), 1);
    // The Tab key leaves a row for the next one; back-Tab from row 1 passes the title row
    // (nothing to focus) and wraps to the last row.
    QTest::keyClick(inspector->view()->focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(table->rowForView(inspector->view()->focusWidget()), 2);
    row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("id"))->textField()->setFocus();
    QTest::keyClick(inspector->view()->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    int lastFocusable = int(visible.size()) - 1;
    while (lastFocusable > 0 && !visible[lastFocusable]->view()->findChild<QLineEdit *>() &&
           !visible[lastFocusable]->view()->findChild<QComboBox *>())
        --lastFocusable;
    EXPECT_EQ(table->rowForView(inspector->view()->focusWidget()), lastFocusable);
}

TEST(KRPropertyEditorLayout, PluginPropertiesJoinTheirSectionsAndUnknownPropertiesAreSkipped)
{
    krRegisterCompositeTestClasses();
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        KRPluginLoader loader;
        const QVariantMap gauge{
            {QStringLiteral("className"), QStringLiteral("KRInspectorGauge")},
            {QStringLiteral("superClass"), QStringLiteral("KRPlugin")},
            {QStringLiteral("enumOptions"),
             QVariantMap{{QStringLiteral("needles"), QVariantList{QStringLiteral("thin"), QStringLiteral("Thin"),
                                                                  QStringLiteral("bold"), QStringLiteral("Bold")}}}},
            {QStringLiteral("properties"),
             QVariantList{
                 QVariantMap{{QStringLiteral("propertyName"), QStringLiteral("caption")},
                             {QStringLiteral("propertyType"), QStringLiteral("string")}},
                 QVariantMap{{QStringLiteral("propertyName"), QStringLiteral("dial")},
                             {QStringLiteral("propertyType"), QStringLiteral("color")},
                             {QStringLiteral("group"), QStringLiteral("Background")}},
                 QVariantMap{{QStringLiteral("propertyName"), QStringLiteral("needle")},
                             {QStringLiteral("propertyType"), QStringLiteral("enum")},
                             {QStringLiteral("enumOptions"), QStringLiteral("needles")},
                             {QStringLiteral("group"), QStringLiteral("Gauge")}},
                 QVariantMap{{QStringLiteral("propertyName"), QStringLiteral("limit")},
                             {QStringLiteral("propertyType"), QStringLiteral("number")},
                             {QStringLiteral("group"), QStringLiteral("Gauge")}},
                 QVariantMap{{QStringLiteral("propertyName"), QStringLiteral("notes")},
                             {QStringLiteral("propertyType"), QStringLiteral("multilineString")},
                             {QStringLiteral("group"), QStringLiteral("Gauge")}}}}};
        ASSERT_TRUE(loader.loadPluginClass(gauge, KRTest::makeTempDir()));
        // The catalogue knows a property that the class itself does not declare.
        QVariantMap ghost = gauge;
        ghost.insert(QStringLiteral("className"), QStringLiteral("KRInspectorGhost"));
        ghost.insert(QStringLiteral("superClass"), QStringLiteral("KRInspectorGauge"));
        ghost.insert(QStringLiteral("properties"),
                     QVariantList{QVariantMap{{QStringLiteral("propertyName"), QStringLiteral("phantom")},
                                              {QStringLiteral("propertyType"), QStringLiteral("string")},
                                              {QStringLiteral("group"), QStringLiteral("Gauge")}}});
        ASSERT_TRUE(KRObjectInfo::sharedInstance().addPluginObject(ghost, KRTest::makeTempDir()));
        KRObjectClass ghostClass;
        ghostClass.className = QStringLiteral("KRInspectorGhost");
        ghostClass.superclassName = QStringLiteral("KRInspectorGauge");
        ghostClass.plugin = true;
        ASSERT_TRUE(KRClassRegistry::sharedInstance().registerClass(ghostClass));
    }
    const Fixture f = open(QStringLiteral("<KRInspectorGauge id=\"g\"/><KRInspectorGhost id=\"h\"/>"));
    ASSERT_TRUE(f.object(QStringLiteral("g")));
    krExpectGoldenFile(QStringLiteral(KR_TEST_DATA_DIR "/inspector/layouts/KRInspectorGauge.txt"),
                       layoutOf(f.object(QStringLiteral("g"))));
    ASSERT_TRUE(f.object(QStringLiteral("h")));
    const QString ghostLayout = layoutOf(f.object(QStringLiteral("h")));
    EXPECT_FALSE(ghostLayout.contains(QLatin1String("phantom")));
    EXPECT_TRUE(ghostLayout.contains(QLatin1String("Enum needle")));

    auto inspector = inspect(f.object(QStringLiteral("g")));
    auto *gaugeHeader = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(
        inspector->propertyEditorItems()[inspector->propertyEditorItems().size() - 4].get());
    ASSERT_TRUE(gaugeHeader);
    QTest::mouseClick(gaugeHeader->disclosureButton(), Qt::LeftButton);
    screenshot(inspector->view(), QStringLiteral("plugin-control"));
}

// --- Editing: each row kind round-trips through the model and the undo history

TEST(KRPropertyEditorRows, EveryRowKindEditsOneUndoStep)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\"/><JQMTextbox id=\"t\"/><KRSelect id=\"s\">a</KRSelect>"
                                          "<KRFunction id=\"handler\" arguments=\"event\">x();</KRFunction>"));
    const auto button = f.object(QStringLiteral("b"));
    auto inspector = inspect(button);

    expectRoundTrip(f, button, QStringLiteral("value"), QStringLiteral("Go"), [&] {
        typeInto(row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("value"))->textField(),
                 QStringLiteral("Go"));
    });
    auto *geometry = row<KRPropertyEditorItemControlViewController>(*inspector, QString());
    EXPECT_TRUE(geometry->checkbox(QStringLiteral("visible"))->isChecked());
    expectRoundTrip(f, button, QStringLiteral("visible"), QStringLiteral("false"), [&] {
        QTest::mouseClick(geometry->checkbox(QStringLiteral("visible")), Qt::LeftButton, {}, QPoint(8, 9));
    });
    expectRoundTrip(f, button, QStringLiteral("left"), QStringLiteral("40"), [&] {
        typeInto(row<KRPropertyEditorItemControlViewController>(*inspector, QString())->textField(QStringLiteral("left")),
                 QStringLiteral("40"));
    });
    auto *theme = row<KRPropertyEditorItemEnumViewController>(*inspector, QStringLiteral("theme"));
    const int bIndex = theme->popupButton()->findData(QStringLiteral("b"));
    ASSERT_GE(bIndex, 0);
    expectRoundTrip(f, button, QStringLiteral("theme"), QStringLiteral("b"), [&] { theme->chooseIndex(bIndex); });
    auto *icon = row<KRPropertyEditorItemEnumComboViewController>(*inspector, QStringLiteral("icon"));
    expectRoundTrip(f, button, QStringLiteral("icon"), QStringLiteral("my-own-icon"),
                    [&] { icon->commitText(QStringLiteral("my-own-icon")); });
    // Tab leaves the editable icon box for a row below; Shift+Tab comes back and leaves it upwards.
    inspector->view()->activateWindow();
    auto *table = inspector->propertyTableView();
    const int iconRow = table->rowForView(icon->view());
    icon->popupButton()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(table->rowForView(inspector->view()->focusWidget()), iconRow);
    QTest::keyClick(inspector->view()->focusWidget(), Qt::Key_Tab);
    EXPECT_GT(table->rowForView(inspector->view()->focusWidget()), iconRow);
    QTest::keyClick(inspector->view()->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(table->rowForView(inspector->view()->focusWidget()), iconRow);
    QTest::keyClick(inspector->view()->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_LT(table->rowForView(inspector->view()->focusWidget()), iconRow);
    auto *page = row<KRPropertyEditorItemPageViewController>(*inspector, QStringLiteral("gotoPage"));
    QStringList pages;
    for (int i = 0; i < page->popupButton()->count(); ++i)
        pages << page->popupButton()->itemText(i);
    EXPECT_EQ(pages, (QStringList{QString(), QStringLiteral("(back)"), QStringLiteral("page1"), QStringLiteral("page2")}));
    expectRoundTrip(f, button, QStringLiteral("gotoPage"), QStringLiteral("page2"), [&] { page->chooseIndex(3); });
    // Deleting a page takes it out of the list at once; a link to it is still shown as it is.
    for (const auto &p : f.project->krPages())
        if (p->kr_id() == QLatin1String("page2"))
            f.project->deletePage(p);
    EXPECT_EQ(page->popupButton()->findData(QStringLiteral("page2")), -1);
    EXPECT_EQ(page->popupButton()->currentText(), QStringLiteral("page2"));
    EXPECT_EQ(attribute(button, QStringLiteral("gotoPage")), QStringLiteral("page2"));
    f.document->undoManager().undo();
    settle();
    EXPECT_GE(page->popupButton()->findData(QStringLiteral("page2")), 0);
    expectRoundTrip(f, button, QStringLiteral("disabled"), QStringLiteral("true"), [&] {
        QTest::mouseClick(row<KRPropertyEditorItemBooleanViewController>(*inspector, QStringLiteral("disabled"))->checkbox(),
                          Qt::LeftButton, {}, QPoint(8, 9));
    });
    auto *colour = row<KRPropertyEditorItemColorViewController>(*inspector, QStringLiteral("color"));
    EXPECT_EQ(colour->viewHeight(), 20);
    expectRoundTrip(f, button, QStringLiteral("color"), QStringLiteral("#000000"),
                    [&] { QTest::mouseClick(colour->defaultCheckbox(), Qt::LeftButton, {}, QPoint(8, 9)); });
    EXPECT_EQ(colour->viewHeight(), 48);
    f.document->undoManager().undo();
    settle();
    // Undo emptied the colour: the row folds without writing anything.
    EXPECT_EQ(colour->viewHeight(), 20);
    EXPECT_TRUE(f.document->undoManager().canRedo());
    f.document->undoManager().redo();
    settle();

    auto *event = row<KRPropertyEditorItemEventViewController>(*inspector, QStringLiteral("onClick"));
    EXPECT_EQ(event->popupButton()->currentText(), QStringLiteral("No Event Handler"));
    EXPECT_GE(event->popupButton()->findText(QStringLiteral("handler")), 0);
    expectRoundTrip(f, button, QStringLiteral("onClick"), QStringLiteral("handler"),
                    [&] { event->chooseIndex(event->popupButton()->findText(QStringLiteral("handler"))); });

    const auto select = f.object(QStringLiteral("s"));
    auto selectInspector = inspect(select);
    auto *options = row<KRPropertyEditorItemMLTableViewController>(*selectInspector, QStringLiteral("options"));
    expectRoundTrip(f, select, QStringLiteral("options"), QStringLiteral("a\n(new)"), [&] { options->addRow(); });
}

TEST(KRPropertyEditorRows, EventRowCreatesNumberedHandlersAndKeepsForeignFunctions)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\" onClick=\"l\" onTouchMove=\"serve\"/><KRLabel id=\"l\"/>"
                                          "<KRFunction id=\"b_onTouchStart\" arguments=\"event\"/>"
                                          "<KRFunction id=\"serve\" serverFunction=\"Yes\"/>"));
    const auto button = f.object(QStringLiteral("b"));
    auto inspector = inspect(button);
    // An id naming a label shows "Invalid function" and is kept: showing it writes nothing.
    // Choosing "No Event Handler" clears it, and the entry goes with the invalid id.
    auto *click = row<KRPropertyEditorItemEventViewController>(*inspector, QStringLiteral("onClick"));
    EXPECT_EQ(click->popupButton()->currentText(), QStringLiteral("Invalid function"));
    EXPECT_EQ(attribute(button, QStringLiteral("onClick")), QStringLiteral("l"));
    click->chooseIndex(click->popupButton()->currentIndex());
    EXPECT_EQ(attribute(button, QStringLiteral("onClick")), QStringLiteral("l"));
    click->chooseIndex(0);
    EXPECT_EQ(normal(attribute(button, QStringLiteral("onClick"))), QString());
    EXPECT_EQ(click->popupButton()->findText(QStringLiteral("Invalid function")), -1);
    // A server function on a client event is shown as it is and never rewritten.
    auto *move = row<KRPropertyEditorItemEventViewController>(*inspector, QStringLiteral("onTouchMove"));
    EXPECT_EQ(move->popupButton()->currentText(), QStringLiteral("serve"));
    EXPECT_EQ(attribute(button, QStringLiteral("onTouchMove")), QStringLiteral("serve"));
    // Undoing a link shows "No Event Handler" and writes nothing.
    settle();
    move->chooseIndex(0);
    settle();
    const int steps = f.document->undoManager().undoCount();
    f.document->undoManager().undo();
    settle();
    EXPECT_EQ(move->popupButton()->currentText(), QStringLiteral("serve"));
    f.document->undoManager().redo();
    settle();
    EXPECT_EQ(move->popupButton()->currentText(), QStringLiteral("No Event Handler"));
    EXPECT_EQ(f.document->undoManager().undoCount(), steps);

    struct Recorder : KRPropertyEditorDelegate {
        QStringList opened;
        void propertyEditorViewEditFunction(KRPropertyEditorViewController *, const std::shared_ptr<KRFunction> &fn) override
        {
            opened << fn->kr_id();
        }
        void propertyEditorViewEditHTML(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &,
                                        const QString &key) override
        {
            opened << key;
        }
        void propertyEditorViewEditListViewItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &) override {}
        void propertyEditorViewEditNavbarItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &,
                                               const QString &) override {}
    } recorder;
    inspector->setDelegate(&recorder);
    auto *touch = row<KRPropertyEditorItemEventViewController>(*inspector, QStringLiteral("onTouchStart"));
    QTest::mouseClick(touch->actionButton(), Qt::LeftButton);
    EXPECT_EQ(attribute(button, QStringLiteral("onTouchStart")), QStringLiteral("b_onTouchStart2"));
    EXPECT_EQ(recorder.opened, QStringList{QStringLiteral("b_onTouchStart2")});
    EXPECT_EQ(touch->popupButton()->currentText(), QStringLiteral("b_onTouchStart2"));
    // The other rows list the new function too.
    auto *end = row<KRPropertyEditorItemEventViewController>(*inspector, QStringLiteral("onTouchEnd"));
    EXPECT_GE(end->popupButton()->findText(QStringLiteral("b_onTouchStart2")), 0);
}

// A function renamed while the rows of its callers are shown (and after other objects' rows
// were shown): every reference follows it, whatever order the rows and the model hear of the
// rename in, and one undo step takes the name and every link back.
TEST(KRPropertyEditorRows, RenamedFunctionKeepsEveryCallerAsOneUndoStep)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\" onClick=\"compute\"/>"
                                          "<JQMTextbox id=\"t\" onChange=\"compute\"/>"
                                          "<JQMListView id=\"list\">[{\"title\":\"One\",\"onClick\":\"compute\"}]</JQMListView>"
                                          "<JQMFooterToolbar id=\"footer\" navbarItems='[{\"label\":\"A\",\"onClick\":\"compute\"}]'/>"
                                          "<KRFunction id=\"compute\" arguments=\"event\"/>"
                                          "<KRFunction id=\"serve\" serverFunction=\"Yes\" arguments=\"request, response\"/>"));
    const auto button = f.object(QStringLiteral("b"));
    const auto function = f.object(QStringLiteral("compute"));
    const auto footer = f.object(QStringLiteral("footer"));
    // The button's inspector hears of the rename before the model's links do: it is made
    // before they start following the page's functions.
    auto buttonInspector = inspect(button);
    settle();
    auto functionInspector = inspect(function);
    auto *click = row<KRPropertyEditorItemEventViewController>(*buttonInspector, QStringLiteral("onClick"));
    ASSERT_NE(click, nullptr);
    EXPECT_EQ(click->popupButton()->currentText(), QStringLiteral("compute"));
    const auto list = f.object(QStringLiteral("list"));
    const QString items = list->value(QStringLiteral("kr_items"));

    KRUndoManager &undo = f.document->undoManager();
    const int steps = undo.undoCount();
    auto *id = functionInspector->view()->findChild<QLineEdit *>(QStringLiteral("id"));
    if (!id)
        for (auto *field : functionInspector->view()->findChildren<QLineEdit *>())
            if (field->text() == QLatin1String("compute"))
                id = field;
    ASSERT_NE(id, nullptr);
    typeInto(id, QStringLiteral("calc"));
    settle();
    EXPECT_EQ(function->kr_id(), QStringLiteral("calc"));
    EXPECT_EQ(attribute(button, QStringLiteral("onClick")), QStringLiteral("calc"));
    EXPECT_EQ(attribute(f.object(QStringLiteral("t")), QStringLiteral("onChange")), QStringLiteral("calc"));
    EXPECT_TRUE(list->value(QStringLiteral("kr_items")).contains(QStringLiteral("\"calc\"")));
    EXPECT_TRUE(footer->value(QStringLiteral("kr_navbarItems")).contains(QStringLiteral("\"calc\"")));
    EXPECT_EQ(click->popupButton()->currentText(), QStringLiteral("calc"));
    EXPECT_EQ(click->popupButton()->findText(QStringLiteral("Invalid function")), -1);
    EXPECT_EQ(undo.undoCount(), steps + 1);

    undo.undo();
    settle();
    EXPECT_EQ(function->kr_id(), QStringLiteral("compute"));
    EXPECT_EQ(attribute(button, QStringLiteral("onClick")), QStringLiteral("compute"));
    EXPECT_EQ(attribute(f.object(QStringLiteral("t")), QStringLiteral("onChange")), QStringLiteral("compute"));
    EXPECT_EQ(list->value(QStringLiteral("kr_items")), items);
    EXPECT_EQ(click->popupButton()->currentText(), QStringLiteral("compute"));
    EXPECT_TRUE(footer->value(QStringLiteral("kr_navbarItems")).contains(QStringLiteral("\"compute\"")));
    undo.redo();
    settle();
    EXPECT_EQ(attribute(button, QStringLiteral("onClick")), QStringLiteral("calc"));

    // A server function renamed while the page's server event row is shown.
    f.page->setValue(QStringLiteral("kr_onGET"), QStringLiteral("serve"));
    settle();
    auto pageInspector = inspect(f.page);
    auto *get = row<KRPropertyEditorItemEventViewController>(*pageInspector, QStringLiteral("onGET"));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get->popupButton()->currentText(), QStringLiteral("serve"));
    std::dynamic_pointer_cast<KRFunction>(f.object(QStringLiteral("serve")))->setKr_id(QStringLiteral("respond"));
    settle();
    EXPECT_EQ(f.page->value(QStringLiteral("kr_onGET")), QStringLiteral("respond"));
    EXPECT_EQ(get->popupButton()->currentText(), QStringLiteral("respond"));
    undo.undo();
    settle();
    EXPECT_EQ(f.page->value(QStringLiteral("kr_onGET")), QStringLiteral("serve"));
}

// A shadow row keeps the default without its colour and numbers; opening it makes them, in
// place and next to the checkbox for Tab.
TEST(KRPropertyEditorRows, AShadowRowMakesItsControlsWhenItOpens)
{
    const Fixture f = open(QStringLiteral("<KRLabel id=\"l\"/>"));
    const auto label = f.object(QStringLiteral("l"));
    auto inspector = inspect(label);
    auto *shadow = row<KRPropertyEditorItemTextShadowViewController>(*inspector, QStringLiteral("textShadow"));
    EXPECT_EQ(shadow->viewHeight(), 20);
    EXPECT_FALSE(shadow->xAxisOffset());
    QTest::mouseClick(shadow->defaultCheckbox(), Qt::LeftButton, {}, QPoint(8, 9));
    settle();
    EXPECT_EQ(shadow->viewHeight(), 128);
    ASSERT_TRUE(shadow->xAxisOffset() && shadow->colorWell());
    EXPECT_TRUE(shadow->xAxisOffset()->isVisibleTo(inspector->view()));
    EXPECT_EQ(shadow->xAxisOffset()->value(), 2);
    EXPECT_EQ(attribute(label, QStringLiteral("textShadow")), QStringLiteral("#AAAAAA 2px 2px 2px"));
    EXPECT_EQ(shadow->defaultCheckbox()->nextInFocusChain(), shadow->colorWell());
    shadow->blurRadius()->stepBy(1);
    settle();
    EXPECT_EQ(attribute(label, QStringLiteral("textShadow")), QStringLiteral("#AAAAAA 2px 2px 3px"));
}

TEST(KRPropertyEditorRows, AHelpButtonComesWhereThePointerRestsAndShowsThatRowsHelp)
{
    const Fixture f = open(QStringLiteral("<JQMTextbox id=\"t\"/>"));
    auto inspector = inspect(f.object(QStringLiteral("t")));
    QWidget *panel = inspector->view();
    const auto helpButton = [&](const QString &name) {
        return panel->findChild<QToolButton *>(QStringLiteral("helpButton_") + name);
    };
    const auto controllerOf = [](KRPropertyEditorItemViewController *item, const QString &identifier) {
        for (const auto &controller : item->helpButtonControllers())
            if (controller->helpButton() && controller->helpButton()->objectName() == identifier)
                return controller.get();
        return static_cast<KRHelpButtonController *>(nullptr);
    };
    // A freshly shown inspector has no help button at all.
    EXPECT_TRUE(panel->findChildren<QToolButton *>(QRegularExpression(QStringLiteral("^(helpButton|objectHelp)_"))).isEmpty());

    // Over a row's name: that row's button only, at the row's left, faded in, with its help.
    auto *placeholder = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("placeholder"));
    QTest::mouseMove(placeholder->label(), QPoint(5, 5));
    EXPECT_EQ(placeholder->helpButtonControllers().size(), 1u);
    QToolButton *button = helpButton(QStringLiteral("placeholder"));
    ASSERT_TRUE(button);
    EXPECT_EQ(button->parentWidget(), placeholder->view());
    EXPECT_EQ(button->geometry(), QRect(4, 3, 16, 16));
    EXPECT_TRUE(button->isVisibleTo(panel));
    EXPECT_FALSE(helpButton(QStringLiteral("value")));
    KRHelpButtonController *controller = controllerOf(placeholder, button->objectName());
    ASSERT_TRUE(controller);
    EXPECT_TRUE(KRTest::processEventsUntil(
        [&] { return controller->helpButtonOpacity() == KRHelpButtonController::ShownOpacity; }, std::chrono::seconds(2)));
    EXPECT_EQ(placeholder->helpContent(button->objectName()),
              KRObjectInfo::sharedInstance().propertyHelpHTML(QStringLiteral("placeholder"), QStringLiteral("JQMTextbox")));

    // Over the spot where a row's button will stand, with no control under the pointer.
    auto *value = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("value"));
    QTest::mouseMove(value->view(), QPoint(10, 10));
    ASSERT_TRUE(helpButton(QStringLiteral("value")));
    EXPECT_EQ(helpButton(QStringLiteral("value"))->geometry(), QRect(4, 3, 16, 16));

    // Over one field of the geometry row: that field's button only.
    auto *geometry = row<KRPropertyEditorItemControlViewController>(*inspector, QString());
    ASSERT_TRUE(geometry);
    QTest::mouseMove(geometry->textField(QStringLiteral("top")), QPoint(3, 3));
    ASSERT_TRUE(helpButton(QStringLiteral("top")));
    EXPECT_FALSE(helpButton(QStringLiteral("left")));
    EXPECT_EQ(helpButton(QStringLiteral("top"))->parentWidget(), geometry->view());

    // The object's own help sits at the title's right.
    auto *title = inspector->visiblePropertyEditorItems().first();
    QTest::mouseMove(title->view(), QPoint(255, 10));
    QToolButton *objectHelp = panel->findChild<QToolButton *>(QStringLiteral("objectHelp_JQMTextbox"));
    ASSERT_TRUE(objectHelp);
    EXPECT_EQ(objectHelp->geometry(), QRect(248, 3, 16, 16));
}

TEST(KRPropertyEditorRows, TextShadowAndLineListReadAgainAfterUndo)
{
    const Fixture f = open(QStringLiteral("<KRLabel id=\"l\" textShadow=\"#aaaaaa 2px 2px 2px\"/>"
                                          "<KRSelect id=\"s\">a&#10;b&#10;c&#10;d</KRSelect>"));
    const auto label = f.object(QStringLiteral("l"));
    auto inspector = inspect(label);
    auto *shadow = row<KRPropertyEditorItemTextShadowViewController>(*inspector, QStringLiteral("textShadow"));
    EXPECT_EQ(shadow->viewHeight(), 128);
    expectRoundTrip(f, label, QStringLiteral("textShadow"), QStringLiteral("#AAAAAA 3px 2px 2px"),
                    [&] { shadow->xAxisOffset()->stepBy(1); });
    f.document->undoManager().undo();
    settle();
    EXPECT_EQ(shadow->xAxisOffset()->value(), 2);
    // The next edit starts from the undone text, not from the stale one.
    shadow->yAxisOffset()->stepBy(1);
    settle();
    EXPECT_EQ(attribute(label, QStringLiteral("textShadow")), QStringLiteral("#AAAAAA 2px 3px 2px"));
    QTest::mouseClick(shadow->defaultCheckbox(), Qt::LeftButton, {}, QPoint(8, 9));
    EXPECT_EQ(normal(attribute(label, QStringLiteral("textShadow"))), QString());
    EXPECT_EQ(shadow->viewHeight(), 20);

    const auto select = f.object(QStringLiteral("s"));
    auto selectInspector = inspect(select);
    auto *options = row<KRPropertyEditorItemMLTableViewController>(*selectInspector, QStringLiteral("options"));
    options->moveRow(0, 3);
    settle();
    EXPECT_EQ(attribute(select, QStringLiteral("options")), QStringLiteral("b\nc\na\nd"));
    options->moveRow(3, 0);
    settle();
    EXPECT_EQ(attribute(select, QStringLiteral("options")), QStringLiteral("d\nb\nc\na"));
    f.document->undoManager().undo();
    f.document->undoManager().undo();
    settle();
    EXPECT_EQ(options->lines(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    // Drops that do not come from this table (another line list, another program) are refused.
    QMimeData mime;
    mime.setData(QStringLiteral("application/x-qabstractitemmodeldatalist"), QByteArray());
    QDropEvent foreign(QPointF(5, 5), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(options->tableView()->viewport(), &foreign);
    EXPECT_EQ(options->lines().size(), 4);
    // The row grows while the table has the focus.
    EXPECT_EQ(options->viewHeight(), 67);
    selectInspector->view()->activateWindow();
    QApplication::setActiveWindow(selectInspector->view());
    options->tableView()->setFocus();
    EXPECT_EQ(options->viewHeight(), 150);
    row<KRPropertyEditorItemStringViewController>(*selectInspector, QStringLiteral("id"))->textField()->setFocus();
    EXPECT_EQ(options->viewHeight(), 67);

    options->tableView()->item(2)->setSelected(true);
    options->tableView()->item(1)->setSelected(true);
    options->removeRow();
    settle();
    EXPECT_EQ(attribute(select, QStringLiteral("options")), QStringLiteral("a\nc\nd"));
}

TEST(KRPropertyEditorRows, ModelTextStaysInTheCLocaleUnderADecimalCommaLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const Fixture f = open(QStringLiteral("<KRLabel id=\"l\" opacity=\"0.5\" textShadow=\"red 1.5px 2px 3px\"/>"));
    const auto label = f.object(QStringLiteral("l"));
    auto inspector = inspect(label);
    auto *geometry = row<KRPropertyEditorItemControlViewController>(*inspector, QString());
    QTest::mouseClick(geometry->opacityStepper()->upButton(), Qt::LeftButton);
    EXPECT_EQ(attribute(label, QStringLiteral("opacity")), QStringLiteral("0.6"));
    auto *shadow = row<KRPropertyEditorItemTextShadowViewController>(*inspector, QStringLiteral("textShadow"));
    EXPECT_EQ(shadow->xAxisOffset()->value(), 1);
    shadow->blurRadius()->stepBy(1);
    EXPECT_EQ(attribute(label, QStringLiteral("textShadow")), QStringLiteral("#FF0000 1px 2px 4px"));
    QLocale::setDefault(saved);
}

TEST(KRPropertyEditorRows, IdEditsAreValidatedAndARefusedIdIsNotStoredButExplained)
{
    const auto alerts = std::make_shared<KRScriptedAlertService>();
    KRAlertService::setCurrent(alerts);
    const Fixture f = open(QStringLiteral("<KRLabel id=\"a\"/><KRLabel id=\"b\"/>"));
    const auto label = f.object(QStringLiteral("a"));
    auto inspector = inspect(label);
    auto *id = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("id"));
    typeInto(id->textField(), QStringLiteral("b"));
    EXPECT_EQ(label->kr_id(), QStringLiteral("a"));
    EXPECT_EQ(id->textField()->text(), QStringLiteral("a"));
    // The user is told why, once the edit is over.
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !alerts->shownAlerts().isEmpty(); }));
    EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("Object id \"b\" already exists on page \"page1\"."));
    typeInto(id->textField(), QStringLiteral("c"));
    EXPECT_EQ(label->kr_id(), QStringLiteral("c"));
    settle();
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    KRAlertService::setCurrent(nullptr);
}

// A field's name (or its id, while it has no name) stands in the built page as written unless
// it would stop the page's libraries: only such a name is warned of, and the warning says what
// no longer finds the field, not that all goes on as before.
TEST(KRPropertyEditorRows, OnlyAFieldNameThatWouldStopThePageIsWarnedOf)
{
    const auto alerts = std::make_shared<KRScriptedAlertService>();
    KRAlertService::setCurrent(alerts);
    const Fixture f = open(QStringLiteral("<JQMTextbox id=\"field\"/>"));
    const auto field = f.object(QStringLiteral("field"));
    auto inspector = inspect(field);
    auto *name = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("name"));
    auto *id = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("id"));
    ASSERT_TRUE(name && id);
    for (const char *harmless : {"name", "title", "submit", "action", "length", "elements", "id"}) {
        typeInto(name->textField(), QString::fromLatin1(harmless));
        settle();
        EXPECT_EQ(field->value(QStringLiteral("kr_name")), QString::fromLatin1(harmless));
    }
    typeInto(name->textField(), QString());
    typeInto(id->textField(), QStringLiteral("title"));
    settle();
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    for (const auto &[row, breaking] : {std::pair{name, "parentNode"}, std::pair{id, "nodeName"}}) {
        const QString typed = QString::fromLatin1(breaking);
        alerts->clear();
        typeInto(row->textField(), typed);
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return !alerts->shownAlerts().isEmpty(); })) << breaking;
        const KRAlert shown = alerts->shownAlerts().first();
        EXPECT_EQ(shown.messageText, QStringLiteral("The field name \u201C%1\u201D is that of a member of the page\u2019s form "
                                                    "that jQuery and jQuery Mobile rely on.").arg(typed));
        for (const QString &said : {QStringLiteral("\u201Ckr-name-%1\u201D").arg(typed), QStringLiteral("[name=\"kr-name-%1\"]").arg(typed),
                                    QStringLiteral("$(form).serialize()")})
            EXPECT_TRUE(shown.informativeText.contains(said)) << shown.informativeText.toStdString();
        typeInto(name->textField(), QString());
        settle();
    }
    KRAlertService::setCurrent(nullptr);
}

// Fields of CSS lengths store a plain number of pixels whether or not "px" was typed (the
// page gets "font-size: 20px", never "20pxpx"), keep percentages, keep line height as CSS,
// and refuse other text with a message, the stored value staying.
TEST(KRPropertyEditorRows, LengthFieldsStoreWhatThePageNeedsAndRefuseOtherText)
{
    const auto alerts = std::make_shared<KRScriptedAlertService>();
    KRAlertService::setCurrent(alerts);
    const Fixture f = open(QStringLiteral("<KRLabel id=\"l\" fontSize=\"12\"/>"));
    const auto label = f.object(QStringLiteral("l"));
    auto inspector = inspect(label);
    auto *geometry = row<KRPropertyEditorItemControlViewController>(*inspector, QString());
    const auto field = [&](const QString &name) {
        auto *typed = row<KRPropertyEditorItemStringViewController>(*inspector, name);
        return typed ? typed->textField() : geometry->textField(name);
    };
    struct Case {
        const char *property;
        const char *typed;
        const char *stored; // null: refused
    };
    const Case cases[] = {
        {"fontSize", "20px", "20"},      {"fontSize", " 18 PX ", "18"},  {"fontSize", "16", "16"},
        {"fontSize", "120%", "120%"},    {"fontSize", "big", nullptr},   {"fontSize", "2em", nullptr},
        {"fontSize", "", ""},            {"letterSpacing", "-1px", "-1"}, {"borderWidth", "2.5px", "2.5"},
        {"borderWidth", "2px 3px", nullptr}, {"lineHeight", "24px", "24px"}, {"lineHeight", "1.5", "1.5"},
        {"lineHeight", "normal", "normal"},  {"lineHeight", "tall", nullptr}, {"width", "100px", "100"},
        {"width", "50%", "50%"},         {"height", "wide", nullptr},   {"top", "10px", "10"},
        {"left", "-4px", "-4"},
    };
    for (const Case &c : cases) {
        const QString property = QString::fromLatin1(c.property);
        SCOPED_TRACE((property + QStringLiteral(" ← ") + QString::fromLatin1(c.typed)).toStdString());
        QLineEdit *edit = field(property);
        ASSERT_NE(edit, nullptr);
        const QString before = normal(attribute(label, property));
        alerts->clear();
        typeInto(edit, QString::fromLatin1(c.typed));
        settle();
        if (c.stored) {
            EXPECT_EQ(normal(attribute(label, property)), QString::fromLatin1(c.stored));
            EXPECT_EQ(edit->text(), QString::fromLatin1(c.stored)) << "the field shows what is stored";
            EXPECT_TRUE(alerts->shownAlerts().isEmpty());
            continue;
        }
        EXPECT_EQ(normal(attribute(label, property)), before);
        EXPECT_EQ(edit->text(), before);
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return !alerts->shownAlerts().isEmpty(); }));
        EXPECT_EQ(alerts->shownAlerts().first().messageText,
                  QStringLiteral("\u201C%1\u201D is not a valid %2.").arg(QString::fromLatin1(c.typed), property));
        EXPECT_FALSE(alerts->shownAlerts().first().informativeText.isEmpty());
    }
    typeInto(field(QStringLiteral("fontSize")), QStringLiteral("20px"));
    settle();
    const auto element = label->domElement();
    ASSERT_TRUE(element);
    EXPECT_TRUE(element->outerHTML().contains(QStringLiteral("font-size: 20px;"))) << element->outerHTML().toStdString();
    KRAlertService::setCurrent(nullptr);
}

// --- Page links follow a renamed page everywhere, as one undo step

TEST(KRPropertyEditorRows, RenamedPageIsFollowedByEveryLinkInOneUndoStep)
{
    const Fixture f = open(QStringLiteral(
        "<JQMButton id=\"b\" gotoPage=\"page2\"/><JQMButton id=\"other\" gotoPage=\"page1\"/>"
        "<JQMListView id=\"list\">[{\"label\":\"x\",\"gotoPage\":\"page2\"},{\"label\":\"y\",\"gotoPage\":\"page1\"}]</JQMListView>"
        "<JQMHeaderToolbar id=\"bar\" rightButtonGotoPage=\"page2\" navbarItems='[{\"label\":\"n\",\"gotoPage\":\"page2\"}]'/>"));
    ASSERT_TRUE(f.object(QStringLiteral("list")));
    std::shared_ptr<KRPage> page2;
    for (const auto &p : f.project->krPages())
        if (p->kr_id() == QLatin1String("page2"))
            page2 = p;
    auto inspector = inspect(f.object(QStringLiteral("b")));
    settle();
    page2->setValue(QStringLiteral("kr_id"), QStringLiteral("start"));
    settle();
    EXPECT_EQ(attribute(f.object(QStringLiteral("b")), QStringLiteral("gotoPage")), QStringLiteral("start"));
    EXPECT_EQ(attribute(f.object(QStringLiteral("other")), QStringLiteral("gotoPage")), QStringLiteral("page1"));
    EXPECT_EQ(attribute(f.object(QStringLiteral("bar")), QStringLiteral("rightButtonGotoPage")), QStringLiteral("start"));
    EXPECT_TRUE(f.object(QStringLiteral("list"))->value(QStringLiteral("kr_items")).contains(QLatin1String("\"gotoPage\":\"start\"")));
    EXPECT_TRUE(f.object(QStringLiteral("list"))->value(QStringLiteral("kr_items")).contains(QLatin1String("\"gotoPage\":\"page1\"")));
    EXPECT_TRUE(f.object(QStringLiteral("bar"))->value(QStringLiteral("kr_navbarItems")).contains(QLatin1String("start")));
    auto *link = row<KRPropertyEditorItemPageViewController>(*inspector, QStringLiteral("gotoPage"));
    EXPECT_EQ(link->popupButton()->currentText(), QStringLiteral("start"));

    f.document->undoManager().undo();
    settle();
    EXPECT_EQ(page2->kr_id(), QStringLiteral("page2"));
    EXPECT_EQ(attribute(f.object(QStringLiteral("b")), QStringLiteral("gotoPage")), QStringLiteral("page2"));
    EXPECT_FALSE(f.object(QStringLiteral("bar"))->value(QStringLiteral("kr_navbarItems")).contains(QLatin1String("start")));
    EXPECT_EQ(link->popupButton()->currentText(), QStringLiteral("page2"));
}

// --- Pictures

TEST(KRPropertyEditorScreens, LabelListViewAndToolbar)
{
    const Fixture f = open(QStringLiteral("<KRLabel id=\"label1\" color=\"#3366cc\" left=\"20\" top=\"40\" width=\"120\" "
                                          "height=\"24\" textShadow=\"#aaaaaa 2px 2px 2px\">Hello</KRLabel>"
                                          "<JQMListView id=\"list1\"/><JQMHeaderToolbar id=\"header1\" title=\"Start\" "
                                          "navbarItems='[{\"label\":\"Home\",\"gotoPage\":\"page1\",\"active\":1},"
                                          "{\"label\":\"About\",\"gotoPage\":\"page2\",\"icon\":\"info\"}]'/>"));
    for (const char *id : {"label1", "list1", "header1"}) {
        auto inspector = inspect(f.object(QLatin1String(id)));
        QCoreApplication::processEvents();
        const QImage image = inspector->view()->grab().toImage();
        // The title header's bold text sits on the background near the top left.
        bool ink = false;
        for (int x = 4; x < 150 && !ink; ++x)
            ink = qGray(image.pixel(x, 11)) < 110;
        EXPECT_TRUE(ink) << id;
        screenshot(inspector->view(), QStringLiteral("inspector-") + QLatin1String(id));
    }
    auto navbar = KRCachingViewController::create<KRNavbarItemEditorViewController>();
    navbar->setPropertyName(QStringLiteral("kr_navbarItems"));
    navbar->setObject(f.object(QStringLiteral("header1")));
    navbar->view()->resize(760, 200);
    navbar->view()->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(navbar->tableView()->item(1, navbar->column(QStringLiteral("label")))->text(), QStringLiteral("About"));
    screenshot(navbar->view(), QStringLiteral("toolbar-navbar-editor"));
}

TEST(KRPropertyEditorRows, ContentRowsDescribeTheirTextAndOpenTheMatchingEditor)
{
    const Fixture f = open(QStringLiteral("<KRDiv id=\"d\">markdown:# Hi</KRDiv><JQMListView id=\"list\"/>"
                                          "<JQMFooterToolbar id=\"bar\"/><KRFunction id=\"fn\">x();</KRFunction>"));
    struct Requests : KRPropertyEditorDelegate {
        QStringList seen;
        void propertyEditorViewEditFunction(KRPropertyEditorViewController *, const std::shared_ptr<KRFunction> &fn) override
        {
            seen << QStringLiteral("function ") + fn->kr_id();
        }
        void propertyEditorViewEditHTML(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &object,
                                        const QString &key) override
        {
            seen << QStringLiteral("html ") + object->kr_id() + QLatin1Char(' ') + key;
        }
        void propertyEditorViewEditListViewItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &list) override
        {
            seen << QStringLiteral("items ") + list->kr_id();
        }
        void propertyEditorViewEditNavbarItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &bar,
                                               const QString &key) override
        {
            seen << QStringLiteral("navbar ") + bar->kr_id() + QLatin1Char(' ') + key;
        }
    } requests;
    const struct {
        const char *id, *property, *shown;
    } cases[] = {{"d", "content", "(Markdown)"}, {"list", "items", "(items)"}, {"bar", "navbarItems", "(items)"},
                 {"fn", "source", "(JavaScript)"}};
    for (const auto &c : cases) {
        auto inspector = inspect(f.object(QLatin1String(c.id)));
        inspector->setDelegate(&requests);
        auto *content = row<KRPropertyEditorItemContentViewController>(*inspector, QLatin1String(c.property));
        ASSERT_TRUE(content) << c.id;
        EXPECT_EQ(content->textField()->text(), QLatin1String(c.shown));
        QTest::mouseClick(content->editButton(), Qt::LeftButton);
    }
    EXPECT_EQ(requests.seen, (QStringList{QStringLiteral("html d kr_content"), QStringLiteral("items list"),
                                          QStringLiteral("navbar bar kr_navbarItems"), QStringLiteral("function fn")}));
    // Changed content is described again at once.
    auto inspector = inspect(f.object(QStringLiteral("d")));
    f.object(QStringLiteral("d"))->setValue(QStringLiteral("kr_content"), QStringLiteral("<b>x</b>"));
    EXPECT_EQ(row<KRPropertyEditorItemContentViewController>(*inspector, QStringLiteral("content"))->textField()->text(),
              QStringLiteral("(HTML)"));
}

TEST(KRPropertyEditorRows, MultilineTextGrowsWhileEditedAndStoresWhenLeft)
{
    const Fixture f = open(QStringLiteral("<KRLabel id=\"l\"/>"));
    const auto label = f.object(QStringLiteral("l"));
    auto inspector = inspect(label);
    auto row = KRCachingViewController::create<KRPropertyEditorItemMultilineStringViewController>();
    row->setTargetObject(label);
    row->setPropertyName(QStringLiteral("styleClass"));
    row->view()->setParent(inspector->view());
    row->view()->show();
    EXPECT_EQ(row->viewHeight(), 26);
    expectRoundTrip(f, label, QStringLiteral("styleClass"), QStringLiteral("a\nb"), [&] {
        row->textView()->setFocus();
        EXPECT_EQ(row->viewHeight(), 125);
        row->textView()->setPlainText(QStringLiteral("a\nb"));
        KRInspectorTest::row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("id"))->textField()->setFocus();
    });
    EXPECT_EQ(row->viewHeight(), 26);
    EXPECT_EQ(row->textView()->toPlainText(), QStringLiteral("a\nb"));
    row->view()->setParent(nullptr);
}

// An inspector shows without making the rows of its closed sections; they come in their places
// once it has been drawn (or as soon as anything asks for the rows), and then work as any other.
TEST(KRPropertyEditorLayout, ClosedSectionsRowsComeOnceDrawnAndWorkAsTheOthers)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\"/>"));
    const auto button = f.object(QStringLiteral("b"));
    auto inspector = inspect(button);
    const auto made = [&] {
        QStringList names;
        for (const auto &item : inspector->madeRows())
            names << item->kindName() + QLatin1Char(' ') + item->propertyName();
        return names;
    };
    EXPECT_FALSE(made().contains(QStringLiteral("String borderWidth"))) << "the closed sections wait";
    EXPECT_TRUE(made().contains(QStringLiteral("Enum fontFamily"))) << "open sections are made at once";
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return made().contains(QStringLiteral("String borderWidth")); }))
        << "drawing the inspector brings them";
    // In the places a complete build gives them.
    EXPECT_EQ(inspector->layoutDescription().join(QLatin1Char('\n')) + QLatin1Char('\n'), layoutOf(button));

    auto *borders = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(inspector->madeRows()[0].get());
    for (const auto &item : inspector->madeRows())
        if (auto *header = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(item.get());
            header && header->label()->text() == QLatin1String("Borders & Padding"))
            borders = header;
    QTest::mouseClick(borders->disclosureButton(), Qt::LeftButton);
    auto *width = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("borderWidth"));
    ASSERT_TRUE(width);
    EXPECT_TRUE(width->view()->isVisibleTo(inspector->view()));
    expectRoundTrip(f, button, QStringLiteral("borderWidth"), QStringLiteral("3"), [&] { typeInto(width->textField(), "3"); });

    // Asked for before any drawing, every row is there at once.
    auto fresh = KRCachingViewController::create<KRPropertyEditorViewController>();
    fresh->setObject(button);
    EXPECT_TRUE(row<KRPropertyEditorItemStringViewController>(*fresh, QStringLiteral("borderWidth")));
}

// A number's row steps it with its arrows; the row of a text has none, and its field takes
// their room.
TEST(KRPropertyEditorRows, NumberRowsStepAndTextRowsHaveTheirFieldWide)
{
    const Fixture f = open(QStringLiteral("<KRTable id=\"t\" rows=\"2\"/>"));
    const auto table = f.object(QStringLiteral("t"));
    auto inspector = inspect(table);
    auto *rows = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("rows"));
    auto *id = row<KRPropertyEditorItemStringViewController>(*inspector, QStringLiteral("id"));
    ASSERT_TRUE(rows && id);
    EXPECT_FALSE(id->stepper());
    EXPECT_EQ(id->textField()->width(), 134);
    ASSERT_TRUE(rows->stepper());
    EXPECT_TRUE(rows->stepper()->isVisibleTo(rows->view()));
    EXPECT_LT(rows->textField()->geometry().right(), rows->stepper()->geometry().left());
    expectRoundTrip(f, table, QStringLiteral("rows"), QStringLiteral("3"),
                    [&] { QTest::mouseClick(rows->stepper()->upButton(), Qt::LeftButton); });
}

// The table's scroll bar looks as a plain one in the same state, also after a scroll and in
// another window's palette.
TEST(KRPropertyEditorLayout, TheScrollBarLooksAsAPlainOne)
{
    const Fixture f = open(QStringLiteral("<KRPhotoSwipe id=\"g\">a.png</KRPhotoSwipe>"));
    auto inspector = inspect(f.object(QStringLiteral("g")));
    inspector->view()->resize(300, 240);
    inspector->propertyEditorItems();
    QCoreApplication::processEvents();
    QScrollBar *bar = inspector->propertyTableView()->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    ASSERT_GT(bar->maximum(), 0);
    // In the same window, away from the pointer.
    QScrollBar plain(Qt::Vertical, inspector->view());
    plain.move(120, 0);
    plain.show();
    const auto same = [&] {
        plain.resize(bar->size());
        plain.setRange(bar->minimum(), bar->maximum());
        plain.setPageStep(bar->pageStep());
        plain.setValue(bar->value());
        plain.setPalette(bar->palette());
        return bar->grab().toImage() == plain.grab().toImage();
    };
    EXPECT_TRUE(same());
    bar->setValue(bar->maximum() / 2);
    EXPECT_TRUE(same()) << "scrolled";
    EXPECT_TRUE(same()) << "drawn again";
    bar->setEnabled(false);
    plain.setEnabled(false);
    EXPECT_TRUE(same()) << "disabled";
}

// A section's disclosure triangle looks as a tool button whose style sheet takes its border and
// background away, closed and open.
TEST(KRPropertyEditorLayout, TheDisclosureTriangleLooksAsABareToolButton)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\"/>"));
    auto inspector = inspect(f.object(QStringLiteral("b")));
    std::vector<KRPropertyEditorItemHeaderViewController *> headers;
    for (const auto &item : inspector->propertyEditorItems())
        if (auto *header = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(item.get());
            header && !header->disclosureButton()->isHidden())
            headers.push_back(header);
    ASSERT_GE(headers.size(), 2u);
    for (KRPropertyEditorItemHeaderViewController *header : headers) {
        // Side by side on the header, each as the header shows it.
        QToolButton *triangle = header->disclosureButton();
        QToolButton bare(header->view());
        bare.setCheckable(true);
        bare.setAutoRaise(true);
        bare.setFocusPolicy(Qt::NoFocus);
        bare.setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
        bare.setGeometry(triangle->geometry().translated(180, 0));
        bare.setChecked(triangle->isChecked());
        bare.setArrowType(triangle->arrowType());
        bare.show();
        EXPECT_EQ(header->view()->grab(triangle->geometry()).toImage(), header->view()->grab(bare.geometry()).toImage())
            << qPrintable(header->label()->text());
    }
}

// A row's name keeps a picture of its text: through every change of what it is drawn from, it
// looks as a plain label with the same settings does (to a step of antialiasing).
TEST(KRPropertyEditorLayout, ARowsNameLooksAsAPlainLabelThroughEveryChange)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\"/>"));
    auto inspector = inspect(f.object(QStringLiteral("b")));
    inspector->view()->resize(300, 400);
    inspector->view()->show();
    QLabel *name = nullptr;
    for (const auto &item : inspector->propertyEditorItems())
        if (auto *typed = dynamic_cast<KRPropertyEditorItemTypedViewController *>(item.get());
            typed && typed->propertyName() == QLatin1String("id"))
            name = typed->label();
    ASSERT_TRUE(name);
    ASSERT_FALSE(name->text().isEmpty());
    QLabel plain(name->parentWidget());
    const auto alike = [&] {
        plain.setText(name->text());
        plain.setFont(name->font());
        plain.setPalette(name->palette());
        plain.setAlignment(name->alignment());
        plain.setEnabled(name->isEnabled());
        plain.resize(name->size());
        const QImage a = name->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage b = plain.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        if (a.size() != b.size())
            return false;
        int worst = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            }
        return worst <= 2;
    };
    const QImage first = name->grab().toImage();
    EXPECT_TRUE(alike());
    EXPECT_TRUE(alike()) << "drawn again";
    name->setText(QStringLiteral("identifier"));
    EXPECT_NE(name->grab().toImage(), first);
    EXPECT_TRUE(alike()) << "new text";
    QFont font = name->font();
    font.setPixelSize(13);
    name->setFont(font);
    EXPECT_TRUE(alike()) << "larger";
    QPalette colours = name->palette();
    colours.setColor(QPalette::WindowText, Qt::red);
    name->setPalette(colours);
    EXPECT_TRUE(alike()) << "red";
    name->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_TRUE(alike()) << "to the left";
    name->setEnabled(false);
    EXPECT_TRUE(alike()) << "disabled";
    name->resize(name->width() + 30, name->height());
    EXPECT_TRUE(alike()) << "wider";
    name->setText(QStringLiteral("<b>rich</b>"));
    EXPECT_TRUE(alike()) << "rich text, drawn as a label draws it";
}

// A row's text fields and check boxes keep pictures of their frames: in every state they look
// as plain ones in the application's style do (to a step of antialiasing).
TEST(KRPropertyEditorLayout, ARowsFieldsAndCheckBoxesLookAsPlainOnes)
{
    const Fixture f = open(QStringLiteral("<JQMButton id=\"b\"/>"));
    auto inspector = inspect(f.object(QStringLiteral("b")));
    inspector->view()->resize(300, 400);
    inspector->view()->show();
    inspector->propertyEditorItems();
    QCoreApplication::processEvents();
    QLineEdit *field = nullptr;
    QCheckBox *box = nullptr;
    for (QLineEdit *candidate : inspector->view()->findChildren<QLineEdit *>())
        if (!field && candidate->isVisible() && candidate->style() != QApplication::style())
            field = candidate;
    for (QCheckBox *candidate : inspector->view()->findChildren<QCheckBox *>())
        if (!box && candidate->isVisible() && candidate->style() != QApplication::style())
            box = candidate;
    ASSERT_TRUE(field) << "a field in the row style";
    ASSERT_TRUE(box) << "a check box in the row style";
    const auto alike = [](QWidget *a, QWidget *b) {
        const QImage x = a->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage y = b->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        if (x.size() != y.size())
            return false;
        int worst = 0;
        for (int row = 0; row < x.height(); ++row)
            for (int column = 0; column < x.width(); ++column) {
                const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
                worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            }
        return worst <= 2;
    };
    QLineEdit plainField(field->parentWidget());
    QCheckBox plainBox(box->parentWidget());
    const auto same = [&] {
        plainField.setText(field->text());
        plainField.setFont(field->font());
        plainField.setPalette(field->palette());
        plainField.setEnabled(field->isEnabled());
        plainField.setReadOnly(field->isReadOnly());
        plainField.resize(field->size());
        plainBox.setText(box->text());
        plainBox.setFont(box->font());
        plainBox.setPalette(box->palette());
        plainBox.setEnabled(box->isEnabled());
        plainBox.setCheckState(box->checkState());
        plainBox.resize(box->size());
        return alike(field, &plainField) && alike(box, &plainBox);
    };
    EXPECT_TRUE(same());
    EXPECT_TRUE(same()) << "drawn again";
    field->setText(QStringLiteral("123"));
    box->setTristate(true);
    box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    EXPECT_TRUE(same()) << "new text, the other check state";
    box->setCheckState(Qt::PartiallyChecked);
    EXPECT_TRUE(same()) << "partly checked";
    field->setReadOnly(true);
    EXPECT_TRUE(same()) << "read only";
    QPalette colours = field->palette();
    colours.setColor(QPalette::Base, QColor(255, 240, 200));
    colours.setColor(QPalette::Window, QColor(200, 220, 255));
    field->setPalette(colours);
    box->setPalette(colours);
    EXPECT_TRUE(same()) << "other colours";
    field->setEnabled(false);
    box->setEnabled(false);
    EXPECT_TRUE(same()) << "disabled";
    field->resize(field->width() + 25, field->height() + 4);
    box->resize(box->width() + 10, box->height());
    EXPECT_TRUE(same()) << "larger";
}

// Every way the user's text reaches a project's file, each crossed with every kind of character
// the file cannot hold as it is: the project saves, opens again, and holds each value with the
// character left out (a control), replaced by U+FFFD (the others), or, in JSON that the
// application rewrites (item lists, after a page rename or the item editor), as the escape that
// reads back as the very character. The user is told where a value changed; a paste of text the
// reader refuses says why nothing was pasted.
TEST(KRPropertyEditorRows, TextOfEveryCharacterSavesAndOpensAgain)
{
    krRegisterCompositeTestClasses();
    const QString folder = KRTest::makeTempDir(QStringLiteral("defaults-plugin"));
    QDir().mkpath(folder + QStringLiteral("/Defaults.krplugin"));
    KRTest::writeFile(folder + QStringLiteral("/Defaults.krplugin/krplugin.json"),
                      R"({"classes":[{"className":"KRTextDefaults","superClass":"KRPlugin","properties":[
                          {"propertyName":"caption","propertyType":"string","defaultValue":"a\u0001b\u000bc\ufffed\uffffe"}]}]})");
    KRPluginLoader loader;
    loader.loadPluginsInDirectory(folder);
    ASSERT_EQ(loader.loadedClasses(), QStringList{QStringLiteral("KRTextDefaults")}) << loader.problems().join(u'\n').toStdString();

    const QList<char16_t> unstorable{0x0001, 0x000B, 0xFFFE, 0xFFFF, 0xD800};
    for (const char16_t unit : unstorable) {
        const QChar c(unit);
        const QString hex = QStringLiteral("%1").arg(int(unit), 4, 16, QLatin1Char('0'));
        SCOPED_TRACE(hex.toStdString());
        // The item list holds the character as the six-character escape a user can type.
        const Fixture f = open(QStringLiteral(
            "<KRLabel id=\"tip\">Tip: 0.00</KRLabel><KRFunction id=\"compute\" serverFunction=\"No\" arguments=\"\"/>"
            "<JQMListView id=\"list\">[{\"label\":\"Forms \\u%1\",\"gotoPage\":\"page2\"}]</JQMListView>"
            "<JQMHeaderToolbar id=\"bar\" navbarItems='[{\"label\":\"Home\",\"gotoPage\":\"page2\"}]'/>").arg(hex));
        ASSERT_TRUE(f.page);
        QStringList told;
        const KRObservationToken telling = KRNotificationCenter::defaultCenter().addObserver(
            KRDocumentDidReplaceCharactersNotification, f.document->identity(),
            [&told](const KRNotification &n) { told << n.userInfo.value(QStringLiteral("message")).toString(); });
        const QString typed = QStringLiteral("Tip ") + c + QStringLiteral(" due");
        const auto tip = f.object(QStringLiteral("tip"));
        tip->setValue(QStringLiteral("kr_value"), typed);                              // element text
        tip->setValue(QStringLiteral("kr_fontSize"), QStringLiteral("2") + c + QStringLiteral("0px")); // attribute
        f.page->setValue(QStringLiteral("kr_title"), QStringLiteral("Page ") + c);    // page title
        f.object(QStringLiteral("compute"))->setValue(QStringLiteral("kr_source"), QStringLiteral("var a = '") + c + QStringLiteral("';"));
        EXPECT_EQ(told.size(), 4);
        EXPECT_TRUE(told.value(0).contains(QStringLiteral("\u201Cvalue\u201D of the KRLabel \u201Ctip\u201D on the page \u201Cpage1\u201D")))
            << told.value(0).toStdString();
        // The page the list and the bar go to is renamed: both item lists are written anew.
        for (const auto &page : f.project->krPages())
            if (page->kr_id() == QLatin1String("page2"))
                page->setValue(QStringLiteral("kr_id"), QStringLiteral("start"));
        // The item editor stores what the user typed into an item.
        auto editor = KRCachingViewController::create<KRNavbarItemEditorViewController>();
        editor->setPropertyName(QStringLiteral("kr_navbarItems"));
        editor->setObject(f.object(QStringLiteral("bar")));
        editor->setObjectValue(0, QStringLiteral("label"), QStringLiteral("Home ") + c);
        // A plug-in's default, and a copy of the label pasted.
        ASSERT_TRUE(f.page->createNewObject(QStringLiteral("KRTextDefaults"), 10, 10, QStringLiteral("defaults")));
        f.page->pasteboardCopyObjects({tip});
        ASSERT_EQ(f.page->pasteObjects().size(), 1);
        // Text of the character itself, pasted from elsewhere, is refused, saying why.
        auto alerts = std::make_shared<KRScriptedAlertService>();
        const auto previous = KRAlertService::setCurrent(alerts);
        KRPasteboard::generalPasteboard().setString(
            KRObjectPboardType, QStringLiteral("<objects><KRLabel id=\"raw\">a") + c + QStringLiteral("</KRLabel></objects>"));
        EXPECT_TRUE(f.page->pasteObjects().isEmpty());
        KRAlertService::setCurrent(previous);
        ASSERT_EQ(alerts->shownAlerts().size(), 1);
        EXPECT_EQ(alerts->shownAlerts().at(0).messageText, QStringLiteral("The objects could not be pasted."));
        EXPECT_TRUE(alerts->shownAlerts().at(0).informativeText.contains(QStringLiteral("U+%1 on line 1").arg(hex.toUpper())))
            << alerts->shownAlerts().at(0).informativeText.toStdString();

        // Copied text that declares an encoding is the characters it is, decoded once.
        KRPasteboard::generalPasteboard().setString(
            KRObjectPboardType, QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                                               "<objects><KRLabel id=\"latin\">caf\u00E9</KRLabel></objects>"));
        const QList<std::shared_ptr<KRObject>> latin = f.page->pasteObjects();
        ASSERT_EQ(latin.size(), 1);
        EXPECT_EQ(latin.first()->value(QStringLiteral("kr_value")), QStringLiteral("caf\u00E9"));

        const QString saved = KRTest::makeTempDir(QStringLiteral("unstorable")) + QStringLiteral("/Text.krproj");
        ASSERT_TRUE(f.document->saveToPackage(saved).ok());
        const KRResult<std::shared_ptr<KRDocument>> reopened = KRDocument::openPackage(saved);
        ASSERT_TRUE(reopened.ok()) << reopened.error().message().toStdString();
        const KRXMLDocument xml = reopened.value()->xmlDocument();
        const auto first = [&xml](const QString &path) {
            const QList<KRXMLNode> nodes = xml.nodesForXPath(path);
            return nodes.isEmpty() ? QString() : nodes.first().stringValue();
        };
        const QString kept = unit < 0x20 ? QString() : QString(QChar(QChar::ReplacementCharacter));
        EXPECT_EQ(first(QStringLiteral("//KRLabel[@id='tip']")), QStringLiteral("Tip ") + kept + QStringLiteral(" due"));
        EXPECT_EQ(first(QStringLiteral("//KRLabel[@id='tip']/@fontSize")), QStringLiteral("2") + kept + QStringLiteral("0px"));
        EXPECT_EQ(first(QStringLiteral("//KRPage[@id='page1']/@title")), QStringLiteral("Page ") + kept);
        EXPECT_EQ(first(QStringLiteral("//KRFunction[@id='compute']")), QStringLiteral("var a = '") + kept + QStringLiteral("';"));
        EXPECT_EQ(first(QStringLiteral("//KRLabel[@id!='tip' and @id!='latin']")), QStringLiteral("Tip ") + kept + QStringLiteral(" due"));
        EXPECT_EQ(first(QStringLiteral("//KRTextDefaults/@caption")), QStringLiteral("abc\uFFFDd\uFFFDe"));
        // JSON keeps the very character, as its escape.
        const auto items = [&](const QString &path) {
            const KRResult<QJsonDocument> json = KRJSONSerialization::readDocument(first(path).toUtf8());
            return json ? json.value().array().at(0).toObject() : QJsonObject();
        };
        EXPECT_EQ(items(QStringLiteral("//JQMListView")).value(QStringLiteral("label")).toString(), QStringLiteral("Forms ") + c);
        EXPECT_EQ(items(QStringLiteral("//JQMListView")).value(QStringLiteral("gotoPage")).toString(), QStringLiteral("start"));
        EXPECT_EQ(items(QStringLiteral("//JQMHeaderToolbar/@navbarItems")).value(QStringLiteral("label")).toString(), QStringLiteral("Home ") + c);
    }
}
