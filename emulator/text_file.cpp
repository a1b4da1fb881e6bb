#include "text_file.h"

#include <fstream>
#include <sstream>

bool readTextFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    return true;
}
