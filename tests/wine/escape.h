/* Field escapes shared by the Windows probes: the case files and the answers are lines of
   tab-separated fields; "\\", "\t", "\r", "\n" and "\xHH" stand for bytes a field cannot hold. */
#pragma once
#include <stdio.h>
#include <string.h>

static size_t unescape(const char* in, size_t length, char* out) {
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (in[i] != '\\' || i + 1 >= length) {
            out[n++] = in[i];
            continue;
        }
        const char c = in[++i];
        if (c == 't')
            out[n++] = '\t';
        else if (c == 'r')
            out[n++] = '\r';
        else if (c == 'n')
            out[n++] = '\n';
        else if (c == 'x' && i + 2 < length) {
            unsigned value = 0;
            sscanf(in + i + 1, "%2x", &value);
            out[n++] = (char)value;
            i += 2;
        } else
            out[n++] = c;
    }
    out[n] = 0;
    return n;
}

static void putEscaped(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = (unsigned char)text[i];
        if (c == '\\')
            fputs("\\\\", stdout);
        else if (c == '\t')
            fputs("\\t", stdout);
        else if (c == '\r')
            fputs("\\r", stdout);
        else if (c == '\n')
            fputs("\\n", stdout);
        else if (c < 0x20 || c == 0x7F)
            printf("\\x%02x", c);
        else
            putchar(c);
    }
}

/* Splits a line in place at tabs into at most `max` unescaped fields; returns their number. */
static int splitFields(char* line, char** fields, size_t* lengths, int max) {
    int count = 0;
    char* start = line;
    for (;;) {
        char* tab = strchr(start, '\t');
        const size_t length = tab ? (size_t)(tab - start) : strlen(start);
        if (count < max) {
            fields[count] = start;
            lengths[count] = unescape(start, length, start);
            ++count;
        }
        if (!tab)
            break;
        start = tab + 1;
    }
    return count;
}
