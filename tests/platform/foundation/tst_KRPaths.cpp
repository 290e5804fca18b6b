#include <platform/foundation/KRError.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>

TEST(KRPaths, FoldersFollowTheXdgVariablesAndExist)
{
    const QString sandbox = KRTest::sandboxDir();
    EXPECT_EQ(KRPaths::applicationSupportDirectory(), sandbox + "/data/Korvane");
    EXPECT_EQ(KRPaths::logsDirectory(), sandbox + "/state/Korvane");
    EXPECT_EQ(KRPaths::cachesDirectory(), sandbox + "/cache/Korvane");
    for (const QString &dir : {KRPaths::applicationSupportDirectory(), KRPaths::logsDirectory(),
                               KRPaths::cachesDirectory()})
        EXPECT_TRUE(QFileInfo(dir).isDir()) << dir.toStdString();
}

TEST(KRPaths, TemporaryFolderIsPrivate)
{
    const QString tmp = KRPaths::temporaryDirectory();
    ASSERT_FALSE(tmp.isEmpty());
    EXPECT_TRUE(tmp.startsWith(KRTest::sandboxDir()));
    const QFileInfo info(tmp);
    EXPECT_TRUE(info.isDir());
    EXPECT_EQ(info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther
                                    | QFileDevice::WriteGroup | QFileDevice::WriteOther),
              QFileDevice::Permissions());
}

TEST(KRResources, OverrideWinsAndCanBeCleared)
{
    const QString original = KRResources::resourcesDirectory();
    const QString dir = KRTest::makeTempDir("res");
    KRResources::setResourcesDirectory(dir);
    EXPECT_EQ(KRResources::pathForResource("KRObjectInfo.xml"), dir + "/KRObjectInfo.xml");
    KRResources::setResourcesDirectory({});
    EXPECT_EQ(KRResources::resourcesDirectory(), original);
}

TEST(KRResult, CarriesValueOrError)
{
    KRResult<int> good(4);
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(*good, 4);
    KRResult<int> bad(KRError("Korvane", 100, "bad id"));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().code(), 100);
    EXPECT_EQ(bad.valueOr(7), 7);
    KRResult<void> done;
    EXPECT_TRUE(done.ok());
    EXPECT_EQ(KRError("Project Error", 1, "x").toString(), "x (Project Error 1)");
}
