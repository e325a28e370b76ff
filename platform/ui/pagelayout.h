#pragma once
// Where the grid of each page sits, in twips (1/1440 inch) of the window's
// client area. At 96 dpi 15 twips make one pixel.

#include <QRect>

#include <array>

namespace lumo {

inline constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) { return twips / kTwipsPerPixel; }
// A control's left, top, width and height in twips, in pixels.
inline QRect twipRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

struct PageLayout {
    int page;
    int clientWidth, clientHeight;
    int lineTop0;       // top of line k = lineTop0 + 480 k
    int slotLeft0;      // left of slot r = slotLeft0 + 1080 r
    int numberLeft;     // instrument number label of line k
    int numberTop0;     // its top = numberTop0 + 480 k
    int headingTop;
    std::array<int, 8> headingLeft;  // by slot
};

inline constexpr int kLinePitch = 480;
inline constexpr int kSlotPitch = 1080;
inline constexpr int kCellWidth = 1020;
inline constexpr int kAlarmCellWidth = 2100;
inline constexpr int kCellHeight = 375;
inline constexpr int kHeadingHeight = 255;
// Heading widths by slot.
inline constexpr std::array<int, 8> kHeadingWidth = {735, 735, 735, 735, 855, 855, 975, 855};

inline constexpr std::array<PageLayout, 3> kPageLayouts = {{
    {1, 11790, 9195, 600, 1080, 840, 720, 240, {1200, 2400, 3360, 4560, 5520, 6600, 7560, 9240}},
    {2, 11790, 7050, 600, 1080, 720, 720, 240, {1320, 2520, 3480, 4680, 5640, 6720, 7680, 9360}},
    {3, 12360, 7845, 840, 1440, 1080, 960, 480, {1680, 2880, 3840, 5040, 6000, 7080, 8040, 9720}},
}};

// Column headings by slot, exactly as the operator knows them.
inline constexpr std::array<const char*, 8> kHeadings = {"瞬时流量", "流速",     "百分比",     "电阻值",
                                                         "正向累积", "反向累积", "流量计管径", "报警状态"};

}  // namespace lumo
