#pragma once
// A small chart of our own on QPainter (Qt Charts is GPL only): for each
// instrument its min-max band under the mean line, gaps where nothing was
// kept, its alarm periods shaded, and a legend; a local time axis. The
// wheel zooms around the pointer, a drag moves the range; both ask for the
// new range to be read. The value and time under the pointer are told as
// text, for the window's line and for a screen reader.

#include "timeaxis.h"
#include "trend.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

namespace lumo {

struct PlotSeries {
    QString name;  // "3号"
    QColor colour;
    history::TrendSeries data;
};

class PlotWidget : public QWidget {
    Q_OBJECT
public:
    PlotWidget(history::ToLocal toLocal, history::FromLocal fromLocal, QWidget* parent = nullptr);

    // The range shown and what is in it; `unit` for the value axis.
    void setData(std::vector<PlotSeries> series, std::int64_t fromMs, std::int64_t toMs, const QString& quantity,
                 const QString& unit);
    // While a new range is read: the range at once, the data when it comes.
    void setRange(std::int64_t fromMs, std::int64_t toMs);
    std::int64_t fromMs() const { return fromMs_; }
    std::int64_t toMs() const { return toMs_; }
    const std::vector<PlotSeries>& series() const { return series_; }
    // A word in place of the chart ("读取中…", "没有记录"); empty: none.
    void setNotice(const QString& notice);

    // The text for a moment: each series' value there, or nothing there.
    QString textAt(std::int64_t atMs) const;

    // The finest bucket the width allows: a few pixels each.
    int bucketsWanted() const;

signals:
    void rangeChosen(std::int64_t fromMs, std::int64_t toMs);
    void pointerText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void tellPointer();
    QRect plotArea() const;
    double xOf(std::int64_t ms, const QRect& area) const;
    std::int64_t msAt(double x, const QRect& area) const;
    void drawSeries(QPainter& painter, const QRect& area, const history::ValueTicks& ticks) const;
    void drawAxes(QPainter& painter, const QRect& area, const history::ValueTicks& ticks) const;
    void drawLegend(QPainter& painter, const QRect& area) const;
    history::ValueTicks valueAxis() const;

    history::ToLocal toLocal_;
    history::FromLocal fromLocal_;
    std::vector<PlotSeries> series_;
    std::int64_t fromMs_ = 0, toMs_ = 1;
    QString quantity_, unit_, notice_;
    // A drag under way: where it began and the range then.
    bool dragging_ = false;
    int dragX_ = 0;
    std::int64_t dragFrom_ = 0, dragTo_ = 0;
};

// Distinct colours for overlaid instruments, in order.
QColor seriesColour(int index);

}  // namespace lumo
