#include "emulated_process.h"

#include "hex_text.h"
#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

constexpr std::uint32_t pageSize = 4096;
constexpr std::size_t maxModules = 8;
// Values the callee-saved registers hold across a call; a callee that changes them is broken.
constexpr std::uint32_t savedEbx = 0x5eed0001, savedEsi = 0x5eed0002, savedEdi = 0x5eed0003,
                        savedEbp = 0x5eed0004;

// The file in `folder` whose name matches, ignoring case as Windows does.
std::optional<std::string> findInFolder(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return std::nullopt;
    std::optional<std::string> found;
    for (dirent* entry; (entry = readdir(dir)) != nullptr;)
        if (lowerCase(entry->d_name) == lowerCase(name)) {
            found = entry->d_name;
            break;
        }
    closedir(dir);
    return found;
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::streamoff size = in.tellg();
    if (size < 0 || size > static_cast<std::streamoff>(maxPeFileSize)) {
        error = path + ": not a readable file of at most 64 MiB";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    if (in.gcount() != size) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

} // namespace

std::uint32_t StubCall::arg(int n) const {
    std::uint32_t value = 0;
    process_.machine().read32(stackPointer_ + 4 + 4 * static_cast<std::uint32_t>(n), value);
    return value;
}

std::uint32_t StubCall::caller() const {
    std::uint32_t value = 0;
    process_.machine().read32(stackPointer_, value);
    return value;
}

struct EmulatedProcess::LoadContext {
    std::vector<std::string> missing;    // "dll!function"
    std::vector<std::string> loading;    // lower-case names, to refuse import cycles
    std::vector<std::size_t> entryOrder; // modules whose entry point runs, dependencies first
    std::string error;
};

EmulatedProcess::EmulatedProcess(RuntimeDlls runtime)
    : runtime_(std::move(runtime)), heap_(machine_, heapBase, heapSize) {
    std::string error;
    ready_ = machine_.map(stubBase, stubAreaSize, pageRead | pageExecute, error) &&
             machine_.map(stackBase, stackSize, pageRead | pageWrite, error) &&
             machine_.map(hostBase, hostSize, pageRead, error) &&
             machine_.map(replyBase, replySize, pageRead | pageWrite, error) &&
             machine_.map(heapBase, heapSize, pageRead | pageWrite, error);
    // The stop address: calls from the host return here, and the run ends on arrival.
    const std::uint8_t halt[stubSize] = {0xf4, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc};
    machine_.write(stopAddress_, halt, sizeof halt);
    stubs_.push_back({"(return to host)", nullptr});
    machine_.onTrap([this](std::uint32_t next) { onTrap(next); });
    ready_ = ready_ && machine_.stubArea(stubBase, stubBase + stubAreaSize,
                                         [this](std::uint32_t at) { onStub(at); });
    // What the script's images run, for the coverage report; the host's
    // stubs below them are not the script's code.
    machine_.watchBlocks(firstImageBase, 0xFFFFFFFFu);
}

void EmulatedProcess::breach(const std::string& what) const {
    if (onBreach)
        onBreach(what);
}

std::uint32_t EmulatedProcess::addStub(const std::string& name, std::uint16_t popBytes,
                                       StubHandler handler) {
    std::uint32_t address = stubBase + stubSize * static_cast<std::uint32_t>(stubs_.size());
    // xchg ax, ax (the host's handler runs as it is reached) ; ret popBytes
    const std::uint8_t code[stubSize] = {0x66,
                                         0x90,
                                         0xc2,
                                         static_cast<std::uint8_t>(popBytes),
                                         static_cast<std::uint8_t>(popBytes >> 8),
                                         0xcc,
                                         0xcc,
                                         0xcc};
    if (address + stubSize > stubBase + stubAreaSize || !machine_.write(address, code, stubSize))
        return 0;
    stubs_.push_back({name, std::move(handler)});
    return address;
}

// Host stubs are reached without an interrupt, so this one is the script's own.
void EmulatedProcess::onTrap(std::uint32_t next) {
    machine_.fault("interrupt 0x80 outside the host's stubs, at " + where(next - 2));
}

// Before each instruction of the stub area: the first of a stub calls its
// handler; the rest (its `ret`, or code past the last stub) run as they are.
void EmulatedProcess::onStub(std::uint32_t at) {
    std::uint32_t offset = at - stubBase;
    std::uint32_t index = offset / stubSize;
    if (offset % stubSize != 0 || index == 0 || index >= stubs_.size())
        return;
    StubCall call(*this, machine_.reg(X86Machine::esp));
    machine_.setReg(X86Machine::eax, stubs_[index].handler(call));
}

EmulatedProcess::CallResult EmulatedProcess::call(std::uint32_t function,
                                                  const std::vector<std::uint32_t>& args,
                                                  std::uint16_t popBytes,
                                                  std::optional<std::uint32_t> thisPointer) {
    CallResult result;
    // The arguments right to left, then the return address, below the stack's top.
    std::uint32_t entryStack =
        stackBase + stackSize - 64 - 4 * static_cast<std::uint32_t>(args.size() + 1);
    machine_.write32(entryStack, stopAddress_);
    for (std::size_t i = 0; i < args.size(); ++i)
        machine_.write32(entryStack + 4 + 4 * static_cast<std::uint32_t>(i), args[i]);
    machine_.setRegs({{X86Machine::esp, entryStack},
                      {X86Machine::ebx, savedEbx},
                      {X86Machine::esi, savedEsi},
                      {X86Machine::edi, savedEdi},
                      {X86Machine::ebp, savedEbp},
                      {X86Machine::ecx, thisPointer.value_or(0)}});
    X86Machine::Stop stop = machine_.run(function, stopAddress_, budget_);
    std::uint32_t after[6] = {};
    machine_.regs({X86Machine::esp, X86Machine::ebx, X86Machine::esi, X86Machine::edi,
                   X86Machine::ebp, X86Machine::eax},
                  after);
    const std::uint32_t actual = after[0];
    if (stop.kind != X86Machine::Stop::returned) {
        result.fault = stop.what + ", at " + whereWithCallers(stop.at, actual);
        return result;
    }
    std::uint32_t expected = entryStack + 4 + popBytes;
    if (actual != expected) {
        result.fault = where(function) + " returned popping " +
                       std::to_string(static_cast<std::int64_t>(actual) - entryStack - 4) +
                       " bytes of arguments; the convention pops " + std::to_string(popBytes);
        return result;
    }
    if (after[1] != savedEbx || after[2] != savedEsi || after[3] != savedEdi ||
        after[4] != savedEbp) {
        result.fault = where(function) + " returned without restoring EBX, ESI, EDI or EBP";
        return result;
    }
    result.eax = after[5];
    return result;
}

bool EmulatedProcess::readText(std::uint32_t address, std::size_t limit, std::string& out) const {
    std::string_view text;
    if (!textView(address, limit, out, text))
        return false;
    if (text.data() != out.data())
        out.assign(text);
    return true;
}

// A text that ends inside one region the machine owns is read in place; any
// other (code pages, one that crosses regions, runs long or runs off) is read
// chunk by chunk, which gives the same answer at every limit.
bool EmulatedProcess::textView(std::uint32_t address, std::size_t limit, std::string& storage,
                               std::string_view& text) const {
    std::uint32_t available = 0;
    if (const std::uint8_t* bytes = machine_.ownedTail(address, pageRead, available)) {
        std::size_t scan = std::min<std::size_t>(available, limit + 1);
        if (const void* end = std::memchr(bytes, 0, scan)) {
            text = std::string_view(reinterpret_cast<const char*>(bytes),
                                    static_cast<const std::uint8_t*>(end) - bytes);
            return true;
        }
    }
    storage.clear();
    char chunk[256];
    while (storage.size() <= limit) {
        std::uint32_t toPageEnd = pageSize - address % pageSize;
        std::uint32_t length = std::min<std::uint32_t>(toPageEnd, sizeof chunk);
        if (!machine_.allows(address, length, pageRead) || !machine_.read(address, chunk, length))
            return false;
        if (const void* end = std::memchr(chunk, 0, length)) {
            storage.append(chunk, static_cast<const char*>(end) - chunk);
            text = storage;
            return storage.size() <= limit; // the last chunk may hold more than the limit
        }
        storage.append(chunk, length);
        address += length;
    }
    return false;
}

std::uint32_t EmulatedProcess::placeFor(std::uint32_t preferred, std::uint32_t size) const {
    auto freeAt = [&](std::uint64_t base) {
        if (base < firstImageBase || base + size > 0xf0000000ull)
            return false;
        for (const Module& m : modules_)
            if (base < m.base + static_cast<std::uint64_t>(m.size) && m.base < base + size)
                return false;
        return true;
    };
    if (freeAt(preferred))
        return preferred;
    for (std::uint64_t base = firstImageBase; base + size <= 0xf0000000ull; base += 0x10000)
        if (freeAt(base))
            return static_cast<std::uint32_t>(base);
    return 0;
}

bool EmulatedProcess::mapImage(Module& module, const PeImage& image, std::string& error) {
    std::vector<std::uint8_t> bytes = image.image;
    std::uint32_t delta = module.base - image.preferredBase;
    for (std::uint32_t rva : image.fixups) {
        std::uint32_t value = bytes[rva] | bytes[rva + 1] << 8 | bytes[rva + 2] << 16 |
                              static_cast<std::uint32_t>(bytes[rva + 3]) << 24;
        value += delta;
        for (int i = 0; i < 4; ++i)
            bytes[rva + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    // Each page gets the permissions of every section on it; the headers are read-only.
    std::vector<std::uint32_t> pages(image.sizeOfImage / pageSize, 0);
    for (std::uint32_t p = 0; p * pageSize < image.headerSize; ++p)
        pages[p] |= pageRead;
    for (const PeSection& s : image.sections)
        for (std::uint32_t p = s.rva / pageSize; p * pageSize < s.rva + s.size; ++p)
            pages[p] |= s.permissions;
    for (std::size_t first = 0; first < pages.size();) {
        std::size_t last = first;
        while (last + 1 < pages.size() && pages[last + 1] == pages[first])
            ++last;
        std::uint32_t at = module.base + static_cast<std::uint32_t>(first) * pageSize;
        std::uint32_t length = static_cast<std::uint32_t>(last - first + 1) * pageSize;
        if (pages[first] != 0 && !machine_.map(at, length, pages[first], error))
            return false;
        if (pages[first] != 0)
            machine_.write(at, bytes.data() + first * pageSize, length);
        first = last + 1;
    }
    for (const auto& [name, rva] : image.exports)
        module.exports[name] = module.base + rva;
    for (const PeSection& s : image.sections)
        if (s.permissions & pageExecute)
            module.code.push_back({s.rva, s.size});
    return true;
}

const RuntimeDll* EmulatedProcess::runtimeDll(const std::string& dll) const {
    std::string wanted = lowerCase(dll);
    for (const RuntimeDll* served : runtime_)
        if (wanted == served->name)
            return served;
    return nullptr;
}

std::optional<std::uint32_t> EmulatedProcess::resolve(const std::string& dll,
                                                      const std::string& function,
                                                      const std::string& folder,
                                                      LoadContext& context) {
    std::string key = lowerCase(dll) + "!" + function;
    auto stub = runtimeStubs_.find(key);
    if (stub != runtimeStubs_.end())
        return stub->second;
    const RuntimeDll* served = runtimeDll(dll);
    if (const RuntimeFunction* row = served ? served->find(function) : nullptr) {
        RuntimeFunction copy = *row;
        std::uint32_t address = addStub(function, copy.popBytes,
                                        [copy](const StubCall& call) { return copy.run(call); });
        if (address == 0)
            return std::nullopt;
        runtimeStubs_[key] = address;
        return address;
    }
    if (served)
        return std::nullopt;
    auto loaded = std::find_if(modules_.begin(), modules_.end(), [&](const Module& m) {
        return lowerCase(m.name) == lowerCase(dll);
    });
    if (loaded == modules_.end()) {
        std::optional<std::string> file = findInFolder(folder, dll);
        if (!file) {
            std::string note = dll + " (not found beside the library)";
            if (std::find(context.missing.begin(), context.missing.end(), note) ==
                context.missing.end())
                context.missing.push_back(note);
            return std::nullopt;
        }
        if (!loadModule(folder, *file, context))
            return std::nullopt;
        loaded = std::find_if(modules_.begin(), modules_.end(),
                              [&](const Module& m) { return m.name == *file; });
    }
    auto exported = loaded->exports.find(function);
    if (exported == loaded->exports.end())
        return std::nullopt;
    return exported->second;
}

bool EmulatedProcess::loadModule(const std::string& folder, const std::string& fileName,
                                 LoadContext& context) {
    if (std::find(context.loading.begin(), context.loading.end(), lowerCase(fileName)) !=
        context.loading.end()) {
        context.error = fileName + " imports itself through its own imports";
        return false;
    }
    if (modules_.size() >= maxModules) {
        context.error = "more than 8 DLLs to load";
        return false;
    }
    std::vector<std::uint8_t> file;
    PeImage image;
    if (!readFile(folder + "/" + fileName, file, context.error) ||
        !readPeImage(fileName, file, image, context.error))
        return false;
    Module module;
    module.name = fileName;
    module.path = folder + "/" + fileName;
    if (image.hasDebugId)
        module.debugId = image.debugId;
    module.size = image.sizeOfImage;
    module.base = placeFor(image.preferredBase, image.sizeOfImage);
    if (module.base == 0) {
        context.error = fileName + ": no room for its image";
        return false;
    }
    if (module.base != image.preferredBase && image.fixups.empty()) {
        context.error = fileName + " must move but has no relocations";
        return false;
    }
    if (!mapImage(module, image, context.error))
        return false;
    modules_.push_back(module);
    std::size_t index = modules_.size() - 1;
    context.loading.push_back(lowerCase(fileName));
    for (const PeImport& import : image.imports) {
        std::optional<std::uint32_t> address =
            resolve(import.dll, import.function, folder, context);
        if (!context.error.empty())
            return false;
        if (!address) {
            if (findInFolder(folder, import.dll) || runtimeDll(import.dll))
                context.missing.push_back(import.dll + "!" + import.function);
            continue;
        }
        machine_.write32(modules_[index].base + import.slotRva, *address);
    }
    context.loading.pop_back();
    modules_[index].entry = image.entryRva == 0 ? 0 : modules_[index].base + image.entryRva;
    if (image.entryRva != 0)
        context.entryOrder.push_back(index);
    return true;
}

bool EmulatedProcess::loadLibrary(const std::string& path, std::string& error) {
    if (!ready_) {
        error = "the CPU emulator could not start";
        return false;
    }
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    LoadContext context;
    if (!loadModule(folder, fileName, context)) {
        error = context.error;
        return false;
    }
    if (!context.missing.empty()) {
        error = fileName + " imports what this host does not provide:";
        for (const std::string& name : context.missing)
            error += (&name == &context.missing.front() ? " " : ", ") + name;
        return false;
    }
    for (std::size_t index : context.entryOrder) {
        const Module& module = modules_[index];
        // DllMain(instance, DLL_PROCESS_ATTACH, null), stdcall.
        CallResult result = call(module.entry, {module.base, 1, 0}, 12);
        if (result.fault) {
            error = module.name + ": its entry point faulted: " + *result.fault;
            return false;
        }
        if (result.eax == 0) {
            error = module.name + ": its entry point refused to attach";
            return false;
        }
    }
    return true;
}

bool EmulatedProcess::snapshot() {
    savedHeap_ = heap_.books();
    snapshotTaken_ = machine_.snapshot();
    return snapshotTaken_;
}

bool EmulatedProcess::rewind() {
    if (!snapshotTaken_ || !machine_.restore())
        return false;
    heap_.restore(savedHeap_);
    budget_ = defaultBudget;
    return true;
}
