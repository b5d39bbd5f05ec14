#include "script_text.h"

#include <charconv>
#include <cstdio>

namespace lastspot::tool {

bool ExpandMacros(const std::string& line, const std::string& directory, std::string* out,
                  std::string* error) {
    out->clear();
    std::size_t at = 0;
    for (;;) {
        std::size_t open = line.find("{{", at);
        if (open == std::string::npos) {
            out->append(line, at, std::string::npos);
            return true;
        }
        std::size_t close = line.find("}}", open + 2);
        if (close == std::string::npos) {
            *error = "unfinished {{ at column " + std::to_string(open + 1);
            return false;
        }
        out->append(line, at, open - at);
        std::string inner = line.substr(open + 2, close - open - 2);
        std::size_t star = inner.find('*');
        if (inner == "dir") {
            out->append(directory);
        } else if (star != std::string::npos && star > 0 && inner.find_first_not_of("0123456789") == star) {
            unsigned long count = 0;
            auto parsed = std::from_chars(inner.data(), inner.data() + star, count);
            if (parsed.ec != std::errc() || count > 1000000) {
                *error = "repeat count " + inner.substr(0, star) + " is too large";
                return false;
            }
            std::string unit = inner.substr(star + 1);
            for (unsigned long i = 0; i < count; ++i) out->append(unit);
        } else {
            *error = "unknown macro {{" + inner + "}}";
            return false;
        }
        at = close + 2;
    }
}

bool DecodeEscapes(const std::string& text, std::string* out, std::string* error) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out->push_back(text[i]);
            continue;
        }
        char kind = i + 1 < text.size() ? text[i + 1] : '\0';
        ++i;
        switch (kind) {
            case 'r': out->push_back('\r'); break;
            case 'n': out->push_back('\n'); break;
            case 't': out->push_back('\t'); break;
            case '0': out->push_back('\0'); break;
            case '\\': out->push_back('\\'); break;
            case 'x': {
                std::string digits = text.substr(i + 1, 2);
                if (digits.size() != 2 ||
                    digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                    *error = "\\x needs two hex digits";
                    return false;
                }
                out->push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
                i += 2;
                break;
            }
            default:
                *error = std::string("unknown escape \\") + (kind == '\0' ? "(end)" : std::string(1, kind));
                return false;
        }
    }
    return true;
}

std::string ShowBytes(const std::string& bytes) {
    std::string shown;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\r': shown += "\\r"; break;
            case '\n': shown += "\\n"; break;
            case '\t': shown += "\\t"; break;
            case '\0': shown += "\\0"; break;
            case '\\': shown += "\\\\"; break;
            default:
                if (c < 32 || c == 127) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    shown += hex;
                } else {
                    shown.push_back(static_cast<char>(c));
                }
        }
    }
    return shown;
}

}  // namespace lastspot::tool
