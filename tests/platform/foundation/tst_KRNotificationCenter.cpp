#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRObservable.h>

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace {
const QString DidChange = QStringLiteral("KRTestDidChangeNotification");
const QString Other = QStringLiteral("KRTestOtherNotification");
} // namespace

TEST(KRNotificationCenter, DeliversByNameAndSenderInRegistrationOrder)
{
    KRNotificationCenter center;
    int senderA = 0, senderB = 0;
    QStringList calls;
    auto t1 = center.addObserver(DidChange, nullptr, [&](const KRNotification &n) {
        calls << "any:" + n.userInfo.value("k").toString();
    });
    auto t2 = center.addObserver(DidChange, &senderA, [&](const KRNotification &n) {
        EXPECT_EQ(n.sender, &senderA);
        calls << "a";
    });
    auto t3 = center.addObserver({}, nullptr, [&](const KRNotification &n) { calls << "all:" + n.name; });

    center.post(DidChange, &senderA, {{"k", "v"}});
    EXPECT_EQ(calls, (QStringList{"any:v", "a", "all:" + DidChange}));

    calls.clear();
    center.post(DidChange, &senderB);
    center.post(Other, &senderA);
    EXPECT_EQ(calls, (QStringList{"any:", "all:" + DidChange, "all:" + Other}));
    EXPECT_TRUE(center.hasObservers(Other)); // the catch-all observer
}

TEST(KRNotificationCenter, TokenRemovesOnDestructionResetAndMoveAssignment)
{
    KRNotificationCenter center;
    int calls = 0;
    {
        auto token = center.addObserver(DidChange, nullptr, [&](const KRNotification &) { ++calls; });
        center.post(DidChange);
        KRObservationToken moved = std::move(token);
        EXPECT_FALSE(token.isActive());
        center.post(DidChange);
        EXPECT_EQ(calls, 2);
    }
    center.post(DidChange);
    EXPECT_EQ(calls, 2);

    auto token = center.addObserver(DidChange, nullptr, [&](const KRNotification &) { ++calls; });
    token = center.addObserver(Other, nullptr, [&](const KRNotification &) { calls += 10; });
    center.post(DidChange);
    center.post(Other);
    EXPECT_EQ(calls, 12);
    token.reset();
    center.post(Other);
    EXPECT_EQ(calls, 12);
    EXPECT_FALSE(center.hasObservers(DidChange));
}

TEST(KRNotificationCenter, ObserversMayRemoveThemselvesAndOthersDuringAPost)
{
    KRNotificationCenter center;
    QStringList calls;
    std::optional<KRObservationToken> first, second, third;
    first = center.addObserver(DidChange, nullptr, [&](const KRNotification &) {
        calls << "first";
        first.reset(); // itself, while it runs
        third.reset(); // a later one: must not be called any more
    });
    second = center.addObserver(DidChange, nullptr, [&](const KRNotification &) { calls << "second"; });
    third = center.addObserver(DidChange, nullptr, [&](const KRNotification &) { calls << "third"; });

    center.post(DidChange);
    EXPECT_EQ(calls, (QStringList{"first", "second"}));
    calls.clear();
    center.post(DidChange);
    EXPECT_EQ(calls, (QStringList{"second"}));
}

TEST(KRNotificationCenter, ObserversAddedDuringAPostWaitForTheNextOne)
{
    KRNotificationCenter center;
    QStringList calls;
    std::vector<KRObservationToken> added;
    auto token = center.addObserver(DidChange, nullptr, [&](const KRNotification &) {
        calls << "outer";
        added.push_back(center.addObserver(DidChange, nullptr,
                                           [&](const KRNotification &) { calls << "added"; }));
    });
    center.post(DidChange);
    EXPECT_EQ(calls, (QStringList{"outer"}));
    calls.clear();
    center.post(DidChange);
    EXPECT_EQ(calls, (QStringList{"outer", "added"}));
}

TEST(KRNotificationCenter, NestedPostsAndTokensOutlivingTheCentre)
{
    KRObservationToken late;
    int inner = 0;
    {
        KRNotificationCenter center;
        auto outer = center.addObserver(DidChange, nullptr,
                                        [&](const KRNotification &) { center.post(Other); });
        late = center.addObserver(Other, nullptr, [&](const KRNotification &) { ++inner; });
        center.post(DidChange);
        EXPECT_EQ(inner, 1);
    }
    late.reset(); // the centre is gone: nothing happens
    EXPECT_FALSE(late.isActive());
}

TEST(KRNotificationCenter, DefaultCenterIsShared)
{
    EXPECT_EQ(&KRNotificationCenter::defaultCenter(), &KRNotificationCenter::defaultCenter());
}

TEST(KRObservable, DeliversObjectKeyOldAndNewValues)
{
    int owner = 0;
    KRObservable observable(&owner);
    struct Change { const void *object; QString key; QVariant oldValue, newValue; };
    std::vector<Change> changes;
    auto token = observable.observe("kr_text", [&](const void *object, const QString &key,
                                                   const QVariant &oldValue, const QVariant &newValue) {
        changes.push_back({object, key, oldValue, newValue});
    });
    auto all = observable.observe({}, [&](const void *, const QString &key, const QVariant &,
                                         const QVariant &) { changes.push_back({nullptr, "*" + key, {}, {}}); });

    observable.notifyChange("kr_text", "Hello", "World");
    observable.notifyChange("kr_top", "1", "2");
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].object, &owner);
    EXPECT_EQ(changes[0].key, "kr_text");
    EXPECT_EQ(changes[0].oldValue.toString(), "Hello");
    EXPECT_EQ(changes[0].newValue.toString(), "World");
    EXPECT_EQ(changes[1].key, "*kr_text");
    EXPECT_EQ(changes[2].key, "*kr_top");

    // after the token goes, only the catch-all observer hears changes
    token.reset();
    changes.clear();
    observable.notifyChange("kr_text", "World", "Again");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].key, "*kr_text");
    all.reset();
    EXPECT_FALSE(observable.hasObservers("kr_text"));
}

TEST(KRObservable, WillAndDidChangePairUpPerKeyEvenWhenNested)
{
    KRObservable observable;
    QStringList seen;
    auto token = observable.observe({}, [&](const void *, const QString &key, const QVariant &o,
                                            const QVariant &n) {
        seen << QStringLiteral("%1:%2->%3").arg(key, o.toString(), n.toString());
    });
    observable.willChange("kr_width", "10");
    observable.willChange("kr_height", "20");   // a setter that changes another key
    observable.willChange("kr_width", "11");    // and re-enters the first
    observable.didChange("kr_width", "12");
    observable.didChange("kr_height", "21");
    observable.didChange("kr_width", "13");
    EXPECT_EQ(seen, (QStringList{"kr_width:11->12", "kr_height:20->21", "kr_width:10->13"}));
}

TEST(KRObservable, ObserverRemovingAnotherDuringDelivery)
{
    KRObservable observable;
    int secondCalls = 0;
    std::optional<KRObservationToken> second;
    auto first = observable.observe("k", [&](const void *, const QString &, const QVariant &,
                                             const QVariant &) { second.reset(); });
    second = observable.observe("k", [&](const void *, const QString &, const QVariant &,
                                         const QVariant &) { ++secondCalls; });
    observable.notifyChange("k", 1, 2);
    EXPECT_EQ(secondCalls, 0);
}

// Keys are told apart by their text, whatever their length: keys of one length (or of lengths
// 64 apart) reach only their own observers, and an observer of every key, added late, hears
// keys of lengths nobody observed before.
TEST(KRObservable, KeysOfOneLengthAndLateObserversOfEveryKey)
{
    KRObservable observable;
    QStringList heard;
    const auto record = [&heard](const QString &tag) {
        return [&heard, tag](const void *, const QString &key, const QVariant &, const QVariant &) { heard << tag + key; };
    };
    const QString longKey = QStringLiteral("x").repeated(65);
    auto top = observable.observe("kr_top", record("top:"));
    auto longOne = observable.observe(longKey, record("long:"));
    observable.notifyChange("kr_tip", {}, {}); // the length of "kr_top"
    observable.notifyChange("y", {}, {});      // 64 shorter than the long key
    observable.notifyChange("kr_text", {}, {});
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_FALSE(observable.hasObservers("kr_tip"));
    EXPECT_FALSE(observable.hasObservers("y"));
    observable.notifyChange("kr_top", {}, {});
    observable.notifyChange(longKey, {}, {});
    EXPECT_EQ(heard, (QStringList{"top:kr_top", "long:" + longKey}));
    heard.clear();
    auto all = observable.observe({}, record("all:"));
    EXPECT_TRUE(observable.hasObservers("kr_width"));
    observable.notifyChange("kr_text", {}, {});
    EXPECT_EQ(heard, (QStringList{"all:kr_text"}));
}

// Many observers going in any order (a page closing drops thousands): each goes exactly when
// its token does, the others keep their order, and a token of an observer gone long ago
// removes nothing else.
TEST(KRObservable, ManyObserversLeaveInAnyOrder)
{
    KRObservable observable;
    constexpr int count = 300;
    std::vector<int> heard;
    std::vector<std::optional<KRObservationToken>> tokens(count);
    for (int i = 0; i < count; ++i) {
        tokens[std::size_t(i)] = observable.observe(i % 2 ? QStringLiteral("odd") : QStringLiteral("even"),
                                                    [&heard, i](const void *, const QString &, const QVariant &,
                                                                const QVariant &) { heard.push_back(i); });
    }
    std::vector<bool> alive(count, true);
    const auto expectHeard = [&](const QString &key) {
        heard.clear();
        observable.notifyChange(key, {}, {});
        std::vector<int> expected;
        for (int i = 0; i < count; ++i) {
            if (alive[std::size_t(i)] && (i % 2 == 1) == (key == QLatin1String("odd")))
                expected.push_back(i);
        }
        EXPECT_EQ(heard, expected);
    };
    // Every seventh, then from the back, then the rest from the front.
    for (int i = 0; i < count; i += 7) {
        tokens[std::size_t(i)].reset();
        alive[std::size_t(i)] = false;
    }
    expectHeard("odd");
    for (int i = count - 1; i >= count / 2; --i) {
        tokens[std::size_t(i)].reset();
        alive[std::size_t(i)] = false;
        if (i % 50 == 0)
            expectHeard("even");
    }
    KRObservationToken late = observable.observe("odd", [](const void *, const QString &, const QVariant &,
                                                            const QVariant &) {});
    for (int i = 0; i < count / 2; ++i) {
        tokens[std::size_t(i)].reset();
        alive[std::size_t(i)] = false;
    }
    expectHeard("even");
    EXPECT_TRUE(observable.hasObservers("odd"));
    late.reset();
    EXPECT_FALSE(observable.hasObservers("odd"));
    // An empty list is answered without looking; one observer more is seen again.
    int lateCalls = 0;
    KRObservationToken again = observable.observe("odd", [&lateCalls](const void *, const QString &, const QVariant &,
                                                                      const QVariant &) { ++lateCalls; });
    EXPECT_TRUE(observable.hasObservers("odd"));
    observable.notifyChange("odd", {}, {});
    EXPECT_EQ(lateCalls, 1);
}
