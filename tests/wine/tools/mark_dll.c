/* A library that leaves a mark when a process loads it, for the planted-
 * library cases: copied under the names of system libraries that Windows
 * looks for in a program's own folder first, it tells whether any process
 * loaded one of those copies instead of the system's own.
 *
 * On DLL_PROCESS_ATTACH it appends the loading program's path and a line
 * break, in UTF-16, to a file beside itself named after itself with ".mark"
 * behind it (version.dll -> version.dll.mark). It exports nothing: under
 * Wine a program that takes functions from it gets stubs for them and still
 * runs DllMain, which is all the cases need (Windows would refuse the load
 * before DllMain). No C runtime: DllMain is the entry point.
 */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  wchar_t mark[MAX_PATH + 8], program[MAX_PATH + 2];
  DWORD n, length, written;
  HANDLE file;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;

  n = GetModuleFileNameW(self, mark, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  /* kernel32's copy: without a C runtime there is no memcpy to call. */
  lstrcpyW(mark + n, L".mark");
  length = GetModuleFileNameW(NULL, program, MAX_PATH);
  if (length >= MAX_PATH) length = 0;
  program[length++] = L'\r';
  program[length++] = L'\n';

  /* Appended, so that every process that loaded this copy is listed. */
  file = CreateFileW(mark, FILE_APPEND_DATA,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, program, length * sizeof(wchar_t), &written, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
