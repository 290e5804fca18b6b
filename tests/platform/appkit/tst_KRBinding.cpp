#include <platform/appkit/KRBinding.h>
#include <platform/foundation/KRObservable.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

// A model object with one observable key that counts its writes.
struct Page {
    KRObservable observable{this};
    QString title = QStringLiteral("Home");
    int writes = 0;

    void setTitle(const QString &value)
    {
        ++writes;
        const QString old = std::exchange(title, value);
        observable.notifyChange(QStringLiteral("title"), old, value);
    }

    KRBinding::Model model()
    {
        return KRBinding::observable(observable, QStringLiteral("title"), [this] { return QVariant(title); },
                                     [this](const QVariant &v) { setTitle(v.toString()); });
    }
};

} // namespace

// Showing the model's value, first and after each model change, never writes it back.
TEST(KRBinding, ShowingAValueNeverWritesIt)
{
    Page page;
    QLineEdit edit;
    QCheckBox box;
    bool flag = false;
    int flagWrites = 0;
    KRObservable flagObservable;
    KRBinding text(&edit, page.model());
    KRBinding check(&box, KRBinding::observable(flagObservable, QStringLiteral("flag"),
                                                [&] { return QVariant(flag); },
                                                [&](const QVariant &v) { ++flagWrites; flag = v.toBool(); }));
    EXPECT_EQ(edit.text(), QStringLiteral("Home"));

    page.setTitle(QStringLiteral("About"));
    flag = true;
    flagObservable.notifyChange(QStringLiteral("flag"), false, true);
    EXPECT_EQ(edit.text(), QStringLiteral("About"));
    EXPECT_TRUE(box.isChecked());
    EXPECT_EQ(page.writes, 1); // only the model's own write
    EXPECT_EQ(flagWrites, 0);

    // A user's click does write.
    box.click();
    EXPECT_EQ(flagWrites, 1);
    EXPECT_FALSE(flag);
}

TEST(KRBinding, EditsReachTheModelWhenEditingEnds)
{
    Page page;
    QLineEdit edit;
    KRBinding binding(&edit, page.model());
    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("Contact"));
    EXPECT_EQ(page.writes, 0);
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(page.title, QStringLiteral("Contact"));
    EXPECT_EQ(page.writes, 1);
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
        if (v.toInt() > 0 && v.toInt() < 65536)
            return true;
        *message = QStringLiteral("out of range");
        return false;
    });
    QSignalSpy rejected(&binding, &KRBinding::rejected);
    EXPECT_EQ(edit.text(), QStringLiteral("8080"));

    edit.setText(QStringLiteral("eighty"));
    EXPECT_FALSE(binding.commit());
    edit.setText(QStringLiteral("70000"));
    EXPECT_FALSE(binding.commit());
    EXPECT_EQ(defaults.integerValue(QStringLiteral("port")), 8080);
    EXPECT_EQ(edit.text(), QStringLiteral("70000"));
    ASSERT_EQ(rejected.count(), 2);
    EXPECT_EQ(rejected.at(1).at(0).toString(), QStringLiteral("out of range"));

    edit.setText(QStringLiteral("9090"));
    EXPECT_TRUE(binding.commit());
    EXPECT_EQ(defaults.integerValue(QStringLiteral("port")), 9090);

    // A change made elsewhere is shown.
    defaults.setValue(QStringLiteral("port"), 1234);
    EXPECT_EQ(edit.text(), QStringLiteral("1234"));
}
