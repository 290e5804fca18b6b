#pragma once

#include <platform/foundation/KRException.h>

#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <utility>

// The text of a value inside an OrderedDictionary's debugging text: a string unchanged, a
// nested dictionary or map described at the same indent level, else the value's own text.
QString krDescriptionText(const QString &value, const QLocale &locale, int indent);
QString krDescriptionText(const QVariant &value, const QLocale &locale, int indent);
// "{\n" + "    key = value;\n" per entry + "}\n", each line after the indentation; the
// shape shared by every dictionary's debugging text.
QString krDescriptionOfEntries(const QList<std::pair<QString, QString>> &entries, int indent);

template <typename T>
QString krDescriptionText(const T &value, const QLocale &locale, int indent)
    requires requires { value.descriptionWithLocale(locale, indent); }
{
    return value.descriptionWithLocale(locale, indent);
}

template <typename T>
QString krDescriptionText(const T &value, const QLocale &, int)
    requires(!requires(const QLocale &l) { value.descriptionWithLocale(l, 0); }
             && requires { QVariant::fromValue(value).toString(); })
{
    return QVariant::fromValue(value).toString();
}

// A dictionary that remembers the order in which its keys were first stored. Every listing
// of keys or values and iteration follow that order. Lookups are hashed; removal and
// insertion at an index are linear in the number of keys.
//
// Invariant: every key of the hash stands exactly once in the key list, which holds no other.
// Caller errors (an index outside the key order) raise NSRangeException.
template <typename K, typename V>
class OrderedDictionary
{
public:
    using key_type = K;
    using mapped_type = V;

    OrderedDictionary() = default;
    explicit OrderedDictionary(qsizetype capacity)
    {
        m_dictionary.reserve(capacity);
        m_keys.reserve(capacity);
    }
    OrderedDictionary(std::initializer_list<std::pair<K, V>> entries)
    {
        for (const auto &entry : entries)
            setObject(entry.second, entry.first);
    }

    // Appends an absent key to the key order; a present key keeps its place. Then stores.
    void setObject(const V &value, const K &key)
    {
        // One hashed insertion: a grown count tells a new key.
        const qsizetype before = m_dictionary.size();
        m_dictionary.insert(key, value);
        if (m_dictionary.size() != before)
            m_keys.append(key);
    }

    // Removes the entry and its place in the key order; an absent key changes nothing.
    void removeObjectForKey(const K &key)
    {
        if (m_dictionary.remove(key))
            m_keys.removeOne(key);
    }

    void removeAllObjects()
    {
        m_dictionary.clear();
        m_keys.clear();
    }

    qsizetype count() const { return m_keys.size(); }
    bool isEmpty() const { return m_keys.isEmpty(); }
    bool contains(const K &key) const { return m_dictionary.contains(key); }

    // The value, or a default-constructed value when absent.
    V objectForKey(const K &key) const { return m_dictionary.value(key); }
    // The stored value, or null when absent.
    const V *find(const K &key) const
    {
        auto it = m_dictionary.constFind(key);
        return it == m_dictionary.constEnd() ? nullptr : &*it;
    }

    // A present key is first removed (entry and place); then the key is inserted at `index`
    // of the key order (0..count() after that removal) and the value stored.
    // A bad index raises before anything changes.
    void insertObject(const V &value, const K &key, qsizetype index)
    {
        const qsizetype countAfterRemoval = m_keys.size() - (contains(key) ? 1 : 0);
        if (index < 0 || index > countAfterRemoval) {
            krRaise(KRExceptionName::Range,
                    QStringLiteral("insertObject: index %1 beyond bounds [0 .. %2]").arg(index).arg(countAfterRemoval));
        }
        removeObjectForKey(key);
        m_keys.insert(index, key);
        m_dictionary.insert(key, value);
    }

    const K &keyAtIndex(qsizetype index) const
    {
        if (index < 0 || index >= m_keys.size()) {
            krRaise(KRExceptionName::Range,
                    QStringLiteral("keyAtIndex: index %1 beyond bounds [0 .. %2)").arg(index).arg(m_keys.size()));
        }
        return m_keys.at(index);
    }

    // The keys in key order (the key enumerator; also every list of all keys).
    const QList<K> &keyEnumerator() const { return m_keys; }
    const QList<K> &allKeys() const { return m_keys; }
    QList<K> reverseKeyEnumerator() const { return QList<K>(m_keys.crbegin(), m_keys.crend()); }
    QList<V> allValues() const
    {
        QList<V> values;
        values.reserve(m_keys.size());
        for (const K &key : m_keys)
            values.append(m_dictionary.value(key));
        return values;
    }

    OrderedDictionary copy() const { return *this; }

    // Iteration in key order over (key, value) pairs.
    class const_iterator
    {
    public:
        using value_type = std::pair<const K &, const V &>;
        const_iterator(const OrderedDictionary *dict, qsizetype index) : m_dict(dict), m_index(index) {}
        value_type operator*() const
        {
            const K &key = m_dict->m_keys.at(m_index);
            return {key, *m_dict->m_dictionary.constFind(key)};
        }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        bool operator==(const const_iterator &other) const { return m_index == other.m_index; }
        bool operator!=(const const_iterator &other) const { return m_index != other.m_index; }

    private:
        const OrderedDictionary *m_dict;
        qsizetype m_index;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, m_keys.size()); }

    // Debugging text: "{", then "    key = value;" per entry in key order, then "}", each line
    // after four blanks per indent level and ending in a line feed. A nested dictionary is
    // described at the same level.
    QString descriptionWithLocale(const QLocale &locale, int indent) const
    {
        QList<std::pair<QString, QString>> entries;
        entries.reserve(m_keys.size());
        for (const K &key : m_keys) {
            entries.append({krDescriptionText(key, locale, indent),
                            krDescriptionText(*m_dictionary.constFind(key), locale, indent)});
        }
        return krDescriptionOfEntries(entries, indent);
    }
    QString description() const { return descriptionWithLocale(QLocale::c(), 0); }

    friend bool operator==(const OrderedDictionary &a, const OrderedDictionary &b)
    {
        return a.m_keys == b.m_keys && a.m_dictionary == b.m_dictionary;
    }
    friend bool operator!=(const OrderedDictionary &a, const OrderedDictionary &b) { return !(a == b); }

private:
    QHash<K, V> m_dictionary;
    QList<K> m_keys;
};
