#include "exportdialog.h"

#include "localclock.h"
#include "selection.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace lumo {

namespace {

constexpr const char* kWhat[] = {"分钟记录", "小时记录", "事件", "日流量"};
constexpr const char* kFileWord[] = {"分钟", "小时", "事件", "日流量"};

}  // namespace

QString instrumentsText(const std::vector<int>& instruments)
{
    QString text;
    for (std::size_t i = 0; i < instruments.size();) {
        std::size_t j = i;
        while (j + 1 < instruments.size() && instruments[j + 1] == instruments[j] + 1)
            ++j;
        if (!text.isEmpty())
            text += ',';
        text += QString::number(instruments[i]);
        if (j > i)
            text += '-' + QString::number(instruments[j]);
        i = j + 1;
    }
    return text;
}

ExportDialog::ExportDialog(const std::string& historyPath, QWidget* parent) : QDialog(parent), reader_(historyPath)
{
    setWindowTitle(QStringLiteral("导出历史记录"));
    what_ = new QComboBox(this);
    for (const char* what : kWhat)
        what_->addItem(QString::fromUtf8(what));
    from_ = new QDateTimeEdit(this);
    to_ = new QDateTimeEdit(this);
    for (QDateTimeEdit* edit : {from_, to_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setCalendarPopup(true);
        // Room for the whole date and time beside the arrow, in any style.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-10 00:00")) + 44);
    }
    instruments_ = new QLineEdit(this);
    instruments_->setPlaceholderText(QStringLiteral("全部；或 1,3-5"));
    state_ = new QLabel(this);
    state_->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("内容"), what_);
    form->addRow(QStringLiteral("从"), from_);
    form->addRow(QStringLiteral("到"), to_);
    form->addRow(QStringLiteral("仪表"), instruments_);
    what_->setAccessibleName(QStringLiteral("内容"));
    from_->setAccessibleName(QStringLiteral("从"));
    to_->setAccessibleName(QStringLiteral("到"));
    instruments_->setAccessibleName(QStringLiteral("仪表"));
    auto* go = new QPushButton(QStringLiteral("导出…"), this);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(go);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(state_);
    layout->addLayout(buttons);
    connect(go, &QPushButton::clicked, this, [this] { askFile(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    const QDateTime now = QDateTime::currentDateTime();
    prefill(history::ExportWhat::Minutes, now.addDays(-1).toMSecsSinceEpoch(), now.toMSecsSinceEpoch(), {});
}

void ExportDialog::prefill(history::ExportWhat what, std::int64_t fromMs, std::int64_t toMs,
                           const std::vector<int>& instruments)
{
    what_->setCurrentIndex(static_cast<int>(what));
    from_->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs));
    to_->setDateTime(QDateTime::fromMSecsSinceEpoch(toMs));
    instruments_->setText(instrumentsText(instruments));
    state_->clear();
}

QString ExportDialog::state() const { return state_->text(); }

void ExportDialog::askFile()
{
    const int what = what_->currentIndex();
    const QString name = QStringLiteral("历史-%1-%2.csv")
                             .arg(QString::fromUtf8(kFileWord[what]), from_->dateTime().toString(QStringLiteral("yyyyMMdd")));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("导出到"), name, QStringLiteral("CSV 文件 (*.csv)"));
    if (!path.isEmpty())
        exportTo(path);
}

void ExportDialog::exportTo(const QString& path, std::function<void(bool)> onDone)
{
    const auto instruments = history::instrumentsOf(instruments_->text().toStdString());
    const auto done = [this, onDone](bool ok, const QString& text) {
        state_->setText(text);
        if (onDone)
            onDone(ok);
    };
    if (!instruments.ok()) {
        done(false, QString::fromStdString(instruments.error()));
        return;
    }
    history::ExportRequest request;
    request.what = static_cast<history::ExportWhat>(what_->currentIndex());
    request.fromMs = from_->dateTime().toMSecsSinceEpoch();
    request.toMs = to_->dateTime().toMSecsSinceEpoch();
    request.instruments = instruments.value();
    if (request.toMs <= request.fromMs) {
        done(false, QStringLiteral("“到”须在“从”之后"));
        return;
    }
    state_->setText(QStringLiteral("导出中…"));
    reader_.run([this, request, path, done](const history::HistoryFile* file, const std::string& fault) {
        bool ok = false;
        QString text;
        if (!file) {
            text = QStringLiteral("导出失败：历史文件读不出（") + QString::fromStdString(fault) + QStringLiteral("）");
        } else if (const auto csv = history::exportCsv(*file, request, [](std::int64_t ms) { return localTimeOf(ms); });
                   !csv.ok()) {
            text = QStringLiteral("导出失败：") + QString::fromStdString(csv.error());
        } else {
            QSaveFile out(path);
            const QByteArray bytes = QByteArray::fromStdString(csv.value().csv);
            ok = out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
            text = ok ? QStringLiteral("已导出 %1 行：%2").arg(csv.value().rows).arg(path)
                      : QStringLiteral("导出失败：%1 写不进去（%2）").arg(path, out.errorString());
        }
        QMetaObject::invokeMethod(this, [done, ok, text] { done(ok, text); }, Qt::QueuedConnection);
    });
}

}  // namespace lumo
