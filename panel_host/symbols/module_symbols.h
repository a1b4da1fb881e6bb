// The source lines of one DLL as it ships, read from the PDB beside it when
// that PDB is the DLL's own (the same GUID and age). Asked by offset from the
// image base; answers are kept, so a second question about an offset is free.
// Nothing here runs until a question is asked: a DLL without symbols, or a
// run that never asks, costs one look for the PDB file at most.
#ifndef MODULE_SYMBOLS_H
#define MODULE_SYMBOLS_H

#include "debug_id.h"
#include "symbolizer_process.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class ModuleSymbols {
  public:
    // The symbols of the DLL at dllPath, which names its PDB by `id`; nothing,
    // with the reason, when no PDB beside it is the DLL's own.
    static std::shared_ptr<ModuleSymbols> find(const std::string& dllPath, const DebugId& id,
                                               std::string& why);

    // The frames at an offset, innermost first; empty when unknown. Asked of
    // the process-wide symbolizer.
    const SymbolizerProcess::Frames& framesAt(std::uint32_t offset);
    // The same for many offsets at once, in one exchange with the symbolizer.
    std::vector<SymbolizerProcess::Frames> framesAt(const std::vector<std::uint32_t>& offsets);

    const std::string& dllPath() const { return dllPath_; }
    const std::string& pdbPath() const { return pdbPath_; }

  private:
    ModuleSymbols(std::string dllPath, std::string pdbPath)
        : dllPath_(std::move(dllPath)), pdbPath_(std::move(pdbPath)) {}

    std::string dllPath_, pdbPath_;
    std::map<std::uint32_t, SymbolizerProcess::Frames> known_;
};

// "PELDAN::take (panels/Studio_A/PELDAN/PELDAN.cpp:40)", or the function alone
// when the line is unknown.
std::string describeFrame(const SourceFrame& frame);

#endif
