#!/usr/bin/python3
# The comparison side of bench_verinfo: reads the version information of each file named on the
# command line with the python3-pefile package and prints it in the shape of `verinfo --json`, one
# JSON object per line. String tables are listed as verinfo lists them: one per translation (the
# first table of that name, compared without regard to case), then the tables no translation names.
import json
import sys

import pefile


def translations_of(file_info):
    ids = []
    for block in file_info:
        if block.Key != b'VarFileInfo':
            continue
        for var in block.Var:
            for key, value in var.entry.items():
                if key == b'Translation':
                    words = value.split()
                    for i in range(0, len(words) - 1, 2):
                        ids.append('%04X%04X' % (int(words[i], 16), int(words[i + 1], 16)))
    return ids


def tables_of(file_info):
    tables = []
    for block in file_info:
        if block.Key != b'StringFileInfo':
            continue
        for table in block.StringTable:
            lang = table.LangID.decode('utf-8', 'replace')
            values = {}
            for key, value in table.entries.items():
                values.setdefault(key.decode('utf-8', 'replace'), value.decode('utf-8', 'replace'))
            tables.append((lang, values))
    return tables


def report(path):
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    except Exception as error:  # pefile raises PEFormatError and others for files it cannot read
        return {'file': path, 'error': str(error)}
    result = {'file': path, 'fixed': None, 'translations': [], 'strings': {}}
    fixed = getattr(pe, 'VS_FIXEDFILEINFO', None)
    if fixed:
        f = fixed[0]
        result['fixed'] = {
            'file_version': [f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF, f.FileVersionLS >> 16, f.FileVersionLS & 0xFFFF],
            'product_version': [f.ProductVersionMS >> 16, f.ProductVersionMS & 0xFFFF,
                                f.ProductVersionLS >> 16, f.ProductVersionLS & 0xFFFF],
            'flags': f.FileFlags, 'os': f.FileOS, 'type': f.FileType, 'subtype': f.FileSubtype,
        }
    file_info = pe.FileInfo[0] if getattr(pe, 'FileInfo', None) else []
    result['translations'] = translations_of(file_info)
    tables = tables_of(file_info)
    listed = [False] * len(tables)
    for tid in result['translations']:
        if tid in result['strings']:
            continue
        values = None
        for i, (lang, table) in enumerate(tables):
            if lang.upper() == tid:
                if values is None:
                    values = table
                listed[i] = True
        result['strings'][tid] = values or {}
    for i, (lang, table) in enumerate(tables):
        if not listed[i] and lang.upper() not in result['strings']:
            result['strings'][lang.upper()] = table
    return result


for name in sys.argv[1:]:
    print(json.dumps(report(name), ensure_ascii=False))
