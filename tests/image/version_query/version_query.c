/* Asks the platform's version queries about a file and prints the answers,
 * one "name=value" line each, for the image tests to compare:
 *
 *   version-query.exe FILE
 *
 * Fixed part: file_version, product_version, file_flags_mask, file_flags,
 * file_os, file_type, file_subtype. Then one "translation=LLLL:CCCC" line per
 * pair of the translation list, and for each string-table entry asked about
 * under "\StringFileInfo\000004B0\" the lines "string.NAME=" with the value
 * as UTF-8 and "string.NAME.units=" with its UTF-16 units in hex, or
 * "string.NAME.missing=1". Exits with 1 when the file has no version block. */
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static HANDLE out;

static void put(const char* text) {
  DWORD written;
  WriteFile(out, text, (DWORD)strlen(text), &written, NULL);
}

static void putf(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  put(line);
}

static void put_string(const wchar_t* name, const void* block) {
  wchar_t query[128];
  wchar_t* value = NULL;
  UINT length = 0;
  char utf8[1024];
  int bytes;
  size_t i, units;

  swprintf(query, sizeof query / sizeof query[0],
           L"\\StringFileInfo\\000004B0\\%ls", name);
  if (!VerQueryValueW(block, query, (void**)&value, &length) || value == NULL) {
    putf("string.%ls.missing=1\n", name);
    return;
  }
  units = wcslen(value);
  bytes = WideCharToMultiByte(CP_UTF8, 0, value, (int)units, utf8,
                              (int)sizeof utf8 - 1, NULL, NULL);
  utf8[bytes > 0 ? bytes : 0] = '\0';
  putf("string.%ls=", name);
  put(utf8);
  put("\n");
  putf("string.%ls.units=", name);
  for (i = 0; i < units; ++i) {
    putf(i == 0 ? "%04X" : " %04X", (unsigned)value[i]);
  }
  put("\n");
}

int wmain(int argc, wchar_t** argv) {
  static const wchar_t* const names[] = {
      L"CompanyName",      L"FileDescription", L"FileVersion",
      L"InternalName",     L"LegalCopyright",  L"OriginalFilename",
      L"ProductName",      L"ProductVersion",
  };
  DWORD handle = 0;
  DWORD size;
  void* block;
  VS_FIXEDFILEINFO* fixed = NULL;
  WORD* pairs = NULL;
  UINT length = 0;
  size_t i;

  out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (argc != 2) {
    put("usage: version-query FILE\n");
    return 2;
  }
  size = GetFileVersionInfoSizeW(argv[1], &handle);
  if (size == 0) {
    putf("error=GetFileVersionInfoSizeW failed (%lu)\n", GetLastError());
    return 1;
  }
  block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (block == NULL || !GetFileVersionInfoW(argv[1], 0, size, block)) {
    putf("error=GetFileVersionInfoW failed (%lu)\n", GetLastError());
    return 1;
  }

  if (VerQueryValueW(block, L"\\", (void**)&fixed, &length) && fixed != NULL &&
      length >= sizeof *fixed) {
    putf("signature=0x%08lX\n", fixed->dwSignature);
    putf("file_version=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
         fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
         fixed->dwFileVersionLS & 0xFFFF);
    putf("product_version=%lu.%lu.%lu.%lu\n", fixed->dwProductVersionMS >> 16,
         fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
         fixed->dwProductVersionLS & 0xFFFF);
    putf("file_flags_mask=0x%08lX\n", fixed->dwFileFlagsMask);
    putf("file_flags=0x%08lX\n", fixed->dwFileFlags);
    putf("file_os=0x%08lX\n", fixed->dwFileOS);
    putf("file_type=%lu\n", fixed->dwFileType);
    putf("file_subtype=%lu\n", fixed->dwFileSubtype);
  } else {
    put("fixed.missing=1\n");
  }

  if (VerQueryValueW(block, L"\\VarFileInfo\\Translation", (void**)&pairs,
                     &length) && pairs != NULL) {
    for (i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      putf("translation=%04X:%04X\n", pairs[i], pairs[i + 1]);
    }
  } else {
    put("translation.missing=1\n");
  }

  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    put_string(names[i], block);
  }
  return 0;
}
