#pragma once

#include <ui/KRUIColors.h>

#include <QColor>
#include <QFont>
#include <QSizeF>
#include <QString>
#include <QWidget>

// A red ribbon across the top-left corner, cut along the diagonal from the bottom-left to the
// top-right corner, with "New" written along that diagonal. Its look is fixed when created.
class KRCornerBadgeView : public QWidget
{
    Q_OBJECT

public:
    struct TextAttributes {
        QFont font;
        QColor color;
    };

    explicit KRCornerBadgeView(QWidget *parent = nullptr);
    ~KRCornerBadgeView() override;

    QString label() const { return m_label; }
    TextAttributes textAttributes() const { return m_textAttributes; }
    QSizeF labelSize() const { return m_labelSize; }
    QColor fillColor() const { return m_fillColor; }
    KRGradient gradient() const { return m_gradient; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const QString m_label;
    const TextAttributes m_textAttributes;
    const QSizeF m_labelSize;
    const QColor m_fillColor;
    const KRGradient m_gradient;
};
