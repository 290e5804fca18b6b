#include "KRUserDefaults.h"

#include <platform/foundation/KRLogSink.h>
#include <platform/foundation/KRObserverList.h>
#include <platform/foundation/KRPaths.h>

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringConverter>
#include <QTemporaryDir>

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

// Every key of the INI file and its value, as the settings read them.
QVariantMap settingsIn(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    QVariantMap values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
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
    : QObject(parent), m_filePath(filePath), m_observers(std::make_shared<List>())
{
    m_settings = std::make_unique<QSettings>(readableFile(), QSettings::IniFormat);
}

KRUserDefaults::~KRUserDefaults()
{
    m_settings->sync();
    m_observers->clear();
}

QString KRUserDefaults::filePath() const
{
    return m_filePath;
}

// The settings read INI text in UTF-8 only, and write back what they read with the next change:
// a file in UTF-16 or UCS-4 read as it is lost every key and value, then was written over with
// its characters' zero bytes in the keys. Such a file is read in its own encoding, and written
// again in UTF-8 when what a later change writes reads back as every key and value it holds.
// A file that is not, or that holds what is not text, is left as it is: it is read from a copy
// as far as it can be, changes going to the copy until the process ends, and the run log says
// why.
QString KRUserDefaults::readableFile()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return m_filePath; // none yet (or none to read): the first change makes it
    const QByteArray bytes = file.readAll();
    file.close();
    // A file of settings usually starts with a group, "[General]".
    const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes, u'[');
    const QStringConverter::Encoding encoding = marked.value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);
    const QString text = decoder.decode(bytes);
    // (The UTF-16 decoder lets half a surrogate pair through.)
    const bool proper = !decoder.hasError() && text.isValidUtf16() && !text.contains(QChar(0));
    if (proper && encoding == QStringConverter::Utf8)
        return m_filePath;
    const QString name = QString::fromLatin1(QStringConverter::nameForEncoding(encoding));
    m_sessionCopy = std::make_unique<QTemporaryDir>(KRPaths::temporaryDirectory() + QStringLiteral("/settings-XXXXXX"));
    const QString copy = m_sessionCopy->filePath(QStringLiteral("Korvane.conf"));
    const auto keepAsItIs = [&](const QString &why) {
        KR_PLATFORM_LOG(QStringLiteral("The settings file %1 is left as it is: %2. Its settings are read as far as "
                                       "they can be; those changed now last until Korvane quits.")
                            .arg(m_filePath, why));
        // Nowhere to copy it to: nothing is read, and nothing written.
        if (!m_sessionCopy->isValid() || !writeFile(copy, text.toUtf8()))
            return QString();
        return copy;
    };
    if (!proper)
        return keepAsItIs(QStringLiteral("it is no proper text in %1").arg(name));
    // What a later change writes holds every key and value the file does.
    const QByteArray utf8 = text.toUtf8();
    const QString written = m_sessionCopy->filePath(QStringLiteral("Written.conf"));
    if (!m_sessionCopy->isValid() || !writeFile(copy, utf8))
        return keepAsItIs(QStringLiteral("it is in %1, and no copy of it could be made in UTF-8").arg(name));
    const QVariantMap read = settingsIn(copy);
    {
        QSettings rewrite(written, QSettings::IniFormat);
        for (auto it = read.begin(); it != read.end(); ++it)
            rewrite.setValue(it.key(), it.value());
    }
    const QVariantMap again = settingsIn(written);
    bool kept = read.size() == again.size();
    for (auto it = read.begin(); kept && it != read.end(); ++it)
        kept = again.contains(it.key()) && sameValue(it.value(), again.value(it.key()));
    if (!kept) {
        return keepAsItIs(
            QStringLiteral("it is in %1, and written in UTF-8 it would not keep every key and value").arg(name));
    }
    if (!writeFile(m_filePath, utf8))
        return keepAsItIs(QStringLiteral("it is in %1, and it could not be written again in UTF-8").arg(name));
    m_sessionCopy.reset();
    KR_PLATFORM_LOG(QStringLiteral("The settings file %1 was in %2: it is written again in UTF-8, every key and "
                                   "value kept.")
                        .arg(m_filePath, name));
    return m_filePath;
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
