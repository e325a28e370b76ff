#include "programicon.h"

#include <QImage>
#include <QPixmap>

#include <windows.h>

namespace lumo {

// Icon resource 1 of the program (icons/lumoscan.rc). Not named IDI_ICON1:
// Qt would give that one to every window, pages 2 and 3 included.
QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256}) {
        const auto handle = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        if (!handle)
            continue;
        icon.addPixmap(QPixmap::fromImage(QImage::fromHICON(handle)));
        DestroyIcon(handle);
    }
    return icon;
}

}  // namespace lumo
