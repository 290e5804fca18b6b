#include "KRObjectInfo.h"

#include <core/KRRunLogger.h>
#include <core/KRString.h>
#include <model/KRUserDeviceInformation.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>
#include <mutex>

namespace {

const QString kNoGroup = QStringLiteral("__none");

bool isYes(const QString &text)
{
    return text == QLatin1String("YES");
}

std::optional<double> decimalAttribute(const KRXMLNode &element, const QString &name)
{
    if (!element.hasAttribute(name))
        return std::nullopt;
    bool ok = false;
    const double value = element.attribute(name).trimmed().toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

QList<KRXMLNode> childElements(const KRXMLNode &element, const QString &name)
{
    return element.elementsForName(name);
}

} // namespace

KRObjectInfo &KRObjectInfo::sharedInstance()
{
    static std::once_flag once;
    static KRObjectInfo *instance = nullptr;
    std::call_once(once, [] {
        instance = new KRObjectInfo(KRResources::pathForResource(QStringLiteral("KRObjectInfo.xml")));
    });
    return *instance;
}

KRObjectInfo::KRObjectInfo(const QString &path) : m_path(path)
{
    load();
}

KRObjectInfo::~KRObjectInfo() = default;

void KRObjectInfo::problem(const KRXMLNode &node, const QString &text)
{
    const QString line = QStringLiteral("%1 line %2: %3")
                             .arg(QFileInfo(m_path).fileName())
                             .arg(node.isNull() ? 0 : node.lineNumber())
                             .arg(text);
    m_problems.append(line);
    KR_LOG(QStringLiteral("Skipping catalogue entry: ") + line);
}

void KRObjectInfo::load()
{
    KRResult<KRXMLDocument> read = KRXMLDocument::fromFile(m_path);
    if (!read) {
        const QString text = QStringLiteral("holy crap:%1").arg(read.error().toString());
        m_problems.append(QStringLiteral("%1 line 0: %2").arg(QFileInfo(m_path).fileName(), text));
        KR_LOG(text);
        m_xml = KRXMLDocument::create(QStringLiteral("KRObjectInfo"));
        return;
    }
    m_xml = read.value();

    const auto templ = [this](const char *id) {
        const KRXMLNode node = m_xml.rootElement().firstElementForXPath(
            QStringLiteral("//templates/template[@id='%1']").arg(QLatin1String(id)));
        return node.isNull() ? QString() : node.stringValue();
    };
    m_propertyHelpTemplate = templ("propertyHelp");
    m_objectHelpTemplate = templ("objectHelp");
    m_otherHelpTemplate = templ("otherHelp");
    m_syntaxErrorTemplate = templ("syntaxError");

    for (const KRXMLNode &set : m_xml.nodesForXPath(QStringLiteral("//enumOptions"))) {
        const QString name = set.attribute(QStringLiteral("name"));
        if (name.isEmpty())
            problem(set, QStringLiteral("option set without name"));
        else if (m_enumSets.contains(name))
            problem(set, QStringLiteral("option set \"%1\" defined again").arg(name));
        else
            m_enumSets.insert(name, set);
    }
    for (const KRXMLNode &help : m_xml.nodesForXPath(QStringLiteral("//otherHelp/help"))) {
        const QString id = help.attribute(QStringLiteral("id"));
        if (!id.isEmpty() && !m_help.contains(id))
            m_help.insert(id, help);
    }
    for (const KRXMLNode &object : m_xml.nodesForXPath(QStringLiteral("//object")))
        indexObject(object, true);
    validateClasses();

    const QString catalogueFolder = QFileInfo(m_path).absolutePath();
    for (const KRXMLNode &devices : m_xml.nodesForXPath(QStringLiteral("//devices"))) {
        const QString folder = devices.attribute(QStringLiteral("imageFolder"));
        const QString imageFolder = catalogueFolder + QLatin1Char('/') + (folder.isEmpty() ? QStringLiteral("devices") : folder);
        for (const KRXMLNode &device : devices.elementsForName(QStringLiteral("device"))) {
            auto info = std::make_shared<KRDeviceInformation>();
            info->deviceID = device.attribute(QStringLiteral("id"));
            info->imageFolder = imageFolder;
            QString missing;
            if (info->deviceID.isEmpty())
                missing = QStringLiteral("id");
            const KRXMLNode name = device.firstElementForName(QStringLiteral("name"));
            const KRXMLNode imageName = device.firstElementForName(QStringLiteral("imageName"));
            if (name.isNull())
                missing = QStringLiteral("name");
            if (imageName.isNull())
                missing = QStringLiteral("imageName");
            const auto pair = [&](const char *child, const char *a, const char *b, std::int32_t &x, std::int32_t &y) {
                const KRXMLNode node = device.firstElementForName(QLatin1String(child));
                bool okA = false, okB = false;
                if (!node.isNull()) {
                    x = node.attribute(QLatin1String(a)).toInt(&okA);
                    y = node.attribute(QLatin1String(b)).toInt(&okB);
                }
                if (!okA || !okB)
                    missing = QLatin1String(child);
            };
            pair("size", "width", "height", info->width, info->height);
            pair("screenSize", "width", "height", info->screenWidth, info->screenHeight);
            std::int32_t ox = 0, oy = 0;
            pair("offset", "x", "y", ox, oy);
            info->setOffset(ox, oy);
            if (!missing.isEmpty()) {
                problem(device, QStringLiteral("device \"%1\" lacks a valid %2").arg(info->deviceID, missing));
                continue;
            }
            info->name = name.stringValue();
            info->imageName = imageName.stringValue();
            if (m_standardDevices.contains(info->deviceID)) {
                problem(device, QStringLiteral("device \"%1\" defined again").arg(info->deviceID));
                continue;
            }
            m_standardDevices.setObject(info, info->deviceID);
        }
    }
}

void KRObjectInfo::indexObject(const KRXMLNode &object, bool report)
{
    const QString className = object.attribute(QStringLiteral("className"));
    if (className.isEmpty()) {
        if (report)
            problem(object, QStringLiteral("object without className"));
        return;
    }
    if (m_objects.contains(className)) {
        if (report)
            problem(object, QStringLiteral("class \"%1\" defined again").arg(className));
        return;
    }
    m_objects.insert(className, object);
    m_classOrder.append(className);
}

void KRObjectInfo::validateClasses()
{
    for (const QString &className : std::as_const(m_classOrder)) {
        if (m_superclasses.contains(className))
            continue;
        const KRXMLNode object = m_objects.value(className);
        const QString super = object.attribute(QStringLiteral("superclass"));
        if (super.isEmpty()) {
            m_superclasses.insert(className, QString());
        } else if (!m_objects.contains(super)) {
            problem(object, QStringLiteral("class \"%1\" names the unknown superclass \"%2\"").arg(className, super));
            m_superclasses.insert(className, QString());
        } else {
            // Walk the chain; a loop back to this class breaks it here.
            QSet<QString> seen{className};
            QString walk = super;
            bool loop = false;
            while (!walk.isEmpty() && m_objects.contains(walk)) {
                if (seen.contains(walk)) {
                    loop = true;
                    break;
                }
                seen.insert(walk);
                walk = m_objects.value(walk).attribute(QStringLiteral("superclass"));
            }
            if (loop) {
                problem(object, QStringLiteral("class \"%1\" is its own superclass through \"%2\"").arg(className, super));
                m_superclasses.insert(className, QString());
            } else {
                m_superclasses.insert(className, super);
            }
        }
        for (const KRXMLNode &property : childElements(object, QStringLiteral("property")))
            validateProperty(property, className);
    }
}

void KRObjectInfo::validateProperty(const KRXMLNode &property, const QString &className)
{
    KRXMLNode element = property;
    if (property.hasAttribute(QStringLiteral("ref"))) {
        element = resolveRef(property);
        if (element.isNull()) {
            problem(property, QStringLiteral("property of \"%1\" refers to nothing: %2")
                                  .arg(className, property.attribute(QStringLiteral("ref"))));
            return;
        }
    }
    const QString name = element.attribute(QStringLiteral("name"));
    if (name.isEmpty()) {
        problem(property, QStringLiteral("property of \"%1\" without name").arg(className));
        return;
    }
    bool known = true;
    const QString type = element.attribute(QStringLiteral("type"));
    const std::int32_t code = KRPropertyInfo::typeCodeForWord(type, &known);
    if (!type.isEmpty() && !known)
        problem(element, QStringLiteral("property \"%1\" has the unknown type \"%2\"").arg(name, type));
    if (code == KRPropertyInfo::Enum) {
        const QString set = element.attribute(QStringLiteral("enumOptions"));
        if (!m_enumSets.contains(set))
            problem(element, QStringLiteral("enumeration \"%1\" names the unknown option set \"%2\"").arg(name, set));
    }
}

KRXMLNode KRObjectInfo::resolveRef(const KRXMLNode &property) const
{
    if (!property.hasAttribute(QStringLiteral("ref")))
        return property;
    const KRXMLNode target = m_xml.rootElement().firstElementForXPath(property.attribute(QStringLiteral("ref")));
    if (target.isNull() || !target.isElement())
        return {};
    return target;
}

QString KRObjectInfo::superclassName(const QString &className) const
{
    return m_superclasses.value(className);
}

KRPropertyInfo KRObjectInfo::makeRecord(const KRXMLNode &element, const QString &group)
{
    KRPropertyInfo info;
    info.name = element.attribute(QStringLiteral("name"));
    info.group = group;
    info.defaultValue = element.attribute(QStringLiteral("defaultValue"));
    info.propertyType = KRPropertyInfo::typeCodeForWord(element.attribute(QStringLiteral("type")));
    switch (info.propertyType) {
    case KRPropertyInfo::Number:
        info.minValue = decimalAttribute(element, QStringLiteral("minValue"));
        info.maxValue = decimalAttribute(element, QStringLiteral("maxValue"));
        info.increment = decimalAttribute(element, QStringLiteral("increment"));
        if (element.hasAttribute(QStringLiteral("precision"))) {
            bool ok = false;
            const int precision = element.attribute(QStringLiteral("precision")).trimmed().toInt(&ok);
            if (ok)
                info.precision = precision;
        }
        break;
    case KRPropertyInfo::Enum:
        info.enumOptions = enumOptions(element.attribute(QStringLiteral("enumOptions")));
        break;
    case KRPropertyInfo::Function:
        info.serverFunction = isYes(element.attribute(QStringLiteral("serverFunction")));
        break;
    default:
        break;
    }
    info.groupOpen = element.attribute(QStringLiteral("groupState")) == QLatin1String("open");
    info.pluginProperty = isYes(element.attribute(QStringLiteral("pluginProperty")));
    return info;
}

void KRObjectInfo::fillGroups(const QString &className, GroupedProperties &groups, QSet<QString> &visiting)
{
    const KRXMLNode object = objectElement(className);
    if (object.isNull() || visiting.contains(className))
        return;
    visiting.insert(className);
    const QString super = m_superclasses.value(className);
    if (!super.isEmpty())
        fillGroups(super, groups, visiting);
    for (const KRXMLNode &property : childElements(object, QStringLiteral("property"))) {
        const KRXMLNode element = resolveRef(property);
        if (element.isNull() || element.attribute(QStringLiteral("name")).isEmpty())
            continue;
        QString group = element.attribute(QStringLiteral("group"));
        if (group.isEmpty())
            group = kNoGroup;
        KRPropertyInfo record = makeRecord(element, group);
        QList<KRPropertyInfo> list = groups.objectForKey(group);
        list.removeIf([&](const KRPropertyInfo &other) { return other.name == record.name; });
        list.append(std::move(record));
        groups.setObject(list, group);
    }
}

KRObjectInfo::ClassCache &KRObjectInfo::classCache(const QString &className)
{
    auto it = m_propertyCache.find(className);
    if (it != m_propertyCache.end())
        return it->second;
    ClassCache cache;
    QSet<QString> visiting;
    fillGroups(className, cache.groups, visiting);
    for (const QString &group : cache.groups.keyEnumerator()) {
        for (const KRPropertyInfo &record : *cache.groups.find(group))
            cache.flat.setObject(record, record.name);
    }
    return m_propertyCache.emplace(className, std::move(cache)).first->second;
}

const KRObjectInfo::GroupedProperties &KRObjectInfo::propertyInfo(const QString &className)
{
    return classCache(className).groups;
}

const KRObjectInfo::FlatProperties &KRObjectInfo::flatPropertyInfo(const QString &className)
{
    return classCache(className).flat;
}

const KRPropertyInfo *KRObjectInfo::propertyInfoForProperty(const QString &propertyName, const QString &className)
{
    return classCache(className).flat.find(propertyName);
}

OrderedDictionary<QString, QString> KRObjectInfo::enumOptions(const QString &setName)
{
    const auto cached = m_enumCache.constFind(setName);
    if (cached != m_enumCache.constEnd())
        return *cached;
    OrderedDictionary<QString, QString> options;
    const KRXMLNode set = m_enumSets.value(setName);
    if (!set.isNull()) {
        for (const KRXMLNode &option : set.elementsForName(QStringLiteral("option"))) {
            const QString key = option.attribute(QStringLiteral("key"));
            const QString label = option.hasAttribute(QStringLiteral("value"))
                                      ? option.attribute(QStringLiteral("value")) : key;
            options.setObject(label, key.isNull() ? QString(QLatin1String("")) : key);
        }
    }
    m_enumCache.insert(setName, options);
    return options;
}

QString KRObjectInfo::fillHelp(const QString &templ, const QString &content)
{
    QString page = templ;
    return page.replace(QStringLiteral("{{KR}}"), content);
}

QList<KRXMLNode> KRObjectInfo::classChain(const QString &className) const
{
    QList<KRXMLNode> chain;
    QString walk = className;
    QSet<QString> seen;
    while (!walk.isEmpty() && !seen.contains(walk)) {
        seen.insert(walk);
        const KRXMLNode object = objectElement(walk);
        if (object.isNull())
            break;
        chain.append(object);
        walk = m_superclasses.value(walk);
    }
    return chain;
}

KRXMLNode KRObjectInfo::propertyElement(const QString &propertyName, const QString &className) const
{
    for (const KRXMLNode &object : classChain(className)) {
        for (const KRXMLNode &property : childElements(object, QStringLiteral("property"))) {
            if (property.attribute(QStringLiteral("name")) == propertyName)
                return resolveRef(property);
        }
    }
    return {};
}

QString KRObjectInfo::propertyHelpHTML(const QString &propertyName, const QString &className) const
{
    const KRXMLNode element = propertyElement(propertyName, className);
    if (element.isNull())
        return {};
    const KRXMLNode discussion = element.firstElementForName(QStringLiteral("discussion"));
    if (discussion.isNull())
        return {};
    return fillHelp(m_propertyHelpTemplate,
                    QStringLiteral("<h1>%1</h1>\n%2").arg(propertyName, discussion.stringValue()));
}

QString KRObjectInfo::objectHelpHTML(const QString &className) const
{
    const KRXMLNode object = objectElement(className);
    const KRXMLNode discussion = object.isNull() ? KRXMLNode() : object.firstElementForName(QStringLiteral("discussion"));
    return discussion.isNull() ? QString() : fillHelp(m_objectHelpTemplate, discussion.stringValue());
}

QString KRObjectInfo::otherHelpHTML(const QString &helpID) const
{
    const KRXMLNode help = m_help.value(helpID);
    return help.isNull() ? QString() : fillHelp(m_otherHelpTemplate, help.stringValue());
}

QString KRObjectInfo::objectDescription(const QString &className) const
{
    const KRXMLNode object = objectElement(className);
    return object.isNull() ? QString() : object.stringValueOfFirstElementForName(QStringLiteral("description"));
}

QString KRObjectInfo::objectIconName(const QString &className) const
{
    const KRXMLNode object = objectElement(className);
    return object.isNull() ? QString() : object.stringValueOfFirstElementForName(QStringLiteral("icon"));
}

QImage KRObjectInfo::objectIcon(const QString &className) const
{
    {
        const std::lock_guard lock(m_iconsLock);
        if (const auto found = m_icons.constFind(className); found != m_icons.constEnd())
            return *found;
    }
    const QString icon = objectIconName(className);
    QImage image;
    if (icon.contains(QLatin1Char('/')))
        image = QImage(icon);
    else if (!icon.isEmpty())
        image = QImage(QFileInfo(m_path).absolutePath() + QStringLiteral("/icons/") + icon + QStringLiteral(".png"));
    const std::lock_guard lock(m_iconsLock);
    m_icons.insert(className, image);
    return image;
}

bool KRObjectInfo::isVisualObject(const QString &className) const
{
    for (const KRXMLNode &object : classChain(className)) {
        if (object.hasAttribute(QStringLiteral("isVisual")))
            return isYes(object.attribute(QStringLiteral("isVisual")));
    }
    return false;
}

QStringList KRObjectInfo::javaScriptReservedWords()
{
    readReservedWords();
    return m_reservedWords;
}

void KRObjectInfo::readReservedWords()
{
    std::call_once(m_reservedOnce, [this] {
        QStringList words;
        const KRXMLNode node = m_xml.rootElement().firstElementForXPath(QStringLiteral("//JavaScriptReservedWords"));
        const QString text = node.isNull() ? QString() : node.stringValue();
        qsizetype i = 0;
        while (i < text.size()) {
            while (i < text.size() && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')
                                       || text.at(i) == QLatin1Char('\n') || text.at(i) == QLatin1Char('\r')))
                ++i;
            const qsizetype start = i;
            while (i < text.size() && text.at(i) != QLatin1Char(','))
                ++i;
            if (i > start)
                words.append(text.mid(start, i - start));
            while (i < text.size() && text.at(i) == QLatin1Char(','))
                ++i;
        }
        m_reservedWords = words;
        m_reservedSet = QSet<QString>(words.begin(), words.end());
        m_reservedCharacters.reset();
        m_reservedBeyondASCII = false;
        m_reservedShortest = words.isEmpty() ? 0 : std::numeric_limits<qsizetype>::max();
        m_reservedLongest = 0;
        m_reservedLengths.fill(0);
        for (const QString &word : std::as_const(words)) {
            m_reservedShortest = std::min(m_reservedShortest, word.size());
            m_reservedLongest = std::max(m_reservedLongest, word.size());
            if (word.front().unicode() < 128)
                m_reservedLengths[word.front().unicode()] |= std::uint64_t(1) << std::min<qsizetype>(word.size(), 63);
            for (const QChar c : word) {
                if (c.unicode() < 128)
                    m_reservedCharacters.set(c.unicode());
                else
                    m_reservedBeyondASCII = true;
            }
        }
    });
}

bool KRObjectInfo::isJavaScriptReservedWord(const QString &word)
{
    readReservedWords();
    if (word.isEmpty() || word.size() < m_reservedShortest || word.size() > m_reservedLongest)
        return false;
    if (!m_reservedBeyondASCII) {
        if (!(m_reservedLengths[word.front().unicode() & 127] >> std::min<qsizetype>(word.size(), 63) & 1))
            return false;
        for (const QChar c : word) {
            if (c.unicode() >= 128 || !m_reservedCharacters.test(c.unicode()))
                return false;
        }
    }
    return m_reservedSet.contains(word);
}

OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>> KRObjectInfo::deviceInformation() const
{
    return deviceInformation(KRUserDefaults::sharedInstance());
}

OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>>
KRObjectInfo::deviceInformation(const KRUserDefaults &defaults) const
{
    OrderedDictionary<QString, std::shared_ptr<KRDeviceInformation>> devices = m_standardDevices;
    for (const auto &device : KRUserDeviceInformation::storedDevices(defaults))
        devices.setObject(device, device->deviceID);
    return devices;
}

QString KRObjectInfo::deviceInformationJSON() const
{
    QJsonObject json;
    const auto devices = deviceInformation();
    for (const QString &id : devices.keyEnumerator()) {
        const auto &device = *devices.find(id);
        QJsonObject entry;
        entry.insert(QStringLiteral("width"), int(device->width));
        entry.insert(QStringLiteral("height"), int(device->height));
        entry.insert(QStringLiteral("screenWidth"), int(device->screenWidth));
        entry.insert(QStringLiteral("screenHeight"), int(device->screenHeight));
        json.insert(id, entry);
    }
    return QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact));
}

QStringList KRObjectInfo::keywords()
{
    if (!m_keywords) {
        QStringList words;
        QSet<QString> seen;
        for (const KRXMLNode &property : m_xml.nodesForXPath(QStringLiteral("//property"))) {
            const QString name = property.attribute(QStringLiteral("name"));
            if (!name.isEmpty() && !seen.contains(name)) {
                seen.insert(name);
                words.append(name);
            }
        }
        for (const KRXMLNode &object : m_xml.nodesForXPath(QStringLiteral("//object"))) {
            const QString name = object.attribute(QStringLiteral("className"));
            if (!name.isEmpty() && !seen.contains(name)) {
                seen.insert(name);
                words.append(name);
            }
        }
        m_keywords = words;
    }
    return *m_keywords;
}

KRResult<void> KRObjectInfo::addPluginObject(const QVariantMap &classDescription, const QString &pluginPath)
{
    const auto fail = [](const QString &text) {
        return KRResult<void>(KRError(QStringLiteral("Plug-in Error"), 1, text));
    };
    const QString className = classDescription.value(QStringLiteral("className")).toString();
    if (className.isEmpty())
        return fail(QStringLiteral("className is missing"));
    static const QStringList types = {QStringLiteral("number"), QStringLiteral("string"), QStringLiteral("function"),
                                      QStringLiteral("color"), QStringLiteral("multilineString"),
                                      QStringLiteral("boolean"), QStringLiteral("enum")};
    const QVariantList properties = classDescription.value(QStringLiteral("properties")).toList();
    const QVariantMap manifestSets = classDescription.value(QStringLiteral("enumOptions")).toMap();
    // Check every property first: an invalid entry leaves the catalogue untouched.
    for (const QVariant &entry : properties) {
        const QVariantMap property = entry.toMap();
        if (property.value(QStringLiteral("propertyName")).toString().isEmpty())
            return fail(QStringLiteral("propertyName is missing"));
        const QString type = property.value(QStringLiteral("propertyType")).toString();
        if (type.isEmpty())
            return fail(QStringLiteral("propertyType is missing"));
        if (!types.contains(type))
            return fail(QStringLiteral("Invalid propertyType"));
        if (type == QLatin1String("enum")) {
            const QString setName = property.value(QStringLiteral("enumOptions")).toString();
            if (setName.isEmpty())
                return fail(QStringLiteral("enumOptions required when propertyType is 'enum'"));
            if (!manifestSets.contains(setName) || !manifestSets.value(setName).canConvert<QVariantList>())
                return fail(QStringLiteral("Missing enumOptions data for property"));
        }
    }

    const auto pathOf = [&](const QVariant &value) { return QStringLiteral("%1/%2").arg(pluginPath, value.toString()); };
    const auto readText = [](const QString &path) -> QString {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll());
    };
    const QVariantMap substitution{{QStringLiteral("_pluginPath"), pluginPath}};
    KRXMLNode root = m_xml.rootElement();
    {
        const std::lock_guard lock(m_iconsLock);
        m_icons.remove(className); // read again for the class as it is now described
    }

    KRXMLNode object = m_xml.createElement(QStringLiteral("object"));
    object.setAttribute(QStringLiteral("className"), className);
    object.setAttribute(QStringLiteral("superclass"), classDescription.value(QStringLiteral("superClass")).toString());
    KRXMLNode description = m_xml.createElement(QStringLiteral("description"));
    description.setStringValue(classDescription.value(QStringLiteral("classDescription")).toString());
    object.appendChild(description);
    if (classDescription.contains(QStringLiteral("icon"))) {
        KRXMLNode icon = m_xml.createElement(QStringLiteral("icon"));
        icon.setStringValue(pathOf(classDescription.value(QStringLiteral("icon"))));
        object.appendChild(icon);
    }
    const auto addDiscussion = [&](KRXMLNode &parent, const QString &text) {
        KRXMLNode discussion = m_xml.createElement(QStringLiteral("discussion"));
        discussion.appendChild(m_xml.createCDATASection(
            KRString::stringBySubstitutingTemplateValues(text, substitution, false)));
        parent.appendChild(discussion);
    };
    if (classDescription.contains(QStringLiteral("discussion"))) {
        const QString text = readText(pathOf(classDescription.value(QStringLiteral("discussion"))));
        if (!text.isNull())
            addDiscussion(object, text);
    }
    for (const QVariant &entry : properties) {
        const QVariantMap property = entry.toMap();
        QString type = property.value(QStringLiteral("propertyType")).toString();
        QString group = property.value(QStringLiteral("group")).toString();
        if (group.isEmpty())
            group = QStringLiteral("Object Properties");
        KRXMLNode element = m_xml.createElement(QStringLiteral("property"));
        element.setAttribute(QStringLiteral("pluginProperty"), QStringLiteral("YES"));
        element.setAttribute(QStringLiteral("name"), property.value(QStringLiteral("propertyName")).toString());
        element.setAttribute(QStringLiteral("group"), group);
        for (const char *limit : {"minValue", "maxValue"}) {
            const QString text = property.value(QLatin1String(limit)).toString();
            if (!text.isEmpty())
                element.setAttribute(QLatin1String(limit), text);
        }
        const QVariant defaultValue = property.value(QStringLiteral("defaultValue"));
        if (type == QLatin1String("boolean")) {
            const QString text = defaultValue.toString().toLower();
            if (defaultValue.toBool() || text == QLatin1String("yes") || text == QLatin1String("true"))
                element.setAttribute(QStringLiteral("defaultValue"), QStringLiteral("true"));
        } else if (!defaultValue.toString().isEmpty()) {
            element.setAttribute(QStringLiteral("defaultValue"), defaultValue.toString());
        }
        if (type == QLatin1String("enum")) {
            const QString manifestName = property.value(QStringLiteral("enumOptions")).toString();
            const QString setName = QStringLiteral("%1_%2").arg(className, manifestName);
            if (!m_enumSets.contains(setName)) {
                KRXMLNode set = m_xml.createElement(QStringLiteral("enumOptions"));
                set.setAttribute(QStringLiteral("name"), setName);
                const QVariantList data = manifestSets.value(manifestName).toList();
                for (qsizetype i = 0; i + 1 < data.size(); i += 2) {
                    KRXMLNode option = m_xml.createElement(QStringLiteral("option"));
                    option.setAttribute(QStringLiteral("key"), data.at(i).toString());
                    option.setAttribute(QStringLiteral("value"), data.at(i + 1).toString());
                    set.appendChild(option);
                }
                root.appendChild(set);
                m_enumSets.insert(setName, set);
            }
            element.setAttribute(QStringLiteral("enumOptions"), setName);
        } else if (type == QLatin1String("boolean")) {
            type = QStringLiteral("enum");
            element.setAttribute(QStringLiteral("enumOptions"), QStringLiteral("boolOptions"));
        }
        element.setAttribute(QStringLiteral("type"), type);
        QString help = property.value(QStringLiteral("discussionHTML")).toString();
        if (help.isEmpty() && property.contains(QStringLiteral("discussionFile")))
            help = readText(pathOf(property.value(QStringLiteral("discussionFile"))));
        if (!help.isEmpty())
            addDiscussion(element, help);
        object.appendChild(element);
    }
    root.appendChild(object);
    m_pluginObjects.append(className);
    if (!m_objects.contains(className)) {
        indexObject(object, false);
        m_propertyCache.erase(className); // an answer given before the class existed was empty
        const QString super = object.attribute(QStringLiteral("superclass"));
        m_superclasses.insert(className, m_objects.contains(super) && super != className ? super : QString());
    }
    return {};
}
