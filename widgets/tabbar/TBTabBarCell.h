#pragma once

// The state of one tab of a tab bar: title, frame, selection marks, close-button state,
// counter, icon flags, spinner, overflow and placeholder marks. A cell draws and measures
// nothing itself: it asks its bar's style.

#include <widgets/tabbar/TBTabBarTypes.h>

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QSizeF>

#include <widgets/tabbar/TBTabBarButtons.h>
class TBTabBarControl;
class TBTabViewItem;

class TBTabBarCell
{
public:
    explicit TBTabBarCell(TBTabBarControl *control);
    // A drop placeholder of a tab drag; a collapsed one has no extent along the bar.
    TBTabBarCell(const QRectF &frame, bool expanded, TBTabBarControl *control);
    ~TBTabBarCell();
    TBTabBarCell(const TBTabBarCell &) = delete;
    TBTabBarCell &operator=(const TBTabBarCell &) = delete;

    TBTabBarControl *controlView() const { return m_control; }
    void setControlView(TBTabBarControl *control) { m_control = control; }
    TBTabViewItem *representedItem() const { return m_item; }
    void setRepresentedItem(TBTabViewItem *item) { m_item = item; }

    QRectF frame() const { return m_frame; }
    void setFrame(const QRectF &frame);
    double width() const { return m_frame.width(); }

    QString stringValue() const { return m_title; }
    // Caches the size of the styled title and relays out the bar.
    void setStringValue(const QString &title);
    QSizeF stringSize() const { return m_stringSize; }
    TBStyledText attributedStringValue() const;

    // On (1) for the selected tab, off (0) otherwise.
    int state() const { return m_state; }
    void setState(int state) { m_state = state; }
    long tabState() const { return m_tabState; }
    void setTabState(long tabState) { m_tabState = tabState; }
    // The mouse is over the tab.
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted) { m_highlighted = highlighted; }

    bool isInOverflowMenu() const { return m_inOverflowMenu; }
    // Tells the bar's delegate when the mark changes.
    void setIsInOverflowMenu(bool value);

    bool closeButtonPressed() const { return m_closeButtonPressed; }
    void setCloseButtonPressed(bool value) { m_closeButtonPressed = value; }
    // The mouse is over the close button and the button works for this tab now.
    bool closeButtonOver() const;
    bool closeButtonOverRaw() const { return m_closeButtonOver; }
    void setCloseButtonOver(bool value) { m_closeButtonOver = value; }
    bool hasCloseButton() const { return m_hasCloseButton; }
    void setHasCloseButton(bool value) { m_hasCloseButton = value; }
    bool isCloseButtonSuppressed() const { return m_closeButtonSuppressed; }
    void setCloseButtonSuppressed(bool value) { m_closeButtonSuppressed = value; }
    bool hasIcon() const { return m_hasIcon; }
    void setHasIcon(bool value) { m_hasIcon = value; }
    bool hasLargeImage() const { return m_hasLargeImage; }
    void setHasLargeImage(bool value) { m_hasLargeImage = value; }
    long count() const { return m_count; }
    void setCount(long count) { m_count = count; }
    QColor countColor() const { return m_countColor; }
    void setCountColor(const QColor &color) { m_countColor = color; }
    bool isEdited() const { return m_edited; }
    void setEdited(bool value) { m_edited = value; }
    bool isPlaceholder() const { return m_placeholder; }
    int currentStep() const { return m_currentStep; }
    void setCurrentStep(int step) { m_currentStep = std::clamp(step, 0, 7); }

    TBProgressIndicator *indicator() const { return m_indicator; }
    bool indicatorVisible() const;

    QRectF indicatorRectForFrame(const QRectF &frame) const;
    QRectF closeButtonRectForFrame(const QRectF &frame) const;
    double minimumWidthOfCell() const;
    double desiredWidthOfCell() const;

    // Help text: the title, or "title, count word" when the delegate names the counted objects.
    QString accessibilityHelp() const;
    bool accessibilityFocused() const { return (m_tabState & TBTabState::Selected) != 0; }

private:
    TBTabBarControl *m_control;
    TBTabViewItem *m_item = nullptr;
    QRectF m_frame;
    QSizeF m_stringSize;
    QString m_title;
    int m_currentStep = 0;
    bool m_placeholder = false;
    long m_tabState = 0;
    int m_state = 0;
    bool m_highlighted = false;
    bool m_closeButtonOver = false;
    bool m_closeButtonPressed = false;
    QPointer<TBProgressIndicator> m_indicator;
    bool m_inOverflowMenu = false;
    bool m_hasCloseButton = true;
    bool m_closeButtonSuppressed = false;
    bool m_hasIcon = false;
    bool m_hasLargeImage = false;
    long m_count = 0;
    QColor m_countColor;
    bool m_edited = false;
};
