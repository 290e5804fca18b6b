#include "InspectorTestSupport.h"

#include <QDir>
#include <QWidget>

namespace KRInspectorTest {

Fixture open(const QString &contents, const QString &settings)
{
    krRegisterCompositeTestClasses();
    Fixture f;
    f.project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"page1\" title=\"Page 1\"><KRContents>%1</KRContents></KRPage>"
                                    "<KRPage id=\"page2\" title=\"Page 2\"><KRContents/></KRPage>")
                         .arg(contents),
                     settings),
        true, &f.document);
    if (f.project)
        for (const auto &page : f.project->krPages())
            if (page->kr_id() == QLatin1String("page1"))
                f.page = page;
    return f;
}

std::unique_ptr<KRPropertyEditorViewController> inspect(const std::shared_ptr<KRObject> &object)
{
    auto inspector = KRCachingViewController::create<KRPropertyEditorViewController>();
    inspector->setObject(object);
    inspector->view()->resize(300, 700);
    inspector->view()->show();
    return inspector;
}

QString attribute(const std::shared_ptr<KRObject> &object, const QString &name)
{
    // Line lists are kept as the element's text.
    if (name == QLatin1String("options"))
        return object->xmlElement().stringValue();
    return object->xmlElement().attribute(name);
}

QString screenshot(QWidget *widget, const QString &name)
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/inspector");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    widget->grab().save(path);
    return path;
}

} // namespace KRInspectorTest
