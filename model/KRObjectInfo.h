#pragma once

#include <core/KRXMLDocument.h>
#include <core/OrderedDictionary.h>
#include <model/KRDeviceInformation.h>
#include <model/KRPropertyInfo.h>
#include <platform/foundation/KRError.h>

#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <bitset>
#include <map>
#include <memory>
#include <mutex>

class KRUserDefaults;

// The process-wide catalogue of page-object classes, read from "KRObjectInfo.xml": class
// descriptions, help, icons, property metadata with inheritance, option sets, reserved words
// and target devices. Class names it lacks give empty answers.
//
// A broken entry (an object without class name, an unknown superclass or a superclass loop,
// a dangling "ref", an enumeration without a known option set, an incomplete device) is
// written to the run log with file and line and skipped; loadProblems() lists them. A
// missing or malformed file leaves an empty catalogue.
//
// Main thread only, but sharedInstance() may be called first from any thread.
class KRObjectInfo
{
public:
    using GroupedProperties = OrderedDictionary<QString, QList<KRPropertyInfo>>;
    using FlatProperties = OrderedDictionary<QString, KRPropertyInfo>;

    static KRObjectInfo &sharedInstance();

    // A catalogue of the given file (tests, the data check).
    explicit KRObjectInfo(const QString &path);
    ~KRObjectInfo();
    KRObjectInfo(const KRObjectInfo &) = delete;
    KRObjectInfo &operator=(const KRObjectInfo &) = delete;

    QString filePath() const { return m_path; }
    const KRXMLDocument &xml() const { return m_xml; }
    // "file line N: problem" for every entry skipped or repaired while loading.
    QStringList loadProblems() const { return m_problems; }

    QString propertyHelpTemplate() const { return m_propertyHelpTemplate; }
    QString objectHelpTemplate() const { return m_objectHelpTemplate; }
    QString otherHelpTemplate() const { return m_otherHelpTemplate; }
    QString syntaxErrorTemplate() const { return m_syntaxErrorTemplate; }

    bool hasClass(const QString &className) const { return m_objects.contains(className); }
    // Class names in catalogue order (plug-in classes last).
    QStringList classNames() const { return m_classOrder; }
    // The superclass named in the catalogue ("" for none or for a broken reference).
    QString superclassName(const QString &className) const;

    // Group name to records, superclass groups first; cached.
    const GroupedProperties &propertyInfo(const QString &className);
    // Property name to record for the class; cached.
    const FlatProperties &flatPropertyInfo(const QString &className);
    // The record, or null.
    const KRPropertyInfo *propertyInfoForProperty(const QString &propertyName, const QString &className);

    // Key to label; empty for an unknown set.
    OrderedDictionary<QString, QString> enumOptions(const QString &setName);
    bool hasEnumOptions(const QString &setName) const { return m_enumSets.contains(setName); }

    QString propertyHelpHTML(const QString &propertyName, const QString &className) const;
    QString objectHelpHTML(const QString &className) const;
    QString otherHelpHTML(const QString &helpID) const;
    QString objectDescription(const QString &className) const;
    // The icon text: an image name, or a file path when it holds "/"; "" for none.
    QString objectIconName(const QString &className) const;
    // Read once per class: lists ask for it at every paint of a row.
    QImage objectIcon(const QString &className) const;
    bool isVisualObject(const QString &className) const;

    bool isJavaScriptReservedWord(const QString &word);
    QStringList javaScriptReservedWords();

    const OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>> &standardDeviceInformation() const
    {
        return m_standardDevices;
    }
    // The catalogue's devices, then the user's (a user device with a catalogue id replaces
    // that device in its place). Built afresh on every call.
    OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>> deviceInformation() const;
    OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>> deviceInformation(const KRUserDefaults &defaults) const;
    // Compact JSON: device id to {"width","height","screenWidth","screenHeight"}.
    QString deviceInformationJSON() const;

    // Property names, then class names not already listed; distinct, in document order.
    // Fixed at first use.
    QStringList keywords();

    // Adds a plug-in class from one entry of a plug-in manifest's "classes" array. An invalid
    // entry adds nothing and returns the error (domain "Plug-in Error", code 1).
    KRResult<void> addPluginObject(const QVariantMap &classDescription, const QString &pluginPath);
    QStringList pluginObjects() const { return m_pluginObjects; }

private:
    struct ClassCache
    {
        GroupedProperties groups;
        FlatProperties flat;
    };

    void load();
    void indexObject(const KRXMLNode &object, bool report);
    void validateClasses();
    void validateProperty(const KRXMLNode &property, const QString &className);
    void problem(const KRXMLNode &node, const QString &text);
    KRXMLNode resolveRef(const KRXMLNode &property) const;
    KRXMLNode objectElement(const QString &className) const { return m_objects.value(className); }
    KRXMLNode propertyElement(const QString &propertyName, const QString &className) const;
    // The object elements of the class and its superclasses, nearest first; it ends at an
    // unknown class or where the chain loops back.
    QList<KRXMLNode> classChain(const QString &className) const;
    void fillGroups(const QString &className, GroupedProperties &groups, QSet<QString> &visiting);
    KRPropertyInfo makeRecord(const KRXMLNode &element, const QString &group);
    ClassCache &classCache(const QString &className);
    static QString fillHelp(const QString &templ, const QString &content);
    void readReservedWords();

    QString m_path;
    mutable std::mutex m_iconsLock;
    mutable QHash<QString, QImage> m_icons; // by class name, as objectIcon read them
    KRXMLDocument m_xml;
    QStringList m_problems;
    QString m_propertyHelpTemplate, m_objectHelpTemplate, m_otherHelpTemplate, m_syntaxErrorTemplate;
    QHash<QString, KRXMLNode> m_objects; // first object element per class name
    QHash<QString, QString> m_superclasses; // checked: known and loop-free
    QStringList m_classOrder;
    QHash<QString, KRXMLNode> m_enumSets;
    QHash<QString, KRXMLNode> m_help;
    std::map<QString, ClassCache> m_propertyCache;
    QHash<QString, OrderedDictionary<QString, QString>> m_enumCache;
    OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>> m_standardDevices;
    // Read when first asked for, once, whichever thread asks (pages made for a build check
    // their ids on several threads).
    std::once_flag m_reservedOnce;
    QStringList m_reservedWords;
    QSet<QString> m_reservedSet;
    // What the words are made of: most ids (with a digit, or longer than any word) are told
    // apart without hashing them.
    std::bitset<128> m_reservedCharacters;
    bool m_reservedBeyondASCII = false;
    qsizetype m_reservedShortest = 0, m_reservedLongest = 0;
    // Per first character (ASCII), the lengths of the words starting with it (bit n for n
    // characters, the last bit for 63 and longer): most names are ruled out without hashing.
    std::array<std::uint64_t, 128> m_reservedLengths{};
    std::optional<QStringList> m_keywords;
    QStringList m_pluginObjects;
};
