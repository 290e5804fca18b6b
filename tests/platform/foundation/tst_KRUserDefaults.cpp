#include <platform/foundation/KRUserDefaults.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QStringConverter>
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

// A settings file in UTF-16 or UCS-4 (saved so by an editor) is read, and written again in
// UTF-8 with every key and value; read as it was, it was taken for no settings, then written
// over with its keys full of zero bytes. One that is no proper text is left as it is.
TEST(KRUserDefaults, SettingsInUnicodeAreReadAndOthersLeftAsTheyAre)
{
    const QString recent = QStringLiteral("/home/caf\u00E9/\u6F22\U0001F600.krproj");
    const QString text = QStringLiteral("[General]\r\nrecentProject=") + recent + QStringLiteral("\r\nshowGrid=true\r\n");
    const struct
    {
        const char *what;
        QStringConverter::Encoding encoding;
        bool mark;
    } forms[] = {
        {"UTF-16LE with a mark", QStringConverter::Utf16LE, true},
        {"UTF-16BE with a mark", QStringConverter::Utf16BE, true},
        {"UTF-16LE without a mark", QStringConverter::Utf16LE, false},
        {"UCS-4LE with a mark", QStringConverter::Utf32LE, true},
    };
    for (const auto &form : forms) {
        SCOPED_TRACE(form.what);
        const QString file = freshFile();
        QStringEncoder encoder(form.encoding, form.mark ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
        KRTest::writeFile(file, encoder.encode(text));
        {
            KRUserDefaults defaults(file);
            EXPECT_EQ(defaults.stringValue("recentProject"), recent);
            EXPECT_TRUE(defaults.boolValue("showGrid"));
            defaults.setValue("zoom", 2);
        }
        const QByteArray written = KRTest::readFile(file);
        EXPECT_TRUE(written.startsWith("[General]")) << written.toStdString();
        EXPECT_FALSE(written.contains('\0'));
        KRUserDefaults next(file);
        EXPECT_EQ(next.stringValue("recentProject"), recent);
        EXPECT_TRUE(next.boolValue("showGrid"));
        EXPECT_EQ(next.integerValue("zoom"), 2);
    }

    // Half a surrogate pair: the file is kept as it is, whatever is changed and however it ends;
    // what can be read is, and a change lasts the session.
    const QString file = freshFile();
    const QByteArray broken = QByteArray("\xFF\xFE", 2) + QStringEncoder(QStringConverter::Utf16LE).encode(text)
        + QByteArray("\x3D\xD8", 2) + QStringEncoder(QStringConverter::Utf16LE).encode(u"x=1\r\n");
    KRTest::writeFile(file, broken);
    {
        KRUserDefaults defaults(file);
        EXPECT_EQ(defaults.stringValue("recentProject"), recent);
        defaults.setValue("zoom", 2);
        EXPECT_EQ(defaults.integerValue("zoom"), 2);
        defaults.synchronize();
    }
    EXPECT_EQ(KRTest::readFile(file), broken);
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
