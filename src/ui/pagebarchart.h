#pragma once

#include "pagesummary.h"

#include <QList>
#include <QWidget>

#include <array>

namespace tallivo {

// Pages per size class as horizontal bars, each split by colour class,
// drawn with QPainter.
class PageBarChart final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageBarChart)
public:
    // More sizes than this: the ones with the fewest pages share a last bar.
    static constexpr int kMaxBars = 12;

    struct Bar
    {
        QString label;
        std::array<qint64, kColourClassCount> pages{}; // indexed by ColourClass
        qint64 total = 0;
    };

    explicit PageBarChart(QWidget *parent = nullptr);

    void setTable(const PageTable &table);
    const QList<Bar> &bars() const { return m_bars; }

    // Where the part of a bar for one colour class is drawn; empty when that
    // class has no pages there.
    QRectF segmentRect(int bar, ColourClass colour) const;
    static QColor colourOf(ColourClass colour);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Layout
    {
        qreal labelWidth = 0;
        qreal barLeft = 0;
        qreal barWidth = 0; // of the longest bar
        qreal rowHeight = 0;
        qreal top = 0;
    };
    Layout layout() const;

    QList<Bar> m_bars;
    qint64 m_maxTotal = 0;
};

} // namespace tallivo
