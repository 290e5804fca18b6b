#pragma once

#include <core/KRXMLNode.h>

#include <QList>
#include <QString>

// A control's link to a page: its own "go to page" (a button's, a toolbar button's) or that of
// one of its items (a list's, a navigation bar's).
struct KRPageLink
{
    QString pageID;   // the page the control is on
    QString objectID; // the control
    QString target;   // the id of the page it goes to

    friend bool operator==(const KRPageLink &, const KRPageLink &) = default;
};

// The page links of the controls of these page elements (KRPage elements of project.xml), in
// the pages' order and then the document's; a control that links to one page several times
// (two items) is listed once for it. "(back)" goes back in the history and is no link.
QList<KRPageLink> krPageLinks(const QList<KRXMLNode> &pageElements);

// Of those links, the ones that lead to none of the pages.
QList<KRPageLink> krLinksToMissingPages(const QList<KRXMLNode> &pageElements);

// "button1 on the page “page1”, list1 on the page “page3”": the controls of the links, each
// once, for a message.
QString krPageLinkList(const QList<KRPageLink> &links);
