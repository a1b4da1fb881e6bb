#include "step_text.h"

namespace {

// Just past the first `count` words of `step`, or npos when it has fewer.
std::size_t afterWords(const std::string& step, int count) {
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        at = step.find(' ', at);
        if (at == std::string::npos)
            return at;
        ++at;
    }
    return at;
}

} // namespace

std::size_t textStart(const std::string& step) {
    if (step.rfind("param ", 0) == 0)
        return 6;
    if (step.rfind("revertive ", 0) == 0)
        return afterWords(step, 3);
    if (step.rfind("event ", 0) == 0) {
        std::size_t message = afterWords(step, 3);
        std::size_t equals = message == std::string::npos ? message : step.find('=', message);
        return equals == std::string::npos ? message : equals + 1;
    }
    return std::string::npos;
}
