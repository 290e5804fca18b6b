#include <core/KRPropertyList.h>

#include "KRTestSupport.h"
#include "KRXMLAllocationGuard.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSize>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

#include <sys/stat.h>

TEST(KRPropertyList, RoundTripOfAllTypes)
{
    const QDateTime date(QDate(2024, 2, 29), QTime(13, 45, 7), Qt::UTC);
    const QVariantMap original{
        {"string", QString::fromUtf8("a < b & \"c\" é")},
        {"integer", qlonglong(-42)},
        {"big", qlonglong(9007199254740993LL)},
        {"real", 2.5},
        {"yes", true},
        {"no", false},
        {"date", date},
        {"data", QByteArray("\x00\x01\xfe\xff", 4)},
        {"list", QVariantList{1, "two", QVariantList{}, QVariantMap{}}},
        {"nested", QVariantMap{{"k", "v"}}},
        {"empty", QString()},
    };
    KRResult<QByteArray> bytes = KRPropertyList::dataFromPropertyList(original);
    ASSERT_TRUE(bytes.ok()) << bytes.error().toString().toStdString();
    KRResult<QVariant> read = KRPropertyList::propertyListFromData(bytes.value());
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    const QVariantMap map = read.value().toMap();
    EXPECT_EQ(map.keys(), original.keys());
    EXPECT_EQ(map.value("string").toString(), original.value("string").toString());
    EXPECT_EQ(map.value("integer").toLongLong(), -42);
    EXPECT_EQ(map.value("big").toLongLong(), 9007199254740993LL);
    EXPECT_EQ(map.value("real").toDouble(), 2.5);
    EXPECT_EQ(map.value("yes").typeId(), QMetaType::Bool);
    EXPECT_TRUE(map.value("yes").toBool());
    EXPECT_FALSE(map.value("no").toBool());
    EXPECT_EQ(map.value("date").toDateTime(), date);
    EXPECT_EQ(map.value("data").toByteArray(), QByteArray("\x00\x01\xfe\xff", 4));
    EXPECT_EQ(map.value("list").toList().size(), 4);
    EXPECT_EQ(map.value("list").toList().at(1).toString(), "two");
    EXPECT_EQ(map.value("nested").toMap().value("k").toString(), "v");
    EXPECT_EQ(map.value("empty").toString(), "");
}

TEST(KRPropertyList, ReadsTheUsualFileShape)
{
    const QByteArray text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist>\n"
        "<plist version=\"1.0\">\n<dict>\n\t<key>name</key>\n\t<string>JavaScript</string>\n"
        "\t<key>fileTypes</key>\n\t<array>\n\t\t<string>js</string>\n\t</array>\n"
        "\t<key>count</key>\n\t<integer> 7 </integer>\n\t<key>when</key>\n\t<date>2020-01-02T03:04:05Z</date>\n"
        "\t<key>blob</key>\n\t<data>\n\tAAEC\n\tAw==\n\t</data>\n</dict>\n</plist>\n";
    KRResult<QVariant> read = KRPropertyList::propertyListFromData(text);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    const QVariantMap map = read.value().toMap();
    EXPECT_EQ(map.value("name").toString(), "JavaScript");
    EXPECT_EQ(map.value("fileTypes").toList(), QVariantList{"js"});
    EXPECT_EQ(map.value("count").toLongLong(), 7);
    EXPECT_EQ(map.value("when").toDateTime(), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC));
    EXPECT_EQ(map.value("blob").toByteArray(), QByteArray("\x00\x01\x02\x03", 4));
}

TEST(KRPropertyList, WritesSortedIndentedText)
{
    const QVariantMap value{{"b", QVariantList{1.5}}, {"a", "x"}};
    EXPECT_EQ(KRPropertyList::dataFromPropertyList(value).valueOr({}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\">\n<dict>\n\t<key>a</key>\n\t<string>x</string>\n\t<key>b</key>\n\t<array>\n"
              "\t\t<real>1.5</real>\n\t</array>\n</dict>\n</plist>\n");
}

TEST(KRPropertyList, BadInputGivesErrors)
{
    EXPECT_FALSE(KRPropertyList::propertyListFromData("<plist><dict><key>a</key></dict></plist>").ok());
    EXPECT_FALSE(KRPropertyList::propertyListFromData("<plist><dict><string>a</string></dict></plist>").ok());
    EXPECT_FALSE(KRPropertyList::propertyListFromData("<plist><integer>12x</integer></plist>").ok());
    EXPECT_FALSE(KRPropertyList::propertyListFromData("<plist><data>!!!</data></plist>").ok());
    EXPECT_FALSE(KRPropertyList::propertyListFromData("<plist><unknown/></plist>").ok());
    EXPECT_FALSE(KRPropertyList::propertyListFromData("<notplist><true/></notplist>").ok());
    const KRResult<QVariant> malformed = KRPropertyList::propertyListFromData("<plist>\n<dict>\n</plist>");
    ASSERT_FALSE(malformed.ok());
    EXPECT_EQ(malformed.error().userInfo().value("line").toInt(), 3);

    EXPECT_FALSE(KRPropertyList::dataFromPropertyList(QVariant::fromValue(QSize(1, 1))).ok());
    EXPECT_FALSE(KRPropertyList::dataFromPropertyList(QVariantList{QVariant()}).ok());
    EXPECT_FALSE(KRPropertyList::propertyListFromFile(KRTest::sandboxDir() + "/missing.plist").ok());
}

// Property lists (syntax definitions, the news's read state, the download cache) that declare
// nested entities, used in a value or an attribute, are refused at once, from text or a file.
TEST(KRPropertyList, EntityDeclarationsAreRefusedAtOnce)
{
    QByteArray declarations = "<!ENTITY a0 \"lol\">";
    for (int level = 1; level <= 9; ++level)
        declarations += "<!ENTITY a" + QByteArray::number(level) + " \""
            + QByteArray("&a" + QByteArray::number(level - 1) + ';').repeated(10) + "\">";
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist [" + declarations + "]>\n";
    const QString folder = KRTest::makeTempDir("plist-entities");
    KRTest::XMLAllocationGuard guard(64 << 20);
    int n = 0;
    for (const QByteArray &text : {head + "<plist version=\"1.0\"><dict><key>name</key><string>&a9;</string></dict></plist>",
                                   head + "<plist version=\"&a9;\"><string/></plist>"}) {
        const QString path = folder + QStringLiteral("/%1.plist").arg(++n);
        KRTest::writeFile(path, text);
        for (const KRResult<QVariant> &read :
             {KRPropertyList::propertyListFromData(text), KRPropertyList::propertyListFromFile(path)}) {
            ASSERT_FALSE(read.ok()) << n;
            EXPECT_EQ(read.error().domain(), KRPropertyList::errorDomain);
            EXPECT_TRUE(read.error().message().contains(QStringLiteral("declares the entity \u201Ca0\u201D")))
                << read.error().message().toStdString();
        }
    }
    EXPECT_LT(guard.requested(), std::size_t(1) << 20);
}

// The read state, the download cache and the syntax definitions are files anything may put in
// their place: a pipe or a device is refused without waiting, a large (sparse) file before any
// of it is read, each naming the file.
TEST(KRPropertyList, FilesThatAreNoRegularOrTooLargeAreRefusedUnread)
{
    const QString folder = KRTest::makeTempDir("plist-kinds");
    const QString pipe = folder + "/pipe.plist";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString sparse = folder + "/sparse.plist";
    {
        QFile file(sparse);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(3) << 30));
    }
    KRTest::XMLAllocationGuard guard(64 << 20);
    QElapsedTimer timer;
    timer.start();
    for (const QString &path : {pipe, sparse, QStringLiteral("/dev/zero"), folder}) {
        const KRResult<QVariant> read = KRPropertyList::propertyListFromFile(path);
        ASSERT_FALSE(read.ok()) << path.toStdString();
        EXPECT_EQ(read.error().domain(), KRPropertyList::errorDomain);
        EXPECT_TRUE(read.error().message().contains(QFileInfo(path).fileName())) << read.error().message().toStdString();
    }
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST(KRPropertyList, AtomicWriteReplacesFile)
{
    const QString path = KRTest::makeTempDir("plist") + "/state.plist";
    KRTest::writeFile(path, "old contents");
    ASSERT_TRUE(KRPropertyList::writePropertyList(QVariantMap{{"read", QVariantList{"a", "b"}}}, path).ok());
    KRResult<QVariant> read = KRPropertyList::propertyListFromFile(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value().toMap().value("read").toList(), (QVariantList{"a", "b"}));
    // A value that cannot be written leaves the old file alone.
    EXPECT_FALSE(KRPropertyList::writePropertyList(QVariant::fromValue(QSize()), path).ok());
    EXPECT_TRUE(KRPropertyList::propertyListFromFile(path).ok());
    EXPECT_FALSE(KRPropertyList::writePropertyList(QVariantMap{}, KRTest::sandboxDir() + "/no/such/dir/x.plist").ok());
}
