#include "KRHTMLViewController.h"

#include <platform/appkit/KRInterfaceRegistry.h>

#include <QVBoxLayout>

KRHTMLViewController::KRHTMLViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRHTMLView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRHTMLView"), [](QObject *) -> QWidget * {
            auto *view = new QWidget;
            new QVBoxLayout(view);
            return view;
        });
}

KRHTMLViewController::~KRHTMLViewController() = default;

void KRHTMLViewController::awakeFromNib() {}

void KRHTMLViewController::setObject(const std::shared_ptr<KRObject> &object, const QString &propertyKey)
{
    m_object = object;
    m_propertyKey = propertyKey;
}

QWidget *KRHTMLViewController::textView() const
{
    return nullptr;
}

void KRHTMLViewController::close()
{
    m_delegate = nullptr;
}
