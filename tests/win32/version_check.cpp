// Reads PELDAN.dll's version resource back through the Windows API.
#include "check_report.h"
#include "win32_api.h"

#include <stdlib.h>

namespace {

struct FixedFileInfo {
    unsigned long signature, structVersion, fileVersionMS, fileVersionLS, productVersionMS,
        productVersionLS, fileFlagsMask, fileFlags, fileOS, fileType, fileSubtype, fileDateMS,
        fileDateLS;
};

const char* const library = "PELDAN.dll";

const char* queryText(const void* block, const char* key) {
    char path[128];
    snprintf(path, sizeof path, "\\StringFileInfo\\080904b0\\%s", key);
    void* value = 0;
    unsigned int bytes = 0;
    if (!VerQueryValueA(block, path, &value, &bytes))
        return 0;
    return bytes == 0 ? "" : static_cast<const char*>(value);
}

} // namespace

int main() {
    CheckReport report = {0, 0};
    unsigned long handle = 0;
    unsigned long size = GetFileVersionInfoSizeA(library, &handle);
    check(report, size > 0, "PELDAN.dll has a version resource");
    if (size == 0)
        return finish(report, "version_check");
    void* block = malloc(size);
    check(report, GetFileVersionInfoA(library, 0, size, block) != 0, "GetFileVersionInfoA");

    void* fixedValue = 0;
    unsigned int fixedBytes = 0;
    check(report, VerQueryValueA(block, "\\", &fixedValue, &fixedBytes) != 0, "fixed file info");
    if (fixedValue != 0) {
        const FixedFileInfo* fixed = static_cast<const FixedFileInfo*>(fixedValue);
        check(report, fixed->signature == 0xFEEF04BDul, "fixed file info signature");
        check(report, fixed->fileVersionMS == 0x00010000ul && fixed->fileVersionLS == 0x00000001ul,
              "file version 1.0.0.1");
        check(report,
              fixed->productVersionMS == 0x00010000ul && fixed->productVersionLS == 0x00000001ul,
              "product version 1.0.0.1");
        check(report, fixed->fileType == 2ul, "file type DLL");
        check(report, fixed->fileOS == 4ul, "file OS 32-bit Windows");
    }

    const char* const expected[][2] = {
        {"Comments", "VESK V4.5 Script Component"},
        {"FileDescription", "Select Audio OS feeds to Studio A SCR"},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "PELDAN"},
        {"OriginalFilename", "PELDAN"},
        {"ProductName", "VESK V4.5"},
        {"ProductVersion", "1, 0, 0, 1"},
        {"LegalTrademarks", ""},
        {"PrivateBuild", ""},
        {"SpecialBuild", ""},
    };
    for (const auto& entry : expected)
        checkText(report, queryText(block, entry[0]), entry[1], entry[0]);

    void* translation = 0;
    unsigned int translationBytes = 0;
    VerQueryValueA(block, "\\VarFileInfo\\Translation", &translation, &translationBytes);
    check(report,
          translationBytes == 4 && static_cast<unsigned short*>(translation)[0] == 0x0809 &&
              static_cast<unsigned short*>(translation)[1] == 1200,
          "translation English (United Kingdom), code page 1200");
    free(block);
    return finish(report, "version_check");
}
