#include "KRLastingString.h"

#include <QHash>

#include <cstring>
#include <mutex>

namespace {

template<typename Text>
struct Pool
{
    std::mutex lock;
    QHash<Text, Text> texts;
};

template<typename Text, typename Unit>
Text lasting(Pool<Text> &pool, const Text &text)
{
    if (text.isNull())
        return text;
    const std::lock_guard guard(pool.lock);
    if (const auto found = pool.texts.constFind(text); found != pool.texts.constEnd())
        return *found;
    // Room for a terminator, for code that reads past the size (the characters stay put).
    auto *const units = new Unit[std::size_t(text.size()) + 1];
    std::memcpy(units, text.constData(), std::size_t(text.size()) * sizeof(Unit));
    units[text.size()] = Unit(0);
    const Text kept = Text::fromRawData(reinterpret_cast<const typename Text::value_type *>(units), text.size());
    pool.texts.insert(text, kept);
    return kept;
}

} // namespace

namespace KRLastingString {

QString of(const QString &text)
{
    static auto *const pool = new Pool<QString>; // never freed: the texts outlive every user
    return lasting<QString, char16_t>(*pool, text);
}

QByteArray of(const QByteArray &bytes)
{
    static auto *const pool = new Pool<QByteArray>;
    return lasting<QByteArray, char>(*pool, bytes);
}

} // namespace KRLastingString
