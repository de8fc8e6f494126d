/* Answers the string cases of a case file through LoadLibrary and LoadStringA.
   Usage: strprobe.exe CASES BASEDIR   (answers on standard output) */
#include "escape.h"
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static char g_line[1 << 16];
static char g_text[65536];

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: strprobe CASES BASEDIR\n");
        return 2;
    }
    FILE* cases = fopen(argv[1], "rb");
    if (!cases)
        return 2;
    HMODULE library = NULL;
    while (fgets(g_line, sizeof g_line, cases)) {
        size_t length = strlen(g_line);
        while (length && (g_line[length - 1] == '\n' || g_line[length - 1] == '\r'))
            g_line[--length] = 0;
        char* f[3];
        size_t n[3];
        const int count = splitFields(g_line, f, n, 3);
        if (strcmp(f[0], "case") == 0) {
            printf("case\t%s\n", count > 1 ? f[1] : "");
        } else if (strcmp(f[0], "dll") == 0 && count > 1) {
            if (library)
                FreeLibrary(library);
            char path[MAX_PATH];
            snprintf(path, sizeof path, "%s\\%s", argv[2], f[1]);
            for (char* p = path; *p; ++p)
                if (*p == '/')
                    *p = '\\';
            library = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
            printf("dll\t%s\n", library ? "ok" : "missing");
        } else if (strcmp(f[0], "S") == 0 && count > 1) {
            g_text[0] = 0;
            const int got = library ? LoadStringA(library, (UINT)atoi(f[1]), g_text, sizeof g_text) : 0;
            printf("S\t");
            putEscaped(g_text, got > 0 ? (size_t)got : 0);
            putchar('\n');
        }
    }
    fclose(cases);
    return 0;
}
