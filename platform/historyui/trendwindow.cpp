#include "trendwindow.h"

#include "exportdialog.h"
#include "localclock.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace lumo {

namespace {

constexpr const char* kRanges[] = {"最近一小时", "最近一天", "最近一周", "最近一月", "最近一年", "自选"};
constexpr int kChosenRange = 5;

// The series of each instrument out of rows sorted by instrument, then time.
std::vector<PlotSeries> seriesOf(const std::vector<int>& instruments, const std::vector<history::PeriodRow>& rows,
                                 const std::vector<history::Event>& events, history::Measured quantity,
                                 std::int64_t fromMs, std::int64_t toMs, int buckets, std::int64_t nowMs)
{
    std::vector<PlotSeries> series;
    auto row = rows.begin();
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const int n = instruments[i];
        auto end = std::find_if(row, rows.end(), [n](const history::PeriodRow& r) { return r.instrument != n; });
        PlotSeries s;
        s.name = QStringLiteral("%1号").arg(n);
        s.colour = seriesColour(static_cast<int>(i));
        s.data.instrument = n;
        s.data.points = history::pointsOf(std::vector<history::PeriodRow>(row, end), quantity, fromMs, toMs, buckets);
        s.data.alarms = history::alarmSpansOf(events, n, std::min(nowMs, toMs));
        series.push_back(std::move(s));
        row = end;
    }
    return series;
}

}  // namespace

QString quantityName(history::Measured quantity)
{
    static const char* names[] = {"瞬时流量", "流速", "百分比", "电阻值"};
    return QString::fromUtf8(names[static_cast<int>(quantity)]);
}

QString quantityUnit(history::Measured quantity)
{
    static const char* units[] = {"m³/h", "m/s", "%", "kΩ"};
    return QString::fromUtf8(units[static_cast<int>(quantity)]);
}

TrendWindow::TrendWindow(const std::string& historyPath, int instruments, QWidget* parent)
    : QWidget(parent, Qt::Window), reader_(historyPath)
{
    setWindowTitle(QStringLiteral("历史趋势"));
    build(instruments);
    // A range counted back from now moves on with the clock.
    auto* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, [this] {
        if (isVisible() && rangeList_->currentIndex() != kChosenRange)
            rangeChosenFromList(rangeList_->currentIndex());
    });
    refresh->start(60'000);
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::build(int instruments)
{
    quantityList_ = new QComboBox(this);
    for (int q = 0; q < history::kMeasured; ++q) {
        const auto quantity = static_cast<history::Measured>(q);
        quantityList_->addItem(quantityName(quantity) + QStringLiteral("（") + quantityUnit(quantity) +
                               QStringLiteral("）"));
    }
    quantityList_->setAccessibleName(QStringLiteral("数量"));
    rangeList_ = new QComboBox(this);
    for (const char* range : kRanges)
        rangeList_->addItem(QString::fromUtf8(range));
    rangeList_->setAccessibleName(QStringLiteral("范围"));
    fromEdit_ = new QDateTimeEdit(this);
    toEdit_ = new QDateTimeEdit(this);
    for (QDateTimeEdit* edit : {fromEdit_, toEdit_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setCalendarPopup(true);
        // Room for the whole date and time beside the arrow, in any style.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-10 00:00")) + 44);
    }
    fromEdit_->setAccessibleName(QStringLiteral("从"));
    toEdit_->setAccessibleName(QStringLiteral("到"));
    auto* top = new QHBoxLayout;
    const auto caption = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };
    top->addWidget(caption("数量"));
    top->addWidget(quantityList_);
    top->addSpacing(12);
    top->addWidget(caption("范围"));
    top->addWidget(rangeList_);
    top->addWidget(caption("从"));
    top->addWidget(fromEdit_);
    top->addWidget(caption("到"));
    top->addWidget(toEdit_);
    top->addStretch();

    instrumentList_ = new QListWidget(this);
    instrumentList_->setAccessibleName(QStringLiteral("仪表"));
    for (int n = 1; n <= instruments; ++n) {
        auto* item = new QListWidgetItem(QStringLiteral("%1号").arg(n), instrumentList_);
        item->setData(Qt::UserRole, n);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Unchecked);
    }
    instrumentList_->setFixedWidth(instrumentList_->fontMetrics().horizontalAdvance(QStringLiteral("39号")) + 56);

    plot_ = new PlotWidget([](std::int64_t ms) { return localTimeOf(ms); },
                           [](const history::LocalTime& t) { return utcOfLocal(t); }, this);
    pointer_ = new QLineEdit(this);
    pointer_->setReadOnly(true);
    pointer_->setFocusPolicy(Qt::NoFocus);
    pointer_->setAccessibleName(QStringLiteral("指针处"));
    state_ = new QLabel(this);
    state_->setAccessibleName(QStringLiteral("状态"));
    auto* picture = new QPushButton(QStringLiteral("保存图片…"), this);
    auto* exporting = new QPushButton(QStringLiteral("导出…"), this);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);

    auto* middle = new QHBoxLayout;
    middle->addWidget(instrumentList_);
    middle->addWidget(plot_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(state_, 1);
    bottom->addWidget(picture);
    bottom->addWidget(exporting);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addWidget(pointer_);
    layout->addLayout(bottom);
    resize(980, 560);

    connect(quantityList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        quantity_ = static_cast<history::Measured>(std::max(0, index));
        read();
    });
    connect(rangeList_, &QComboBox::activated, this, [this](int entry) { rangeChosenFromList(entry); });
    connect(fromEdit_, &QDateTimeEdit::dateTimeChanged, this, [this] { editsChanged(); });
    connect(toEdit_, &QDateTimeEdit::dateTimeChanged, this, [this] { editsChanged(); });
    connect(instrumentList_, &QListWidget::itemChanged, this, [this] { read(); });
    connect(plot_, &PlotWidget::rangeChosen, this, [this](std::int64_t from, std::int64_t to) { showRange(from, to); });
    connect(plot_, &PlotWidget::pointerText, pointer_, [this](const QString& text) {
        pointer_->setText(text);
        pointer_->setCursorPosition(0);
    });
    connect(picture, &QPushButton::clicked, this, [this] { askPicture(); });
    connect(exporting, &QPushButton::clicked, this, [this] { openExport(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
}

std::vector<int> TrendWindow::chosenInstruments() const
{
    std::vector<int> chosen;
    for (int row = 0; row < instrumentList_->count(); ++row)
        if (instrumentList_->item(row)->checkState() == Qt::Checked)
            chosen.push_back(instrumentList_->item(row)->data(Qt::UserRole).toInt());
    return chosen;
}

void TrendWindow::showInstruments(const std::vector<int>& instruments, int lastRange)
{
    const QSignalBlocker quiet(instrumentList_);
    for (int row = 0; row < instrumentList_->count(); ++row) {
        QListWidgetItem* item = instrumentList_->item(row);
        const bool chosen = std::find(instruments.begin(), instruments.end(), item->data(Qt::UserRole).toInt()) !=
                            instruments.end();
        item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
    }
    rangeList_->setCurrentIndex(lastRange);
    rangeChosenFromList(lastRange);
    show();
    raise();
    activateWindow();
}

void TrendWindow::chooseQuantity(history::Measured quantity)
{
    quantityList_->setCurrentIndex(static_cast<int>(quantity));
}

void TrendWindow::rangeChosenFromList(int entry)
{
    if (entry == kChosenRange)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime from = entry == 0   ? now.addSecs(-3600)
                           : entry == 1 ? now.addDays(-1)
                           : entry == 2 ? now.addDays(-7)
                           : entry == 3 ? now.addMonths(-1)
                                        : now.addYears(-1);
    showRange(from.toMSecsSinceEpoch(), now.toMSecsSinceEpoch());
    rangeList_->setCurrentIndex(entry);
}

void TrendWindow::showRange(std::int64_t fromMs, std::int64_t toMs)
{
    fromMs_ = fromMs;
    toMs_ = std::max(fromMs + 60'000, toMs);
    settingEdits_ = true;
    fromEdit_->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs_));
    toEdit_->setDateTime(QDateTime::fromMSecsSinceEpoch(toMs_));
    settingEdits_ = false;
    rangeList_->setCurrentIndex(kChosenRange);
    read();
}

void TrendWindow::editsChanged()
{
    if (settingEdits_)
        return;
    const std::int64_t from = fromEdit_->dateTime().toMSecsSinceEpoch();
    const std::int64_t to = toEdit_->dateTime().toMSecsSinceEpoch();
    if (to > from)
        showRange(from, to);
}

// What is read is three times the range shown, so that a drag finds the
// neighbouring data already there; a newer reading replaces a waiting one.
void TrendWindow::read()
{
    const int generation = ++generation_;
    plot_->setRange(fromMs_, toMs_);
    const std::vector<int> instruments = chosenInstruments();
    if (instruments.empty()) {
        plot_->setData({}, fromMs_, toMs_, quantityName(quantity_), quantityUnit(quantity_));
        plot_->setNotice(QStringLiteral("请在左边选择仪表"));
        return;
    }
    state_->setText(QStringLiteral("读取中…"));
    const std::int64_t span = toMs_ - fromMs_, readFrom = fromMs_ - span, readTo = toMs_ + span;
    const std::int64_t now = utcNowMs();
    const history::Period period = history::periodFor(fromMs_, toMs_, now);
    const int buckets = plot_->bucketsWanted() * 3;
    const history::Measured quantity = quantity_;
    reader_.run(
        [this, generation, instruments, readFrom, readTo, now, period, buckets, quantity](
            const history::HistoryFile* file, const std::string& fault) {
            std::vector<PlotSeries> series;
            QString why;
            if (!file) {
                why = QStringLiteral("历史文件读不出：") + QString::fromStdString(fault);
            } else {
                const auto rows = file->periods(period, instruments, readFrom, readTo);
                const auto events = file->events(instruments, readFrom, readTo);
                if (!rows.ok() || !events.ok())
                    why = QStringLiteral("历史文件读不出：") + QString::fromStdString(rows.ok() ? events.error() : rows.error());
                else
                    series = seriesOf(instruments, rows.value(), events.value(), quantity, readFrom, readTo, buckets, now);
            }
            QMetaObject::invokeMethod(
                this, [this, generation, series = std::move(series), why]() mutable {
                    showRead(generation, std::move(series), why);
                },
                Qt::QueuedConnection);
        },
        true);
}

void TrendWindow::showRead(int generation, std::vector<PlotSeries> series, const QString& fault)
{
    if (generation != generation_)
        return;
    const bool nothing = std::all_of(series.begin(), series.end(), [](const PlotSeries& s) { return s.data.points.empty(); });
    plot_->setData(std::move(series), plot_->fromMs(), plot_->toMs(), quantityName(quantity_), quantityUnit(quantity_));
    if (!fault.isEmpty())
        plot_->setNotice(QStringLiteral("没有可显示的记录"));
    else if (nothing)
        plot_->setNotice(QStringLiteral("这段时间没有记录"));
    state_->setText(fault);
    if (onDrawn_)
        onDrawn_();
}

QString TrendWindow::state() const { return state_->text(); }

bool TrendWindow::savePicture(const QString& path)
{
    if (plot_->grab().save(path, "PNG"))
        return true;
    state_->setText(QStringLiteral("图片没有保存：") + path);
    return false;
}

void TrendWindow::askPicture()
{
    const QString name = QStringLiteral("趋势-%1.png").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存图片"), name, QStringLiteral("PNG 图片 (*.png)"));
    if (!path.isEmpty() && savePicture(path))
        state_->setText(QStringLiteral("图片已保存：") + path);
}

void TrendWindow::openExport()
{
    if (!export_)
        export_ = new ExportDialog(reader_.path(), this);
    const history::Period period = history::periodFor(fromMs_, toMs_, utcNowMs());
    export_->prefill(period == history::Period::Minutes ? history::ExportWhat::Minutes : history::ExportWhat::Hours,
                     fromMs_, toMs_, chosenInstruments());
    export_->show();
    export_->raise();
}

}  // namespace lumo
