// Loads a panel script library by path and finds its one export.
#ifndef SCRIPT_LIBRARY_H
#define SCRIPT_LIBRARY_H

#include "script_abi.h"

#include <string>

class ScriptLibrary {
  public:
    // Loads the library; check loaded() and error() afterwards.
    explicit ScriptLibrary(const std::string& path);
    ~ScriptLibrary();
    ScriptLibrary(const ScriptLibrary&) = delete;
    ScriptLibrary& operator=(const ScriptLibrary&) = delete;

    bool loaded() const { return load_ != nullptr; }
    const std::string& error() const { return error_; }
    // The folder the library lives in, as the host passes it to the script.
    const std::string& folder() const { return folder_; }
    // The library's file, as loaded (an absolute path).
    const std::string& path() const { return path_; }
    LoadScriptFunction loadFunction() const { return load_; }
    // An export of the library or of a library it loaded (by name, where the
    // system loader can tell); null when there is none.
    void* symbol(const char* name, const char* inLibrary) const;

  private:
    void* handle_ = nullptr;
    LoadScriptFunction load_ = nullptr;
    std::string folder_;
    std::string path_;
    std::string error_;
};

#endif
