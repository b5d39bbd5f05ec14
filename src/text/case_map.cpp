#include "text/case_map.h"

namespace lastspot::text {

std::uint32_t IrcHash(const char* text) {
    std::uint32_t hash = 0;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        hash = hash * 33u + IrcLowerMap[*p];
    }
    return hash;
}

}  // namespace lastspot::text
