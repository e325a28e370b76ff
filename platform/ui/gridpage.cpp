#include "gridpage.h"

#include <QCloseEvent>
#include <QImage>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionFrame>

namespace lumo {

namespace {

// Whether a text fits the visible width of a cell, as QLineEdit lays it out:
// the style's contents rectangle less the field's own margin on each side.
bool fitsCell(const QLineEdit* cell, const QString& text)
{
    constexpr int kLineEditMargin = 2;
    QStyleOptionFrame option;
    option.initFrom(cell);
    option.lineWidth = cell->hasFrame() ? cell->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, cell) : 0;
    const QRect contents = cell->style()->subElementRect(QStyle::SE_LineEditContents, &option, cell);
    return cell->fontMetrics().horizontalAdvance(text) <= contents.width() - 2 * kLineEditMargin;
}

}  // namespace

QImage indicatorPicture()
{
    QImage image(33, 27, QImage::Format_RGB32);
    image.fill(QColor(236, 233, 216));
    // Columns 5..25 and rows 3..22: centre (15.5, 13), radii 10.5 and 10,
    // measured at pixel centres so the disc touches all four edges.
    const QRgb green = qRgb(0, 128, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double dx = (x + 0.5 - 15.5) / 10.5;
            const double dy = (y + 0.5 - 13.0) / 10.0;
            if (dx * dx + dy * dy <= 1.0)
                image.setPixel(x, y, green);
        }
    }
    return image;
}

Qt::WindowFlags pageWindowFlags()
{
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint;
}

GridPage::GridPage(const PageLayout& layout, const QString& title, QWidget* parent)
    : QWidget(parent, pageWindowFlags()), layout_(layout)
{
    setWindowTitle(title);
    setFixedSize(px(layout.clientWidth), px(layout.clientHeight));
    buildGrid();
}

void GridPage::buildGrid()
{
    for (int slot = 0; slot < 8; ++slot) {
        auto* heading = new QLabel(QString::fromUtf8(kHeadings[slot]), this);
        heading->setGeometry(twipRect(layout_.headingLeft[slot], layout_.headingTop, kHeadingWidth[slot],
                                      kHeadingHeight));
        headings_[slot] = heading;
    }
    const int firstInstrument = (layout_.page - 1) * 13 + 1;
    for (int line = 0; line < 13; ++line) {
        const int instrument = firstInstrument + line;
        auto* number = new QLabel(QString::number(instrument), this);
        const int numberWidth = instrument < 10 ? 135 : 255;
        number->setGeometry(twipRect(layout_.numberLeft, layout_.numberTop0 + kLinePitch * line, numberWidth,
                                     kHeadingHeight));
        numbers_[line] = number;
        for (int slot = 0; slot < 8; ++slot) {
            auto* cell = new QLineEdit(this);
            cell->setReadOnly(true);
            cell->setFocusPolicy(Qt::NoFocus);
            cell->setGeometry(twipRect(layout_.slotLeft0 + kSlotPitch * slot, layout_.lineTop0 + kLinePitch * line,
                                       slot == 7 ? kAlarmCellWidth : kCellWidth, kCellHeight));
            cell->setAccessibleName(QString::number(instrument) + ' ' + QString::fromUtf8(kHeadings[slot]));
            cells_[line][slot] = cell;
        }
    }
    indicator_ = new QLabel(this);
    indicator_->setPixmap(QPixmap::fromImage(indicatorPicture()));
    indicator_->setGeometry(twipRect(120, 120, 495, 405));
    indicator_->setAccessibleName(QStringLiteral("通讯指示"));
    indicator_->hide();
}

void GridPage::setCellText(int line, int slot, const QString& text)
{
    QLineEdit* field = cells_[line][slot];
    // Every answer rewrites all eight cells; most keep their text, and
    // repainting them would be most of the program's work.
    if (field->text() == text)
        return;
    field->setText(text);
    // A text longer than the field shows its beginning, and the whole of it
    // when the pointer rests on the cell.
    field->setCursorPosition(0);
    field->setToolTip(fitsCell(field, text) ? QString() : text);
}

void GridPage::allowClosing() { closingAllowed_ = true; }

void GridPage::setNumberClicked(std::function<void(int instrument)> clicked)
{
    numberClicked_ = std::move(clicked);
    for (QLabel* number : numbers_) {
        number->removeEventFilter(this);
        if (numberClicked_) {
            number->installEventFilter(this);
            number->setCursor(Qt::PointingHandCursor);
            number->setToolTip(QStringLiteral("趋势"));
        } else {
            number->unsetCursor();
            number->setToolTip(QString());
        }
    }
}

bool GridPage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && numberClicked_) {
        for (int line = 0; line < 13; ++line)
            if (watched == numbers_[line]) {
                numberClicked_((layout_.page - 1) * 13 + line + 1);
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void GridPage::closeEvent(QCloseEvent* event)
{
    if (closingAllowed_)
        event->accept();
    else
        event->ignore();
}

}  // namespace lumo
