#pragma once

#include <QListWidget>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QUrl>

#include <cstdint>
#include <memory>

class KRCornerBadgeView;
class KRPopover;
class NetHTTPRequest;
class QLabel;
class QPushButton;
class QWidget;

// One row of the gallery's lists ("KRGalleryItemView"): thumbnail, name, description, an Open
// button on the selected row, tutorial buttons when the row has a tutorial, and the "New"
// corner ribbon. A thumbnail from the web is fetched once and kept in the permanent response
// cache. The Tutorial button opens only web addresses (http, https) in the browser; another
// address is refused with an alert that says why.
class KRGalleryItemViewController : public QObject
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 96;
    // The size the thumbnail is drawn at (a picture is scaled to fit it).
    static constexpr QSize ThumbnailSize{96, 64};

    explicit KRGalleryItemViewController(QObject *parent = nullptr);
    ~KRGalleryItemViewController() override;

    QWidget *view() const { return m_view; }

    void setProjectName(const QString &name);
    QString projectName() const;
    void setProjectDescription(const QString &description);
    QString projectDescription() const;

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    bool showNewBadge() const { return m_showNewBadge; }
    void setShowNewBadge(bool show);

    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url) { m_url = url; }
    QUrl imageUrl() const { return m_imageUrl; }
    void setImageUrl(const QUrl &url) { m_imageUrl = url; }
    QUrl imageThumbUrl() const { return m_imageThumbUrl; }
    void setImageThumbUrl(const QUrl &url);
    QUrl tutorialUrl() const { return m_tutorialUrl; }
    void setTutorialUrl(const QUrl &url);
    // A sample that comes with the application (its address is its folder), not one of the
    // service's, whose addresses are only ever web addresses.
    bool isBundled() const { return m_bundled; }
    void setBundled(bool bundled) { m_bundled = bundled; }

    // The largest thumbnail taken from the web, and how long fetching one may take.
    static constexpr std::uint64_t MaximumThumbnailSize = std::uint64_t(5) << 20;
    static constexpr double ThumbnailDeadlineSeconds = 60;

    int rowNumber() const { return m_rowNumber; }
    void setRowNumber(int row) { m_rowNumber = row; }
    void setTableView(QListWidget *table) { m_tableView = table; }
    bool hasThumbnail() const;

    // Outlets.
    QPushButton *imageButton = nullptr;
    QPushButton *openButton = nullptr;
    QPushButton *tutorialButton = nullptr;
    QPushButton *tutorialLabelButton = nullptr;
    QLabel *nameLabel = nullptr;
    QLabel *descriptionLabel = nullptr;
    KRCornerBadgeView *badge = nullptr;

    void tutorialClickAction();
    void imageClickAction();
    void openButtonClickAction();

signals:
    // Open was clicked: the same as a double click on the row.
    void openRequested(KRGalleryItemViewController *row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void selectInTable();

    QPointer<QWidget> m_view;
    QPointer<QListWidget> m_tableView;
    QPointer<KRPopover> m_popover;
    std::shared_ptr<NetHTTPRequest> m_imageLoader;
    QUrl m_url;
    QUrl m_imageUrl;
    QUrl m_imageThumbUrl;
    QUrl m_tutorialUrl;
    int m_rowNumber = 0;
    bool m_selected = false;
    bool m_showNewBadge = false;
    bool m_bundled = false;
};
