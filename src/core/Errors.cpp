#include "core/Errors.h"

namespace zx {

namespace {

    std::string Replace(const char* format, const char* placeholder, const std::string& value)
    {
        std::string text(format);
        const auto at = text.find(placeholder);
        if (at != std::string::npos)
            text.replace(at, 2, value);
        return text;
    }

} // namespace

std::string FormatMessage(const char* format, long long value)
{
    return Replace(format, "%d", std::to_string(value));
}

std::string FormatMessage(const char* format, const std::string& value)
{
    return Replace(format, "%s", value);
}

} // namespace zx
