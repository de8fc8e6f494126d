/* Answers the INI cases of a case file through the Windows profile functions.
   Usage: iniprobe.exe CASES WORKDIR   (answers on standard output)
   Each case is written to its own file in WORKDIR, so no cached copy of an earlier case can answer. */
#include "escape.h"
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

enum { kBuffer = 65536 };
static char g_buffer[kBuffer];
static char g_line[1 << 20];

static void putList(const char* names) {
    int first = 1;
    for (const char* p = names; *p; p += strlen(p) + 1) {
        if (!first)
            putchar('\t');
        putEscaped(p, strlen(p));
        first = 0;
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: iniprobe CASES WORKDIR\n");
        return 2;
    }
    FILE* cases = fopen(argv[1], "rb");
    if (!cases)
        return 2;
    char path[MAX_PATH] = "";
    int number = 0;
    while (fgets(g_line, sizeof g_line, cases)) {
        size_t length = strlen(g_line);
        while (length && (g_line[length - 1] == '\n' || g_line[length - 1] == '\r'))
            g_line[--length] = 0;
        char* f[5];
        size_t n[5];
        const int count = splitFields(g_line, f, n, 5);
        const char* op = f[0];
        if (strcmp(op, "case") == 0) {
            snprintf(path, sizeof path, "%s\\case%d.ini", argv[2], ++number);
            printf("case\t%s\n", count > 1 ? f[1] : "");
            continue;
        }
        if (strcmp(op, "file") == 0) {
            FILE* out = fopen(path, "wb");
            if (out) {
                if (count > 1)
                    fwrite(f[1], 1, n[1], out);
                fclose(out);
            }
            continue;
        }
        if (strcmp(op, "nofile") == 0) {
            DeleteFileA(path);
            continue;
        }
        const char* section = count > 1 ? f[1] : NULL;
        const char* key = count > 2 ? f[2] : NULL;
        fputs(op, stdout);
        putchar('\t');
        if (strcmp(op, "R") == 0) {
            const DWORD got = GetPrivateProfileStringA(section, key, "<default>", g_buffer, kBuffer, path);
            putEscaped(g_buffer, got);
        } else if (strcmp(op, "I") == 0) {
            printf("%d", (int)GetPrivateProfileIntA(section, key, -77, path));
        } else if (strcmp(op, "K") == 0) {
            memset(g_buffer, 0, sizeof g_buffer);
            GetPrivateProfileStringA(section, NULL, "", g_buffer, kBuffer, path);
            putList(g_buffer);
        } else if (strcmp(op, "S") == 0) {
            memset(g_buffer, 0, sizeof g_buffer);
            GetPrivateProfileSectionNamesA(g_buffer, kBuffer, path);
            putList(g_buffer);
        } else if (strcmp(op, "W") == 0) {
            const char* value = count > 3 ? f[3] : "";
            fputs(WritePrivateProfileStringA(section, key, value, path) ? "ok" : "error", stdout);
        } else if (strcmp(op, "D") == 0) {
            fputs(WritePrivateProfileStringA(section, key, NULL, path) ? "ok" : "error", stdout);
        } else if (strcmp(op, "E") == 0) {
            fputs(WritePrivateProfileStringA(section, NULL, NULL, path) ? "ok" : "error", stdout);
        }
        putchar('\n');
    }
    fclose(cases);
    return 0;
}
