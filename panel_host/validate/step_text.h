// The text a step hands the script, where the search grows it and the
// shrinker cuts it: a parameter message, a revertive's text, the value of a
// control event's message.
#ifndef STEP_TEXT_H
#define STEP_TEXT_H

#include <cstddef>
#include <string>

namespace step_text_detail {

// Just past the first `count` words of `step`, or npos when it has fewer.
inline std::size_t afterWords(const std::string& step, int count) {
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        at = step.find(' ', at);
        if (at == std::string::npos)
            return at;
        ++at;
    }
    return at;
}

} // namespace step_text_detail

// Where the step's text begins (it runs to the end of the line); npos for a
// step without one.
inline std::size_t textStart(const std::string& step) {
    using step_text_detail::afterWords;
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

#endif
