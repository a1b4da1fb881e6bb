#include "module_symbols.h"

namespace {

// The PDB's file name as the DLL gives it, which may be a Windows path.
std::string pdbFileName(const std::string& pdbName) {
    std::size_t slash = pdbName.find_last_of("/\\");
    return slash == std::string::npos ? pdbName : pdbName.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

std::shared_ptr<ModuleSymbols> ModuleSymbols::find(const std::string& dllPath, const DebugId& id,
                                                   std::string& why) {
    std::string name = pdbFileName(id.pdbName);
    if (name.empty() || name == "." || name == "..") {
        why = "the DLL names no PDB";
        return nullptr;
    }
    std::string pdbPath = folderOf(dllPath) + "/" + name;
    std::optional<DebugId> pdb = readPdbDebugId(pdbPath, why);
    if (!pdb) {
        why = pdbPath + " " + why;
        return nullptr;
    }
    if (!pdb->sameBuild(id)) {
        why = pdbPath + " is another build's (its GUID or age differs from the DLL's)";
        return nullptr;
    }
    return std::shared_ptr<ModuleSymbols>(new ModuleSymbols(dllPath, pdbPath));
}

const SymbolizerProcess::Frames& ModuleSymbols::framesAt(std::uint32_t offset) {
    auto known = known_.find(offset);
    if (known != known_.end())
        return known->second;
    std::vector<SymbolizerProcess::Frames> answers = framesAt(std::vector<std::uint32_t>{offset});
    return known_[offset] = answers.front();
}

std::vector<SymbolizerProcess::Frames>
ModuleSymbols::framesAt(const std::vector<std::uint32_t>& offsets) {
    std::vector<SymbolizerProcess::Frames> answers(offsets.size());
    std::vector<SymbolizerProcess::Query> queries;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        auto known = known_.find(offsets[i]);
        if (known != known_.end()) {
            answers[i] = known->second;
            continue;
        }
        queries.push_back({&dllPath_, offsets[i]});
        asked.push_back(i);
    }
    if (queries.empty())
        return answers;
    std::optional<std::vector<SymbolizerProcess::Frames>> got = sharedSymbolizer().lookup(queries);
    if (!got)
        return answers; // unknown, and not kept: nothing to keep
    for (std::size_t q = 0; q < asked.size(); ++q) {
        answers[asked[q]] = (*got)[q];
        known_[offsets[asked[q]]] = (*got)[q];
    }
    return answers;
}

std::string describeFrame(const SourceFrame& frame) {
    std::string function = frame.function.empty() ? "?" : frame.function;
    if (frame.file.empty() || frame.line == 0)
        return function;
    return function + " (" + frame.file + ":" + std::to_string(frame.line) + ")";
}
