#pragma once
// "导出…": minutes, hours, events or daily volumes of chosen instruments
// over a range, to a CSV file the operator names. Read and written off the
// window's thread; the file appears whole or not at all.

#include "historyexport.h"
#include "historyreader.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;

namespace lumo {

class ExportDialog : public QDialog {
    Q_OBJECT
public:
    ExportDialog(const std::string& historyPath, QWidget* parent = nullptr);

    void prefill(history::ExportWhat what, std::int64_t fromMs, std::int64_t toMs, const std::vector<int>& instruments);
    // Exports to `path` as the fields say; the outcome goes to the state
    // line and to `onDone` (true: written).
    void exportTo(const QString& path, std::function<void(bool)> onDone = {});
    QString state() const;
    QLineEdit* instrumentsField() const { return instruments_; }

private:
    void askFile();

    history::HistoryReader reader_;
    QComboBox* what_ = nullptr;
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QLineEdit* instruments_ = nullptr;
    QLabel* state_ = nullptr;
};

// "1,3-5" for a list of instruments: runs joined.
QString instrumentsText(const std::vector<int>& instruments);

}  // namespace lumo
