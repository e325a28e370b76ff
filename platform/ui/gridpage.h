#pragma once
// One page window of the grid: column headings, instrument number labels,
// 13 lines of 8 read-only cells and the activity indicator Image2. The main
// window is a page with the settings area below its grid.

#include "pagelayout.h"

#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <array>
#include <functional>

namespace lumo {

class GridPage : public QWidget {
    Q_OBJECT
public:
    GridPage(const PageLayout& layout, const QString& title, QWidget* parent = nullptr);

    int page() const { return layout_.page; }
    QLineEdit* cell(int line, int slot) const { return cells_[line][slot]; }
    QLabel* indicator() const { return indicator_; }
    QLabel* numberLabel(int line) const { return numbers_[line]; }
    QLabel* heading(int slot) const { return headings_[slot]; }

    void setCellText(int line, int slot, const QString& text);

    // A page refuses to close until the program ends and allows it.
    void allowClosing();

    // A click on an instrument's number (its trend); none: the numbers are
    // plain labels.
    void setNumberClicked(std::function<void(int instrument)> clicked);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildGrid();

    PageLayout layout_;
    std::array<std::array<QLineEdit*, 8>, 13> cells_{};
    std::array<QLabel*, 13> numbers_{};
    std::array<QLabel*, 8> headings_{};
    QLabel* indicator_ = nullptr;
    bool closingAllowed_ = false;
    std::function<void(int)> numberClicked_;
};

// The indicator picture: a green disc RGB(0, 128, 0) over columns 5..25 and
// rows 3..22 of a 33 x 27 picture on RGB(236, 233, 216).
QImage indicatorPicture();

// Window flags of every page: a title and a minimise box, no close box.
Qt::WindowFlags pageWindowFlags();

}  // namespace lumo
