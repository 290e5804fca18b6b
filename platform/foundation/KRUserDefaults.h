#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>

class QSettings;
class QTemporaryDir;

template <typename Filter, typename Callback>
class KRObserverList;

// The user's preferences. A key's effective value is the first of: the value stored in the
// settings file, the application's registered default (registerDefaults), a component's
// initial value (registerInitialValues). Only stored values are written to the file; the
// two registered tiers live for the process. Writes reach the file at once (atomically).
//
// The INI file keeps scalars as text, so a number or Boolean stored in an earlier session
// reads back as a string: read scalars through the typed accessors.
//
// valueChanged(key) and the per-key observers fire when a key's effective value changes
// through this object (set, remove or a newly registered tier), never for a write that
// leaves it as it was. Main thread only, but for the reads (value, the typed accessors,
// hasStoredValue): pages made for a build read the defaults on several threads at once while
// nothing registers a tier.
class KRUserDefaults : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<void(const QString &key, const QVariant &value)>;

    // ~/.config/Korvane/Korvane.conf (following XDG_CONFIG_HOME).
    static KRUserDefaults &sharedInstance();

    // Defaults stored in the given INI file (tests). A file in UTF-16 or UCS-4 is read, and
    // written again in UTF-8 when that keeps every key and value; one that is not proper text
    // is left as it is, the run log saying why (see readableFile).
    explicit KRUserDefaults(const QString &filePath, QObject *parent = nullptr);
    ~KRUserDefaults() override;

    QString filePath() const;

    // The effective value; invalid when no tier has the key.
    QVariant value(const QString &key) const;
    // Text of a scalar value ("" for none, a list or a map).
    QString stringValue(const QString &key) const;
    // true for a true Boolean, a non-zero number, or the text "YES" or "true" (any case) or
    // of a non-zero number.
    bool boolValue(const QString &key) const;
    qint64 integerValue(const QString &key) const;
    double doubleValue(const QString &key) const;
    // The list; a stored value that is no list reads as a list of that one value (the file
    // keeps a list of one item as the item).
    QVariantList arrayValue(const QString &key) const;
    QVariantMap dictionaryValue(const QString &key) const;

    // Stores a value (an invalid QVariant removes it).
    void setValue(const QString &key, const QVariant &value);
    // Removes the stored value; the key falls back to the registered tiers.
    void removeObject(const QString &key);
    bool hasStoredValue(const QString &key) const;

    // The shared instance's registered default, else its initial value, for the key; unlike
    // the rest, safe from any thread. Invalid when neither tier has the key.
    static QVariant sharedRegisteredValue(const QString &key);

    // Adds to (and overrides keys of) the registered tier.
    void registerDefaults(const QVariantMap &defaults);
    void registerInitialValues(const QVariantMap &values);

    // Observes the key's effective value until the token goes away.
    [[nodiscard]] KRObservationToken observe(const QString &key, Callback callback);

    // Rereads the file and writes pending changes.
    void synchronize();

    // Equal as preferences: scalars compare by their text, since stored scalars come back as
    // text ("1" and 1, "true" and true are equal); lists and maps element by element.
    static bool sameValue(const QVariant &a, const QVariant &b);

signals:
    void valueChanged(const QString &key);

private:
    using List = KRObserverList<QString, Callback>;
    QString readableFile();
    void registerValues(QVariantMap &layer, const QVariantMap &values);
    void announceIfChanged(const QString &key, const QVariant &before);

    QString m_filePath;
    std::unique_ptr<QTemporaryDir> m_sessionCopy; // where a file left as it is is read from
    std::unique_ptr<QSettings> m_settings;        // one thread at a time: m_settingsLock
    mutable std::mutex m_settingsLock;
    QVariantMap m_registered;
    QVariantMap m_initial;
    std::shared_ptr<List> m_observers;
};
