// Reads a whole text file, for the layout, studio and scenario readers.
#ifndef TEXT_FILE_H
#define TEXT_FILE_H

#include <string>

// False when the file cannot be opened.
bool readTextFile(const std::string& path, std::string& text);

#endif
