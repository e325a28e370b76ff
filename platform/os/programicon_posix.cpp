#include "programicon.h"

namespace lumo {

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/lumoscan-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace lumo
