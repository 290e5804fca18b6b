#include "KRPhotoSwipe.h"

#include <core/KRString.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <nlohmann/json.hpp>

namespace {
// The integer at the start of a size ("300px" is 300); anything else counts as 0.
int integerValue(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype end = 0;
    if (end < t.size() && (t.at(end) == QLatin1Char('-') || t.at(end) == QLatin1Char('+')))
        ++end;
    while (end < t.size() && t.at(end).isDigit())
        ++end;
    return t.left(end).toInt();
}
} // namespace

KRPhotoSwipe::KRPhotoSwipe(const KRObjectInit &init) : KRControl(init) {}

KRPhotoSwipe::~KRPhotoSwipe() = default;

KRObjectClass KRPhotoSwipe::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRPhotoSwipe");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("photoswipe");
    // PhotoSwipe 4 staged under the folder name the pages have always linked.
    c.requiredScripts = {QStringLiteral("photoswipe-3.0.5/photoswipe.min.js"),
                         QStringLiteral("photoswipe-3.0.5/photoswipe-ui-default.min.js")};
    c.requiredStylesheets = {QStringLiteral("photoswipe-3.0.5/photoswipe.css"),
                             QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.css")};
    c.requiredResources = {QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.png"),
                           QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.svg"),
                           QStringLiteral("photoswipe-3.0.5/default-skin/preloader.gif")};
    constexpr std::uint32_t b = KRAdapterOptionJSBoolean;
    constexpr std::uint32_t n = KRAdapterOptionJSNumber;
    c.descriptors = {
        krDescriptor("images", nullptr, nullptr, KRAdapterOptionXMLText | KRAdapterOptionJSCustom),
        krDescriptor("allowUserZoom", nullptr, nullptr, b),
        krDescriptor("autoStartSlideshow", nullptr, nullptr, b),
        krDescriptor("allowRotationOnUserZoom", nullptr, nullptr, b),
        krDescriptor("captionAndToolbarAutoHideDelay", nullptr, nullptr, n),
        krDescriptor("captionAndToolbarFlipPosition", nullptr, nullptr, b),
        krDescriptor("captionAndToolbarHide", nullptr, nullptr, b),
        krDescriptor("captionAndToolbarOpacity", nullptr, nullptr, n),
        krDescriptor("captionAndToolbarShowEmptyCaptions", nullptr, nullptr, b),
        krDescriptor("doubleTapZoomLevel", nullptr, nullptr, n),
        krDescriptor("enableDrag", nullptr, nullptr, b),
        krDescriptor("fadeInSpeed", nullptr, nullptr, n),
        krDescriptor("fadeOutSpeed", nullptr, nullptr, n),
        krDescriptor("imageScaleMethod", nullptr, nullptr, KRAdapterOptionJSString),
        krDescriptor("loop", nullptr, nullptr, b),
        krDescriptor("margin", nullptr, nullptr, n),
        krDescriptor("maxUserZoom", nullptr, nullptr, n),
        krDescriptor("minUserZoom", nullptr, nullptr, n),
        krDescriptor("preventSlideshow", nullptr, nullptr, b),
        krDescriptor("slideshowDelay", nullptr, nullptr, n),
        krDescriptor("slideSpeed", nullptr, nullptr, n),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRPhotoSwipe>(init); };
    return c;
}

void KRPhotoSwipe::buildElement()
{
    KRControl::buildElement();
    enableOwnAdapters(QStringLiteral("KRPhotoSwipe"));
    appendToParentElement();
    createChildren();
    if (!designMode())
        return;
    observeForRebuild(m_tokens, {QString()}, [](KRControl &self) { static_cast<KRPhotoSwipe &>(self).createChildren(); });
}

void KRPhotoSwipe::initializeDefaultProperties()
{
    KRControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("300"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("200"));
}

void KRPhotoSwipe::updateDesignView(KRModelAdapter &, const QString &)
{
    createChildren();
}

int KRPhotoSwipe::placeholderIconSize() const
{
    const int width = integerValue(value(QStringLiteral("kr_width")));
    const int height = integerValue(value(QStringLiteral("kr_height")));
    return (width < height ? width : height) / 2;
}

void KRPhotoSwipe::createChildren()
{
    const auto element = domElement();
    const auto page = designPage();
    if (!element || !page)
        return;
    element->removeAllChildren();
    if (!designMode())
        return;
    auto div = page->domDocument()->createElement(QStringLiteral("div"));
    element->appendChild(div);
    const QString url = QStringLiteral("http://127.0.0.1:%1/__kr_bundle/photoswipe-3.0.5/aperture-icon.png")
                            .arg(KRLocalServerPort::port());
    const int size = placeholderIconSize();
    div->setAttribute(QStringLiteral("style"),
                      QStringLiteral("width: 100%; height: 100%; opacity: 0.3; border: 1px solid #000; border-radius: 4px; "
                                     "background-image: url('%1'); background-size:%2px %2px; background-repeat: no-repeat; "
                                     "background-position: center center;")
                          .arg(url)
                          .arg(size));
}

QString KRPhotoSwipe::jsInitializerForKey(const QString &key) const
{
    if (key != QLatin1String("kr_images"))
        return {};
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const KRString::ImageToken &token : KRString::parseImageTokens(value(QStringLiteral("kr_images")))) {
        nlohmann::ordered_json entry;
        entry["url"] = token.key.toStdString();
        entry["caption"] = token.value.toStdString();
        list.push_back(entry);
    }
    // JSON is a JavaScript literal; "</" is broken up so it can stand in a script element.
    QString text = QString::fromStdString(list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    text.replace(QStringLiteral("</"), QStringLiteral("<\\/"));
    return text;
}
