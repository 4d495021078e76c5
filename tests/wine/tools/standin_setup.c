/* A stand-in for the browser's installer, started by the assistant as
 * iesetup.exe in the end-to-end tests. What it does is set through its
 * environment, which it inherits from the assistant:
 *   STANDIN_RECORD    file to write its command line and current directory
 *                     into, each as the hex of its UTF-16 units
 *   STANDIN_DELAY_MS  milliseconds to wait before anything else
 *   STANDIN_VERSION   text to store as the browser's "Version" value
 *   STANDIN_EXIT      exit code (decimal), 0 when not set
 *   STANDIN_SPAWN     a file: start a child that waits for the event named
 *                     STANDIN_EVENT, then writes this file, and end at once
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const wchar_t *env(const wchar_t *name, wchar_t *buffer, DWORD units) {
  DWORD n = GetEnvironmentVariableW(name, buffer, units);
  return (n > 0 && n < units) ? buffer : NULL;
}

static void write_hex(FILE *f, const char *label, const wchar_t *text) {
  fprintf(f, "%s\t", label);
  for (; *text; ++text) fprintf(f, "%04x", (unsigned)*text);
  fprintf(f, "\n");
}

static int child(void) {
  wchar_t name[512], path[1024];
  if (!env(L"STANDIN_EVENT", name, 512) || !env(L"STANDIN_SPAWN", path, 1024))
    return 3;
  HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name);
  if (!event) return 4;
  DWORD waited = WaitForSingleObject(event, 600000);
  FILE *f = _wfopen(path, L"wb");
  if (!f) return 5;
  fprintf(f, "%s\n", waited == WAIT_OBJECT_0 ? "released" : "timed-out");
  fclose(f);
  return 0;
}

int wmain(void) {
  wchar_t value[4096];
  if (env(L"STANDIN_CHILD", value, 4096)) return child();

  if (env(L"STANDIN_DELAY_MS", value, 4096)) Sleep((DWORD)_wtoi(value));

  if (env(L"STANDIN_RECORD", value, 4096)) {
    FILE *f = _wfopen(value, L"wb");
    if (f) {
      wchar_t cwd[4096];
      write_hex(f, "cmdline", GetCommandLineW());
      GetCurrentDirectoryW(4096, cwd);
      write_hex(f, "cwd", cwd);
      fclose(f);
    }
  }

  if (env(L"STANDIN_VERSION", value, 4096)) {
    HKEY key;
    /* The assistant reads the 32-bit view; KEY_WOW64_32KEY is ignored on
     * 32-bit Windows. */
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Microsoft\\Internet Explorer", 0, NULL, 0,
                        KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key,
                        NULL) == ERROR_SUCCESS) {
      RegSetValueExW(key, L"Version", 0, REG_SZ, (const BYTE *)value,
                     (DWORD)((wcslen(value) + 1) * sizeof(wchar_t)));
      RegCloseKey(key);
    }
  }

  if (env(L"STANDIN_SPAWN", value, 4096)) {
    wchar_t name[512], self[MAX_PATH], line[MAX_PATH + 2];
    if (env(L"STANDIN_EVENT", name, 512)) {
      /* The event outlives this process: the child holds an inherited
       * handle to it, and the test opens it by name. */
      SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
      CreateEventW(&sa, TRUE, FALSE, name);
      STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
      PROCESS_INFORMATION pi;
      GetModuleFileNameW(NULL, self, MAX_PATH);
      swprintf(line, MAX_PATH + 2, L"\"%ls\"", self);
      SetEnvironmentVariableW(L"STANDIN_CHILD", L"1");
      if (CreateProcessW(self, line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
      }
    }
  }

  return env(L"STANDIN_EXIT", value, 4096) ? _wtoi(value) : 0;
}
