#include <codeeditor/CETemporaryAttributes.h>

#include <gtest/gtest.h>

#include <QColor>

#include <random>
#include <vector>

TEST(CETemporaryAttributes, RunsFollowEditsAndKeepArbitraryKeys)
{
    const QString errorLine = QStringLiteral("KRSyntaxErrorLineNumber");
    CETemporaryAttributes store;
    store.reset(20);
    store.addAttributes({{CETemporaryAttributes::foregroundColour, QColor(Qt::red)}}, {2, 6});
    store.addAttributes({{errorLine, 3}}, {5, 10});

    CERange effective;
    EXPECT_EQ(store.attributesAt(3, &effective),
              (QVariantMap{{CETemporaryAttributes::foregroundColour, QColor(Qt::red)}}));
    EXPECT_EQ(effective, (CERange{2, 3}));
    EXPECT_EQ(store.attributesAt(6).size(), 2);
    EXPECT_EQ(store.attributeAt(errorLine, 12).toInt(), 3);

    // Typing before the runs moves them; deleting across a boundary shortens them.
    store.replace(0, 0, 4);
    EXPECT_TRUE(store.attributesAt(2).isEmpty());
    store.attributesAt(7, &effective);
    EXPECT_EQ(effective, (CERange{6, 3}));
    store.replace(7, 4, 1); // removes 7..10, inserts one plain unit
    EXPECT_EQ(store.length(), 21);
    EXPECT_TRUE(store.attributesAt(7).isEmpty());
    EXPECT_EQ(store.attributesAt(8).size(), 2);

    store.removeAttribute(CETemporaryAttributes::foregroundColour, {0, 100});
    EXPECT_EQ(store.attributesAt(8), (QVariantMap{{errorLine, 3}}));
    store.attributesAt(8, &effective);
    EXPECT_EQ(effective, (CERange{8, 8}));
    const auto runs = store.runs({-5, 100});
    ASSERT_EQ(runs.size(), 3);
    EXPECT_EQ(runs.at(1).first, (CERange{8, 8}));
    EXPECT_EQ(runs.at(2).first.end(), 21) << "ranges are clamped to the text";

    // A handle compares whole dictionaries: a highlighted keyword is not a plain keyword.
    const quint32 errorHandle = store.dictionaryHandle({{errorLine, 3}});
    EXPECT_TRUE(store.hasDictionary(10, errorHandle));
    store.addAttributes({{CETemporaryAttributes::backgroundColour, QColor(Qt::yellow)}}, {10, 1});
    EXPECT_FALSE(store.hasDictionary(10, errorHandle));
    EXPECT_TRUE(store.attributesAt(-1).isEmpty());
    EXPECT_TRUE(store.attributesAt(21).isEmpty());
}

// Random edits and attribute changes anywhere in a long text, against a plain model with one
// dictionary per unit: the store keeps its ids around the place of the last edit, so edits
// that jump about, grow it past its room and shrink it must all land where the model says.
TEST(CETemporaryAttributes, EditsAnywhereKeepEveryUnitsAttributes)
{
    CETemporaryAttributes store;
    std::vector<QVariantMap> model(3000);
    store.reset(qsizetype(model.size()));
    const QList<QVariantMap> kinds{{{CETemporaryAttributes::foregroundColour, QColor(Qt::red)}},
                                   {{CETemporaryAttributes::backgroundColour, QColor(Qt::yellow)}},
                                   {{QStringLiteral("mark"), 7}}};
    std::mt19937 random(11);
    for (int step = 0; step < 2000; ++step) {
        const auto size = qsizetype(model.size());
        const qsizetype at = qsizetype(random() % quint32(size + 1));
        const qsizetype length = std::min<qsizetype>(size - at, qsizetype(random() % 40));
        switch (random() % 4) {
        case 0: { // typing near the last place, or a paste far away that outgrows the room
            const qsizetype inserted = random() % 10 == 0 ? qsizetype(500 + random() % 3000) : qsizetype(random() % 3);
            store.replace(at, length, inserted);
            model.erase(model.begin() + at, model.begin() + at + length);
            model.insert(model.begin() + at, size_t(inserted), QVariantMap());
            break;
        }
        case 1: {
            const QVariantMap &kind = kinds.at(qsizetype(random() % 3));
            store.addAttributes(kind, {at, length});
            for (qsizetype i = at; i < at + length; ++i)
                model[size_t(i)].insert(kind);
            break;
        }
        case 2:
            store.removeAttribute(CETemporaryAttributes::foregroundColour, {at, length});
            for (qsizetype i = at; i < at + length; ++i)
                model[size_t(i)].remove(CETemporaryAttributes::foregroundColour);
            break;
        default: // a deletion
            store.replace(at, length, 0);
            model.erase(model.begin() + at, model.begin() + at + length);
        }
        ASSERT_EQ(store.length(), qsizetype(model.size())) << "step " << step;
        if (step % 50 == 0 || step == 1999) {
            for (qsizetype i = 0; i < store.length(); ++i)
                ASSERT_EQ(store.attributesAt(i), model[size_t(i)]) << "step " << step << ", unit " << i;
            qsizetype covered = 0;
            for (const auto &[range, attributes] : store.runs({0, store.length()})) {
                ASSERT_EQ(range.location, covered);
                ASSERT_EQ(attributes, model[size_t(range.location)]);
                covered = range.end();
            }
            ASSERT_EQ(covered, store.length());
        }
    }
}
