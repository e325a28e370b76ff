#include "stationfont.h"

#include <QApplication>
#include <QFontDatabase>

namespace lumo {

bool applyStationFont()
{
    // With only Noto CJK installed Qt would pick the Japanese glyph forms
    // under most locales; ask for the Simplified Chinese family by name.
    for (const char* family : {"Noto Sans CJK SC", "Noto Serif CJK SC"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            QApplication::setFont(QFont(QString::fromLatin1(family), 9));
            return true;
        }
    }
    return false;
}

}  // namespace lumo
