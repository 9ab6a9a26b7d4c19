#include "settings/setting_list.h"

#include <cstdio>

namespace kvx {

std::string PerMilleAsPercent(int32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0.1f", value * 0.1);
    return text;
}

}  // namespace kvx
