#include "KRPageLinks.h"

#include <core/KRJSONSerialization.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringList>

namespace {

bool krIsPageTarget(const QString &target)
{
    return !target.isEmpty() && target != QLatin1String("(back)");
}

// The pages an item list (a JSON array of items) goes to.
QStringList krItemTargets(const QString &text)
{
    QStringList targets;
    if (!text.trimmed().startsWith(QLatin1Char('[')))
        return targets;
    const KRResult<QJsonDocument> document = KRJSONSerialization::readDocument(text.toUtf8());
    if (!document || !document.value().isArray())
        return targets;
    for (const QJsonValue &item : document.value().array()) {
        const QJsonValue target = item.toObject().value(QStringLiteral("gotoPage"));
        if (target.isString())
            targets.append(target.toString());
    }
    return targets;
}

// The element's own text (not that of the elements below it): where a list keeps its items.
QString krOwnText(const KRXMLNode &element)
{
    QString text;
    for (const KRXMLNode &child : element.children()) {
        if (child.kind() == KRXMLNode::Kind::Text || child.kind() == KRXMLNode::Kind::CDATA)
            text += child.stringValue();
    }
    return text;
}

void krCollectLinks(const KRXMLNode &element, const QString &pageID, QList<KRPageLink> &links)
{
    for (const KRXMLNode &object : element.elements()) {
        // A function's text is code, never items.
        if (object.name() != QLatin1String("KRFunction")) {
            const QString objectID = object.attribute(QStringLiteral("id"));
            QStringList targets;
            for (const QString &name : object.attributeNames()) {
                if (name == QLatin1String("gotoPage") || name.endsWith(QLatin1String("GotoPage")))
                    targets.append(object.attribute(name));
                else if (name == QLatin1String("navbarItems") || name == QLatin1String("items"))
                    targets += krItemTargets(object.attribute(name));
            }
            targets += krItemTargets(krOwnText(object));
            QSet<QString> seen;
            for (const QString &target : std::as_const(targets)) {
                if (krIsPageTarget(target) && !seen.contains(target)) {
                    seen.insert(target);
                    links.append({pageID, objectID, target});
                }
            }
        }
        krCollectLinks(object, pageID, links);
    }
}

} // namespace

QList<KRPageLink> krPageLinks(const QList<KRXMLNode> &pageElements)
{
    QList<KRPageLink> links;
    for (const KRXMLNode &page : pageElements) {
        const KRXMLNode contents = page.firstElementForName(QStringLiteral("KRContents"));
        if (!contents.isNull())
            krCollectLinks(contents, page.attribute(QStringLiteral("id")), links);
    }
    return links;
}

QList<KRPageLink> krLinksToMissingPages(const QList<KRXMLNode> &pageElements)
{
    QSet<QString> pages;
    for (const KRXMLNode &page : pageElements)
        pages.insert(page.attribute(QStringLiteral("id")));
    QList<KRPageLink> missing;
    for (const KRPageLink &link : krPageLinks(pageElements)) {
        if (!pages.contains(link.target))
            missing.append(link);
    }
    return missing;
}

QString krPageLinkList(const QList<KRPageLink> &links)
{
    QStringList names;
    for (const KRPageLink &link : links) {
        const QString name = QStringLiteral("%1 on the page “%2”").arg(link.objectID, link.pageID);
        if (!names.contains(name))
            names.append(name);
    }
    return names.join(QStringLiteral(", "));
}
