#pragma once

#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservable.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class KRDocument;
class KRModelAdapterFollowers;
class KRPageBase;
class KRUndoManager;

// What the model objects, adapters and the document need of a project. KRProject derives
// from it. The observable settings are "designTarget" (device id), "autoAdjustObjects"
// (bool) and "kvoCleanup" (bool, set once when the project's window closes): a project
// announces each change through settingsObservable().notifyChange(key, old, new).
class KRProjectBase
{
public:
    KRProjectBase() : m_settings(this) {}
    virtual ~KRProjectBase() = default;
    KRProjectBase(const KRProjectBase &) = delete;
    KRProjectBase &operator=(const KRProjectBase &) = delete;

    virtual std::shared_ptr<KRDocument> krDocument() const = 0;
    virtual QList<std::shared_ptr<KRPageBase>> pages() const = 0;
    // Device id of the device being designed for; "" reads as "iPhone".
    virtual QString designTarget() const = 0;
    virtual bool autoAdjustObjects() const = 0;

    // Edited, unsaved bytes of resources keyed by relative path, with the text encoding
    // under the relative path followed by "//enc". The document writes them on save and
    // removes the entries it wrote.
    virtual QVariantMap &modifiedResourceCache() = 0;

    KRObservable &settingsObservable() { return m_settings; }

    // Saving: writes the edited resources into the package's web folder (returns the relative
    // paths written), and after the whole save succeeded drops their cache entries. A project
    // without a web folder of its own writes nothing.
    virtual KRResult<QStringList> writeModifiedResources(const QString &webFolderPath)
    {
        Q_UNUSED(webFolderPath);
        return QStringList();
    }
    virtual void didSaveModifiedResources(const QStringList &relativePaths) { Q_UNUSED(relativePaths); }
    virtual bool hasWebFolder() const { return false; }

    // The document's undo manager, or null while the project has no document.
    KRUndoManager *undoManager() const;

    // The objects whose adapters follow the settings above (KRModelAdapter.cpp): one set of
    // observers for all of them, made when the first object follows.
    std::shared_ptr<KRModelAdapterFollowers> &modelAdapterFollowers() { return m_adapterFollowers; }

private:
    KRObservable m_settings;
    std::shared_ptr<KRModelAdapterFollowers> m_adapterFollowers; // goes before m_settings
};
