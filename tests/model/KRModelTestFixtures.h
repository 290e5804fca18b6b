#pragma once

// A minimal project and page over a KRDocument for model tests and benchmarks: they fill
// the project and page seams with plain tables and no design document.

#include <model/KRDocument.h>
#include <model/KRPageBase.h>
#include <model/KRProjectBase.h>

#include <QHash>
#include <QList>

#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

class KRTestPage;

class KRTestProject : public KRProjectBase, public std::enable_shared_from_this<KRTestProject>
{
public:
    explicit KRTestProject(std::shared_ptr<KRDocument> document) : m_document(std::move(document)) {}

    std::shared_ptr<KRDocument> krDocument() const override { return m_document; }
    QList<std::shared_ptr<KRPageBase>> pages() const override;
    QString designTarget() const override { return m_designTarget; }
    bool autoAdjustObjects() const override { return m_autoAdjust; }
    QVariantMap &modifiedResourceCache() override { return m_cache; }

    void setDesignTarget(const QString &target);
    void setAutoAdjustObjects(bool on);
    void kvoCleanup();

    // Loads every KRPage of the document's KRPages with its objects.
    void loadPages(bool designMode, const QString &pageClass = QStringLiteral("KRTestPage"));
    QList<std::shared_ptr<KRTestPage>> testPages() const { return m_pages; }
    // Errors met while loading objects ("line N: message").
    QStringList loadErrors;

private:
    std::shared_ptr<KRDocument> m_document;
    QList<std::shared_ptr<KRTestPage>> m_pages;
    QString m_designTarget = QStringLiteral("iPhone");
    bool m_autoAdjust = false;
    QVariantMap m_cache;
};

class KRTestPage : public KRPageBase
{
public:
    using KRPageBase::KRPageBase;

    // A page of class "KRTestPage" (registered on first use) for the element.
    static std::shared_ptr<KRTestPage> make(const KRXMLElement &element, const std::shared_ptr<KRTestProject> &project,
                                            bool designMode, const QString &className = QStringLiteral("KRTestPage"));

    std::shared_ptr<KRProjectBase> pageProject() const override { return m_project.lock(); }
    std::shared_ptr<KRObject> objectForID(const QString &objectID) const override { return m_objects.value(objectID); }
    std::shared_ptr<KRObject> createNewObject(const QString &className, const QString &idBase) override;
    void deleteObjects(const QList<std::shared_ptr<KRObject>> &objects) override;
    void cutObjects(const QList<std::shared_ptr<KRObject>> &objects) override { cut += objects; }
    void pasteboardCopyObjects(const QList<std::shared_ptr<KRObject>> &objects) override { copied += objects; }

    // Makes the objects of the element's KRContents.
    void loadObjects(QStringList &errors);
    // Adds a made object to the table and turns its undo on.
    void addObject(const std::shared_ptr<KRObject> &object);
    QList<std::shared_ptr<KRObject>> objects() const { return m_order; }
    KRXMLNode contents();

    QList<std::shared_ptr<KRObject>> cut, copied;
    std::weak_ptr<KRTestProject> m_project; // the project owns its pages

private:
    QHash<QString, std::shared_ptr<KRObject>> m_objects;
    QList<std::shared_ptr<KRObject>> m_order;
};

// Opens a package holding that project.xml text and loads its pages.
// The package is made as "Test.krproj" in the folder.
std::shared_ptr<KRTestProject> krOpenTestProject(const QString &folder, const QByteArray &projectXML, bool designMode,
                                                 const QString &pageClass = QStringLiteral("KRTestPage"));

// A control-like test class that records its design hooks.
class KRTestControl : public KRObject
{
public:
    using KRObject::KRObject;
    QString jsInitializerForKey(const QString &key) const override;
    void updateDesignView(KRModelAdapter &, const QString &newValue) override { designViewUpdates.append(newValue); }
    void checkSize() override { ++checkSizeCalls; }
    QStringList designViewUpdates;
    int checkSizeCalls = 0;
};

// Registers "KRTestControl": a visual test class whose table uses the storage and
// initialiser bits (once per process).
void krRegisterTestClasses();
