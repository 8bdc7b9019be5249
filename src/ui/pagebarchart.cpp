#include "pagebarchart.h"

#include <QPainter>
#include <QPaintEvent>

#include <algorithm>

namespace tallivo {
namespace {

constexpr ColourClass kDrawOrder[] = {ColourClass::BlackWhite, ColourClass::Grey,
                                      ColourClass::Colour, ColourClass::Unknown};
constexpr int kMargin = 8;

} // namespace

PageBarChart::PageBarChart(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void PageBarChart::setTable(const PageTable &table)
{
    const qsizetype barsBefore = m_bars.size();
    m_bars.clear();
    const std::vector<PageTable::Row> rows = table.rows();
    // Which rows get a bar of their own: the ones with the most pages.
    std::vector<size_t> byPages(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        byPages[i] = i;
    std::stable_sort(byPages.begin(), byPages.end(),
                     [&rows](size_t a, size_t b) { return rows[a].total > rows[b].total; });
    std::vector<bool> own(rows.size(), rows.size() <= size_t(kMaxBars));
    if (rows.size() > size_t(kMaxBars))
        for (size_t i = 0; i + 1 < size_t(kMaxBars); ++i)
            own[byPages[i]] = true;
    Bar rest;
    rest.label = tr("other sizes");
    for (size_t i = 0; i < rows.size(); ++i) {
        Bar &bar = own[i] ? m_bars.emplace_back() : rest;
        if (own[i])
            bar.label = rows[i].size.label();
        for (size_t c = 0; c < bar.pages.size(); ++c)
            bar.pages[c] += rows[i].pages[c];
        bar.total += rows[i].total;
    }
    if (rest.total > 0)
        m_bars << rest;
    m_maxTotal = 0;
    for (const Bar &bar : std::as_const(m_bars))
        m_maxTotal = qMax(m_maxTotal, bar.total);
    updateGeometry();
    if (m_bars.size() != barsBefore)
        updateGeometry();
    update();
}

QColor PageBarChart::colourOf(ColourClass colour)
{
    switch (colour) {
    case ColourClass::BlackWhite:
        return QColor(0x30, 0x30, 0x30);
    case ColourClass::Grey:
        return QColor(0x9a, 0x9a, 0x9a);
    case ColourClass::Colour:
        return QColor(0x2a, 0x7a, 0xd0);
    case ColourClass::Unknown:
        break;
    }
    return QColor(0xd8, 0xc8, 0x90);
}

PageBarChart::Layout PageBarChart::layout() const
{
    Layout l;
    const QFontMetricsF fm(font());
    qreal widest = 0;
    for (const Bar &bar : m_bars)
        widest = qMax(widest, fm.horizontalAdvance(bar.label));
    l.labelWidth = widest;
    l.barLeft = kMargin + widest + kMargin;
    // Room on the right for the largest total.
    const qreal numberWidth = fm.horizontalAdvance(QString::number(m_maxTotal)) + kMargin;
    l.barWidth = qMax<qreal>(0, width() - l.barLeft - numberWidth - kMargin);
    l.rowHeight = fm.height() * 1.6;
    l.top = kMargin + fm.height() * 1.8; // below the legend
    return l;
}

QRectF PageBarChart::segmentRect(int bar, ColourClass colour) const
{
    if (bar < 0 || bar >= m_bars.size() || m_maxTotal <= 0)
        return {};
    const Layout l = layout();
    const Bar &b = m_bars[bar];
    qreal x = l.barLeft;
    for (ColourClass c : kDrawOrder) {
        const qreal w = l.barWidth * qreal(b.pages[size_t(c)]) / qreal(m_maxTotal);
        if (c == colour)
            return b.pages[size_t(c)] > 0
                       ? QRectF(x, l.top + bar * l.rowHeight + l.rowHeight * 0.15, w,
                                l.rowHeight * 0.7)
                       : QRectF();
        x += w;
    }
    return {};
}

QSize PageBarChart::sizeHint() const
{
    const QFontMetrics fm(font());
    const int rows = int(qMax<qsizetype>(m_bars.size(), 3));
    return QSize(480, int(kMargin * 2 + fm.height() * 1.8 + rows * fm.height() * 1.6));
}

QSize PageBarChart::minimumSizeHint() const
{
    // Every bar, the last ("unknown size") included: a scroll area around
    // the chart scrolls rather than cut them off.
    return QSize(240, sizeHint().height());
}

void PageBarChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetricsF fm(font());
    const QPalette pal = palette();

    // Legend.
    qreal x = kMargin;
    const qreal box = fm.height() * 0.7;
    for (ColourClass c : kDrawOrder) {
        p.fillRect(QRectF(x, kMargin + (fm.height() - box) / 2, box, box), colourOf(c));
        x += box + 4;
        const QString label = colourLabel(c);
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(QPointF(x, kMargin + fm.ascent()), label);
        x += fm.horizontalAdvance(label) + 2 * kMargin;
    }

    if (m_bars.isEmpty()) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(rect(), Qt::AlignCenter, tr("No pages"));
        return;
    }
    const Layout l = layout();
    for (int i = 0; i < m_bars.size(); ++i) {
        const Bar &bar = m_bars[i];
        const qreal rowTop = l.top + i * l.rowHeight;
        const QRectF labelRect(kMargin, rowTop, l.labelWidth, l.rowHeight);
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(labelRect, Qt::AlignRight | Qt::AlignVCenter, bar.label);
        qreal end = l.barLeft;
        for (ColourClass c : kDrawOrder) {
            const QRectF r = segmentRect(i, c);
            if (r.isEmpty())
                continue;
            p.fillRect(r, colourOf(c));
            end = r.right();
        }
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(QRectF(end + 4, rowTop, width() - end, l.rowHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, QString::number(bar.total));
    }
}

} // namespace tallivo
