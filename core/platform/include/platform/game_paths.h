#pragma once

#include <QString>

namespace corvane {

// The two installation folders the user confirmed, each ending with a separator; empty until
// confirmed. The search writes them, the conversion reads them.
struct GamePaths {
    QString quake2;
    QString quake3;
};

} // namespace corvane
