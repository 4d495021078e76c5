/* The benchmark's timing driver, run inside Wine. It starts each program of
 * a plan many times, timing every run from just before CreateProcessW until
 * WaitForSingleObject has seen the process end, with QueryPerformanceCounter,
 * and reports each run's exit code and the registry it left behind. It
 * judges nothing: bench.py checks the outcomes and computes the figures.
 *
 *   timer PLANFILE OUTFILE
 *
 * PLANFILE is UTF-8, one item a line, fields separated by tabs:
 *   env NAME VALUE              set a variable every run inherits
 *   rounds WARMUP COUNT         rounds to discard, then rounds to keep
 *   pause MILLISECONDS          time to wait before every run (default 0)
 *   scenario NAME VERSION|-     before each of its runs, "Version" is
 *                               deleted and, unless "-", set to VERSION
 *   program NAME SCENARIOS PATH ARGUMENTS
 *                               started as "PATH" ARGUMENTS (ARGUMENTS may
 *                               be empty) in the scenarios named, SCENARIOS
 *                               being their names separated by commas, or
 *                               "*" for all
 * Each round runs every scenario in turn, and within a scenario each of its
 * programs once. The orders form a balanced Latin square over the rounds
 * (a Williams design): over every M rounds, M the scenario's number of
 * programs (2M when M is odd), each program runs in each place equally
 * often and follows each other program equally often, so that what a run
 * leaves behind weighs on every program alike. Before every run, IE_Welcome
 * is deleted too, and the driver waits the pause, untimed: a process that
 * has ended may still be leaving the system, and the next run would pay for
 * that. Registry values are those of the 32-bit view: HKLM
 * "SOFTWARE\Microsoft\Internet Explorer" "Version" and HKCU
 * "Software\Microsoft\Windows\CurrentVersion\RunOnce" "IE_Welcome".
 *
 * OUTFILE receives UTF-8 lines, fields separated by tabs:
 *   frequency TICKS_PER_SECOND
 *   run ROUND SCENARIO PROGRAM TICKS EXITCODE VERSION WELCOME
 * ROUND counts from 0, the warm-up rounds first; EXITCODE is decimal, or
 * "notstarted:ERROR" when CreateProcessW failed; VERSION and WELCOME are
 * "missing" or TYPE:HEX, HEX being the value's bytes.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_ITEMS 16
#define MAX_FIELDS 5

static const wchar_t browser_key[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
static const wchar_t runonce_key[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

struct scenario {
  wchar_t *name;
  wchar_t *version; /* NULL: no Version value */
};

struct program {
  wchar_t *name;
  wchar_t *scenarios; /* "*", or names separated by commas */
  wchar_t *path;
  wchar_t *arguments;
};

static FILE *out;
static struct scenario scenarios[MAX_ITEMS];
static struct program programs[MAX_ITEMS];
static int scenario_count, program_count, warmup = 1, count = 20, pause;
/* The programs of each scenario, in plan order. */
static struct program *members[MAX_ITEMS][MAX_ITEMS];
static int member_count[MAX_ITEMS];

static void fail(const char *what, const wchar_t *detail) {
  fprintf(stderr, "timer: %s: %ls (error %lu)\n", what, detail ? detail : L"",
          GetLastError());
  exit(2);
}

static void put_utf8(const wchar_t *text) {
  char buffer[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer,
                              NULL, NULL);
  fputs(n > 0 ? buffer : "?", out);
}

static void delete_value(HKEY root, const wchar_t *subkey, const wchar_t *name) {
  HKEY key;
  if (!RegOpenKeyExW(root, subkey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key)) {
    RegDeleteValueW(key, name);
    RegCloseKey(key);
  }
}

static void set_version(const wchar_t *version) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, browser_key, 0, NULL, 0,
                      KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL))
    fail("create key", browser_key);
  if (RegSetValueExW(key, L"Version", 0, REG_SZ, (const BYTE *)version,
                     (DWORD)((wcslen(version) + 1) * sizeof(wchar_t))))
    fail("set value", L"Version");
  RegCloseKey(key);
}

/* Writes "missing" or TYPE:HEX for a value. */
static void put_value(HKEY root, const wchar_t *subkey, const wchar_t *name) {
  static BYTE data[4096];
  HKEY key;
  DWORD type = 0, size = sizeof data;
  if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key)) {
    fputs("missing", out);
    return;
  }
  if (RegQueryValueExW(key, name, NULL, &type, data, &size)) {
    fputs("missing", out);
  } else {
    fprintf(out, "%lu:", type);
    for (DWORD i = 0; i < size; ++i) fprintf(out, "%02x", data[i]);
  }
  RegCloseKey(key);
}

static void run(int round, const struct scenario *s, const struct program *p) {
  static wchar_t line[8192];
  STARTUPINFOW si;
  PROCESS_INFORMATION pi;
  LARGE_INTEGER start, end;
  DWORD code = 0;
  BOOL started;

  delete_value(HKEY_LOCAL_MACHINE, browser_key, L"Version");
  if (s->version) set_version(s->version);
  delete_value(HKEY_CURRENT_USER, runonce_key, L"IE_Welcome");

  if (p->arguments[0])
    swprintf(line, 8192, L"\"%ls\" %ls", p->path, p->arguments);
  else
    swprintf(line, 8192, L"\"%ls\"", p->path);
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  ZeroMemory(&pi, sizeof pi);

  if (pause > 0) Sleep((DWORD)pause);
  QueryPerformanceCounter(&start);
  started = CreateProcessW(p->path, line, NULL, NULL, FALSE, 0, NULL, NULL,
                           &si, &pi);
  if (started) WaitForSingleObject(pi.hProcess, INFINITE);
  QueryPerformanceCounter(&end);

  fprintf(out, "run\t%d\t", round);
  put_utf8(s->name);
  fputs("\t", out);
  put_utf8(p->name);
  fprintf(out, "\t%lld\t", (long long)(end.QuadPart - start.QuadPart));
  if (started) {
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    fprintf(out, "%lu\t", code);
  } else {
    fprintf(out, "notstarted:%lu\t", GetLastError());
  }
  put_value(HKEY_LOCAL_MACHINE, browser_key, L"Version");
  fputs("\t", out);
  put_value(HKEY_CURRENT_USER, runonce_key, L"IE_Welcome");
  fputs("\n", out);
}

/* The place-th program of round `round` in a balanced Latin square of m
 * programs: the first order is 0, 1, m-1, 2, m-2, ...; round r adds r to
 * each (mod m); for odd m, rounds m to 2m-1 run the first m backwards. */
static int williams(int m, int round, int place) {
  int row = round % (m % 2 ? 2 * m : m);
  int reversed = row >= m;
  int i = reversed ? m - 1 - place : place;
  int first = i % 2 ? (i + 1) / 2 : (m - i / 2) % m;
  return (first + row % m) % m;
}

/* Whether the program runs in the scenario. */
static int runs_in(const struct program *p, const struct scenario *s) {
  size_t length = wcslen(s->name);
  if (!wcscmp(p->scenarios, L"*")) return 1;
  for (const wchar_t *at = p->scenarios; *at;) {
    const wchar_t *end = wcschr(at, L',');
    size_t n = end ? (size_t)(end - at) : wcslen(at);
    if (n == length && !wcsncmp(at, s->name, n)) return 1;
    at += n + (end ? 1 : 0);
  }
  return 0;
}

static void item(wchar_t **f, int n) {
  if (!wcscmp(f[0], L"env") && n == 3) {
    if (!SetEnvironmentVariableW(f[1], f[2])) fail("set variable", f[1]);
  } else if (!wcscmp(f[0], L"rounds") && n == 3) {
    warmup = _wtoi(f[1]);
    count = _wtoi(f[2]);
  } else if (!wcscmp(f[0], L"pause") && n == 2) {
    pause = _wtoi(f[1]);
  } else if (!wcscmp(f[0], L"scenario") && n == 3) {
    if (scenario_count == MAX_ITEMS) fail("too many scenarios", f[1]);
    scenarios[scenario_count].name = f[1];
    scenarios[scenario_count].version = wcscmp(f[2], L"-") ? f[2] : NULL;
    ++scenario_count;
  } else if (!wcscmp(f[0], L"program") && (n == 4 || n == 5)) {
    if (program_count == MAX_ITEMS) fail("too many programs", f[1]);
    programs[program_count].name = f[1];
    programs[program_count].scenarios = f[2];
    programs[program_count].path = f[3];
    programs[program_count].arguments = n == 5 ? f[4] : L"";
    ++program_count;
  } else {
    fail("unknown plan item", f[0]);
  }
}

int wmain(int argc, wchar_t **argv) {
  static char raw[65536];
  static wchar_t text[65536];
  LARGE_INTEGER frequency;

  if (argc != 3) {
    fprintf(stderr, "usage: timer PLANFILE OUTFILE\n");
    return 2;
  }
  FILE *in = _wfopen(argv[1], L"rb");
  if (!in) fail("open plan", argv[1]);
  size_t n = fread(raw, 1, sizeof raw - 1, in);
  fclose(in);
  raw[n] = 0;
  if (!MultiByteToWideChar(CP_UTF8, 0, raw, -1, text, 65536))
    fail("plan is not UTF-8", argv[1]);

  for (wchar_t *line = text; *line;) {
    wchar_t *end = wcschr(line, L'\n');
    wchar_t *next = end ? end + 1 : line + wcslen(line);
    wchar_t *fields[MAX_FIELDS];
    int fieldCount = 0;
    if (end) *end = 0;
    if (end > line && end[-1] == L'\r') end[-1] = 0;
    if (*line) {
      for (wchar_t *p = line; fieldCount < MAX_FIELDS;) {
        fields[fieldCount++] = p;
        p = wcschr(p, L'\t');
        if (!p) break;
        *p++ = 0;
      }
      item(fields, fieldCount);
    }
    line = next;
  }
  if (!scenario_count || !program_count || warmup < 0 || count < 1)
    fail("plan needs a scenario, a program and rounds", argv[1]);

  out = _wfopen(argv[2], L"wb");
  if (!out) fail("open output", argv[2]);
  QueryPerformanceFrequency(&frequency);
  fprintf(out, "frequency\t%lld\n", (long long)frequency.QuadPart);

  for (int s = 0; s < scenario_count; ++s) {
    for (int i = 0; i < program_count; ++i) {
      if (runs_in(&programs[i], &scenarios[s]))
        members[s][member_count[s]++] = &programs[i];
    }
    if (!member_count[s]) fail("scenario without programs", scenarios[s].name);
  }

  for (int round = 0; round < warmup + count; ++round) {
    for (int s = 0; s < scenario_count; ++s) {
      for (int i = 0; i < member_count[s]; ++i) {
        run(round, &scenarios[s],
            members[s][williams(member_count[s], round, i)]);
      }
    }
    fflush(out);
  }

  /* Leave the prefix as a run with IE8 absent would find it. */
  delete_value(HKEY_LOCAL_MACHINE, browser_key, L"Version");
  delete_value(HKEY_CURRENT_USER, runonce_key, L"IE_Welcome");
  fclose(out);
  return 0;
}
