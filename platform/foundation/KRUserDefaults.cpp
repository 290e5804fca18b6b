#include "KRUserDefaults.h"

#include <platform/foundation/KRObserverList.h>

#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <mutex>

namespace {

bool isList(const QVariant &v)
{
    const int type = v.typeId();
    return type == QMetaType::QVariantList || type == QMetaType::QStringList;
}

bool isMap(const QVariant &v)
{
    const int type = v.typeId();
    return type == QMetaType::QVariantMap || type == QMetaType::QVariantHash;
}

bool isScalar(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QByteArray:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant &v)
{
    return isScalar(v) && v.typeId() != QMetaType::QString && v.typeId() != QMetaType::QByteArray
        && v.typeId() != QMetaType::Bool;
}

} // namespace

namespace {
// A copy of the shared instance's two registered tiers for readers on other threads.
std::mutex sharedTiersMutex;
const KRUserDefaults *sharedDefaults = nullptr;
QVariantMap sharedRegistered, sharedInitial;
} // namespace

KRUserDefaults &KRUserDefaults::sharedInstance()
{
    // The INI format under the ".conf" name that native Linux settings use.
    static KRUserDefaults defaults(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Korvane/Korvane.conf"));
    static const bool noted = [] {
        std::lock_guard<std::mutex> g(sharedTiersMutex);
        sharedDefaults = &defaults;
        return true;
    }();
    (void)noted;
    return defaults;
}

QVariant KRUserDefaults::sharedRegisteredValue(const QString &key)
{
    std::lock_guard<std::mutex> g(sharedTiersMutex);
    auto it = sharedRegistered.constFind(key);
    if (it != sharedRegistered.constEnd())
        return *it;
    it = sharedInitial.constFind(key);
    return it != sharedInitial.constEnd() ? *it : QVariant();
}

KRUserDefaults::KRUserDefaults(const QString &filePath, QObject *parent)
    : QObject(parent),
      m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat)),
      m_observers(std::make_shared<List>())
{
}

KRUserDefaults::~KRUserDefaults()
{
    m_settings->sync();
    m_observers->clear();
}

QString KRUserDefaults::filePath() const
{
    return m_settings->fileName();
}

QVariant KRUserDefaults::value(const QString &key) const
{
    QVariant stored;
    {
        const std::lock_guard<std::mutex> g(m_settingsLock);
        stored = m_settings->value(key);
    }
    if (stored.isValid())
        return stored;
    auto it = m_registered.constFind(key);
    if (it != m_registered.constEnd())
        return *it;
    it = m_initial.constFind(key);
    if (it != m_initial.constEnd())
        return *it;
    return {};
}

QString KRUserDefaults::stringValue(const QString &key) const
{
    const QVariant v = value(key);
    return isScalar(v) ? v.toString() : QString();
}

bool KRUserDefaults::boolValue(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isNumber(v))
        return v.toDouble() != 0;
    if (!isScalar(v))
        return false;
    const QString text = v.toString().trimmed();
    if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok && number != 0;
}

qint64 KRUserDefaults::integerValue(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (!isScalar(v))
        return 0;
    bool ok = false;
    const qint64 integer = v.toString().trimmed().toLongLong(&ok);
    if (ok)
        return integer;
    const double number = doubleValue(key);
    if (!std::isfinite(number) || std::fabs(number) > 9.2e18)
        return 0;
    return static_cast<qint64>(number);
}

double KRUserDefaults::doubleValue(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (isNumber(v))
        return v.toDouble();
    if (!isScalar(v))
        return 0;
    bool ok = false;
    const double number = v.toString().trimmed().toDouble(&ok); // C locale
    return ok ? number : 0;
}

QVariantList KRUserDefaults::arrayValue(const QString &key) const
{
    const QVariant v = value(key);
    if (isList(v))
        return v.toList();
    // The file cannot tell a list of one item from the item: QSettings writes a one-element
    // list as its element alone and reads it back so. A stored value that is no list is that
    // list of one (an empty text, an empty list).
    if (v.isValid() && !(isScalar(v) && v.toString().isEmpty()) && hasStoredValue(key))
        return {v};
    return {};
}

QVariantMap KRUserDefaults::dictionaryValue(const QString &key) const
{
    const QVariant v = value(key);
    return isMap(v) ? v.toMap() : QVariantMap();
}

void KRUserDefaults::setValue(const QString &key, const QVariant &newValue)
{
    if (!newValue.isValid()) {
        removeObject(key);
        return;
    }
    const QVariant before = value(key);
    {
        const std::lock_guard<std::mutex> g(m_settingsLock);
        m_settings->setValue(key, newValue);
        m_settings->sync();
    }
    announceIfChanged(key, before);
}

void KRUserDefaults::removeObject(const QString &key)
{
    if (!hasStoredValue(key))
        return;
    const QVariant before = value(key);
    {
        const std::lock_guard<std::mutex> g(m_settingsLock);
        m_settings->remove(key);
        m_settings->sync();
    }
    announceIfChanged(key, before);
}

bool KRUserDefaults::hasStoredValue(const QString &key) const
{
    const std::lock_guard<std::mutex> g(m_settingsLock);
    return m_settings->contains(key);
}

void KRUserDefaults::registerDefaults(const QVariantMap &defaults)
{
    registerValues(m_registered, defaults);
}

void KRUserDefaults::registerInitialValues(const QVariantMap &values)
{
    registerValues(m_initial, values);
}

// Adds the values to one of the fallback layers and announces each key whose value changed.
void KRUserDefaults::registerValues(QVariantMap &layer, const QVariantMap &values)
{
    QVariantMap before;
    for (auto it = values.begin(); it != values.end(); ++it)
        before.insert(it.key(), value(it.key()));
    for (auto it = values.begin(); it != values.end(); ++it)
        layer.insert(it.key(), it.value());
    {
        std::lock_guard<std::mutex> g(sharedTiersMutex);
        if (this == sharedDefaults) {
            sharedRegistered = m_registered;
            sharedInitial = m_initial;
        }
    }
    for (auto it = before.begin(); it != before.end(); ++it)
        announceIfChanged(it.key(), it.value());
}

KRObservationToken KRUserDefaults::observe(const QString &key, Callback callback)
{
    return List::add(m_observers, key, std::move(callback));
}

void KRUserDefaults::synchronize()
{
    const std::lock_guard<std::mutex> g(m_settingsLock);
    m_settings->sync();
}

void KRUserDefaults::announceIfChanged(const QString &key, const QVariant &before)
{
    const QVariant after = value(key);
    if (sameValue(before, after))
        return;
    emit valueChanged(key);
    const std::shared_ptr<List> observers = m_observers;
    observers->deliver([&key](const QString &observed) { return observed == key; }, key, after);
}

bool KRUserDefaults::sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isValid() != b.isValid())
        return false;
    if (!a.isValid())
        return true;
    if (isScalar(a) && isScalar(b))
        return a.toString() == b.toString();
    if (isList(a) && isList(b)) {
        const QVariantList la = a.toList();
        const QVariantList lb = b.toList();
        if (la.size() != lb.size())
            return false;
        for (qsizetype i = 0; i < la.size(); ++i) {
            if (!sameValue(la.at(i), lb.at(i)))
                return false;
        }
        return true;
    }
    if (isMap(a) && isMap(b)) {
        const QVariantMap ma = a.toMap();
        const QVariantMap mb = b.toMap();
        if (ma.size() != mb.size())
            return false;
        for (auto it = ma.begin(); it != ma.end(); ++it) {
            auto other = mb.constFind(it.key());
            if (other == mb.constEnd() || !sameValue(it.value(), *other))
                return false;
        }
        return true;
    }
    return a == b;
}
