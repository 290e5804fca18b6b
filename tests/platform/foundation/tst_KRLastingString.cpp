#include <platform/foundation/KRLastingString.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(KRLastingString, KeepsTheTextAfterItsSourceAndSharesEqualTexts)
{
    QString kept;
    QByteArray keptBytes;
    {
        QString source = QStringLiteral("background-") + QStringLiteral("color");
        kept = KRLastingString::of(source);
        keptBytes = KRLastingString::of(source.toUtf8());
        source[0] = QLatin1Char('X'); // the source changes and goes; the lasting copy does not
    }
    EXPECT_EQ(kept, QStringLiteral("background-color"));
    EXPECT_EQ(keptBytes, QByteArray("background-color"));
    EXPECT_EQ(KRLastingString::of(QString(kept)).constData(), kept.constData());
    EXPECT_EQ(kept.constData()[kept.size()], QChar(0)); // terminated after its last character

    // A changed copy is a text of its own; the lasting one stays as it was.
    QString changed = kept;
    changed.append(QStringLiteral("-x"));
    EXPECT_EQ(kept, QStringLiteral("background-color"));
    EXPECT_EQ(changed, QStringLiteral("background-color-x"));

    EXPECT_TRUE(KRLastingString::of(QString()).isNull());
    const QString empty = KRLastingString::of(QStringLiteral(""));
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(KRLastingString::of(QByteArray()).isNull());
}

// Threads copy, compare, hash and drop the same lasting names at once (run under the thread
// checker, this is what the page threads of a build do).
TEST(KRLastingString, CopiesOnManyThreadsAtOnce)
{
    const QString name = KRLastingString::of(QStringLiteral("kr_text"));
    std::vector<std::thread> threads;
    std::vector<int> matches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                QString copy = name;
                if (copy == QLatin1String("kr_text") && qHash(copy) == qHash(QStringLiteral("kr_text"))
                    && KRLastingString::of(QStringLiteral("kr_text")).constData() == name.constData())
                    ++matches[std::size_t(t)];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int count : matches)
        EXPECT_EQ(count, 2000);
}
