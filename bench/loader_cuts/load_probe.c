/* What Wine's loader (or Windows') says of files cut short: for each line
 * "SOURCE<TAB>LENGTH" of the list given, the first LENGTH bytes of SOURCE
 * are written to a file of a name not used before in FOLDER and loaded with
 * LoadLibraryExA(..., DONT_RESOLVE_DLL_REFERENCES), which maps the image
 * and runs none of its code. Prints "LENGTH<TAB>ok" or "LENGTH<TAB>error N"
 * per line, in order. Wine's own builds carry a mark in their DOS stub that
 * makes Wine load its builtin module of that name instead of the file, so
 * the copy's mark is overwritten: the file itself is mapped.
 *
 * Usage (under Wine): load_probe.exe LIST FOLDER */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const char wine_mark[] = "Wine builtin DLL";

static int write_cut(const char* source, unsigned long length, const char* target) {
    FILE* in = fopen(source, "rb");
    if (!in) return 0;
    FILE* out = fopen(target, "wb");
    if (!out) {
        fclose(in);
        return 0;
    }
    static char block[1 << 16];
    unsigned long done = 0;
    while (done < length) {
        size_t want = length - done < sizeof block ? length - done : sizeof block;
        size_t got = fread(block, 1, want, in);
        if (got == 0) break;
        if (done == 0 && got >= 0x40 + sizeof wine_mark - 1 &&
            memcmp(block + 0x40, wine_mark, sizeof wine_mark - 1) == 0)
            memcpy(block + 0x40, "Korvex cut probe", sizeof wine_mark - 1);
        fwrite(block, 1, got, out);
        done += (unsigned long)got;
    }
    fclose(in);
    return fclose(out) == 0 && done == length;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: load_probe LIST FOLDER\n");
        return 2;
    }
    FILE* list = fopen(argv[1], "r");
    if (!list) return 2;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    char line[4096];
    unsigned long count = 0;
    while (fgets(line, sizeof line, list)) {
        char* tab = strchr(line, '\t');
        if (!tab) continue;
        *tab = 0;
        unsigned long length = strtoul(tab + 1, NULL, 10);
        char target[MAX_PATH];
        snprintf(target, sizeof target, "%s\\cut%lu_%lu.dll", argv[2], GetCurrentProcessId(),
                 count++);
        if (!write_cut(line, length, target)) {
            printf("%lu\tnot written\n", length);
            continue;
        }
        HMODULE module = LoadLibraryExA(target, NULL, DONT_RESOLVE_DLL_REFERENCES);
        if (module) {
            printf("%lu\tok\n", length);
            FreeLibrary(module);
        } else {
            printf("%lu\terror %lu\n", length, GetLastError());
        }
        fflush(stdout);
        DeleteFileA(target);
    }
    fclose(list);
    return 0;
}
