#pragma once

#include <QString>

namespace corvane {

// A size as desktop file managers show it, in decimal units (1 kB = 1,000 bytes,
// 1 MB = 1,000,000 bytes): "812 bytes", "7.2 kB", "184.1 MB". The one formatter of every size
// the program says.
QString readableSize(qint64 bytes);

} // namespace corvane
