#pragma once

#include <ui/KRWindowControllerBase.h>

#include <QJsonArray>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

class KRGalleryItemViewController;
class NetHTTPRequest;
class QFrame;
class QLabel;
class QListWidget;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QWebEngineView;

// The start gallery ("KRGalleryWindow"): on the left the recent projects (or the welcome
// page), on the right the samples of the hosting service. Double-clicking a recent project
// opens it; double-clicking a sample downloads its archive, unpacks it into a package folder
// the user names, and opens that. Without samples from the service, the samples that come
// with the application are listed; one opens as a copy in a folder the user names.
//
// A new gallery shows the recent projects; the welcome page shows when asked (first run,
// the Welcome command) and links back to the list. An open that fails keeps the gallery and
// says why. A sample is only ever unpacked into a new folder, an empty one, or an existing
// project package that is not open. The service's samples are only downloaded from web
// addresses (http, https); when the service's list cannot be had, the gallery says why under
// the lists.
class KRGalleryWindowController : public KRWindowControllerBase
{
    Q_OBJECT

public:
    // The frames of the resize rule for a window width W and a divider width D: the list
    // halves meet at W/2.
    struct Layout {
        double dividerX;
        double recentWidth;
        double samplesX;
        double samplesWidth;
    };
    static Layout layoutForWidth(double width, double dividerWidth);

    explicit KRGalleryWindowController(QObject *parent = nullptr);
    ~KRGalleryWindowController() override;

    QMainWindow *mainWindow() const;

    void showWelcome();
    void showRecentProjects();
    bool welcomeMode() const { return m_welcomeMode; }

    void loadSampleTable();
    // Lists the samples that come with the application (when the service gives none, or no
    // service address is set); opening one copies it into a folder the user names.
    void loadBundledSamples();
    void downloadSampleGallery();
    void openRecent();
    void openSample();
    void beginDownloadingSample();
    void downloadComplete();
    void cancelAction();
    void quitAction();
    bool isDownloading() const { return m_downloading; }
    void setDownloading(bool downloading);
    // Whether the window may close now (never while a sample downloads); with no open
    // project, closing it quits.
    bool windowShouldClose();

    QList<KRGalleryItemViewController *> recentProjects() const { return m_recentProjects; }
    QList<KRGalleryItemViewController *> samples() const { return m_samples; }
    QString downloadDestination() const { return m_downloadDestinationPath; }

    // The samples of the last successful reply, kept for the process (tests reset it).
    static std::optional<QJsonArray> heldSamples();
    static void setHeldSamples(std::optional<QJsonArray> samples);
    // A sample address resolved against the site address.
    static QUrl resolveSampleURL(const QString &address);
    // The project packages of the resources' "samples" folder, by name.
    static QStringList bundledSamplePaths();

    // The largest sample archive taken from the service, and how long its download may take.
    static constexpr std::uint64_t MaximumSampleSize = std::uint64_t(200) << 20;
    static constexpr double SampleDownloadDeadlineSeconds = 30 * 60;

    // Outlets.
    QLabel *titleLabel = nullptr;
    QLabel *recentProjectsLabel = nullptr;
    QLabel *sampleGalleryLabel = nullptr;
    QListWidget *recentProjectsTable = nullptr;
    QListWidget *samplesTable = nullptr;
    QFrame *dividerBox = nullptr;
    QWidget *welcomeBox = nullptr;
    QWebEngineView *welcomeWebView = nullptr;
    QWidget *samplesLoadingBox = nullptr;
    QLabel *samplesLoadingLabel = nullptr;
    // Why the service's samples are not listed, when asking for them failed.
    QLabel *samplesNoticeLabel = nullptr;
    QProgressBar *progressIndicator = nullptr;
    QWidget *downloadBox = nullptr;
    QProgressBar *downloadProgress = nullptr;
    QLabel *downloadLabel = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *quitButton = nullptr;
    QWidget *contentView = nullptr;

    // The window's edit commands; on the welcome page, Copy and Select All work on its text.
    bool performMenuCommand(const QString &identifier) override;
    bool validateMenuCommand(const QString &identifier, QAction *action) override;

signals:
    void windowClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildRecentProjects();
    // Makes the recent projects' rows again when the list has changed since they were made.
    void reloadRecentProjects();
    void layoutViews();
    void selectionChanged(QListWidget *table, int row);
    KRGalleryItemViewController *addRow(QListWidget *table, QList<KRGalleryItemViewController *> &rows);
    // A row for a project package on disk: its address, its preview picture when it has one, its name.
    KRGalleryItemViewController *addPackageRow(QListWidget *table, QList<KRGalleryItemViewController *> &rows, const QString &path);
    bool prepareDestination(const QString &destination, QString *why) const;
    // Fills the chosen destination with the package's contents (moved from an unpacked
    // download, copied from the application's samples) and opens it.
    void installSample(const QString &package, bool move);
    void failDownload(const QString &message, const QString &informative = {});
    void refuseSampleAddress(KRGalleryItemViewController *sample);
    void removeDownloadFiles();
    bool acceptWelcomeNavigation(const QUrl &url);
    bool welcomePageHasFocus() const;

    QList<KRGalleryItemViewController *> m_recentProjects;
    // The paths the recent projects' rows were made from.
    QStringList m_recentPaths;
    QList<KRGalleryItemViewController *> m_samples;
    bool m_welcomeMode = false;
    bool m_openURLsExternally = false;
    bool m_downloading = false;
    std::shared_ptr<NetHTTPRequest> m_downloadingRequest;
    QPointer<KRGalleryItemViewController> m_downloadingSampleViewController;
    QString m_downloadDestinationPath;
    QString m_downloadTemporaryPath;
    QString m_unzipTemporaryPath;
    bool m_closing = false;
};
