/* The control of the planted-library cases: a program that imports SHELL32
 * the ordinary way, statically, as the assistant once did. Run from the
 * same folder, or in the same current directory, with the same library
 * overrides as the assistant, it must leave the planted libraries' marks;
 * if it leaves none, the cases' "no mark" proves nothing.
 *
 * It asks for the Program Files folder so that the import is used, and ends
 * with 0 when that worked. No C runtime: its only imports are KERNEL32 and
 * SHELL32.
 */
#include <windows.h>
#include <shlobj.h>

void __stdcall control_main(void) {
  wchar_t folder[MAX_PATH];
  ExitProcess(SUCCEEDED(SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, 0,
                                         folder))
                  ? 0
                  : 1);
}
