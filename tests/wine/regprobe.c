/* Imports the registry cases of a case file with the registry editor and dumps what the registry
   then holds below HKEY_CURRENT_USER\Software\VestrelProbe.
   Usage: regprobe.exe CASES WORKDIR   (answers on standard output) */
#include "escape.h"
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static char g_line[1 << 20];
static const char kRoot[] = "Software\\VestrelProbe";

static void dumpKey(HKEY key, const char* relative) {
    printf("key\t");
    putEscaped(relative, strlen(relative));
    putchar('\n');
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLength = sizeof name;
        static BYTE data[1 << 16];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, NULL, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        /* The store keeps strings without their terminator. */
        if ((type == REG_SZ || type == REG_EXPAND_SZ) && dataLength > 0 && data[dataLength - 1] == 0)
            --dataLength;
        printf("value\t");
        putEscaped(relative, strlen(relative));
        putchar('\t');
        putEscaped(name, nameLength);
        printf("\t%lu\t", (unsigned long)type);
        for (DWORD b = 0; b < dataLength; ++b)
            printf("%02x", data[b]);
        putchar('\n');
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLength, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY sub;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        char path[4096];
        snprintf(path, sizeof path, "%s%s%s", relative, *relative ? "\\" : "", name);
        dumpKey(sub, path);
        RegCloseKey(sub);
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: regprobe CASES WORKDIR\n");
        return 2;
    }
    FILE* cases = fopen(argv[1], "rb");
    if (!cases)
        return 2;
    int number = 0;
    while (fgets(g_line, sizeof g_line, cases)) {
        size_t length = strlen(g_line);
        while (length && (g_line[length - 1] == '\n' || g_line[length - 1] == '\r'))
            g_line[--length] = 0;
        char* f[3];
        size_t n[3];
        const int count = splitFields(g_line, f, n, 3);
        if (strcmp(f[0], "case") == 0) {
            printf("case\t%s\n", count > 1 ? f[1] : "");
            continue;
        }
        if (strcmp(f[0], "file") != 0 || count < 2)
            continue;
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\case%d.reg", argv[2], ++number);
        FILE* out = fopen(path, "wb");
        if (!out)
            continue;
        fwrite(f[1], 1, n[1], out);
        fclose(out);
        RegDeleteTreeA(HKEY_CURRENT_USER, kRoot);
        char command[MAX_PATH + 32];
        snprintf(command, sizeof command, "regedit.exe /s \"%s\"", path);
        /* The editor's complaints go to NUL, not among the answers. */
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        HANDLE nul =
            CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = nul;
        PROCESS_INFORMATION process;
        fflush(stdout);
        if (CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
            WaitForSingleObject(process.hProcess, 60000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        CloseHandle(nul);
        HKEY root;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &root) == ERROR_SUCCESS) {
            dumpKey(root, "");
            RegCloseKey(root);
        }
    }
    fclose(cases);
    return 0;
}
