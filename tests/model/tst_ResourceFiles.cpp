// Checks the shipped data files of the model: the object catalogue and the default project.
// Every problem is reported as "<file>:<line>: <problem>", all of them at once.

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {

const QString kResources = QStringLiteral(KR_SOURCE_DIR "/resources");

struct XmlDocDeleter {
    void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocDeleter>;

class Problems
{
public:
    explicit Problems(QString file) : m_file(std::move(file)) {}
    void add(const xmlNode *node, const QString &problem)
    {
        add(node ? static_cast<int>(xmlGetLineNo(node)) : 0, problem);
    }
    void add(int line, const QString &problem)
    {
        m_list.append(QStringLiteral("%1:%2: %3").arg(QFileInfo(m_file).fileName()).arg(line).arg(problem));
    }
    const QStringList &list() const { return m_list; }
    QString file() const { return m_file; }

private:
    QString m_file;
    QStringList m_list;
};

// Parses with line numbers; a parse failure is reported with its line.
XmlDoc parse(const QString &path, Problems &problems)
{
    xmlResetLastError();
    XmlDoc doc(xmlReadFile(QFile::encodeName(path).constData(), nullptr,
                           XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_NOWARNING | XML_PARSE_NOERROR));
    if (!doc) {
        const xmlError *error = xmlGetLastError();
        problems.add(error ? error->line : 0,
                     error ? QStringLiteral("not well-formed: %1").arg(QString::fromUtf8(error->message).trimmed())
                           : QStringLiteral("cannot be read"));
    }
    return doc;
}

QString name(const xmlNode *node)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(node->name));
}

bool hasAttr(const xmlNode *node, const char *attribute)
{
    return xmlHasProp(node, reinterpret_cast<const xmlChar *>(attribute)) != nullptr;
}

QString attr(const xmlNode *node, const char *attribute)
{
    xmlChar *value = xmlGetProp(node, reinterpret_cast<const xmlChar *>(attribute));
    const QString result = value ? QString::fromUtf8(reinterpret_cast<const char *>(value)) : QString();
    xmlFree(value);
    return result;
}

QStringList attrNames(const xmlNode *node)
{
    QStringList names;
    for (const xmlAttr *a = node->properties; a; a = a->next)
        names.append(QString::fromUtf8(reinterpret_cast<const char *>(a->name)));
    return names;
}

QString text(const xmlNode *node)
{
    xmlChar *content = xmlNodeGetContent(node);
    const QString result = content ? QString::fromUtf8(reinterpret_cast<const char *>(content)) : QString();
    xmlFree(content);
    return result;
}

std::vector<xmlNode *> children(const xmlNode *node, const char *elementName = nullptr)
{
    std::vector<xmlNode *> result;
    for (xmlNode *c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && (!elementName || name(c) == QLatin1String(elementName)))
            result.push_back(c);
    }
    return result;
}

// Every element of that name in document order, as the loaders search.
std::vector<xmlNode *> descendants(xmlNode *node, const char *elementName)
{
    std::vector<xmlNode *> result;
    std::function<void(xmlNode *)> walk = [&](xmlNode *n) {
        for (xmlNode *c = n->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE)
                continue;
            if (name(c) == QLatin1String(elementName))
                result.push_back(c);
            walk(c);
        }
    };
    walk(node);
    return result;
}

bool isInteger(const QString &s)
{
    static const QRegularExpression re(QStringLiteral("^-?[0-9]+$"));
    return re.match(s).hasMatch();
}

bool isDecimal(const QString &s)
{
    static const QRegularExpression re(QStringLiteral("^-?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    return re.match(s).hasMatch();
}

bool isIdentifier(const QString &s)
{
    static const QRegularExpression re(QStringLiteral("^[$A-Za-z_][0-9A-Za-z_]*$"));
    return re.match(s).hasMatch();
}

// Width and height from a PNG header, without an image library.
std::optional<std::pair<int, int>> pngSize(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(24);
    if (head.size() < 24 || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR")
        return std::nullopt;
    auto be32 = [&](int at) {
        return (uchar(head[at]) << 24) | (uchar(head[at + 1]) << 16) | (uchar(head[at + 2]) << 8) | uchar(head[at + 3]);
    };
    return std::make_pair(int(be32(16)), int(be32(20)));
}

const QStringList kTypeWords = {
    QStringLiteral("string"), QStringLiteral("multilineString"), QStringLiteral("number"),
    QStringLiteral("color"), QStringLiteral("enum"), QStringLiteral("function"),
    QStringLiteral("html"), QStringLiteral("javascript"),
};

const QStringList kPropertyAttributes = {
    QStringLiteral("name"), QStringLiteral("group"), QStringLiteral("groupState"), QStringLiteral("type"),
    QStringLiteral("enumOptions"), QStringLiteral("minValue"), QStringLiteral("maxValue"),
    QStringLiteral("increment"), QStringLiteral("precision"), QStringLiteral("defaultValue"),
    QStringLiteral("serverFunction"), QStringLiteral("pluginProperty"),
};

// Option sets that the application asks for by name rather than through a property.
const QStringList kNamedSets = {
    QStringLiteral("boolOptions"), QStringLiteral("designViewBackgrounds"), QStringLiteral("themeOptions"),
    QStringLiteral("listIconOptions"), QStringLiteral("buttonIconOptions"), QStringLiteral("pageTransitionOptions"),
};

// Help ids of the project settings pane and of the preferences window.
const QStringList kOtherHelpIds = {
    QStringLiteral("designTarget"), QStringLiteral("startPage"), QStringLiteral("defaultTheme"),
    QStringLiteral("homeScreenIconURL"), QStringLiteral("generateCacheManifest"), QStringLiteral("sitemap"),
    QStringLiteral("ajaxPageLoading"), QStringLiteral("autoAdjustObjects"), QStringLiteral("javascriptIncludes"),
    QStringLiteral("cssIncludes"), QStringLiteral("exportJQuery"), QStringLiteral("singlePageDeploy"),
    QStringLiteral("hosting"), QStringLiteral("hostingEmail"), QStringLiteral("hostingPassword"),
    QStringLiteral("hostingDomain"), QStringLiteral("createHostingAccount"), QStringLiteral("jsCheckSyntax"),
    QStringLiteral("jsLatedef"), QStringLiteral("jsCurly"), QStringLiteral("jsPlusplus"),
    QStringLiteral("jsBitwise"), QStringLiteral("jsEqEqEq"), QStringLiteral("jsMinimize"),
};

// Classes the object palette offers, in its order; each needs a description, an icon and help.
const QStringList kPaletteClasses = {
    QStringLiteral("JQMButton"), QStringLiteral("JQMTextbox"), QStringLiteral("JQMTextArea"), QStringLiteral("JQMSlider"),
    QStringLiteral("JQMSlideToggle"), QStringLiteral("JQMCheckboxGroup"), QStringLiteral("JQMRadioButtonGroup"),
    QStringLiteral("JQMSelect"), QStringLiteral("JQMListView"), QStringLiteral("JQMHeaderToolbar"),
    QStringLiteral("JQMFooterToolbar"), QStringLiteral("JQMSimplePopup"), QStringLiteral("KRLabel"), QStringLiteral("KRButton"),
    QStringLiteral("KRTextbox"), QStringLiteral("KRTextArea"), QStringLiteral("KRCheckbox"), QStringLiteral("KRRadioButton"),
    QStringLiteral("KRSelect"), QStringLiteral("KRTable"), QStringLiteral("KRImage"), QStringLiteral("KRDiv"),
    QStringLiteral("KRPhotoSwipe"), QStringLiteral("KRCanvas"), QStringLiteral("KRTimer"), QStringLiteral("KRFunction"),
    QStringLiteral("KRStyleClass"),
};

// What the checks of the default project need to know of the catalogue.
struct CatalogueFacts {
    std::map<QString, QString> superclassOf;           // class → superclass ("" for none)
    std::map<QString, QSet<QString>> ownProperties;    // class → its own property names
    QSet<QString> deviceIds;

    QSet<QString> propertiesOf(const QString &className) const
    {
        QSet<QString> all;
        QString c = className;
        for (int depth = 0; !c.isEmpty() && depth < 64; ++depth) {
            const auto it = ownProperties.find(c);
            if (it == ownProperties.end())
                break;
            all.unite(it->second);
            c = superclassOf.at(c);
        }
        return all;
    }
};

// Checks the catalogue file against the rules its readers rely on. Pictures are looked up in
// the catalogue's own folder.
QStringList checkCatalogue(const QString &path, CatalogueFacts *factsOut = nullptr)
{
    Problems problems(path);
    const XmlDoc doc = parse(path, problems);
    if (!doc)
        return problems.list();
    xmlNode *root = xmlDocGetRootElement(doc.get());
    const QDir folder = QFileInfo(path).dir();
    CatalogueFacts facts;

    // Templates.
    std::map<QString, xmlNode *> templates;
    for (xmlNode *t : descendants(root, "template")) {
        if (!t->parent || name(t->parent) != QLatin1String("templates"))
            problems.add(t, QStringLiteral("template outside a templates element"));
        const QString id = attr(t, "id");
        if (templates.count(id))
            problems.add(t, QStringLiteral("template \"%1\" appears twice; only the first is read").arg(id));
        else
            templates[id] = t;
    }
    const std::pair<const char *, QStringList> expectedTemplates[] = {
        {"propertyHelp", {QStringLiteral("{{KR}}")}},
        {"objectHelp", {QStringLiteral("{{KR}}")}},
        {"otherHelp", {QStringLiteral("{{KR}}")}},
        {"syntaxError", {QStringLiteral("{{line}}"), QStringLiteral("{{character}}"), QStringLiteral("{{reason}}")}},
    };
    for (const auto &[id, placeholders] : expectedTemplates) {
        const auto it = templates.find(QLatin1String(id));
        if (it == templates.end()) {
            problems.add(root, QStringLiteral("template \"%1\" is missing").arg(QLatin1String(id)));
            continue;
        }
        const QString body = text(it->second);
        for (const QString &placeholder : placeholders)
            if (!body.contains(placeholder))
                problems.add(it->second, QStringLiteral("template \"%1\" has no %2 placeholder").arg(QLatin1String(id), placeholder));
    }

    // Option sets.
    std::map<QString, xmlNode *> sets;
    for (xmlNode *set : descendants(root, "enumOptions")) {
        const QString setName = attr(set, "name");
        if (setName.isEmpty()) {
            problems.add(set, QStringLiteral("option set without a name"));
            continue;
        }
        if (sets.count(setName)) {
            problems.add(set, QStringLiteral("option set \"%1\" appears twice; only the first is read").arg(setName));
            continue;
        }
        sets[setName] = set;
        QSet<QString> keys;
        const auto options = children(set, "option");
        if (options.empty())
            problems.add(set, QStringLiteral("option set \"%1\" has no options").arg(setName));
        for (xmlNode *option : options) {
            if (!hasAttr(option, "key"))
                problems.add(option, QStringLiteral("option without a key in \"%1\"").arg(setName));
            else if (keys.contains(attr(option, "key")))
                problems.add(option, QStringLiteral("key \"%1\" appears twice in \"%2\"").arg(attr(option, "key"), setName));
            keys.insert(attr(option, "key"));
        }
    }
    QSet<QString> usedSets(kNamedSets.begin(), kNamedSets.end());
    for (const QString &named : kNamedSets)
        if (!sets.count(named))
            problems.add(root, QStringLiteral("option set \"%1\" is missing").arg(named));
    if (sets.count(QStringLiteral("designViewBackgrounds"))) {
        bool hasDefault = false;
        for (xmlNode *option : children(sets[QStringLiteral("designViewBackgrounds")], "option")) {
            const QString image = attr(option, "key");
            hasDefault |= image == QLatin1String("KR-design-background-grid");
            if (!QFileInfo::exists(folder.filePath(QStringLiteral("backgrounds/%1.png").arg(image))))
                problems.add(option, QStringLiteral("background picture backgrounds/%1.png does not exist").arg(image));
        }
        if (!hasDefault)
            problems.add(sets[QStringLiteral("designViewBackgrounds")],
                         QStringLiteral("the default background \"KR-design-background-grid\" is not offered"));
    }

    // Classes.
    std::map<QString, xmlNode *> classes;
    for (xmlNode *object : descendants(root, "object")) {
        const QString className = attr(object, "className");
        if (className.isEmpty() || !isIdentifier(className)) {
            problems.add(object, QStringLiteral("object with an invalid className \"%1\"").arg(className));
            continue;
        }
        if (classes.count(className)) {
            problems.add(object, QStringLiteral("class \"%1\" appears twice; only the first is read").arg(className));
            continue;
        }
        classes[className] = object;
    }
    for (const char *base : {"KRObject", "KRControl", "KRFormControl", "KRPage", "KRFunction", "KRStyleClass"})
        if (!classes.count(QLatin1String(base)))
            problems.add(root, QStringLiteral("class \"%1\" is missing").arg(QLatin1String(base)));

    xmlXPathContext *xpath = xmlXPathNewContext(doc.get());
    auto resolveRef = [&](xmlNode *property) -> xmlNode * {
        const QByteArray expression = attr(property, "ref").toUtf8();
        xpath->node = root;
        xmlXPathObject *result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(expression.constData()), xpath);
        xmlNode *target = nullptr;
        if (result && result->type == XPATH_NODESET && result->nodesetval && result->nodesetval->nodeNr > 0)
            target = result->nodesetval->nodeTab[0];
        xmlXPathFreeObject(result);
        return target;
    };

    QSet<const xmlNode *> referenced;
    for (const auto &[className, object] : classes) {
        const QString superclass = attr(object, "superclass");
        facts.superclassOf[className] = superclass;
        if (hasAttr(object, "superclass") && !classes.count(superclass))
            problems.add(object, QStringLiteral("superclass \"%1\" of \"%2\" does not exist").arg(superclass, className));
        QSet<QString> seen{className};
        for (QString s = superclass; !s.isEmpty() && classes.count(s); s = attr(classes[s], "superclass")) {
            if (seen.contains(s)) {
                problems.add(object, QStringLiteral("superclass chain of \"%1\" does not end").arg(className));
                break;
            }
            seen.insert(s);
        }
        {
            QString last = className;
            QSet<QString> walked;
            while (!walked.contains(last) && classes.count(last) && !attr(classes[last], "superclass").isEmpty()) {
                walked.insert(last);
                last = attr(classes[last], "superclass");
            }
            if (last != QLatin1String("KRObject") && classes.count(last))
                problems.add(object, QStringLiteral("the superclass chain of \"%1\" ends at \"%2\", not at KRObject").arg(className, last));
        }
        const auto icons = children(object, "icon");
        if (!icons.empty()) {
            const QString icon = text(icons.front()).trimmed();
            const QString file = icon.contains(u'/') ? icon : folder.filePath(QStringLiteral("icons/%1.png").arg(icon));
            const auto size = pngSize(file);
            if (icon.isEmpty())
                problems.add(icons.front(), QStringLiteral("empty icon of \"%1\"").arg(className));
            else if (!size)
                problems.add(icons.front(), QStringLiteral("icon \"%1\" of \"%2\" is no PNG file at %3").arg(icon, className, file));
            else if (*size != std::make_pair(32, 32))
                problems.add(icons.front(), QStringLiteral("icon \"%1\" is %2 by %3, not 32 by 32").arg(icon).arg(size->first).arg(size->second));
        }
        const QString visual = attr(object, "isVisual");
        if (hasAttr(object, "isVisual") && visual != QLatin1String("YES") && visual != QLatin1String("NO"))
            problems.add(object, QStringLiteral("isVisual must be YES or NO, not \"%1\"").arg(visual));
        if (children(object, "description").empty())
            problems.add(object, QStringLiteral("class \"%1\" has no description").arg(className));

        QSet<QString> names;
        for (xmlNode *property : children(object, "property")) {
            xmlNode *read = property;
            const QString ownName = attr(property, "name");
            if (hasAttr(property, "ref")) {
                read = resolveRef(property);
                if (!read || read->type != XML_ELEMENT_NODE || name(read) != QLatin1String("property")) {
                    problems.add(property, QStringLiteral("ref \"%1\" does not find a property element").arg(attr(property, "ref")));
                    continue;
                }
                referenced.insert(read);
                if (attr(read, "name") != ownName)
                    problems.add(property, QStringLiteral("ref of \"%1\" finds the property \"%2\"; help would not find it")
                                               .arg(ownName, attr(read, "name")));
                for (const QString &a : attrNames(property))
                    if (a != QLatin1String("name") && a != QLatin1String("ref"))
                        problems.add(property, QStringLiteral("attribute \"%1\" beside ref is ignored").arg(a));
            }
            const QString propertyName = attr(read, "name");
            if (propertyName.isEmpty() || !isIdentifier(propertyName)) {
                problems.add(property, QStringLiteral("property without a valid name in \"%1\"").arg(className));
                continue;
            }
            if (names.contains(propertyName))
                problems.add(property, QStringLiteral("property \"%1\" appears twice in \"%2\"").arg(propertyName, className));
            names.insert(propertyName);
            for (const QString &a : attrNames(read))
                if (!kPropertyAttributes.contains(a) && a != QLatin1String("ref"))
                    problems.add(read, QStringLiteral("unknown property attribute \"%1\"").arg(a));
            const QString type = attr(read, "type");
            if (!kTypeWords.contains(type))
                problems.add(read, QStringLiteral("property \"%1\" has the unknown type \"%2\"").arg(propertyName, type));
            const QString set = attr(read, "enumOptions");
            if (type == QLatin1String("enum") && set.isEmpty())
                problems.add(read, QStringLiteral("enum property \"%1\" names no option set").arg(propertyName));
            if (!set.isEmpty()) {
                usedSets.insert(set);
                if (!sets.count(set))
                    problems.add(read, QStringLiteral("option set \"%1\" of \"%2\" does not exist").arg(set, propertyName));
                else if (hasAttr(read, "defaultValue")) {
                    bool known = false;
                    for (xmlNode *option : children(sets[set], "option"))
                        known |= attr(option, "key") == attr(read, "defaultValue");
                    if (!known)
                        problems.add(read, QStringLiteral("default \"%1\" of \"%2\" is no key of \"%3\"")
                                               .arg(attr(read, "defaultValue"), propertyName, set));
                }
            }
            for (const char *number : {"minValue", "maxValue", "increment"})
                if (hasAttr(read, number) && !isDecimal(attr(read, number)))
                    problems.add(read, QStringLiteral("%1 \"%2\" is no decimal number").arg(QLatin1String(number), attr(read, number)));
            if (hasAttr(read, "precision") && !isInteger(attr(read, "precision")))
                problems.add(read, QStringLiteral("precision \"%1\" is no integer").arg(attr(read, "precision")));
            if (hasAttr(read, "groupState") && attr(read, "groupState") != QLatin1String("open"))
                problems.add(read, QStringLiteral("groupState can only be \"open\""));
            if (hasAttr(read, "serverFunction") && type != QLatin1String("function"))
                problems.add(read, QStringLiteral("serverFunction on the non-function property \"%1\"").arg(propertyName));
        }
        facts.ownProperties[className] = names;
    }
    xmlXPathFreeContext(xpath);
    for (xmlNode *property : descendants(root, "property"))
        if (property->parent && name(property->parent) != QLatin1String("object") && !referenced.contains(property))
            problems.add(property, QStringLiteral("shared property \"%1\" is referred to by no class").arg(attr(property, "name")));
    for (const QString &className : kPaletteClasses) {
        const auto it = classes.find(className);
        if (it == classes.end()) {
            problems.add(root, QStringLiteral("palette class \"%1\" is missing").arg(className));
            continue;
        }
        for (const char *child : {"icon", "discussion"})
            if (children(it->second, child).empty())
                problems.add(it->second, QStringLiteral("palette class \"%1\" has no %2").arg(className, QLatin1String(child)));
    }
    for (const auto &[setName, set] : sets)
        if (!usedSets.contains(setName))
            problems.add(set, QStringLiteral("option set \"%1\" is used by no property").arg(setName));

    // Reserved words, scanned as the catalogue reads them: blanks before a word are skipped,
    // blanks after it stay in the word and would never match an id.
    const auto reservedElements = descendants(root, "JavaScriptReservedWords");
    if (reservedElements.empty()) {
        problems.add(root, QStringLiteral("JavaScriptReservedWords is missing"));
    } else {
        xmlNode *element = reservedElements.front();
        QSet<QString> words;
        for (QString word : text(element).split(u',')) {
            while (!word.isEmpty() && word.front().isSpace())
                word.remove(0, 1);
            if (word.isEmpty())
                continue;
            if (!isIdentifier(word))
                problems.add(element, QStringLiteral("reserved word \"%1\" can never match an id (blank before a comma?)").arg(word));
            if (words.contains(word))
                problems.add(element, QStringLiteral("reserved word \"%1\" appears twice").arg(word));
            words.insert(word);
        }
        for (const char *word : {"new", "function", "var", "this", "window", "document", "application"})
            if (!words.contains(QLatin1String(word)))
                problems.add(element, QStringLiteral("reserved word \"%1\" is missing").arg(QLatin1String(word)));
    }

    // Help of the settings and preferences windows.
    QSet<QString> helpIds;
    for (xmlNode *help : descendants(root, "help")) {
        if (!help->parent || name(help->parent) != QLatin1String("otherHelp"))
            problems.add(help, QStringLiteral("help outside an otherHelp element"));
        if (helpIds.contains(attr(help, "id")))
            problems.add(help, QStringLiteral("help \"%1\" appears twice").arg(attr(help, "id")));
        helpIds.insert(attr(help, "id"));
    }
    for (const QString &id : kOtherHelpIds)
        if (!helpIds.contains(id))
            problems.add(root, QStringLiteral("help \"%1\" is missing").arg(id));

    // Devices.
    const auto devicesElements = descendants(root, "devices");
    const QString imageFolder = devicesElements.empty() ? QString() : attr(devicesElements.front(), "imageFolder");
    for (xmlNode *device : descendants(root, "device")) {
        const QString id = attr(device, "id");
        if (!device->parent || name(device->parent) != QLatin1String("devices"))
            problems.add(device, QStringLiteral("device outside a devices element"));
        if (id.isEmpty() || facts.deviceIds.contains(id))
            problems.add(device, QStringLiteral("device id \"%1\" is empty or appears twice").arg(id));
        facts.deviceIds.insert(id);
        std::map<QString, xmlNode *> parts;
        for (xmlNode *c : children(device))
            parts.emplace(name(c), c);
        bool complete = true;
        for (const char *part : {"name", "imageName", "size", "screenSize", "offset"})
            if (!parts.count(QLatin1String(part))) {
                problems.add(device, QStringLiteral("device \"%1\" lacks %2").arg(id, QLatin1String(part)));
                complete = false;
            }
        if (!complete)
            continue;
        int numbers[6];
        const std::pair<const char *, const char *> fields[6] = {
            {"size", "width"}, {"size", "height"}, {"screenSize", "width"},
            {"screenSize", "height"}, {"offset", "x"}, {"offset", "y"}};
        for (int i = 0; i < 6; ++i) {
            xmlNode *part = parts[QLatin1String(fields[i].first)];
            const QString value = attr(part, fields[i].second);
            numbers[i] = value.toInt();
            if (!isInteger(value) || numbers[i] < 0 || (i < 4 && numbers[i] == 0))
                problems.add(part, QStringLiteral("%1 %2 \"%3\" is no positive integer")
                                       .arg(QLatin1String(fields[i].first), QLatin1String(fields[i].second), value));
        }
        const QString picture = QStringLiteral("%1/%2.png").arg(imageFolder, text(parts[QStringLiteral("imageName")]));
        const auto size = pngSize(folder.filePath(picture));
        if (!size)
            problems.add(parts[QStringLiteral("imageName")], QStringLiteral("device picture %1 is missing or no PNG").arg(picture));
        else if (numbers[4] + numbers[0] > size->first || numbers[5] + numbers[1] > size->second)
            problems.add(parts[QStringLiteral("offset")],
                         QStringLiteral("display area of \"%1\" does not fit its %2x%3 picture").arg(id).arg(size->first).arg(size->second));
    }
    if (!facts.deviceIds.contains(QStringLiteral("iPhone")))
        problems.add(root, QStringLiteral("the device \"iPhone\" is missing"));

    if (factsOut)
        *factsOut = facts;
    return problems.list();
}

// Checks the default project against the structure the project readers use and against the
// catalogue's classes, properties and devices.
QStringList checkDefaultProject(const QString &path, const CatalogueFacts &catalogue)
{
    Problems problems(path);
    const XmlDoc doc = parse(path, problems);
    if (!doc)
        return problems.list();
    xmlNode *root = xmlDocGetRootElement(doc.get());
    if (!hasAttr(root, "appVersion"))
        problems.add(root, QStringLiteral("the root element has no appVersion"));

    const auto settingsElements = descendants(root, "KRProject");
    const auto pagesElements = descendants(root, "KRPages");
    if (settingsElements.empty())
        problems.add(root, QStringLiteral("KRProject is missing"));
    if (pagesElements.empty())
        problems.add(root, QStringLiteral("KRPages is missing"));
    if (settingsElements.empty() || pagesElements.empty())
        return problems.list();

    QSet<QString> pageIds;
    const auto pages = children(pagesElements.front(), "KRPage");
    if (pages.empty())
        problems.add(pagesElements.front(), QStringLiteral("a new project needs a page"));
    const QSet<QString> pageProperties = catalogue.propertiesOf(QStringLiteral("KRPage"));
    for (xmlNode *page : pages) {
        const QString id = attr(page, "id");
        if (!isIdentifier(id) || pageIds.contains(id))
            problems.add(page, QStringLiteral("page id \"%1\" is invalid or appears twice").arg(id));
        pageIds.insert(id);
        for (const QString &a : attrNames(page))
            if (!pageProperties.contains(a))
                problems.add(page, QStringLiteral("page attribute \"%1\" is no property of KRPage").arg(a));
        for (xmlNode *c : children(page)) {
            if (name(c) == QLatin1String("KRContents")) {
                for (xmlNode *object : children(c))
                    if (!catalogue.ownProperties.count(name(object)))
                        problems.add(object, QStringLiteral("object class \"%1\" is not in the catalogue").arg(name(object)));
            } else if (!pageProperties.contains(name(c))) {
                problems.add(c, QStringLiteral("page child \"%1\" is no property of KRPage").arg(name(c)));
            }
        }
    }

    xmlNode *settings = settingsElements.front();
    const QStringList booleans = {
        QStringLiteral("generateManifest"), QStringLiteral("ajaxPageLoading"), QStringLiteral("showGrid"),
        QStringLiteral("autoAdjustObjects"), QStringLiteral("singlePageDeploy"),
        QStringLiteral("exportLocalJQuerySources"), QStringLiteral("sitemap")};
    const QStringList texts = {QStringLiteral("appleTouchIcon"), QStringLiteral("startPage"),
                               QStringLiteral("defaultTheme"), QStringLiteral("JQMVersion"),
                               QStringLiteral("designTarget"), QStringLiteral("snapGrid"),
                               QStringLiteral("javascriptIncludes"), QStringLiteral("cssIncludes")};
    for (const QString &a : attrNames(settings)) {
        const QString value = attr(settings, a.toUtf8().constData());
        if (booleans.contains(a)) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                problems.add(settings, QStringLiteral("setting %1 must be \"true\" or \"false\"").arg(a));
        } else if (!texts.contains(a)) {
            problems.add(settings, QStringLiteral("unknown setting \"%1\"").arg(a));
        }
    }
    if (attr(settings, "JQMVersion") != QLatin1String("1.4"))
        problems.add(settings, QStringLiteral("new projects use jQuery Mobile 1.4"));
    if (!catalogue.deviceIds.contains(attr(settings, "designTarget")))
        problems.add(settings, QStringLiteral("designTarget \"%1\" is no catalogue device").arg(attr(settings, "designTarget")));
    if (!pageIds.contains(attr(settings, "startPage")))
        problems.add(settings, QStringLiteral("startPage \"%1\" is no page").arg(attr(settings, "startPage")));
    if (!isInteger(attr(settings, "snapGrid")))
        problems.add(settings, QStringLiteral("snapGrid must be an integer"));
    for (const char *list : {"javascriptIncludes", "cssIncludes"}) {
        const QString value = attr(settings, list);
        if (!value.isEmpty() && !QJsonDocument::fromJson(value.toUtf8()).isArray())
            problems.add(settings, QStringLiteral("%1 is neither empty nor a JSON array").arg(QLatin1String(list)));
    }
    return problems.list();
}

} // namespace

TEST(ResourceFiles, CatalogueAndDefaultProject)
{
    CatalogueFacts facts;
    const QStringList catalogueProblems = checkCatalogue(kResources + QStringLiteral("/KRObjectInfo.xml"), &facts);
    EXPECT_TRUE(catalogueProblems.isEmpty()) << catalogueProblems.join(u'\n').toStdString();
    const QStringList projectProblems = checkDefaultProject(kResources + QStringLiteral("/DefaultProject.xml"), facts);
    EXPECT_TRUE(projectProblems.isEmpty()) << projectProblems.join(u'\n').toStdString();
}

TEST(ResourceFiles, PicturesStaySmall)
{
    for (const char *sub : {"devices", "backgrounds", "icons"}) {
        const QDir dir(kResources + u'/' + QLatin1String(sub));
        const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.png")}, QDir::Files);
        EXPECT_FALSE(files.isEmpty()) << sub;
        for (const QFileInfo &file : files)
            EXPECT_LT(file.size(), (QLatin1String(sub) == QLatin1String("icons") ? 4 : 50) * 1024) << file.filePath().toStdString();
    }
}

// The checker itself: a broken catalogue is reported with the lines of its faults.
TEST(ResourceFiles, ReportsFileAndLine)
{
    const QString dir = KRTest::makeTempDir(QStringLiteral("catalogue"));
    KRTest::writeFile(dir + QStringLiteral("/KRObjectInfo.xml"),
                      "<KRObjectInfo>\n"                                                   // 1
                      "  <templates><template id=\"propertyHelp\">x</template></templates>\n" // 2
                      "  <JavaScriptReservedWords>new ,var</JavaScriptReservedWords>\n"   // 3
                      "  <devices imageFolder=\"devices\"><device id=\"iPhone\">\n"        // 4
                      "    <name>iPhone</name><imageName>nope</imageName>\n"              // 5
                      "    <size width=\"320\" height=\"480\"/><screenSize width=\"320\" height=\"480\"/>\n" // 6
                      "  </device></devices>\n"                                           // 7
                      "  <object className=\"KRThing\" superclass=\"KRMissing\">\n"        // 8
                      "    <property name=\"a\" type=\"enum\" enumOptions=\"noSuchSet\"/>\n" // 9
                      "    <property name=\"b\" type=\"wrong\"/>\n"                        // 10
                      "    <property name=\"c\" ref=\"//nothing\"/>\n"                     // 11
                      "  </object>\n"
                      "</KRObjectInfo>\n");
    const QStringList problems = checkCatalogue(dir + QStringLiteral("/KRObjectInfo.xml"));
    const QString all = problems.join(u'\n');
    for (const char *expected : {
             "KRObjectInfo.xml:1: template \"objectHelp\" is missing",
             "KRObjectInfo.xml:1: template \"syntaxError\" is missing",
             "KRObjectInfo.xml:2: template \"propertyHelp\" has no {{KR}} placeholder",
             "KRObjectInfo.xml:3: reserved word \"new \" can never match an id",
             "KRObjectInfo.xml:4: device \"iPhone\" lacks offset",
             "KRObjectInfo.xml:8: superclass \"KRMissing\" of \"KRThing\" does not exist",
             "KRObjectInfo.xml:9: option set \"noSuchSet\" of \"a\" does not exist",
             "KRObjectInfo.xml:10: property \"b\" has the unknown type \"wrong\"",
             "KRObjectInfo.xml:11: ref \"//nothing\" does not find a property element",
             "option set \"themeOptions\" is missing",
             "class \"KRPage\" is missing",
         })
        EXPECT_TRUE(all.contains(QLatin1String(expected))) << expected << "\nin:\n" << all.toStdString();

    // Icons and superclass chains.
    QDir(dir).mkpath(QStringLiteral("icons"));
    KRTest::writeFile(dir + QStringLiteral("/icons/Big.png"), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x40\0\0\0\x40", 24));
    KRTest::writeFile(dir + QStringLiteral("/Icons.xml"),
                      "<KRObjectInfo><objects>\n"                                              // 1
                      "  <object className=\"KRObject\"/>\n"                                   // 2
                      "  <object className=\"KRLoose\"/>\n"                                    // 3
                      "  <object className=\"KRA\" superclass=\"KRLoose\"><icon>Gone</icon></object>\n" // 4
                      "  <object className=\"KRB\" superclass=\"KRObject\"><icon>Big</icon></object>\n"  // 5
                      "  <object className=\"KRLabel\" superclass=\"KRObject\"><icon>Big</icon></object>\n" // 6
                      "</objects></KRObjectInfo>\n");
    const QString icons = checkCatalogue(dir + QStringLiteral("/Icons.xml")).join(u'\n');
    for (const char *expected : {
             "Icons.xml:4: the superclass chain of \"KRA\" ends at \"KRLoose\", not at KRObject",
             "Icons.xml:4: icon \"Gone\" of \"KRA\" is no PNG file",
             "Icons.xml:5: icon \"Big\" is 64 by 64, not 32 by 32",
             "Icons.xml:6: palette class \"KRLabel\" has no discussion",
             "palette class \"JQMButton\" is missing",
         })
        EXPECT_TRUE(icons.contains(QLatin1String(expected))) << expected << "\nin:\n" << icons.toStdString();
    EXPECT_FALSE(icons.contains(QLatin1String("\"KRB\" ends at")));

    KRTest::writeFile(dir + QStringLiteral("/Broken.xml"), "<a>\n<b>\n</a>\n");
    const QStringList broken = checkCatalogue(dir + QStringLiteral("/Broken.xml"));
    ASSERT_EQ(broken.size(), 1);
    static const QRegularExpression brokenLine(QStringLiteral("^Broken\\.xml:[1-9][0-9]*: not well-formed: "));
    EXPECT_TRUE(brokenLine.match(broken.front()).hasMatch()) << broken.front().toStdString();
}

TEST(ResourceFiles, ReportsDefaultProjectFaults)
{
    CatalogueFacts facts;
    ASSERT_TRUE(checkCatalogue(kResources + QStringLiteral("/KRObjectInfo.xml"), &facts).isEmpty());
    const QString dir = KRTest::makeTempDir(QStringLiteral("project"));
    KRTest::writeFile(dir + QStringLiteral("/DefaultProject.xml"),
                      "<Doc>\n"                                                                  // 1
                      "  <KRProject JQMVersion=\"1.3\" designTarget=\"Toaster\" startPage=\"page9\" "
                      "snapGrid=\"x\" showGrid=\"yes\" cssIncludes=\"a.css\"/>\n"               // 2
                      "  <KRPages>\n"                                                            // 3
                      "    <KRPage id=\"page1\" colour=\"red\">\n"                              // 4
                      "      <KRContents><KRGadget id=\"g\"/></KRContents>\n"                      // 5
                      "    </KRPage>\n"
                      "  </KRPages>\n"
                      "</Doc>\n");
    const QString all = checkDefaultProject(dir + QStringLiteral("/DefaultProject.xml"), facts).join(u'\n');
    for (const char *expected : {
             "DefaultProject.xml:1: the root element has no appVersion",
             "DefaultProject.xml:2: new projects use jQuery Mobile 1.4",
             "DefaultProject.xml:2: designTarget \"Toaster\" is no catalogue device",
             "DefaultProject.xml:2: startPage \"page9\" is no page",
             "DefaultProject.xml:2: snapGrid must be an integer",
             "DefaultProject.xml:2: setting showGrid must be \"true\" or \"false\"",
             "DefaultProject.xml:2: cssIncludes is neither empty nor a JSON array",
             "DefaultProject.xml:4: page attribute \"colour\" is no property of KRPage",
             "DefaultProject.xml:5: object class \"KRGadget\" is not in the catalogue",
         })
        EXPECT_TRUE(all.contains(QLatin1String(expected))) << expected << "\nin:\n" << all.toStdString();
}
