#include "protocol/tokenizer.h"

namespace lastspot::protocol {

char* NextToken(char** cursor) {
    char* p = *cursor;
    while (*p == ' ') ++p;
    char* token = p;
    while (*p != ' ' && *p != '\0') ++p;
    if (*p == ' ') {
        *p++ = '\0';
        while (*p == ' ') ++p;
    }
    *cursor = p;
    return token;
}

bool IsDecimal(const char* token) {
    if (*token == '\0') return false;
    for (; *token != '\0'; ++token) {
        if (*token < '0' || *token > '9') return false;
    }
    return true;
}

std::uint32_t ParseDecimal(const char* token) {
    std::uint32_t value = 0;
    for (; *token >= '0' && *token <= '9'; ++token) {
        value = value * 10u + static_cast<std::uint32_t>(*token - '0');
    }
    return value;
}

}  // namespace lastspot::protocol
