#pragma once

#include <model/KRObject.h>

#include <QList>
#include <QString>

#include <memory>

class KRModelAdapterFollowers;
class KRProjectBase;

// Posted by a page (sender: the page's identity()) after it deleted an object; user info
// "deletedObject" holds a KRObjectHandle of it.
inline const QString KRPageDidDeleteObjectNotification = QStringLiteral("KRPageDidDeleteObjectNotification");
// Posted by a function whose id changed (sender: its page's identity()); user info "oldID",
// "newID".
inline const QString KRPageFunctionDidChangeIDNotification = QStringLiteral("KRPageFunctionDidChangeIDNotification");

// What objects need of the page that holds them. KRPage derives from it.
class KRPageBase : public KRObject
{
public:
    using KRObject::KRObject;

    bool isPage() const override { return true; }

    virtual std::shared_ptr<KRProjectBase> pageProject() const = 0;
    // The object of the page's table with that id, or null.
    virtual std::shared_ptr<KRObject> objectForID(const QString &objectID) const = 0;
    // A new object of the class whose id is the base when free, else the base followed by
    // the first free number from 2; registers its own undo. Null when it cannot be made.
    virtual std::shared_ptr<KRObject> createNewObject(const QString &className, const QString &idBase) = 0;
    virtual void deleteObjects(const QList<std::shared_ptr<KRObject>> &objects) = 0;
    virtual void cutObjects(const QList<std::shared_ptr<KRObject>> &objects) = 0;
    virtual void pasteboardCopyObjects(const QList<std::shared_ptr<KRObject>> &objects) = 0;
    // The jQuery Mobile page element of the design document (option 0x20000000).
    virtual std::shared_ptr<DOMElement> pageDivElement() const { return nullptr; }

    // The objects whose adapters follow the page's functions (KRModelAdapter.cpp): the page's
    // notifications are observed once for all of them, when the first object follows.
    std::shared_ptr<KRModelAdapterFollowers> &modelAdapterFollowers() { return m_adapterFollowers; }

private:
    std::shared_ptr<KRModelAdapterFollowers> m_adapterFollowers;
};

// A model object carried in a notification's user info.
struct KRObjectHandle
{
    std::shared_ptr<KRObject> object;
};
Q_DECLARE_METATYPE(KRObjectHandle)
