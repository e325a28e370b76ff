#pragma once
// The trend window "历史趋势": the chosen quantity of one or more
// instruments over the last hour, day, week, month, year or a chosen range,
// read from history.db off the window's thread.

#include "historyreader.h"
#include "plotwidget.h"

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace lumo {

class ExportDialog;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    // historyPath: history.db; instruments: how many the list offers.
    TrendWindow(const std::string& historyPath, int instruments, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // The chosen instruments over the last hour, day, week, month or year
    // (the range list's entries 0..4), the window shown.
    void showInstruments(const std::vector<int>& instruments, int lastRange = 1);
    // A range of one's own, [fromMs, toMs).
    void showRange(std::int64_t fromMs, std::int64_t toMs);
    void chooseQuantity(history::Measured quantity);
    std::vector<int> chosenInstruments() const;

    PlotWidget* plot() const { return plot_; }
    QLineEdit* pointerLine() const { return pointer_; }
    QString state() const;
    // Saves the chart as a PNG; false (and the state says why) when it could not.
    bool savePicture(const QString& path);
    // Told each time a reading has been drawn (tests and benchmarks wait for it).
    void setOnDrawn(std::function<void()> onDrawn) { onDrawn_ = std::move(onDrawn); }

private:
    void build(int instruments);
    void read();
    void showRead(int generation, std::vector<PlotSeries> series, const QString& fault);
    void rangeChosenFromList(int entry);
    void editsChanged();
    void askPicture();
    void openExport();

    history::HistoryReader reader_;
    history::Measured quantity_ = history::Measured::Flow;
    std::int64_t fromMs_ = 0, toMs_ = 0;
    int generation_ = 0;
    bool settingEdits_ = false;
    std::function<void()> onDrawn_;

    QComboBox* quantityList_ = nullptr;
    QComboBox* rangeList_ = nullptr;
    QDateTimeEdit* fromEdit_ = nullptr;
    QDateTimeEdit* toEdit_ = nullptr;
    QListWidget* instrumentList_ = nullptr;
    PlotWidget* plot_ = nullptr;
    QLineEdit* pointer_ = nullptr;
    QLabel* state_ = nullptr;
    ExportDialog* export_ = nullptr;
};

// The quantities as the grid heads them, with their units.
QString quantityName(history::Measured quantity);
QString quantityUnit(history::Measured quantity);

}  // namespace lumo
