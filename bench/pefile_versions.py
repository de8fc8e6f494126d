#!/usr/bin/python3
# The comparison side of bench_verinfo: reads the version information of each file named on the
# command line with the python3-pefile package and prints it in the shape of `verinfo --json`, one
# JSON object per line. String tables are listed as verinfo lists them: one per translation (the
# first table of that name, compared without regard to case), then the tables no translation names.
import json
import locale
import os
import sys

import pefile

RT_VERSION = 16
ENGLISH_US = 0x0409


def user_language():
    """The Windows language identifier of the user's interface language, as verinfo takes it from the
    locale: the first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set; None for the C locale."""
    for variable in ('LANGUAGE', 'LC_ALL', 'LC_MESSAGES', 'LANG'):
        value = os.environ.get(variable)
        if value:
            name = value.split(':')[0].split('.')[0].split('@')[0]
            break
    else:
        return None
    by_name = {}
    for lcid, locale_name in sorted(locale.windows_locale.items()):
        by_name.setdefault(locale_name, lcid)
    if name in by_name:
        return by_name[name] & 0xFFFF
    primary = [lcid & 0x3FF for locale_name, lcid in by_name.items() if locale_name.split('_')[0] == name]
    return min(primary) if primary else None


def loader_choice(languages, user):
    """The position of the language the Windows resource loader takes: the user's, their primary
    language without or with its default sublanguage, a neutral one, English (US), the first."""
    wanted = []
    if user is not None:
        wanted = [user, user & 0x3FF, (user & 0x3FF) | 0x400]
    for language in wanted:
        if language in languages:
            return languages.index(language)
    for i, language in enumerate(languages):
        if language & 0x3FF == 0:
            return i
    if ENGLISH_US in languages:
        return languages.index(ENGLISH_US)
    return 0


def version_resource_index(pe):
    """Which of the file's version resources (pe.FileInfo, in directory order) verinfo reads:
    resource 1 in the language the loader would take, else the first."""
    directory = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    if directory is None:
        return 0
    entries = []
    for resource_type in directory.entries:
        if resource_type.id != RT_VERSION or not hasattr(resource_type, 'directory'):
            continue
        for resource in resource_type.directory.entries:
            if not hasattr(resource, 'directory'):
                continue
            for language in resource.directory.entries:
                entries.append((resource.id, language.id))
    ones = [i for i, (resource_id, _) in enumerate(entries) if resource_id == 1]
    if not ones:
        return 0
    return ones[loader_choice([entries[i][1] for i in ones], user_language())]


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
    chosen = version_resource_index(pe)
    fixed = getattr(pe, 'VS_FIXEDFILEINFO', None)
    if fixed and chosen < len(fixed):
        f = fixed[chosen]
        result['fixed'] = {
            'file_version': [f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF, f.FileVersionLS >> 16, f.FileVersionLS & 0xFFFF],
            'product_version': [f.ProductVersionMS >> 16, f.ProductVersionMS & 0xFFFF,
                                f.ProductVersionLS >> 16, f.ProductVersionLS & 0xFFFF],
            'flags': f.FileFlags, 'os': f.FileOS, 'type': f.FileType, 'subtype': f.FileSubtype,
        }
    all_file_info = getattr(pe, 'FileInfo', None) or []
    file_info = all_file_info[chosen] if chosen < len(all_file_info) else []
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
