#include "plotwidget.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace lumo {

namespace {

constexpr int kLeft = 70, kRight = 16, kTop = 30, kBottom = 34;
constexpr std::int64_t kShortestMs = 10 * 60'000LL;
constexpr std::int64_t kLongestMs = 20LL * 366 * 24 * 3'600'000LL;

QString valueText(double value) { return QString::number(value, 'g', 6); }

QString momentText(const history::LocalTime& t)
{
    return QString::fromStdString(history::dayText(t) + ' ' + history::clockText(t)) +
           QStringLiteral(":%1").arg(t.second, 2, 10, QLatin1Char('0'));
}

}  // namespace

QColor seriesColour(int index)
{
    // Far apart in hue and easy to tell on white, also for the common
    // colour blindnesses (the Okabe-Ito set, then a few more).
    static const QColor colours[] = {
        QColor(0, 114, 178),  QColor(213, 94, 0),  QColor(0, 158, 115),  QColor(204, 121, 167),
        QColor(230, 159, 0),  QColor(86, 180, 233), QColor(0, 0, 0),     QColor(120, 80, 30),
        QColor(120, 120, 120), QColor(140, 40, 180),
    };
    return colours[static_cast<std::size_t>(index) % std::size(colours)];
}

PlotWidget::PlotWidget(history::ToLocal toLocal, history::FromLocal fromLocal, QWidget* parent)
    : QWidget(parent), toLocal_(std::move(toLocal)), fromLocal_(std::move(fromLocal))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(480, 260);
    setAccessibleName(QStringLiteral("趋势图"));
    setAccessibleDescription(QStringLiteral("滚轮缩放，拖动平移；左右键平移，加减键缩放"));
}

void PlotWidget::setData(std::vector<PlotSeries> series, std::int64_t fromMs, std::int64_t toMs,
                         const QString& quantity, const QString& unit)
{
    series_ = std::move(series);
    quantity_ = quantity;
    unit_ = unit;
    notice_.clear();
    setRange(fromMs, toMs);
}

void PlotWidget::setRange(std::int64_t fromMs, std::int64_t toMs)
{
    fromMs_ = fromMs;
    toMs_ = std::max(fromMs + 1, toMs);
    update();
    tellPointer();
}

// Under a pointer that stays put, a new range or new data is another
// moment: its text is told afresh, or none when the pointer is not over
// the plot (a text left from before would describe what is no longer there).
void PlotWidget::tellPointer()
{
    const QPoint at = mapFromGlobal(QCursor::pos());
    const QRect area = plotArea();
    if (!underMouse() || !area.contains(at)) {
        emit pointerText(QString());
        return;
    }
    const QString text = textAt(msAt(at.x(), area));
    setAccessibleDescription(text);
    emit pointerText(text);
}

void PlotWidget::setNotice(const QString& notice)
{
    notice_ = notice;
    update();
}

int PlotWidget::bucketsWanted() const { return std::max(50, plotArea().width() / 2); }

QRect PlotWidget::plotArea() const
{
    return QRect(kLeft, kTop, std::max(10, width() - kLeft - kRight), std::max(10, height() - kTop - kBottom));
}

double PlotWidget::xOf(std::int64_t ms, const QRect& area) const
{
    return area.left() + static_cast<double>(ms - fromMs_) * area.width() / static_cast<double>(toMs_ - fromMs_);
}

std::int64_t PlotWidget::msAt(double x, const QRect& area) const
{
    return fromMs_ + static_cast<std::int64_t>((x - area.left()) * static_cast<double>(toMs_ - fromMs_) / area.width());
}

history::ValueTicks PlotWidget::valueAxis() const
{
    double low = INFINITY, high = -INFINITY;
    for (const PlotSeries& s : series_)
        for (const history::TrendPoint& p : s.data.points)
            if (p.toMs > fromMs_ && p.fromMs < toMs_ && std::isfinite(p.spread.min) && std::isfinite(p.spread.max)) {
                low = std::min(low, static_cast<double>(p.spread.min));
                high = std::max(high, static_cast<double>(p.spread.max));
            }
    if (!std::isfinite(low))
        low = high = 0;
    return history::valueTicks(low, high, std::max(3, plotArea().height() / 40));
}

void PlotWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QRect area = plotArea();
    const history::ValueTicks ticks = valueAxis();
    painter.setClipRect(area);
    // Alarm periods: a pale red over the whole height, and a strip in the
    // instrument's colour along the top, so overlaid instruments tell apart.
    for (const PlotSeries& s : series_) {
        for (const history::Span& span : s.data.alarms) {
            const double x1 = std::max<double>(area.left(), xOf(span.fromMs, area));
            const double x2 = std::min<double>(area.right(), std::max(x1 + 2, xOf(span.toMs, area)));
            if (x2 <= area.left() || x1 >= area.right())
                continue;
            painter.fillRect(QRectF(x1, area.top(), x2 - x1, area.height()), QColor(255, 0, 0, 28));
            painter.fillRect(QRectF(x1, area.top(), x2 - x1, 5), s.colour);
        }
    }
    painter.setClipping(false);
    drawAxes(painter, area, ticks);
    painter.setClipRect(area.adjusted(0, 0, 1, 1));
    drawSeries(painter, area, ticks);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipping(false);
    drawLegend(painter, area);
    if (!notice_.isEmpty()) {
        painter.setPen(Qt::darkGray);
        painter.drawText(area, Qt::AlignCenter, notice_);
    }
}

void PlotWidget::drawAxes(QPainter& painter, const QRect& area, const history::ValueTicks& ticks) const
{
    const QFontMetrics metrics = fontMetrics();
    const auto yOf = [&](double v) { return area.bottom() - (v - ticks.low) * area.height() / (ticks.high - ticks.low); };
    for (const double value : ticks.values) {
        const double y = yOf(value);
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(Qt::black);
        const QString label = QString::number(value, 'f', ticks.decimals);
        painter.drawText(QRectF(0, y - metrics.height() / 2.0, kLeft - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, label);
    }
    const int most = std::max(2, area.width() / std::max(60, metrics.horizontalAdvance(QStringLiteral("00-00 00:00"))));
    for (const history::TimeTick& tick : history::timeTicks(fromMs_, toMs_, most, toLocal_, fromLocal_)) {
        const double x = xOf(tick.atMs, area);
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        painter.setPen(Qt::black);
        painter.drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() + 4));
        const QString label = QString::fromStdString(tick.label);
        const int w = metrics.horizontalAdvance(label);
        painter.drawText(QRectF(x - w / 2.0 - 2, area.bottom() + 6, w + 4, metrics.height()), Qt::AlignCenter, label);
    }
    painter.setPen(QColor(120, 120, 120));
    painter.drawRect(area);
}

// Only what is in view is drawn (a drag has the neighbouring range at hand
// too).
void PlotWidget::drawSeries(QPainter& painter, const QRect& area, const history::ValueTicks& ticks) const
{
    const auto yOf = [&](double v) { return area.bottom() - (v - ticks.low) * area.height() / (ticks.high - ticks.low); };
    for (const PlotSeries& s : series_) {
        const auto& points = s.data.points;
        const auto first = std::upper_bound(points.begin(), points.end(), fromMs_,
                                            [](std::int64_t ms, const history::TrendPoint& p) { return ms < p.toMs; });
        const auto last = std::lower_bound(first, points.end(), toMs_,
                                           [](const history::TrendPoint& p, std::int64_t ms) { return p.fromMs < ms; });
        QColor fill = s.colour;
        fill.setAlpha(60);
        // The band: rectangles of whole pixels side by side, points that
        // share a pixel column joined into one (nothing blended twice);
        // much cheaper to fill than one polygon of them all.
        QRect column;
        for (auto p = first; p != last; ++p) {
            const int x1 = static_cast<int>(std::lround(xOf(p->fromMs, area)));
            const int x2 = std::max(x1 + 1, static_cast<int>(std::lround(xOf(p->toMs, area))));
            const int top = static_cast<int>(std::lround(yOf(p->spread.max)));
            const int bottom = static_cast<int>(std::lround(yOf(p->spread.min)));
            const QRect here(QPoint(x1, top), QPoint(x2 - 1, std::max(top, bottom)));
            if (column.isValid() && x1 <= column.right()) {
                column = column.united(here);
                continue;
            }
            if (column.isValid())
                painter.fillRect(column, fill);
            column = here;
        }
        if (column.isValid())
            painter.fillRect(column, fill);
        // The mean: a line through runs of points that touch, one pixel
        // wide and smoothed (the cosmetic pen is the fast one).
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(s.colour, 0));
        for (auto begin = first; begin != last;) {
            auto end = std::next(begin);
            while (end != last && end->fromMs <= std::prev(end)->toMs)
                ++end;
            QPolygonF line;
            for (auto p = begin; p != end; ++p) {
                const double y = yOf(p->spread.mean);
                if (std::next(begin) == end)
                    line << QPointF(xOf(p->fromMs, area), y) << QPointF(xOf(p->toMs, area), y);
                else
                    line << QPointF((xOf(p->fromMs, area) + xOf(p->toMs, area)) / 2, y);
            }
            painter.drawPolyline(line);
            // A second pixel below: the line stands out from the band.
            line.translate(0, 1);
            painter.drawPolyline(line);
            begin = end;
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
}

void PlotWidget::drawLegend(QPainter& painter, const QRect& area) const
{
    const QFontMetrics metrics = fontMetrics();
    int x = area.left();
    const int y = (kTop - metrics.height()) / 2;
    painter.setPen(Qt::black);
    const QString title = unit_.isEmpty() ? quantity_ : quantity_ + QStringLiteral("（") + unit_ + QStringLiteral("）");
    painter.drawText(QPoint(x, y + metrics.ascent()), title);
    x += metrics.horizontalAdvance(title) + 16;
    for (const PlotSeries& s : series_) {
        painter.fillRect(QRect(x, y + 2, 22, metrics.height() - 4), [&] {
            QColor fill = s.colour;
            fill.setAlpha(60);
            return fill;
        }());
        painter.setPen(QPen(s.colour, 2));
        painter.drawLine(x, y + metrics.height() / 2, x + 22, y + metrics.height() / 2);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(x + 26, y + metrics.ascent()), s.name);
        x += 26 + metrics.horizontalAdvance(s.name) + 14;
    }
    if (!series_.empty()) {
        painter.fillRect(QRect(x, y + 2, 14, metrics.height() - 4), QColor(255, 0, 0, 60));
        painter.drawText(QPoint(x + 18, y + metrics.ascent()), QStringLiteral("报警"));
    }
}

QString PlotWidget::textAt(std::int64_t atMs) const
{
    QString text = momentText(toLocal_(atMs));
    for (const PlotSeries& s : series_) {
        const auto& points = s.data.points;
        const auto after = std::upper_bound(points.begin(), points.end(), atMs,
                                            [](std::int64_t ms, const history::TrendPoint& p) { return ms < p.fromMs; });
        text += QStringLiteral("；") + s.name + ' ';
        if (after == points.begin() || std::prev(after)->toMs <= atMs) {
            text += QStringLiteral("无记录");
            continue;
        }
        const history::Spread& spread = std::prev(after)->spread;
        text += QStringLiteral("平均 %1，最小 %2，最大 %3")
                    .arg(valueText(spread.mean), valueText(spread.min), valueText(spread.max));
        if (!unit_.isEmpty())
            text += ' ' + unit_;
        for (const history::Span& span : s.data.alarms)
            if (span.fromMs <= atMs && atMs < span.toMs) {
                text += QStringLiteral("，报警中");
                break;
            }
    }
    return text;
}

void PlotWidget::wheelEvent(QWheelEvent* event)
{
    const QRect area = plotArea();
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    const double factor = std::pow(0.8, steps);
    const std::int64_t at = std::clamp(msAt(event->position().x(), area), fromMs_, toMs_);
    const auto span = static_cast<double>(toMs_ - fromMs_);
    const double wanted = std::clamp(span * factor, static_cast<double>(kShortestMs), static_cast<double>(kLongestMs));
    const double share = static_cast<double>(at - fromMs_) / span;
    const std::int64_t from = at - static_cast<std::int64_t>(wanted * share);
    setRange(from, from + static_cast<std::int64_t>(wanted));
    emit rangeChosen(fromMs_, toMs_);
    event->accept();
}

void PlotWidget::keyPressEvent(QKeyEvent* event)
{
    const std::int64_t span = toMs_ - fromMs_;
    std::int64_t from = fromMs_, to = toMs_;
    switch (event->key()) {
    case Qt::Key_Left: from -= span / 10, to -= span / 10; break;
    case Qt::Key_Right: from += span / 10, to += span / 10; break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: from += span / 8, to -= span / 8; break;
    case Qt::Key_Minus: from -= span / 6, to += span / 6; break;
    default: QWidget::keyPressEvent(event); return;
    }
    if (to - from < kShortestMs || to - from > kLongestMs)
        return;
    setRange(from, to);
    emit rangeChosen(fromMs_, toMs_);
}

void PlotWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    dragX_ = static_cast<int>(event->position().x());
    dragFrom_ = fromMs_;
    dragTo_ = toMs_;
    setCursor(Qt::ClosedHandCursor);
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QRect area = plotArea();
    if (dragging_) {
        const double dx = event->position().x() - dragX_;
        const auto shift = static_cast<std::int64_t>(-dx * static_cast<double>(dragTo_ - dragFrom_) / area.width());
        setRange(dragFrom_ + shift, dragTo_ + shift);
        return;
    }
    if (!area.contains(event->position().toPoint())) {
        emit pointerText(QString());
        return;
    }
    const QString text = textAt(msAt(event->position().x(), area));
    setAccessibleDescription(text);
    emit pointerText(text);
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    unsetCursor();
    if (fromMs_ != dragFrom_)
        emit rangeChosen(fromMs_, toMs_);
}

void PlotWidget::leaveEvent(QEvent*) { emit pointerText(QString()); }

}  // namespace lumo
