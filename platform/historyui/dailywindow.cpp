#include "dailywindow.h"

#include "dayvolume.h"
#include "exportdialog.h"
#include "localclock.h"
#include "selection.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lumo {

namespace {

constexpr const char* kColumns[] = {"仪表", "日期", "正向流量（m³）", "反向流量（m³）", "应答时间（h）", "报警", "说明"};

QTableWidgetItem* cell(const QString& text, bool number = false)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

}  // namespace

DailyWindow::DailyWindow(const std::string& historyPath, QWidget* parent)
    : QWidget(parent, Qt::Window), reader_(historyPath)
{
    setWindowTitle(QStringLiteral("日流量"));
    from_ = new QDateEdit(this);
    to_ = new QDateEdit(this);
    for (QDateEdit* edit : {from_, to_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        // Room for the whole date beside the arrow, in any style.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-10")) + 44);
    }
    from_->setAccessibleName(QStringLiteral("从"));
    to_->setAccessibleName(QStringLiteral("到"));
    instruments_ = new QLineEdit(this);
    instruments_->setPlaceholderText(QStringLiteral("全部；或 1,3-5"));
    instruments_->setAccessibleName(QStringLiteral("仪表"));
    auto* show = new QPushButton(QStringLiteral("显示"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("从"), this));
    top->addWidget(from_);
    top->addWidget(new QLabel(QStringLiteral("到"), this));
    top->addWidget(to_);
    top->addWidget(new QLabel(QStringLiteral("仪表"), this));
    top->addWidget(instruments_);
    top->addWidget(show);
    top->addStretch();

    table_ = new QTableWidget(0, static_cast<int>(std::size(kColumns)), this);
    QStringList headings;
    for (const char* heading : kColumns)
        headings << QString::fromUtf8(heading);
    table_->setHorizontalHeaderLabels(headings);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setAccessibleName(QStringLiteral("日流量"));
    state_ = new QLabel(this);
    auto* exporting = new QPushButton(QStringLiteral("导出…"), this);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(state_, 1);
    bottom->addWidget(exporting);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);
    resize(900, 520);

    connect(show, &QPushButton::clicked, this, [this] { read(); });
    connect(instruments_, &QLineEdit::returnPressed, this, [this] { read(); });
    connect(exporting, &QPushButton::clicked, this, [this] { openExport(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
}

void DailyWindow::showDays(const QDate& fromDay, const QDate& toDay, const std::vector<int>& instruments)
{
    from_->setDate(fromDay);
    to_->setDate(toDay);
    instruments_->setText(instrumentsText(instruments));
    read();
    QWidget::show();
    raise();
    activateWindow();
    table_->setFocus();
}

QString DailyWindow::state() const { return state_->text(); }

void DailyWindow::read()
{
    const auto instruments = history::instrumentsOf(instruments_->text().toStdString());
    if (!instruments.ok()) {
        state_->setText(QString::fromStdString(instruments.error()));
        return;
    }
    const int generation = ++generation_;
    const std::string fromDay = from_->date().toString(Qt::ISODate).toStdString();
    const std::string toDay = to_->date().toString(Qt::ISODate).toStdString();
    state_->setText(QStringLiteral("读取中…"));
    reader_.run(
        [this, generation, fromDay, toDay, chosen = instruments.value()](const history::HistoryFile* file,
                                                                         const std::string& fault) {
            std::vector<history::DayVolume> volumes;
            QString why;
            if (!file) {
                why = QStringLiteral("历史文件读不出：") + QString::fromStdString(fault);
            } else if (const auto days = file->days(chosen, fromDay, toDay); !days.ok()) {
                why = QStringLiteral("历史文件读不出：") + QString::fromStdString(days.error());
            } else {
                for (const history::DayRow& day : days.value())
                    volumes.push_back(history::volumeOf(day, [](std::int64_t ms) { return localTimeOf(ms); }));
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, volumes = std::move(volumes), why] {
                    if (generation != generation_)
                        return;
                    table_->setRowCount(static_cast<int>(volumes.size()));
                    for (int row = 0; row < static_cast<int>(volumes.size()); ++row) {
                        const history::DayVolume& v = volumes[static_cast<std::size_t>(row)];
                        QString note = QString::fromStdString(v.forwardNote);
                        if (!v.reverseNote.empty())
                            note += (note.isEmpty() ? QString() : QStringLiteral("；")) +
                                    QString::fromStdString(v.reverseNote);
                        table_->setItem(row, 0, cell(QStringLiteral("%1号").arg(v.instrument)));
                        table_->setItem(row, 1, cell(QString::fromStdString(v.day)));
                        table_->setItem(row, 2, cell(QString::fromStdString(v.forward.value_or("")), true));
                        table_->setItem(row, 3, cell(QString::fromStdString(v.reverse.value_or("")), true));
                        table_->setItem(row, 4, cell(QString::number(v.answeredHours, 'f', 2), true));
                        table_->setItem(row, 5, cell(QString::fromStdString(history::alarmWords(v.alarms))));
                        table_->setItem(row, 6, cell(note));
                    }
                    table_->resizeColumnsToContents();
                    state_->setText(!why.isEmpty()      ? why
                                    : volumes.empty() ? QStringLiteral("这些天没有记录")
                                                      : QStringLiteral("%1 行").arg(volumes.size()));
                    if (onDrawn_)
                        onDrawn_();
                },
                Qt::QueuedConnection);
        },
        true);
}

void DailyWindow::openExport()
{
    if (!export_)
        export_ = new ExportDialog(reader_.path(), this);
    const auto instruments = history::instrumentsOf(instruments_->text().toStdString());
    const auto from = utcOfLocal(from_->date().year(), from_->date().month(), from_->date().day());
    const QDate next = to_->date().addDays(1);
    const auto to = utcOfLocal(next.year(), next.month(), next.day());
    export_->prefill(history::ExportWhat::Days, from.value_or(0), to.value_or(0),
                     instruments.ok() ? instruments.value() : std::vector<int>{});
    export_->show();
    export_->raise();
}

}  // namespace lumo
