#include "KRGalleryItemViewController.h"

#include "KRGalleryThumbnails.h"

#include <ui/KRUIColors.h>
#include <network/NetDownloadCache.h>
#include <network/NetHTTPRequest.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRAlertService.h>
#include <widgets/help/KRLinkPolicy.h>
#include <widgets/help/KRHelpViewController.h>
#include <widgets/views/KRBorderedView.h>
#include <widgets/views/KRCornerBadgeView.h>

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPixmap galleryItemPlaceholder()
{
    QPixmap pixmap(KRGalleryItemViewController::ThumbnailSize);
    pixmap.fill(QColor(0xdd, 0xdd, 0xdd));
    return pixmap;
}

} // namespace

KRGalleryItemViewController::KRGalleryItemViewController(QObject *parent)
    : QObject(parent)
{
    auto *row = new KRBorderedView;
    row->setObjectName(QStringLiteral("KRGalleryItemView"));
    row->setFixedHeight(RowHeight);
    row->setMinimumWidth(240);
    row->setDrawBackground(true);
    row->setBackgroundGradient(KRUIColors::superlightGrayGradient());
    row->setDrawBottomBorder(true);
    row->setBottomBorderColor(QColor::fromRgbF(0.6f, 0.6f, 0.6f));
    row->setDrawTopBorder(true);
    row->setTopBorderColor(QColor(Qt::white));
    m_view = row;

    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 8, 8, 8);
    imageButton = new QPushButton;
    imageButton->setObjectName(QStringLiteral("imageButton"));
    imageButton->setFlat(true);
    imageButton->setFixedSize(ThumbnailSize);
    imageButton->setIconSize(ThumbnailSize);
    imageButton->setIcon(galleryItemPlaceholder());
    imageButton->setStyleSheet(QStringLiteral("QPushButton { border: none; }"));
    layout->addWidget(imageButton);

    auto *texts = new QVBoxLayout;
    nameLabel = new QLabel;
    nameLabel->setObjectName(QStringLiteral("projectName"));
    QFont nameFont = nameLabel->font();
    nameFont.setPixelSize(15);
    nameFont.setBold(true);
    nameLabel->setFont(nameFont);
    descriptionLabel = new QLabel;
    descriptionLabel->setObjectName(QStringLiteral("projectDescription"));
    descriptionLabel->setWordWrap(true);
    descriptionLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    QFont descriptionFont = descriptionLabel->font();
    descriptionFont.setPixelSize(12);
    descriptionLabel->setFont(descriptionFont);
    // The texts give way to the thumbnail and the Open button in a narrow list. They come from
    // the sample service or a folder's name: shown as they are, never read as markup.
    for (QLabel *label : {nameLabel, descriptionLabel}) {
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    nameLabel->setStyleSheet(QStringLiteral("color: #222;"));
    descriptionLabel->setStyleSheet(QStringLiteral("color: #555;"));
    texts->addWidget(nameLabel);
    texts->addWidget(descriptionLabel, 1);
    auto *tutorials = new QHBoxLayout;
    tutorialButton = new QPushButton(QStringLiteral("▶"));
    tutorialButton->setFlat(true);
    tutorialButton->setFixedWidth(24);
    tutorialLabelButton = new QPushButton(QStringLiteral("Tutorial"));
    tutorialLabelButton->setFlat(true);
    tutorialLabelButton->setStyleSheet(QStringLiteral("QPushButton { border: none; color: #2a6ebb; text-align: left; }"));
    tutorialButton->setVisible(false);
    tutorialLabelButton->setVisible(false);
    tutorials->addWidget(tutorialButton);
    tutorials->addWidget(tutorialLabelButton);
    tutorials->addStretch();
    texts->addLayout(tutorials);
    layout->addLayout(texts, 1);

    openButton = new QPushButton(QStringLiteral("Open"));
    openButton->setObjectName(QStringLiteral("openButton"));
    openButton->setVisible(false);
    layout->addWidget(openButton, 0, Qt::AlignBottom);

    badge = new KRCornerBadgeView(row);
    badge->setFixedSize(48, 48);
    badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    badge->setVisible(false);
    row->installEventFilter(this);

    connect(imageButton, &QPushButton::clicked, this, &KRGalleryItemViewController::imageClickAction);
    connect(openButton, &QPushButton::clicked, this, &KRGalleryItemViewController::openButtonClickAction);
    connect(tutorialButton, &QPushButton::clicked, this, &KRGalleryItemViewController::tutorialClickAction);
    connect(tutorialLabelButton, &QPushButton::clicked, this, &KRGalleryItemViewController::tutorialClickAction);
}

KRGalleryItemViewController::~KRGalleryItemViewController()
{
    if (m_imageLoader)
        m_imageLoader->clearDelegatesAndCancel();
    delete m_popover;
}

bool KRGalleryItemViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Resize && badge) {
        // The ribbon sits in the row's top right corner.
        badge->setGeometry(m_view->width() - badge->width(), 0, badge->width(), badge->height());
        badge->raise();
    }
    return QObject::eventFilter(watched, event);
}

void KRGalleryItemViewController::setProjectName(const QString &name)
{
    nameLabel->setText(name);
    // The list's row is what assistive tools read; the widget drawn in it is not theirs.
    if (QListWidgetItem *item = m_tableView ? m_tableView->item(m_rowNumber) : nullptr)
        item->setData(Qt::AccessibleTextRole, name);
}

QString KRGalleryItemViewController::projectName() const
{
    return nameLabel->text();
}

void KRGalleryItemViewController::setProjectDescription(const QString &description)
{
    descriptionLabel->setText(description);
}

QString KRGalleryItemViewController::projectDescription() const
{
    return descriptionLabel->text();
}

void KRGalleryItemViewController::setSelected(bool selected)
{
    m_selected = selected;
    openButton->setVisible(selected);
    auto *row = static_cast<KRBorderedView *>(m_view.data());
    if (selected)
        row->setBackgroundGradient(KRGradient{QColor::fromRgbF(0.88f, 0.88f, 0.88f), QColor::fromRgbF(0.96f, 0.96f, 0.96f)});
    else
        row->setBackgroundGradient(KRUIColors::superlightGrayGradient());
    row->update();
}

void KRGalleryItemViewController::setShowNewBadge(bool show)
{
    m_showNewBadge = show;
    badge->setVisible(show);
}

void KRGalleryItemViewController::setTutorialUrl(const QUrl &url)
{
    m_tutorialUrl = url;
    tutorialButton->setVisible(true);
    tutorialLabelButton->setVisible(true);
}

bool KRGalleryItemViewController::hasThumbnail() const
{
    return imageButton->property("krHasThumbnail").toBool();
}

void KRGalleryItemViewController::setImageThumbUrl(const QUrl &url)
{
    m_imageThumbUrl = url;
    if (m_imageLoader) {
        m_imageLoader->clearDelegatesAndCancel();
        m_imageLoader.reset();
    }
    auto show = [this](const QPixmap &pixmap) {
        if (pixmap.isNull())
            return;
        imageButton->setIcon(pixmap.scaled(imageButton->iconSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        imageButton->setProperty("krHasThumbnail", true);
    };
    if (url.isLocalFile()) {
        // Usually decoded already, while the launch waited for the gallery.
        show(QPixmap::fromImage(KRGalleryThumbnails::thumbnail(url.toLocalFile(), imageButton->iconSize())));
        return;
    }
    if (!url.isValid() || url.isEmpty())
        return;
    auto request = NetHTTPRequest::requestWithURL(url, NetDownloadCache::sharedCache());
    request->setCacheStoragePolicy(1); // permanent: fetched once, then served from disk
    request->setMaximumResponseSize(MaximumThumbnailSize);
    request->setTotalDeadlineSeconds(ThumbnailDeadlineSeconds);
    QPointer<KRGalleryItemViewController> self(this);
    std::weak_ptr<NetHTTPRequest> weak = request;
    request->setCompletionBlock([self, weak, show] {
        auto finished = weak.lock();
        if (!self || !finished)
            return;
        QPixmap pixmap;
        pixmap.loadFromData(finished->responseData());
        show(pixmap);
        self->m_imageLoader.reset();
    });
    request->setFailedBlock([self] {
        if (self)
            self->m_imageLoader.reset();
    });
    m_imageLoader = request;
    request->startAsynchronous();
}

void KRGalleryItemViewController::selectInTable()
{
    if (m_tableView)
        m_tableView->setCurrentRow(m_rowNumber);
}

void KRGalleryItemViewController::tutorialClickAction()
{
    selectInTable();
    if (!m_tutorialUrl.isValid() || m_tutorialUrl.isEmpty())
        return;
    // The address comes from the service: any other scheme (a local file, a script, a network
    // share) could start a program that claims it.
    if (!KRLinkPolicy::isWebAddress(m_tutorialUrl)) {
        KRAlert alert;
        alert.messageText = QStringLiteral("The tutorial cannot be opened.");
        alert.informativeText = QStringLiteral("Its address, “%1”, is not a web address: only http and https addresses are opened.")
                                    .arg(m_tutorialUrl.toString(QUrl::FullyEncoded).left(200));
        KRAlertService::current().runModal(alert);
        return;
    }
    KROpenURLService::current().openURL(m_tutorialUrl);
}

void KRGalleryItemViewController::imageClickAction()
{
    selectInTable();
    if (!m_imageUrl.isValid() || m_imageUrl.isEmpty())
        return;
    if (!m_popover) {
        m_popover = new KRPopover;
        m_popover->setBehavior(KRPopover::Behavior::Transient);
        auto *help = new KRHelpViewController(m_popover);
        const int height = std::min(800, m_view && m_view->window() ? m_view->window()->height() : 480);
        help->webView()->resize(480, height);
        m_popover->setContentWidget(help->webView());
        m_popover->setContentSize(QSize(480, height));
    }
    auto *view = qobject_cast<QWebEngineView *>(m_popover->contentWidget());
    if (!view)
        return;
    // The address came from the network: it is escaped before it goes into the page.
    const QString html = QStringLiteral("<html><body><div style=\"text-align: center;\"><img src=\"%1\"></div></body></html>")
                             .arg(m_imageUrl.toString(QUrl::FullyEncoded).toHtmlEscaped());
    view->setHtml(html, m_imageUrl.adjusted(QUrl::RemoveFilename | QUrl::RemoveQuery | QUrl::RemoveFragment));
    m_popover->showRelativeToRect(imageButton->rect(), imageButton, KRPopover::LeftEdge);
}

void KRGalleryItemViewController::openButtonClickAction()
{
    selectInTable();
    emit openRequested(this);
}
