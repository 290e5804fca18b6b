#include <platform/foundation/KRUserDefaults.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <memory>

namespace {
QString freshFile()
{
    return KRTest::makeTempDir("defaults") + "/Korvane.conf";
}
} // namespace

TEST(KRUserDefaults, StoredBeatsRegisteredBeatsInitialAndRemoveFallsBack)
{
    KRUserDefaults defaults(freshFile());
    EXPECT_FALSE(defaults.value("jquery-mobile-css").isValid());

    defaults.registerInitialValues({{"jquery-mobile-css", "initial.css"}});
    EXPECT_EQ(defaults.stringValue("jquery-mobile-css"), "initial.css");

    defaults.registerDefaults({{"jquery-mobile-css", "registered.css"}});
    EXPECT_EQ(defaults.stringValue("jquery-mobile-css"), "registered.css");

    defaults.setValue("jquery-mobile-css", "stored.css");
    EXPECT_EQ(defaults.stringValue("jquery-mobile-css"), "stored.css");
    EXPECT_TRUE(defaults.hasStoredValue("jquery-mobile-css"));

    defaults.removeObject("jquery-mobile-css");
    EXPECT_FALSE(defaults.hasStoredValue("jquery-mobile-css"));
    EXPECT_EQ(defaults.stringValue("jquery-mobile-css"), "registered.css");

    // an invalid value removes as well
    defaults.setValue("jquery-mobile-css", "stored.css");
    defaults.setValue("jquery-mobile-css", QVariant());
    EXPECT_EQ(defaults.stringValue("jquery-mobile-css"), "registered.css");
}

TEST(KRUserDefaults, ChangeSignalOnlyWhenTheEffectiveValueChanges)
{
    KRUserDefaults defaults(freshFile());
    QStringList signalled;
    QStringList observed;
    QObject::connect(&defaults, &KRUserDefaults::valueChanged,
                     [&](const QString &key) { signalled << key; });
    auto token = defaults.observe("autosavesInPlace", [&](const QString &key, const QVariant &value) {
        observed << key + "=" + value.toString();
    });

    defaults.registerDefaults({{"autosavesInPlace", false}});
    EXPECT_EQ(signalled, (QStringList{"autosavesInPlace"}));

    // storing the value it already has changes nothing visible
    defaults.setValue("autosavesInPlace", false);
    EXPECT_EQ(signalled.size(), 1);
    // nor does a lower tier under a registered default
    defaults.registerInitialValues({{"autosavesInPlace", true}});
    EXPECT_EQ(signalled.size(), 1);

    defaults.setValue("autosavesInPlace", true);
    EXPECT_EQ(signalled.size(), 2);
    EXPECT_EQ(observed.last(), "autosavesInPlace=true");

    // removal falls back to the registered false: a change
    defaults.removeObject("autosavesInPlace");
    EXPECT_EQ(signalled.size(), 3);
    EXPECT_EQ(observed.last(), "autosavesInPlace=false");
    // removing again: nothing stored, nothing happens
    defaults.removeObject("autosavesInPlace");
    EXPECT_EQ(signalled.size(), 3);

    // other keys do not reach this observer
    defaults.setValue("hostingPassword", "AB12");
    EXPECT_EQ(observed.size(), 3);
    EXPECT_EQ(signalled.last(), "hostingPassword");
}

TEST(KRUserDefaults, ValuesPersistAcrossInstancesWithTypesReadBack)
{
    const QString file = freshFile();
    const QVariantList devices{QVariantMap{{"id", "user-1"}, {"width", 320}},
                               QVariantMap{{"id", "user-2"}, {"width", 768}}};
    {
        KRUserDefaults defaults(file);
        defaults.setValue("showGrid", true);
        defaults.setValue("gridSize", 8);
        defaults.setValue("zoom", 0.75);
        defaults.setValue("recentProjects", QStringList{"/a/One.krproj", "/b/Two, with comma.krproj"});
        defaults.setValue("singleItem", QStringList{"only"});
        defaults.setValue("userDevices", devices);
        defaults.setValue("window", QVariantMap{{"x", 10}, {"title", "Main"}});
        defaults.setValue("userDeviceArchive", QByteArray("\x00\x01\xff", 3));
    }
    EXPECT_TRUE(QFileInfo::exists(file));

    KRUserDefaults reread(file);
    EXPECT_TRUE(reread.boolValue("showGrid"));
    EXPECT_EQ(reread.integerValue("gridSize"), 8);
    EXPECT_DOUBLE_EQ(reread.doubleValue("zoom"), 0.75);
    EXPECT_EQ(reread.value("recentProjects").toStringList(),
              (QStringList{"/a/One.krproj", "/b/Two, with comma.krproj"}));
    EXPECT_EQ(reread.value("singleItem").toStringList(), (QStringList{"only"}));
    // As the next session reads the file (this process keeps what it wrote in memory).
    const QString copy = freshFile();
    ASSERT_TRUE(QFile::copy(file, copy));
    KRUserDefaults nextSession(copy);
    EXPECT_EQ(nextSession.arrayValue("singleItem"), (QVariantList{"only"})) << "a list of one is still a list";
    EXPECT_EQ(nextSession.arrayValue("recentProjects").size(), 2);
    const QVariantList readDevices = reread.arrayValue("userDevices");
    ASSERT_EQ(readDevices.size(), 2);
    EXPECT_EQ(readDevices[1].toMap().value("id").toString(), "user-2");
    EXPECT_EQ(readDevices[1].toMap().value("width").toInt(), 768);
    EXPECT_TRUE(KRUserDefaults::sameValue(reread.value("userDevices"), devices));
    EXPECT_EQ(reread.dictionaryValue("window").value("title").toString(), "Main");
    EXPECT_EQ(reread.value("userDeviceArchive").toByteArray(), QByteArray("\x00\x01\xff", 3));

    // a stored number that came back as text does not count as a change when set again
    int changes = 0;
    QObject::connect(&reread, &KRUserDefaults::valueChanged, [&] { ++changes; });
    reread.setValue("gridSize", 8);
    reread.setValue("showGrid", true);
    EXPECT_EQ(changes, 0);
}

TEST(KRUserDefaults, TypedAccessorsReadTextAndNumbers)
{
    KRUserDefaults defaults(freshFile());
    defaults.registerDefaults({{"yes", "YES"}, {"trueText", "true"}, {"zeroText", "0"},
                               {"word", "maybe"}, {"number", 2.9}, {"numberText", "3.5"},
                               {"list", QVariantList{1, 2}}});
    EXPECT_TRUE(defaults.boolValue("yes"));
    EXPECT_TRUE(defaults.boolValue("trueText"));
    EXPECT_FALSE(defaults.boolValue("zeroText"));
    EXPECT_FALSE(defaults.boolValue("word"));
    EXPECT_FALSE(defaults.boolValue("missing"));
    EXPECT_TRUE(defaults.boolValue("number"));
    EXPECT_EQ(defaults.integerValue("number"), 2);
    EXPECT_EQ(defaults.integerValue("numberText"), 3);
    EXPECT_DOUBLE_EQ(defaults.doubleValue("numberText"), 3.5);
    EXPECT_EQ(defaults.stringValue("number"), "2.9");
    EXPECT_EQ(defaults.stringValue("list"), "");
    EXPECT_EQ(defaults.arrayValue("list").size(), 2);
    EXPECT_TRUE(defaults.arrayValue("word").isEmpty());
}

TEST(KRUserDefaults, SharedInstanceUsesTheConfigFolder)
{
    const QString path = KRUserDefaults::sharedInstance().filePath();
    EXPECT_EQ(path.toStdString(), (KRTest::sandboxDir() + "/config/Korvane/Korvane.conf").toStdString());
    EXPECT_EQ(&KRUserDefaults::sharedInstance(), &KRUserDefaults::sharedInstance());
}
