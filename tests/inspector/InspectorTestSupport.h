#pragma once

// Inspectors over projects with the real control classes, opened in design mode.

#include "../controls/KRCompositeTestSupport.h"

#include <inspector/KRPropertyEditorViewController.h>

#include <QString>

#include <memory>

namespace KRInspectorTest {

// A project in design mode whose page "page1" holds the given objects; a second page "page2".
struct Fixture {
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    std::shared_ptr<KRPage> page;
    std::shared_ptr<KRObject> object(const QString &id) const { return page->objectForID(id); }
};
Fixture open(const QString &contents, const QString &settings = QStringLiteral("JQMVersion=\"1.4\""));

// An inspector (shown, 300 wide) for the object.
std::unique_ptr<KRPropertyEditorViewController> inspect(const std::shared_ptr<KRObject> &object);

// The first row of that kind for the property.
template <typename Row>
Row *row(KRPropertyEditorViewController &inspector, const QString &propertyName)
{
    for (const auto &item : inspector.propertyEditorItems())
        if (auto *r = dynamic_cast<Row *>(item.get()); r && r->propertyName() == propertyName)
            return r;
    return nullptr;
}

// The element's attribute in the project XML (null when absent).
QString attribute(const std::shared_ptr<KRObject> &object, const QString &name);

// Writes the widget's picture to test-artifacts/inspector/<name>.png.
QString screenshot(QWidget *widget, const QString &name);

} // namespace KRInspectorTest
