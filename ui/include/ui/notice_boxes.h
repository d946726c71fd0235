#pragma once

// The wizard's words for what the conversion tells: the boxes it shows, in order.

#include "conversion/notice.h"

#include <QString>

#include <vector>

namespace corvane {

struct NoticeBox {
    QString prompt;
    QString title; // none: the program's name
};

std::vector<NoticeBox> boxesFor(const Notice& notice);

} // namespace corvane
