/* Runs one end-to-end case inside Wine: prepares the registry and the
 * environment, starts a command line exactly as given (a shell would rebuild
 * it from words), reads the full 32-bit exit code, and reports the registry
 * afterwards.
 *
 *   driver CASEFILE OUTFILE
 *
 * CASEFILE is UTF-8, one step a line, fields separated by tabs:
 *   set VIEW ROOT SUBKEY NAME TYPE HEX   store a value (HEX: its bytes)
 *   delvalue VIEW ROOT SUBKEY NAME       remove a value, if there
 *   delkey VIEW ROOT SUBKEY              remove a key and what is below it
 *   env NAME VALUE                       set a variable the run inherits
 *   run CWD HEX                          start the UTF-16 command line HEX
 *                                        in folder CWD ("-": the driver's)
 *   runpipe LABEL HOW CWD HEX SECONDS    the same, with handle inheritance
 *                                        on and the write end of an
 *                                        inheritable pipe passed on: HOW is
 *                                        "output" (as its standard output
 *                                        and error) or "handle" (only in
 *                                        its handle table); once it has
 *                                        ended, wait up to SECONDS for the
 *                                        pipe to reach its end
 *   exists PATH                          report whether a file exists
 *   signal NAME                          set the named event
 *   waitfile PATH SECONDS                wait for a file to appear
 *   get VIEW ROOT SUBKEY NAME            report a value
 * VIEW is 32 or 64, ROOT is HKLM or HKCU. OUTFILE receives UTF-8 lines:
 *   exit CODE | exists PATH 0|1 | waitfile PATH 0|1 |
 *   get NAME TYPE HEX | get NAME missing |
 *   pipe LABEL eof|open|error ERROR
 * A pipe is at its end when ReadFile fails with ERROR_BROKEN_PIPE: no
 * process holds its write end any more. "open": still not within the time.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_FIELDS 8

static FILE *out;

static void fail(const char *what, const wchar_t *detail) {
  fprintf(stderr, "driver: %s: %ls (error %lu)\n", what, detail ? detail : L"",
          GetLastError());
  exit(2);
}

static HKEY root_of(const wchar_t *name) {
  if (!wcscmp(name, L"HKLM")) return HKEY_LOCAL_MACHINE;
  if (!wcscmp(name, L"HKCU")) return HKEY_CURRENT_USER;
  fail("unknown root", name);
  return NULL;
}

static REGSAM view_of(const wchar_t *name) {
  return !wcscmp(name, L"64") ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

static int hexval(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

/* Decodes HEX into bytes; returns the byte count. */
static size_t unhex(const wchar_t *hex, BYTE *bytes, size_t room) {
  size_t n = 0;
  for (; hex[0] && hex[1]; hex += 2) {
    int hi = hexval(hex[0]), lo = hexval(hex[1]);
    if (hi < 0 || lo < 0 || n == room) fail("bad hex", hex);
    bytes[n++] = (BYTE)(hi * 16 + lo);
  }
  return n;
}

static void put_utf8(const wchar_t *text) {
  char buffer[8192];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer,
                              NULL, NULL);
  fputs(n > 0 ? buffer : "?", out);
}

/* Starts the UTF-16 command line HEX in folder CWD ("-": the driver's).
 * With a STARTUPINFOW, handle inheritance is on. */
static HANDLE start(const wchar_t *cwd, const wchar_t *hex,
                    STARTUPINFOW *with) {
  static wchar_t line[40000];
  size_t n = unhex(hex, (BYTE *)line, sizeof line - 2);
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  line[n / 2] = 0;
  if (!CreateProcessW(NULL, line, NULL, NULL, with != NULL, 0, NULL,
                      wcscmp(cwd, L"-") ? cwd : NULL, with ? with : &si, &pi))
    fail("start", line);
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

/* Waits for the process to end and reports its exit code. */
static void finish(HANDLE process) {
  DWORD code = 0;
  WaitForSingleObject(process, INFINITE);
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  fprintf(out, "exit\t%lu\n", code);
}

/* Reads the pipe to its end; the thread's exit code is ReadFile's error. */
static DWORD WINAPI drain(LPVOID pipe) {
  BYTE buffer[512];
  DWORD got;
  while (ReadFile((HANDLE)pipe, buffer, sizeof buffer, &got, NULL)) {
  }
  return GetLastError();
}

static void run_with_pipe(const wchar_t *label, const wchar_t *how,
                          const wchar_t *cwd, const wchar_t *hex,
                          DWORD seconds) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
  HANDLE read_end, write_end, reader, process;
  DWORD error = 0;
  STARTUPINFOW si;
  if (!CreatePipe(&read_end, &write_end, &sa, 0)) fail("create pipe", label);
  /* Only the write end is for the child. */
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  if (!wcscmp(how, L"output")) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write_end;
    si.hStdError = write_end;
  } else if (wcscmp(how, L"handle")) {
    fail("unknown way to pass a pipe", how);
  }
  process = start(cwd, hex, &si);
  /* As a caller that reads the output does: the child's copy is the only
   * one left, so the end comes when it and whatever it passed it to end. */
  CloseHandle(write_end);
  finish(process);
  reader = CreateThread(NULL, 0, drain, read_end, 0, NULL);
  if (!reader) fail("start reader", label);
  fputs("pipe\t", out);
  put_utf8(label);
  if (WaitForSingleObject(reader, seconds * 1000) != WAIT_OBJECT_0) {
    /* The reader stays blocked until the last writer ends. */
    fputs("\topen\n", out);
    return;
  }
  GetExitCodeThread(reader, &error);
  CloseHandle(reader);
  CloseHandle(read_end);
  if (error == ERROR_BROKEN_PIPE)
    fputs("\teof\n", out);
  else
    fprintf(out, "\terror\t%lu\n", error);
}

static void step(wchar_t **f, int count) {
  static BYTE data[200000];
  const wchar_t *op = f[0];
  if (!wcscmp(op, L"set") && count == 7) {
    HKEY key;
    size_t n = unhex(f[6], data, sizeof data - 2);
    if (RegCreateKeyExW(root_of(f[2]), f[3], 0, NULL, 0,
                        KEY_SET_VALUE | view_of(f[1]), NULL, &key, NULL))
      fail("create key", f[3]);
    /* A value stored without its null must not be followed by a zero
     * unit, or the registry adds the terminator itself. */
    data[n] = 0x5A;
    data[n + 1] = 0x5A;
    if (RegSetValueExW(key, f[4], 0, (DWORD)_wtoi(f[5]), data, (DWORD)n))
      fail("set value", f[4]);
    RegCloseKey(key);
  } else if (!wcscmp(op, L"delvalue") && count == 5) {
    HKEY key;
    if (!RegOpenKeyExW(root_of(f[2]), f[3], 0, KEY_SET_VALUE | view_of(f[1]),
                       &key)) {
      RegDeleteValueW(key, f[4]);
      RegCloseKey(key);
    }
  } else if (!wcscmp(op, L"delkey") && count == 4) {
    HKEY key;
    wchar_t parent[1024];
    const wchar_t *slash = wcsrchr(f[3], L'\\');
    if (!slash) fail("delkey needs a parent", f[3]);
    wcsncpy(parent, f[3], (size_t)(slash - f[3]));
    parent[slash - f[3]] = 0;
    if (!RegOpenKeyExW(root_of(f[2]), parent, 0,
                       KEY_ALL_ACCESS | view_of(f[1]), &key)) {
      RegDeleteTreeW(key, slash + 1);
      RegCloseKey(key);
    }
  } else if (!wcscmp(op, L"env") && count == 3) {
    SetEnvironmentVariableW(f[1], f[2]);
  } else if (!wcscmp(op, L"run") && count == 3) {
    finish(start(f[1], f[2], NULL));
  } else if (!wcscmp(op, L"runpipe") && count == 6) {
    run_with_pipe(f[1], f[2], f[3], f[4], (DWORD)_wtoi(f[5]));
  } else if (!wcscmp(op, L"exists") && count == 2) {
    fputs("exists\t", out);
    put_utf8(f[1]);
    fprintf(out, "\t%d\n", GetFileAttributesW(f[1]) != INVALID_FILE_ATTRIBUTES);
  } else if (!wcscmp(op, L"signal") && count == 2) {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, f[1]);
    if (!event) fail("open event", f[1]);
    SetEvent(event);
    CloseHandle(event);
  } else if (!wcscmp(op, L"waitfile") && count == 3) {
    int tenths = _wtoi(f[2]) * 10, seen = 0;
    while (!(seen = GetFileAttributesW(f[1]) != INVALID_FILE_ATTRIBUTES) &&
           tenths-- > 0)
      Sleep(100);
    fputs("waitfile\t", out);
    put_utf8(f[1]);
    fprintf(out, "\t%d\n", seen);
  } else if (!wcscmp(op, L"get") && count == 5) {
    HKEY key;
    DWORD type = 0, size = sizeof data;
    fputs("get\t", out);
    put_utf8(f[4]);
    if (RegOpenKeyExW(root_of(f[2]), f[3], 0, KEY_QUERY_VALUE | view_of(f[1]),
                      &key)) {
      fputs("\tmissing\n", out);
      return;
    }
    if (RegQueryValueExW(key, f[4], NULL, &type, data, &size)) {
      fputs("\tmissing\n", out);
    } else {
      fprintf(out, "\t%lu\t", type);
      for (DWORD i = 0; i < size; ++i) fprintf(out, "%02x", data[i]);
      fputs("\n", out);
    }
    RegCloseKey(key);
  } else {
    fail("unknown step", op);
  }
  fflush(out);
}

int wmain(int argc, wchar_t **argv) {
  static char raw[400000];
  static wchar_t text[400000];
  if (argc != 3) {
    fprintf(stderr, "usage: driver CASEFILE OUTFILE\n");
    return 2;
  }
  FILE *in = _wfopen(argv[1], L"rb");
  if (!in) fail("open case file", argv[1]);
  size_t n = fread(raw, 1, sizeof raw - 1, in);
  fclose(in);
  raw[n] = 0;
  if (!MultiByteToWideChar(CP_UTF8, 0, raw, -1, text, 400000))
    fail("case file is not UTF-8", argv[1]);
  out = _wfopen(argv[2], L"wb");
  if (!out) fail("open output", argv[2]);

  for (wchar_t *line = text; *line;) {
    wchar_t *end = wcschr(line, L'\n');
    wchar_t *next = end ? end + 1 : line + wcslen(line);
    wchar_t *fields[MAX_FIELDS];
    int count = 0;
    if (end) *end = 0;
    if (end > line && end[-1] == L'\r') end[-1] = 0;
    if (*line) {
      for (wchar_t *p = line; count < MAX_FIELDS;) {
        fields[count++] = p;
        p = wcschr(p, L'\t');
        if (!p) break;
        *p++ = 0;
      }
      step(fields, count);
    }
    line = next;
  }
  fclose(out);
  return 0;
}
