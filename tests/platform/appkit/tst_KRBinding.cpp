#include <platform/appkit/KRBinding.h>
#include <platform/foundation/KRObservable.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

// Showing the model's value, first and after each model change, never writes it back; the
// user's edit is written once, when editing ends.
TEST(KRBinding, ShowingAValueNeverWritesIt)
{
    KRObservable observable;
    QString title = QStringLiteral("Home");
    int writes = 0;
    const auto setTitle = [&](const QString &value) {
        ++writes;
        const QString old = std::exchange(title, value);
        observable.notifyChange(QStringLiteral("title"), old, value);
    };
    QLineEdit edit;
    KRBinding binding(&edit, KRBinding::observable(observable, QStringLiteral("title"),
                                                   [&] { return QVariant(title); },
                                                   [&](const QVariant &v) { setTitle(v.toString()); }));
    EXPECT_EQ(edit.text(), QStringLiteral("Home"));
    setTitle(QStringLiteral("About"));
    EXPECT_EQ(edit.text(), QStringLiteral("About"));
    EXPECT_EQ(writes, 1); // only the model's own

    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("Contact"));
    EXPECT_EQ(writes, 1);
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(title, QStringLiteral("Contact"));
    EXPECT_EQ(writes, 2);
}

// A refused value leaves the model as it was and is reported; the user's text stays.
TEST(KRBinding, FailingTransformerOrValidatorLeavesTheModelUntouched)
{
    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/d.conf"));
    defaults.setValue(QStringLiteral("port"), 8080);
    QLineEdit edit;
    KRBinding binding(&edit, KRBinding::userDefault(defaults, QStringLiteral("port")));
    binding.setTransformer([](const QVariant &v) { return std::optional<QVariant>(v.toString()); },
                           [](const QVariant &v) -> std::optional<QVariant> {
                               bool ok = false;
                               const int n = v.toString().toInt(&ok);
                               return ok ? std::optional<QVariant>(n) : std::nullopt;
                           });
    binding.setValidator([](const QVariant &v, QString *message) {
        *message = QStringLiteral("out of range");
        return v.toInt() > 0 && v.toInt() < 65536;
    });
    QSignalSpy rejected(&binding, &KRBinding::rejected);

    for (const char *text : {"eighty", "70000"}) {
        edit.setText(QString::fromLatin1(text));
        EXPECT_FALSE(binding.commit());
        EXPECT_EQ(edit.text(), QString::fromLatin1(text));
    }
    EXPECT_EQ(defaults.integerValue(QStringLiteral("port")), 8080);
    ASSERT_EQ(rejected.count(), 2);
    EXPECT_EQ(rejected.at(1).at(0).toString(), QStringLiteral("out of range"));

    edit.setText(QStringLiteral("9090"));
    EXPECT_TRUE(binding.commit());
    EXPECT_EQ(defaults.integerValue(QStringLiteral("port")), 9090);
    defaults.setValue(QStringLiteral("port"), 1234); // a change made elsewhere is shown
    EXPECT_EQ(edit.text(), QStringLiteral("1234"));
}
