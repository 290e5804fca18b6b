#pragma once

#include <QString>

#include <functional>

class QObject;
class QWidget;

// The named interfaces of the application. Each is a builder function that makes a fresh
// widget tree for an owner (a controller), connects the owner's outlets to it and returns
// its root; the caller owns the root. Builders are registered once at start-up, before the
// first window, by the component that defines them (an explicit set-up call: a static
// registrar in a static library is dropped by the linker); main thread only.
class KRInterfaceRegistry
{
public:
    using Builder = std::function<QWidget *(QObject *owner)>;

    // Registers (or replaces) the builder of the named interface.
    static void registerInterface(const QString &name, Builder builder);
    static bool hasInterface(const QString &name);

    // Builds a new instance of the named interface for the owner. An unknown name, or a
    // builder that throws anything but a KRException, raises "NibLoadingFailedException"
    // ("Nib file not loaded in KRCachingViewController"). The root may be null when the
    // builder made none; callers check.
    static QWidget *instantiate(const QString &name, QObject *owner);
};

