#include <model/KRObjectInfo.h>
#include <model/KRUserDeviceInformation.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

const QString kCatalogue = QStringLiteral(KR_TEST_DATA_DIR "/model/catalogue.xml");

QStringList names(const QList<KRPropertyInfo> &records)
{
    QStringList list;
    for (const auto &r : records)
        list << r.name;
    return list;
}

class ObjectInfo : public ::testing::Test
{
protected:
    KRObjectInfo info{kCatalogue};
};

TEST_F(ObjectInfo, InheritanceListsSuperclassGroupsFirstAndReplacesInPlace)
{
    const auto &groups = info.propertyInfo(QStringLiteral("Derived"));
    EXPECT_EQ(groups.allKeys(), (QStringList{"G1", "G2", "__none", "G3", "Look"}));
    // "a" repeated in the same group moves to its end with the subclass's record.
    EXPECT_EQ(names(*groups.find("G1")), (QStringList{"b", "a"}));
    EXPECT_EQ(groups.find("G1")->last().propertyType, KRPropertyInfo::Color);
    EXPECT_EQ(groups.find("G1")->last().defaultValue, QStringLiteral("two"));
    // "c" in another group: the inherited record stays, a second one is added.
    EXPECT_EQ(names(*groups.find("G2")), QStringList{"c"});
    EXPECT_EQ(names(*groups.find("G3")), QStringList{"c"});
    // The flat table keeps the first place and the later record.
    const auto &flat = info.flatPropertyInfo(QStringLiteral("Derived"));
    EXPECT_EQ(flat.allKeys().first(), QStringLiteral("b"));
    EXPECT_EQ(flat.find("c")->propertyType, KRPropertyInfo::HTML);
}

TEST_F(ObjectInfo, RecordsCarryTheirTypeAttributes)
{
    // Asked before any propertyInfo call for the class.
    const KRPropertyInfo *b = info.propertyInfoForProperty(QStringLiteral("b"), QStringLiteral("Base"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->propertyType, KRPropertyInfo::Number);
    EXPECT_EQ(b->maxValue, 10.5);
    EXPECT_EQ(b->increment, 0.5);
    EXPECT_EQ(b->precision, 1);
    const KRPropertyInfo *a = info.propertyInfoForProperty(QStringLiteral("a"), QStringLiteral("Base"));
    EXPECT_TRUE(a->groupOpen);
    EXPECT_TRUE(info.propertyInfoForProperty(QStringLiteral("c"), QStringLiteral("Base"))->serverFunction);
    const KRPropertyInfo *loose = info.propertyInfoForProperty(QStringLiteral("loose"), QStringLiteral("Base"));
    EXPECT_EQ(loose->group, QStringLiteral("__none"));
    EXPECT_EQ(loose->propertyType, 0);
    EXPECT_EQ(info.propertyInfoForProperty(QStringLiteral("weird"), QStringLiteral("Derived"))->propertyType, 0);
    const KRPropertyInfo *shade = info.propertyInfoForProperty(QStringLiteral("shade"), QStringLiteral("Derived"));
    ASSERT_NE(shade, nullptr);
    EXPECT_EQ(shade->group, QStringLiteral("Look"));
    EXPECT_EQ(shade->enumOptions.allKeys(), (QStringList{"r", "g", "b"}));
    EXPECT_EQ(info.propertyInfoForProperty(QStringLiteral("nothing"), QStringLiteral("Derived")), nullptr);
    EXPECT_TRUE(info.propertyInfo(QStringLiteral("Unknown")).isEmpty());
}

TEST_F(ObjectInfo, OptionSetsKeepOrderAndLabelMissingValuesWithKeys)
{
    const auto options = info.enumOptions(QStringLiteral("colours"));
    EXPECT_EQ(options.allKeys(), (QStringList{"r", "g", "b"}));
    EXPECT_EQ(options.objectForKey("g"), QStringLiteral("g"));
    EXPECT_EQ(options.objectForKey("b"), QStringLiteral("Blue"));
    EXPECT_TRUE(info.enumOptions(QStringLiteral("none")).isEmpty());
}

TEST_F(ObjectInfo, BrokenEntriesAreReportedWithLineAndSkipped)
{
    const QString problems = info.loadProblems().join(QLatin1Char('\n'));
    EXPECT_TRUE(problems.contains(QStringLiteral("catalogue.xml line 37: class \"Orphan\" names the unknown superclass"))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("is its own superclass"))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("line 40: class \"Base\" defined again"))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("unknown option set \"missingSet\""))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("refers to nothing: //nothing"))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("line 14: device \"Broken\" lacks a valid size"))) << problems.toStdString();
    EXPECT_TRUE(problems.contains(QStringLiteral("unknown type \"fancy\""))) << problems.toStdString();
    // The loop ends instead of recursing forever; the first definition wins.
    EXPECT_TRUE(info.propertyInfo(QStringLiteral("LoopA")).isEmpty());
    EXPECT_EQ(info.objectDescription(QStringLiteral("Base")), QStringLiteral("The base"));
    EXPECT_EQ(info.standardDeviceInformation().allKeys(), (QStringList{"iPhone", "iPad"}));
}

TEST(ObjectInfoFile, MissingOrMalformedFileGivesAnEmptyCatalogue)
{
    KRObjectInfo missing(KRTest::makeTempDir() + QStringLiteral("/none.xml"));
    EXPECT_TRUE(missing.classNames().isEmpty());
    EXPECT_EQ(missing.propertyHelpTemplate(), QString());
    const QString path = KRTest::makeTempDir() + QStringLiteral("/bad.xml");
    KRTest::writeFile(path, "<catalogue><object className='X'>");
    KRObjectInfo bad(path);
    EXPECT_FALSE(bad.hasClass(QStringLiteral("X")));
    EXPECT_TRUE(bad.loadProblems().first().contains(QStringLiteral("holy crap:")));
}

TEST_F(ObjectInfo, HelpDescriptionsAndVisual)
{
    EXPECT_EQ(info.propertyHelpHTML(QStringLiteral("a"), QStringLiteral("Base")), QStringLiteral("P[<h1>a</h1>\na help]"));
    // The class's own element is found first, and it has no discussion.
    EXPECT_EQ(info.propertyHelpHTML(QStringLiteral("a"), QStringLiteral("Derived")), QString());
    EXPECT_EQ(info.propertyHelpHTML(QStringLiteral("b"), QStringLiteral("Derived")), QString());
    EXPECT_EQ(info.propertyHelpHTML(QStringLiteral("shade"), QStringLiteral("Derived")),
              QStringLiteral("P[<h1>shade</h1>\nshared help]"));
    EXPECT_EQ(info.objectHelpHTML(QStringLiteral("Base")), QStringLiteral("O[base help]"));
    EXPECT_EQ(info.objectHelpHTML(QStringLiteral("Derived")), QString()); // not inherited
    EXPECT_EQ(info.otherHelpHTML(QStringLiteral("startPage")), QStringLiteral("H[start]"));
    EXPECT_EQ(info.otherHelpHTML(QStringLiteral("nope")), QString());
    EXPECT_EQ(info.objectDescription(QStringLiteral("Derived")), QString());
    EXPECT_EQ(info.syntaxErrorTemplate(), QStringLiteral("Line {{line}}"));
    EXPECT_TRUE(info.isVisualObject(QStringLiteral("Derived")));
    EXPECT_FALSE(info.isVisualObject(QStringLiteral("Plain")));
    EXPECT_FALSE(info.isVisualObject(QStringLiteral("Unknown")));
}

TEST_F(ObjectInfo, ReservedWordsKeepTrailingBlanks)
{
    EXPECT_TRUE(info.isJavaScriptReservedWord(QStringLiteral("new")));
    EXPECT_TRUE(info.isJavaScriptReservedWord(QStringLiteral("var"))); // after a line break
    EXPECT_FALSE(info.isJavaScriptReservedWord(QStringLiteral("if")));  // stands as "if "
    EXPECT_FALSE(info.isJavaScriptReservedWord(QStringLiteral("New")));
    // The shipped list: each word is told as one, and names one letter longer or shorter,
    // or with another first letter, are not.
    KRObjectInfo &shared = KRObjectInfo::sharedInstance();
    const QStringList words = shared.javaScriptReservedWords();
    ASSERT_GT(words.size(), 30);
    for (const QString &word : words) {
        EXPECT_TRUE(shared.isJavaScriptReservedWord(word)) << word.toStdString();
        EXPECT_FALSE(shared.isJavaScriptReservedWord(word + QLatin1Char('x'))) << word.toStdString();
        if (!words.contains(word.chopped(1)))
            EXPECT_FALSE(shared.isJavaScriptReservedWord(word.chopped(1))) << word.toStdString();
        if (!words.contains(QLatin1Char('Q') + word.mid(1)))
            EXPECT_FALSE(shared.isJavaScriptReservedWord(QLatin1Char('Q') + word.mid(1))) << word.toStdString();
    }
    EXPECT_FALSE(shared.isJavaScriptReservedWord(QString()));
}

TEST_F(ObjectInfo, KeywordsArePropertiesThenClasses)
{
    const QStringList words = info.keywords();
    EXPECT_EQ(words.mid(0, 4), (QStringList{"shade", "a", "b", "c"}));
    EXPECT_TRUE(words.contains(QStringLiteral("Derived")));
    EXPECT_EQ(words.count(QStringLiteral("a")), 1);
}

TEST_F(ObjectInfo, UserDevicesMergeIntoTheDeviceTable)
{
    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/d.conf"));
    auto phone = std::make_shared<KRUserDeviceInformation>();
    phone->deviceID = QStringLiteral("iPhone");
    phone->name = QStringLiteral("Mine");
    phone->width = 100;
    phone->height = 200;
    auto extra = std::make_shared<KRUserDeviceInformation>();
    extra->deviceID = QStringLiteral("Watch");
    extra->width = 50;
    extra->height = 60;
    KRUserDeviceInformation::storeDevices({phone, extra}, defaults);
    const auto devices = info.deviceInformation(defaults);
    EXPECT_EQ(devices.allKeys(), (QStringList{"iPhone", "iPad", "Watch"}));
    EXPECT_EQ(devices.objectForKey("iPhone")->name, QStringLiteral("Mine"));
    EXPECT_EQ(devices.objectForKey("Watch")->offsetX(), 48);
    EXPECT_EQ(devices.objectForKey("Watch")->screenWidth, 0);
    KRUserDeviceInformation::storeDevices({}, defaults);
    EXPECT_FALSE(defaults.hasStoredValue(QStringLiteral("userDevices")));
}

TEST(UserDevice, PictureSizeValidationAndIdChangeQuestion)
{
    KRUserDeviceInformation device;
    device.width = 320;
    device.height = 480;
    EXPECT_EQ(device.image().size(), QSize(416, 576));

    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/d.conf"));
    auto stored = std::make_shared<KRUserDeviceInformation>();
    stored->deviceID = QStringLiteral("Mine");
    KRUserDeviceInformation::storeDevices({stored}, defaults);
    // The shared catalogue holds "iPhone".
    EXPECT_EQ(device.validateDeviceID(QStringLiteral("iPhone"), defaults).error().message(),
              QStringLiteral("Sorry, that device ID is reserved."));
    EXPECT_EQ(device.validateDeviceID(QStringLiteral("Mine"), defaults).error().domain(), QStringLiteral("UserDevice"));
    EXPECT_TRUE(stored->validateDeviceID(QStringLiteral("Mine"), defaults).ok()); // its own entry
    EXPECT_TRUE(device.validateDeviceID(QStringLiteral("Other"), defaults).ok());

    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    alerts->scriptAnswer(KRAlertService::SecondButtonReturn);
    EXPECT_FALSE(stored->setValue(QStringLiteral("deviceID"), QStringLiteral("New"), defaults));
    EXPECT_EQ(stored->deviceID, QStringLiteral("Mine"));
    alerts->scriptAnswer(KRAlertService::FirstButtonReturn);
    EXPECT_TRUE(stored->setValue(QStringLiteral("deviceID"), QStringLiteral("New"), defaults));
    EXPECT_EQ(stored->deviceID, QStringLiteral("New"));
    EXPECT_FALSE(defaults.boolValue(QStringLiteral("suppressUserDeviceIDAlert")));
    // "Discard Change" with the box ticked keeps the old id and silences the alert from then on.
    alerts->scriptAnswer(KRAlertService::SecondButtonReturn);
    alerts->scriptSuppressionChecked(true);
    EXPECT_FALSE(stored->setValue(QStringLiteral("deviceID"), QStringLiteral("Other"), defaults));
    EXPECT_EQ(stored->deviceID, QStringLiteral("New"));
    EXPECT_TRUE(defaults.boolValue(QStringLiteral("suppressUserDeviceIDAlert")));
    EXPECT_TRUE(stored->setValue(QStringLiteral("deviceID"), QStringLiteral("Newer"), defaults));
    EXPECT_EQ(stored->deviceID, QStringLiteral("Newer"));
    EXPECT_EQ(alerts->shownAlerts().size(), 3);
    KRAlertService::setCurrent(previous);
}

TEST_F(ObjectInfo, DeviceJSONNamesEverySize)
{
    KRObjectInfo &shared = KRObjectInfo::sharedInstance();
    const QJsonObject json = QJsonDocument::fromJson(shared.deviceInformationJSON().toUtf8()).object();
    ASSERT_TRUE(json.contains(QStringLiteral("iPhone")));
    const QJsonObject phone = json.value(QStringLiteral("iPhone")).toObject();
    EXPECT_EQ(phone.value(QStringLiteral("width")).toInt(), 320);
    EXPECT_EQ(phone.value(QStringLiteral("screenHeight")).toInt(), 480);
    EXPECT_FALSE(shared.standardDeviceInformation().objectForKey("iPhone")->image().isNull());
}

TEST_F(ObjectInfo, PluginClassesAreSynthesised)
{
    const QString folder = KRTest::makeTempDir();
    KRTest::writeFile(folder + QStringLiteral("/about.html"), "<p>at {{_pluginPath}}</p>");
    const QVariantMap description{
        {"className", "Gauge"},
        {"superClass", "Base"},
        {"classDescription", "A gauge"},
        {"icon", "gauge.png"},
        {"discussion", "about.html"},
        {"enumOptions", QVariantMap{{"sizes", QVariantList{"s", "Small", "m", "Medium", "l"}}}},
        {"properties",
         QVariantList{QVariantMap{{"propertyName", "on"}, {"propertyType", "boolean"}, {"defaultValue", true}},
                      QVariantMap{{"propertyName", "off"}, {"propertyType", "boolean"}, {"defaultValue", false}},
                      QVariantMap{{"propertyName", "size"}, {"propertyType", "enum"}, {"enumOptions", "sizes"},
                                  {"discussionHTML", "<p>{{_pluginPath}}</p>"}},
                      QVariantMap{{"propertyName", "level"}, {"propertyType", "number"}, {"minValue", "0"},
                                  {"group", "Data"}}}}};
    ASSERT_TRUE(info.addPluginObject(description, folder).ok());
    EXPECT_EQ(info.pluginObjects(), QStringList{"Gauge"});
    const KRPropertyInfo *on = info.propertyInfoForProperty(QStringLiteral("on"), QStringLiteral("Gauge"));
    ASSERT_NE(on, nullptr);
    EXPECT_EQ(on->defaultValue, QStringLiteral("true"));
    EXPECT_EQ(on->propertyType, KRPropertyInfo::Enum);
    EXPECT_EQ(on->group, QStringLiteral("Object Properties"));
    EXPECT_TRUE(on->pluginProperty);
    EXPECT_EQ(on->enumOptions.allKeys(), (QStringList{"true", "false"}));
    EXPECT_EQ(info.propertyInfoForProperty(QStringLiteral("off"), QStringLiteral("Gauge"))->defaultValue, QString());
    const KRPropertyInfo *size = info.propertyInfoForProperty(QStringLiteral("size"), QStringLiteral("Gauge"));
    EXPECT_EQ(size->enumOptions.allKeys(), (QStringList{"s", "m"})); // the unpaired "l" is ignored
    EXPECT_EQ(info.propertyInfoForProperty(QStringLiteral("level"), QStringLiteral("Gauge"))->minValue, 0.0);
    EXPECT_EQ(info.propertyInfoForProperty(QStringLiteral("a"), QStringLiteral("Gauge"))->defaultValue, QStringLiteral("one"));
    EXPECT_EQ(info.objectHelpHTML(QStringLiteral("Gauge")), QStringLiteral("O[<p>at %1</p>]").arg(folder));
    EXPECT_EQ(info.propertyHelpHTML(QStringLiteral("size"), QStringLiteral("Gauge")),
              QStringLiteral("P[<h1>size</h1>\n<p>%1</p>]").arg(folder));
    EXPECT_EQ(info.objectIconName(QStringLiteral("Gauge")), folder + QStringLiteral("/gauge.png"));

    // A second class of the same name and set shares the option set made first.
    QVariantMap again = description;
    again["enumOptions"] = QVariantMap{{"sizes", QVariantList{"x", "X"}}};
    ASSERT_TRUE(info.addPluginObject(again, folder).ok());
    EXPECT_EQ(info.enumOptions(QStringLiteral("Gauge_sizes")).allKeys(), (QStringList{"s", "m"}));
}

TEST_F(ObjectInfo, InvalidPluginEntriesAddNothing)
{
    const auto attempt = [&](const QVariantMap &property) {
        const KRResult<void> r = info.addPluginObject({{"className", "Bad"}, {"properties", QVariantList{property}}}, "/p");
        return r.ok() ? QString() : r.error().message();
    };
    EXPECT_EQ(attempt({{"propertyType", "string"}}), QStringLiteral("propertyName is missing"));
    EXPECT_EQ(attempt({{"propertyName", "x"}}), QStringLiteral("propertyType is missing"));
    EXPECT_EQ(attempt({{"propertyName", "x"}, {"propertyType", "date"}}), QStringLiteral("Invalid propertyType"));
    EXPECT_EQ(attempt({{"propertyName", "x"}, {"propertyType", "enum"}}),
              QStringLiteral("enumOptions required when propertyType is 'enum'"));
    EXPECT_EQ(attempt({{"propertyName", "x"}, {"propertyType", "enum"}, {"enumOptions", "s"}}),
              QStringLiteral("Missing enumOptions data for property"));
    EXPECT_FALSE(info.hasClass(QStringLiteral("Bad")));
    EXPECT_TRUE(info.pluginObjects().isEmpty());
}

} // namespace
