#pragma once

// Projects over the real project and page classes, and a small control class that puts its
// element into the design document, for page and project tests.

#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include <QByteArray>
#include <QString>

// Installs a constant local-server port (4242) and registers "KRPage", "KRStyleClass" and
// "KRDesignControl".
void krRegisterDesignTestClasses();

// Writes a package with that project.xml into a fresh folder and opens a KRProject over it.
std::shared_ptr<KRProject> krOpenProject(const QByteArray &projectXML, bool designMode = true,
                                         std::shared_ptr<KRDocument> *documentOut = nullptr);

// The same without registering any class: the caller has registered what the XML uses.
std::shared_ptr<KRProject> krOpenRegisteredProject(const QByteArray &projectXML, bool designMode = true,
                                                   std::shared_ptr<KRDocument> *documentOut = nullptr);

// Compares the text with the golden file at the path; a mismatch leaves "<path>.FAILED" beside
// it (and a match removes an old one).
void krExpectGoldenFile(const QString &path, const QString &actual);

// A project.xml with the pages' KRPage elements (each a full element text).
QByteArray krProjectXML(const QString &pagesXML, const QString &settings = QStringLiteral("JQMVersion=\"1.4\""));

// A visual control: a div in the page element; properties top/left/width (px), color,
// background trio, padding/paddingTop, text (DOM text of an inner span), content (markup),
// options/value (a select's option list), checked (boolean attribute), visible (display).
class KRDesignControl : public KRObject
{
public:
    explicit KRDesignControl(const KRObjectInit &init);
    std::shared_ptr<DOMElement> select;
    std::shared_ptr<DOMElement> span;
};
