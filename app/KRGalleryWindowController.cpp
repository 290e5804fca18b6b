#include "KRGalleryWindowController.h"

#include "KRApplicationDelegate.h"
#include "KRDocumentController.h"
#include "KRGalleryItemViewController.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <ui/KRMainMenu.h>
#include <core/KRXMLDocument.h>
#include <core/KRXMLNode.h>
#include <core/QZZipArchive.h>
#include <model/KRDocument.h>
#include <network/KRJSONRPC.h>
#include <network/NetHTTPRequest.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/help/KRActionSchemeHandler.h>
#include <widgets/help/KRLinkPolicy.h>
#include <widgets/help/KRPolicyWebPage.h>

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cmath>
#include <filesystem>

namespace {

std::optional<QJsonArray> &galleryHeldSamples()
{
    static std::optional<QJsonArray> samples;
    return samples;
}

constexpr int GalleryTopHeight = 88;
constexpr int GalleryBottomHeight = 48;
constexpr int GalleryDividerWidth = 1;

void galleryAlert(const QString &message, const QString &informative = {})
{
    KRAlert alert;
    alert.messageText = message;
    alert.informativeText = informative;
    KRAlertService::current().runModal(alert);
}

// Moves a file or folder of the sample package `root` (canonical), copying across file
// systems (the temporary folder may be a tmpfs) as galleryCopyItem does.
bool galleryMoveItem(const QString &from, const QString &to, const QString &root, QString *why)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::rename(fs::path(from.toStdString()), fs::path(to.toStdString()), error);
    if (!error)
        return true;
    if (!KRFileManager::copyItemWithin(from, to, root, why))
        return false;
    fs::remove_all(fs::path(from.toStdString()), error);
    return true;
}

// Copies a file or folder of the sample package `root` (canonical); the copy is the user's to
// edit, whatever the original's permissions (the application's own files may be read-only).
// Links are copied only when they lead inside the package, so the copy shares nothing with
// the sample or anything else.
bool galleryCopyItem(const QString &from, const QString &to, const QString &root, QString *why)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (!KRFileManager::copyItemWithin(from, to, root, why))
        return false;
    const auto writable = [&error](const fs::path &path) {
        if (!fs::is_symlink(fs::symlink_status(path, error)))
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, error);
    };
    writable(fs::path(to.toStdString()));
    if (fs::is_directory(fs::symlink_status(fs::path(to.toStdString()), error))) {
        for (const auto &entry : fs::recursive_directory_iterator(fs::path(to.toStdString()), error))
            writable(entry.path());
    }
    return true;
}

QLabel *galleryCaption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(14);
    font.setBold(true);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: #d8d8d8;"));
    return label;
}

} // namespace

KRGalleryWindowController::Layout KRGalleryWindowController::layoutForWidth(double width, double dividerWidth)
{
    const double half = width / 2;
    Layout layout{};
    layout.dividerX = half - dividerWidth / 2;
    layout.recentWidth = half - dividerWidth / 2;
    layout.samplesX = half + dividerWidth / 2;
    layout.samplesWidth = width - layout.recentWidth - dividerWidth;
    return layout;
}

std::optional<QJsonArray> KRGalleryWindowController::heldSamples()
{
    return galleryHeldSamples();
}

void KRGalleryWindowController::setHeldSamples(std::optional<QJsonArray> samples)
{
    galleryHeldSamples() = std::move(samples);
}

QUrl KRGalleryWindowController::resolveSampleURL(const QString &address)
{
    const QUrl site(KRUserDefaults::sharedInstance().stringValue(QStringLiteral("insecureSiteURL")));
    // Tolerant: an address that is already escaped is not escaped twice.
    return site.resolved(QUrl(address, QUrl::TolerantMode));
}

KRGalleryWindowController::KRGalleryWindowController(QObject *parent)
    : KRWindowControllerBase(parent)
{
    auto *window = new QMainWindow;
    window->setObjectName(QStringLiteral("KRGalleryWindow"));
    window->setWindowTitle(QStringLiteral("Korvane"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    contentView = new QWidget;
    contentView->setObjectName(QStringLiteral("galleryContent"));
    contentView->setAutoFillBackground(true);
    QPalette palette = contentView->palette();
    palette.setColor(QPalette::Window, QColor(0x2e, 0x30, 0x33));
    contentView->setPalette(palette);
    window->setCentralWidget(contentView);
    setWindow(window);
    KRMainMenu::shared().createMenuBar(window);

    titleLabel = new QLabel(QStringLiteral("Korvane"), contentView);
    QFont titleFont(QStringLiteral("Helvetica Neue"));
    titleFont.setStyleName(QStringLiteral("Light"));
    titleFont.setWeight(QFont::Light);
    titleFont.setPixelSize(32);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.15);
    titleLabel->setFont(titleFont);
    titleLabel->setStyleSheet(QStringLiteral("color: white;"));
    titleLabel->setAlignment(Qt::AlignCenter);

    recentProjectsLabel = galleryCaption(QStringLiteral("Recent Projects"), contentView);
    sampleGalleryLabel = galleryCaption(QStringLiteral("Sample Gallery"), contentView);

    auto makeTable = [this](const QString &name) {
        auto *table = new QListWidget(contentView);
        table->setObjectName(name);
        table->setSpacing(0);
        table->setFrameShape(QFrame::NoFrame);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        table->setStyleSheet(QStringLiteral("QListWidget { background: #f2f2f2; } QListWidget::item { padding: 0px; }"));
        connect(table, &QListWidget::currentRowChanged, this, [this, table](int row) { selectionChanged(table, row); });
        return table;
    };
    recentProjectsTable = makeTable(QStringLiteral("recentProjectsTable"));
    samplesTable = makeTable(QStringLiteral("samplesTable"));
    connect(recentProjectsTable, &QListWidget::itemDoubleClicked, this, [this] { openRecent(); });
    connect(samplesTable, &QListWidget::itemDoubleClicked, this, [this] { openSample(); });

    dividerBox = new QFrame(contentView);
    dividerBox->setAutoFillBackground(true);
    dividerBox->setStyleSheet(QStringLiteral("background: #15171a;"));

    welcomeBox = new QWidget(contentView);
    welcomeBox->setObjectName(QStringLiteral("welcomeBox"));
    new QVBoxLayout(welcomeBox);
    welcomeBox->layout()->setContentsMargins(0, 0, 0, 0);
    welcomeBox->setVisible(false);

    samplesLoadingBox = new QWidget(contentView);
    samplesLoadingLabel = new QLabel(samplesLoadingBox);
    samplesLoadingLabel->setObjectName(QStringLiteral("samplesLoadingLabel"));
    samplesLoadingLabel->setStyleSheet(QStringLiteral("color: #d8d8d8;"));
    samplesLoadingLabel->setAlignment(Qt::AlignCenter);
    progressIndicator = new QProgressBar(samplesLoadingBox);
    progressIndicator->setRange(0, 0);
    progressIndicator->setFixedSize(120, 12);
    progressIndicator->setTextVisible(false);
    progressIndicator->setVisible(false);
    samplesTable->setVisible(false);
    samplesNoticeLabel = new QLabel(contentView);
    samplesNoticeLabel->setObjectName(QStringLiteral("samplesNoticeLabel"));
    samplesNoticeLabel->setTextFormat(Qt::PlainText); // the reason may quote the service
    samplesNoticeLabel->setWordWrap(true);
    samplesNoticeLabel->setStyleSheet(QStringLiteral("color: #d8d8d8;"));
    samplesNoticeLabel->setVisible(false);

    downloadBox = new QWidget(contentView);
    downloadBox->setObjectName(QStringLiteral("downloadBox"));
    downloadProgress = new QProgressBar(downloadBox);
    downloadProgress->setFixedSize(320, 16);
    downloadProgress->setRange(0, 100);
    downloadLabel = new QLabel(QStringLiteral("Downloading sample…"), downloadBox);
    downloadLabel->setStyleSheet(QStringLiteral("color: #d8d8d8;"));
    downloadLabel->setAlignment(Qt::AlignCenter);
    downloadBox->setVisible(false);

    cancelButton = new QPushButton(QStringLiteral("Cancel"), contentView);
    cancelButton->setVisible(false);
    connect(cancelButton, &QPushButton::clicked, this, &KRGalleryWindowController::cancelAction);
    quitButton = new QPushButton(QStringLiteral("Quit"), contentView);
    quitButton->setObjectName(QStringLiteral("quitButton"));
    connect(quitButton, &QPushButton::clicked, this, &KRGalleryWindowController::quitAction);

    contentView->installEventFilter(this);
    window->installEventFilter(this);

    buildRecentProjects();
    showRecentProjects();
    // A project opened or saved under a new name while the gallery is up joins its list, once
    // whatever opened it has returned (a row's own Open may be what opened it).
    connect(&KRDocumentController::sharedDocumentController(), &KRDocumentController::recentDocumentsChanged, this,
            [this] { QTimer::singleShot(0, this, &KRGalleryWindowController::reloadRecentProjects); });

    const QRect available = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                              : QRect(0, 0, 1280, 800);
    window->resize(int(available.width() * 0.8), int(available.height() * 0.8));
    window->move(available.center() - window->rect().center());
    layoutViews();
    loadSampleTable();
}

KRGalleryWindowController::~KRGalleryWindowController()
{
    if (m_downloadingRequest)
        m_downloadingRequest->clearDelegatesAndCancel();
    removeDownloadFiles();
}

QMainWindow *KRGalleryWindowController::mainWindow() const
{
    return qobject_cast<QMainWindow *>(window());
}

KRGalleryItemViewController *KRGalleryWindowController::addPackageRow(QListWidget *table, QList<KRGalleryItemViewController *> &rows,
                                                                      const QString &path)
{
    KRGalleryItemViewController *row = addRow(table, rows);
    row->setUrl(QUrl::fromLocalFile(path));
    const QString preview = path + QStringLiteral("/preview.png");
    if (QFileInfo(preview).isFile()) {
        row->setImageUrl(QUrl::fromLocalFile(preview));
        row->setImageThumbUrl(QUrl::fromLocalFile(preview));
    }
    row->setProjectName(QFileInfo(path).completeBaseName());
    return row;
}

void KRGalleryWindowController::buildRecentProjects()
{
    const QString home = QDir::homePath();
    m_recentPaths = KRDocumentController::sharedDocumentController().recentDocumentPaths();
    for (const QString &path : std::as_const(m_recentPaths)) {
        KRGalleryItemViewController *row = addPackageRow(recentProjectsTable, m_recentProjects, path);
        QString description = path;
        if (description == home || description.startsWith(home + QLatin1Char('/')))
            description = QLatin1Char('~') + description.mid(home.size());
        row->setProjectDescription(description);
    }
}

void KRGalleryWindowController::reloadRecentProjects()
{
    if (KRDocumentController::sharedDocumentController().recentDocumentPaths() == m_recentPaths)
        return;
    const int row = recentProjectsTable->currentRow();
    const QString chosen = row >= 0 && row < m_recentPaths.size() ? m_recentPaths.at(row) : QString();
    for (KRGalleryItemViewController *each : std::exchange(m_recentProjects, {}))
        each->deleteLater();
    recentProjectsTable->clear();
    buildRecentProjects();
    // The project that was chosen stays chosen, wherever it now is in the list.
    if (const qsizetype again = chosen.isEmpty() ? -1 : m_recentPaths.indexOf(chosen); again >= 0)
        recentProjectsTable->setCurrentRow(int(again));
}

KRGalleryItemViewController *KRGalleryWindowController::addRow(QListWidget *table, QList<KRGalleryItemViewController *> &rows)
{
    auto *row = new KRGalleryItemViewController(this);
    row->setTableView(table);
    row->setRowNumber(int(rows.size()));
    auto *item = new QListWidgetItem(table);
    item->setSizeHint(QSize(200, KRGalleryItemViewController::RowHeight));
    table->setItemWidget(item, row->view());
    connect(row, &KRGalleryItemViewController::openRequested, this, [this, table] {
        if (table == recentProjectsTable)
            openRecent();
        else
            openSample();
    });
    rows.append(row);
    return row;
}

void KRGalleryWindowController::selectionChanged(QListWidget *table, int row)
{
    const QList<KRGalleryItemViewController *> &rows = table == recentProjectsTable ? m_recentProjects : m_samples;
    for (KRGalleryItemViewController *each : rows)
        each->setSelected(false);
    if (row >= 0 && row < rows.size())
        rows.at(row)->setSelected(true);
}

void KRGalleryWindowController::showWelcome()
{
    m_welcomeMode = true;
    if (!welcomeWebView) {
        welcomeWebView = new QWebEngineView(welcomeBox);
        auto *page = new KRPolicyWebPage(
            [this](const QUrl &url, QWebEnginePage::NavigationType, bool) { return acceptWelcomeNavigation(url); },
            welcomeWebView);
        page->setBackgroundColor(Qt::transparent);
        KRActionSchemeHandler::installIn(page->profile());
        welcomeWebView->setPage(page);
        connect(welcomeWebView, &QWebEngineView::loadFinished, this, [this] { m_openURLsExternally = true; });
        welcomeBox->layout()->addWidget(welcomeWebView);
        QFile file(QStringLiteral(":/kr-app/welcome.html"));
        file.open(QIODevice::ReadOnly);
        welcomeWebView->setHtml(QString::fromUtf8(file.readAll()), QUrl(QStringLiteral("qrc:/kr-app/welcome.html")));
    }
    recentProjectsTable->setVisible(false);
    welcomeBox->setVisible(!m_downloading);
    recentProjectsLabel->setText(QStringLiteral("Welcome"));
}

void KRGalleryWindowController::showRecentProjects()
{
    m_welcomeMode = false;
    welcomeBox->setVisible(false);
    recentProjectsTable->setVisible(!m_downloading);
    recentProjectsLabel->setText(QStringLiteral("Recent Projects"));
}

bool KRGalleryWindowController::acceptWelcomeNavigation(const QUrl &url)
{
    if (url.scheme() == QLatin1String("kr")) {
        if (url.host() == QLatin1String("preferences")) {
            if (KRApplicationDelegate *delegate = KRApplicationDelegate::shared())
                delegate->orderFrontPrefsPanel();
        } else if (url.host() == QLatin1String("recent")) {
            QTimer::singleShot(0, this, &KRGalleryWindowController::showRecentProjects);
        }
        return false;
    }
    if (m_openURLsExternally && !url.host().isEmpty()) {
        KROpenURLService::current().openURL(url);
        return false;
    }
    return true;
}

bool KRGalleryWindowController::welcomePageHasFocus() const
{
    QWidget *focus = KRMainMenu::workingFocus(window());
    return welcomeWebView && welcomeWebView->isVisible() && focus
           && (focus == welcomeWebView || welcomeWebView->isAncestorOf(focus));
}

bool KRGalleryWindowController::performMenuCommand(const QString &identifier)
{
    if (welcomePageHasFocus()) {
        if (identifier == QLatin1String("copy")) {
            welcomeWebView->triggerPageAction(QWebEnginePage::Copy);
            return true;
        }
        if (identifier == QLatin1String("selectAll")) {
            welcomeWebView->triggerPageAction(QWebEnginePage::SelectAll);
            return true;
        }
    }
    return KRWindowControllerBase::performMenuCommand(identifier);
}

bool KRGalleryWindowController::validateMenuCommand(const QString &identifier, QAction *action)
{
    if (welcomePageHasFocus()) {
        if (identifier == QLatin1String("copy")) {
            action->setEnabled(welcomeWebView->hasSelection());
            return true;
        }
        if (identifier == QLatin1String("selectAll")) {
            action->setEnabled(true);
            return true;
        }
    }
    return KRWindowControllerBase::validateMenuCommand(identifier, action);
}

void KRGalleryWindowController::loadSampleTable()
{
    if (!galleryHeldSamples()) {
        // No service to ask: the samples that come with the application.
        if (KRUserDefaults::sharedInstance().stringValue(QStringLiteral("apiURL")).trimmed().isEmpty())
            loadBundledSamples();
        else
            downloadSampleGallery();
        return;
    }
    // An entry the service sent malformed (no object, no name or no address as text) would be
    // a blank row with buttons that do nothing: it is left out.
    QList<QJsonObject> entries;
    for (const QJsonValue &value : *galleryHeldSamples()) {
        const QJsonObject entry = value.toObject();
        const QJsonValue name = entry.value(QStringLiteral("name"));
        const QJsonValue url = entry.value(QStringLiteral("url"));
        if (!value.isObject() || !name.isString() || name.toString().trimmed().isEmpty() || !url.isString()
            || url.toString().trimmed().isEmpty()) {
            KR_LOG(QStringLiteral("malformed sample left out of the gallery"));
            continue;
        }
        entries.append(entry);
    }
    if (entries.isEmpty()) {
        loadBundledSamples();
        return;
    }
    int index = 0;
    for (const QJsonObject &entry : entries) {
        KRGalleryItemViewController *row = addRow(samplesTable, m_samples);
        // An empty address names no picture or tutorial (resolved, it would be the site itself).
        const auto address = [&entry](const QString &key) {
            const QString text = entry.value(key).toString().trimmed();
            return text.isEmpty() ? QUrl() : resolveSampleURL(text);
        };
        row->setUrl(resolveSampleURL(entry.value(QStringLiteral("url")).toString()));
        row->setImageUrl(address(QStringLiteral("image")));
        row->setImageThumbUrl(address(QStringLiteral("imageThumb")));
        if (const QUrl tutorial = address(QStringLiteral("tutorial")); !tutorial.isEmpty())
            row->setTutorialUrl(tutorial);
        row->setProjectName(entry.value(QStringLiteral("name")).toString());
        row->setProjectDescription(entry.value(QStringLiteral("description")).toString());
        row->setRowNumber(index++);
        row->setShowNewBadge(entry.value(QStringLiteral("isNew")).toBool());
    }
    samplesLoadingBox->setVisible(false);
    samplesTable->setVisible(!m_downloading);
}

QStringList KRGalleryWindowController::bundledSamplePaths()
{
    QStringList paths;
    const QDir folder(KRResources::pathForResource(QStringLiteral("samples")));
    for (const QFileInfo &package : folder.entryInfoList({QStringLiteral("*.krproj")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo(package.filePath() + QStringLiteral("/project.xml")).isFile())
            paths.append(package.absoluteFilePath());
    }
    return paths;
}

void KRGalleryWindowController::loadBundledSamples()
{
    int index = 0;
    for (const QString &path : bundledSamplePaths()) {
        KRGalleryItemViewController *row = addPackageRow(samplesTable, m_samples, path);
        row->setBundled(true);
        // The pages it shows, by their titles.
        QStringList titles;
        if (const KRResult<KRXMLDocument> xml = KRXMLDocument::fromFile(path + QStringLiteral("/project.xml")))
            for (const KRXMLNode &page : xml.value().nodesForXPath(QStringLiteral("//KRPages/KRPage"))) {
                const QString title = page.attribute(QStringLiteral("title"));
                titles.append(title.isEmpty() ? page.attribute(QStringLiteral("id")) : title);
            }
        row->setProjectDescription(titles.size() == 1 ? QStringLiteral("1 page: %1").arg(titles.first())
                                                      : QStringLiteral("%1 pages: %2").arg(titles.size()).arg(titles.join(QStringLiteral(", "))));
        row->setRowNumber(index++);
    }
    if (m_samples.isEmpty()) {
        samplesLoadingLabel->setText(QStringLiteral("No samples currently available."));
        return;
    }
    samplesLoadingBox->setVisible(false);
    samplesTable->setVisible(!m_downloading);
}

void KRGalleryWindowController::downloadSampleGallery()
{
    progressIndicator->setVisible(true);
    samplesLoadingLabel->setText(QString());
    QPointer<KRGalleryWindowController> self(this);
    KRJSONRPC::create()->callMethod(QStringLiteral("sampleGallery"), KRJSONRPC::credentialedArgumentsDictionary(),
                                    [self](const QJsonDocument &reply, const KRError &error) {
        if (!self)
            return;
        self->progressIndicator->setVisible(false);
        // Whatever the service fails to give, the samples that come with the application are
        // offered instead.
        if (error) {
            qWarning("Error loading samples: %s", qPrintable(error.message()));
            self->samplesNoticeLabel->setText(QStringLiteral("The service's samples could not be listed: %1").arg(error.message()));
            self->samplesNoticeLabel->setVisible(true);
            self->loadBundledSamples();
            return;
        }
        const QJsonObject object = reply.object();
        if (object.value(QStringLiteral("result")).toString() != QLatin1String("OK")) {
            qWarning("Error loading samples: %s", qPrintable(object.value(QStringLiteral("errortext")).toString()));
            self->loadBundledSamples();
            return;
        }
        if (!object.value(QStringLiteral("samples")).isArray()) {
            qWarning("Error loading samples from JSON response.");
            self->loadBundledSamples();
            return;
        }
        galleryHeldSamples() = object.value(QStringLiteral("samples")).toArray();
        self->samplesNoticeLabel->setVisible(false);
        self->loadSampleTable();
    });
}

void KRGalleryWindowController::openRecent()
{
    const int row = recentProjectsTable->currentRow();
    if (row < 0 || row >= m_recentProjects.size())
        return;
    const QString path = m_recentProjects.at(row)->url().toLocalFile();
    const auto opened = KRDocumentController::sharedDocumentController().openDocument(path);
    if (!opened) {
        // The gallery stays: the user can pick another project.
        if (opened.error().code() != KRDocument::NewerVersionCode)
            galleryAlert(QStringLiteral("The project “%1” could not be opened.").arg(QFileInfo(path).fileName()),
                         opened.error().message());
        return;
    }
    window()->close();
}

void KRGalleryWindowController::openSample()
{
    const int row = samplesTable->currentRow();
    if (row < 0 || row >= m_samples.size() || m_downloading)
        return;
    if (!m_samples.at(row)->isBundled() && !KRLinkPolicy::isWebAddress(m_samples.at(row)->url())) {
        refuseSampleAddress(m_samples.at(row));
        return;
    }
    m_downloadingSampleViewController = m_samples.at(row);
    QPointer<KRGalleryItemViewController> sample = m_samples.at(row);
    QPointer<KRGalleryWindowController> self(this);
    // The dialog says what it saves and offers the sample's name, which the service gives.
    QString shown = sample->projectName().simplified();
    shown.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    if (shown.size() > 60) {
        shown.truncate(59);
        if (shown.back().isHighSurrogate())
            shown.chop(1);
        shown = shown.trimmed() + QStringLiteral("…");
    }
    const QString title = shown.isEmpty() ? QStringLiteral("Save the Sample As")
                                          : QStringLiteral("Save the Sample “%1” As").arg(shown);
    const QString name = sample->projectName();
    KRApplicationDelegate::runSavePanel(window(), title, QStringLiteral("Save"), name, [self, sample](const QString &path) {
        if (!self || !sample || path.isEmpty())
            return;
        QString package = path;
        if (!package.endsWith(QLatin1String(".krproj")))
            package += QStringLiteral(".krproj");
        QString why;
        if (!self->prepareDestination(package, &why)) {
            galleryAlert(QStringLiteral("The sample cannot be saved as “%1”.").arg(QFileInfo(package).fileName()), why);
            return;
        }
        self->m_downloadingSampleViewController = sample;
        self->m_downloadDestinationPath = package;
        self->beginDownloadingSample();
    });
}

bool KRGalleryWindowController::prepareDestination(const QString &destination, QString *why) const
{
    const QFileInfo info(destination);
    if (info.isSymLink() || (info.exists() && !info.isDir())) {
        *why = QStringLiteral("Something that is not a project folder is in its place.");
        return false;
    }
    if (!info.exists())
        return true;
    if (KRDocumentController::sharedDocumentController().documentForPath(destination)) {
        *why = QStringLiteral("That project is open. Close it first or choose another name.");
        return false;
    }
    const bool empty = QDir(destination).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (!empty && !QFileInfo(destination + QStringLiteral("/project.xml")).isFile()) {
        *why = QStringLiteral("The folder is not a project package, and its contents would be lost.");
        return false;
    }
    return true;
}

void KRGalleryWindowController::setDownloading(bool downloading)
{
    m_downloading = downloading;
    cancelButton->setVisible(downloading);
    downloadBox->setVisible(downloading);
    dividerBox->setVisible(!downloading);
    recentProjectsLabel->setVisible(!downloading);
    sampleGalleryLabel->setVisible(!downloading);
    samplesTable->setVisible(!downloading && samplesLoadingBox->isHidden());
    recentProjectsTable->setVisible(!downloading && !m_welcomeMode);
    welcomeBox->setVisible(!downloading && m_welcomeMode);
    if (!downloading)
        downloadProgress->setValue(0);
    layoutViews();
}

void KRGalleryWindowController::beginDownloadingSample()
{
    if (!m_downloadingSampleViewController)
        return;
    // A sample that comes with the application is copied, never moved out of its folder.
    if (m_downloadingSampleViewController->isBundled()) {
        installSample(m_downloadingSampleViewController->url().toLocalFile(), false);
        return;
    }
    // The service's samples come over the web only: a local address would copy whatever
    // folder it names into the project.
    if (!KRLinkPolicy::isWebAddress(m_downloadingSampleViewController->url())) {
        refuseSampleAddress(m_downloadingSampleViewController);
        return;
    }
    setDownloading(true);
    downloadProgress->setValue(0);
    downloadLabel->setText(QStringLiteral("Downloading “%1”…").arg(m_downloadingSampleViewController->projectName()));
    m_downloadTemporaryPath = KRPaths::temporaryDirectory() + QStringLiteral("/Korvane-Sample-")
                              + QUuid::createUuid().toString(QUuid::WithoutBraces);
    auto request = NetHTTPRequest::requestWithURL(m_downloadingSampleViewController->url());
    request->setDownloadDestinationPath(m_downloadTemporaryPath);
    request->setMaximumResponseSize(MaximumSampleSize);
    request->setTotalDeadlineSeconds(SampleDownloadDeadlineSeconds);
    QPointer<KRGalleryWindowController> self(this);
    std::weak_ptr<NetHTTPRequest> weak = request;
    request->setBytesReceivedBlock([self](std::uint64_t size, std::uint64_t total) {
        if (self && total > 0)
            self->downloadProgress->setValue(int(std::min<std::uint64_t>(100, size * 100 / total)));
    });
    request->setFailedBlock([self, weak] {
        auto failed = weak.lock();
        if (!self)
            return;
        QString why = failed ? failed->error().message() : QString();
        if (failed && failed->error().code() == NetHTTPRequest::ResponseTooLargeErrorType)
            why = QStringLiteral("The sample is larger than %1 MB and was refused.").arg(MaximumSampleSize >> 20);
        else if (failed && failed->error().code() == NetHTTPRequest::RequestTimedOutErrorType)
            why = QStringLiteral("The download did not finish in time.");
        self->failDownload(QStringLiteral("The sample could not be downloaded."), why);
    });
    request->setCompletionBlock([self, weak] {
        auto finished = weak.lock();
        if (!self)
            return;
        if (finished && finished->responseStatusCode() >= 400) {
            self->failDownload(QStringLiteral("The sample could not be downloaded."),
                               QStringLiteral("The server answered with status %1.").arg(finished->responseStatusCode()));
            return;
        }
        self->downloadComplete();
    });
    m_downloadingRequest = request;
    request->startAsynchronous();
}

void KRGalleryWindowController::refuseSampleAddress(KRGalleryItemViewController *sample)
{
    galleryAlert(QStringLiteral("The sample cannot be downloaded."),
                 QStringLiteral("Its address, “%1”, is not a web address: samples are only downloaded over http or https.")
                     .arg(sample->url().toString(QUrl::FullyEncoded).left(200)));
}

void KRGalleryWindowController::removeDownloadFiles()
{
    if (!m_downloadTemporaryPath.isEmpty())
        QFile::remove(m_downloadTemporaryPath);
    if (!m_unzipTemporaryPath.isEmpty())
        QDir(m_unzipTemporaryPath).removeRecursively();
    m_downloadTemporaryPath.clear();
    m_unzipTemporaryPath.clear();
}

void KRGalleryWindowController::failDownload(const QString &message, const QString &informative)
{
    m_downloadingRequest.reset();
    removeDownloadFiles();
    galleryAlert(message, informative);
    setDownloading(false);
}

void KRGalleryWindowController::downloadComplete()
{
    m_downloadingRequest.reset();
    m_unzipTemporaryPath = KRPaths::temporaryDirectory() + QStringLiteral("/Korvane-Unzipped-Sample-")
                           + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!QZZipArchive::unzipFileAtPath(m_downloadTemporaryPath, m_unzipTemporaryPath)) {
        failDownload(QStringLiteral("The sample could not be unpacked."));
        return;
    }
    QString package;
    const QFileInfoList entries = QDir(m_unzipTemporaryPath).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName().endsWith(QLatin1String("krproj")) && entry.isDir() && !entry.isSymLink()) {
            package = entry.absoluteFilePath();
            break;
        }
    }
    if (package.isEmpty()) {
        failDownload(QStringLiteral("The sample contains no project."));
        return;
    }
    installSample(package, true);
}

void KRGalleryWindowController::installSample(const QString &package, bool move)
{
    // A copy never goes into the sample itself, nor around it: emptying the destination
    // would delete what is to be copied.
    const QString source = QFileInfo(package).canonicalFilePath();
    const QString canonical = KRFileManager::canonicalPathAllowingMissing(m_downloadDestinationPath);
    if (!move && (KRFileManager::isSameOrInside(canonical, source) || KRFileManager::isSameOrInside(source, canonical))) {
        failDownload(QStringLiteral("The sample cannot be saved as “%1”.").arg(QFileInfo(m_downloadDestinationPath).fileName()),
                     QStringLiteral("That is the sample itself. Choose another folder."));
        return;
    }
    // Checked again: the folder may have changed while the sample downloaded.
    QString why;
    if (!prepareDestination(m_downloadDestinationPath, &why)) {
        failDownload(QStringLiteral("The sample cannot be saved as “%1”.").arg(QFileInfo(m_downloadDestinationPath).fileName()), why);
        return;
    }
    QDir destination(m_downloadDestinationPath);
    if (destination.exists()) {
        for (const QFileInfo &item : destination.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            const bool removed = item.isDir() && !item.isSymLink() ? QDir(item.absoluteFilePath()).removeRecursively()
                                                                   : QFile::remove(item.absoluteFilePath());
            if (!removed) {
                failDownload(QStringLiteral("“%1” could not be removed.").arg(item.fileName()));
                return;
            }
        }
    } else if (!QDir().mkpath(m_downloadDestinationPath)) {
        failDownload(QStringLiteral("The folder “%1” could not be created.").arg(m_downloadDestinationPath));
        return;
    }
    for (const QFileInfo &item : QDir(package).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QString target = m_downloadDestinationPath + QLatin1Char('/') + item.fileName();
        if (!(move ? galleryMoveItem(item.absoluteFilePath(), target, source, &why)
                   : galleryCopyItem(item.absoluteFilePath(), target, source, &why))) {
            failDownload(QStringLiteral("“%1” could not be %2 into the project.")
                             .arg(item.fileName(), move ? QStringLiteral("moved") : QStringLiteral("copied")),
                         why);
            return;
        }
    }
    removeDownloadFiles();
    const auto opened = KRDocumentController::sharedDocumentController().openDocument(m_downloadDestinationPath);
    if (!opened) {
        failDownload(QStringLiteral("The sample could not be opened."), opened.error().message());
        return;
    }
    m_downloading = false;
    QTimer::singleShot(0, window(), &QWidget::close);
}

void KRGalleryWindowController::cancelAction()
{
    if (m_downloadingRequest) {
        m_downloadingRequest->clearDelegatesAndCancel();
        m_downloadingRequest.reset();
    }
    removeDownloadFiles();
    setDownloading(false);
}

void KRGalleryWindowController::quitAction()
{
    if (KRApplicationDelegate *delegate = KRApplicationDelegate::shared())
        delegate->terminateAction();
    else
        QCoreApplication::quit();
}

bool KRGalleryWindowController::windowShouldClose()
{
    if (m_downloading)
        return false;
    // Nothing else on screen: closing the gallery ends the application.
    if (!KRDocumentController::sharedDocumentController().hasVisibleWindows())
        QTimer::singleShot(0, this, &KRGalleryWindowController::quitAction);
    return true;
}

bool KRGalleryWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == contentView && event->type() == QEvent::Resize)
        layoutViews();
    if (watched == window() && event->type() == QEvent::Close) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        QTimer::singleShot(0, this, &KRGalleryWindowController::windowClosed);
    }
    return KRWindowControllerBase::eventFilter(watched, event);
}

void KRGalleryWindowController::layoutViews()
{
    const int width = contentView->width();
    const int height = contentView->height();
    const Layout layout = layoutForWidth(width, GalleryDividerWidth);
    const int listTop = GalleryTopHeight;
    const int listHeight = std::max(0, height - GalleryTopHeight - GalleryBottomHeight);
    titleLabel->setGeometry(0, 8, width, 44);
    recentProjectsLabel->setGeometry(16, 58, int(layout.recentWidth) - 16, 24);
    sampleGalleryLabel->setGeometry(int(std::lround(layout.samplesX)) + 16, 58, int(layout.samplesWidth) - 16, 24);
    const QRect recent(0, listTop, int(std::lround(layout.recentWidth)), listHeight);
    const QRect samples(int(std::lround(layout.samplesX)), listTop, width - int(std::lround(layout.samplesX)), listHeight);
    recentProjectsTable->setGeometry(recent);
    welcomeBox->setGeometry(recent);
    dividerBox->setGeometry(int(layout.dividerX), listTop, GalleryDividerWidth, listHeight);
    samplesTable->setGeometry(samples);
    samplesLoadingBox->setGeometry(samples);
    progressIndicator->move((samples.width() - progressIndicator->width()) / 2, (samples.height() - progressIndicator->height()) / 2);
    samplesLoadingLabel->setGeometry(0, samples.height() / 2 + 24, samples.width(), 24);
    downloadBox->setGeometry(0, listTop, width, listHeight);
    downloadProgress->move((width - downloadProgress->width()) / 2, (listHeight - downloadProgress->height()) / 2);
    downloadLabel->setGeometry(0, listHeight / 2 + 24, width, 24);
    quitButton->setGeometry(width - 96, height - 38, 80, 28);
    samplesNoticeLabel->setGeometry(16, height - GalleryBottomHeight + 2, std::max(0, width - 216), GalleryBottomHeight - 4);
    cancelButton->setGeometry(width - 184, height - 38, 80, 28);
}
