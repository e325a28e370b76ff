#include "gridmodel.h"

#include <algorithm>

namespace lumo {

bool isInstrument(int number) { return number >= 1 && number <= kInstruments; }

int pageOf(int instrument) { return 1 + (instrument - 1) / kLinesPerPage; }

int lineOf(int instrument) { return (instrument - 1) % kLinesPerPage; }

GridModel::GridModel()
{
    visible_[0] = true;
}

void GridModel::setCellText(int instrument, int slot, std::string text)
{
    if (!isInstrument(instrument) || slot < 0 || slot >= kSlots)
        return;
    std::string& cell = cells_[instrument - 1][slot];
    cell = std::move(text);
    for (GridObserver* observer : observers_)
        observer->cellChanged(instrument, slot, cell);
}

void GridModel::clearInstrument(int instrument)
{
    if (!isInstrument(instrument))
        return;
    for (int slot = 0; slot < kSlots; ++slot)
        setCellText(instrument, slot, std::string());
}

void GridModel::showActivity() { setActivity(true); }

void GridModel::hideActivity() { setActivity(false); }

void GridModel::setActivity(bool shown)
{
    for (int page = 1; page <= kPages; ++page) {
        activity_[page - 1] = shown;
        for (GridObserver* observer : observers_)
            observer->activityChanged(page, shown);
    }
}

void GridModel::setPageVisible(int page, bool visible)
{
    if (page < 2 || page > kPages)
        return;
    visible_[page - 1] = visible;
    for (GridObserver* observer : observers_)
        observer->pageVisibilityChanged(page, visible);
}

const std::string& GridModel::cellText(int instrument, int slot) const
{
    static const std::string kNone;
    if (!isInstrument(instrument) || slot < 0 || slot >= kSlots)
        return kNone;
    return cells_[instrument - 1][slot];
}

bool GridModel::activityShown(int page) const
{
    return page >= 1 && page <= kPages && activity_[page - 1];
}

bool GridModel::pageVisible(int page) const
{
    return page >= 1 && page <= kPages && visible_[page - 1];
}

void GridModel::addObserver(GridObserver* observer) { observers_.push_back(observer); }

void GridModel::removeObserver(GridObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace lumo
