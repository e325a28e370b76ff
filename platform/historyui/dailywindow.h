#pragma once
// The daily volumes window "日流量": per instrument and local day, the
// forward and reverse volume (the difference of the totals between the
// day's first and last answer), the hours it answered, the alarms seen; a
// total that went down is said, never shown as a negative volume.

#include "historyreader.h"

#include <QWidget>

#include <functional>

class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace lumo {

class ExportDialog;

class DailyWindow : public QWidget {
    Q_OBJECT
public:
    DailyWindow(const std::string& historyPath, QWidget* parent = nullptr);

    // Days from `fromDay` to `toDay` (local, both included), the window shown.
    void showDays(const QDate& fromDay, const QDate& toDay, const std::vector<int>& instruments = {});
    QTableWidget* table() const { return table_; }
    QString state() const;
    void setOnDrawn(std::function<void()> onDrawn) { onDrawn_ = std::move(onDrawn); }

private:
    void read();
    void openExport();

    history::HistoryReader reader_;
    int generation_ = 0;
    std::function<void()> onDrawn_;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QLineEdit* instruments_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* state_ = nullptr;
    ExportDialog* export_ = nullptr;
};

}  // namespace lumo
