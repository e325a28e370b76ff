#include "stationfont.h"

#include <QApplication>
#include <QFontDatabase>

namespace lumo {

bool applyStationFont()
{
    // Asked for by name: with only Noto CJK installed Qt would pick the
    // Japanese glyph forms under most locales. Windows: Microsoft YaHei, the
    // Simplified Chinese desktop's own sans face, which every Windows since
    // Vista has whatever its language, and whose metrics are close to Noto
    // Sans CJK SC's; SimSun, the older serif face, where it is missing.
    // Linux (and Wine, which has neither): Noto CJK SC.
    for (const char* family : {"Microsoft YaHei", "SimSun", "Noto Sans CJK SC", "Noto Serif CJK SC"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            QApplication::setFont(QFont(QString::fromLatin1(family), 9));
            return true;
        }
    }
    return false;
}

}  // namespace lumo
