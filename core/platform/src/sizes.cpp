#include "platform/sizes.h"

#include <cmath>

namespace corvane {

QString readableSize(qint64 bytes) {
    static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    double value = double(bytes) / 1000;
    size_t unit = 0;
    // 999,960 bytes are "1.0 MB", not "1000.0 kB".
    while (unit + 1 < std::size(kUnits) && std::round(value * 10) >= 10000) {
        value /= 1000;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(kUnits[unit]));
}

} // namespace corvane
