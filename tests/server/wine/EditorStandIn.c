/* A stand-in for the show editor, a Windows program: it creates the named
 * objects of the server and list modes the way the editor does, starts the
 * manager by its Windows path with CreateProcess, and plays the editor's side
 * of the exchange. Built with mingw-w64 and run under wine64 by
 * tests/server/wine/wine-module-test.sh and bench/wine-relay.sh.
 *
 *   server EXE NAME BAUD BLOCKSIZE N...   one block per N, then quit
 *   server-manual ...                     the same with a manual-reset data ready
 *   early EXE NAME BAUD                   data ready given again during a send
 *   list EXE                              the unit list, in hex
 *   bench EXE NAME BAUD COUNT             COUNT blocks of 126 bytes, timed
 *   handshake COUNT                       COUNT bare event round trips with a
 *                                         copy of itself ("answer"), timed
 *
 * Prints what it saw on stdout, one fact a line ("ready", "done N=126 HEX",
 * "list 564F...00", "exit 0"); exit status 0 when every step answered in time.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define WAIT_MS 20000

static HANDLE Create(const char* name, BOOL manual) {
  HANDLE event = CreateEventA(NULL, manual, FALSE, name);
  if (event == NULL) {
    printf("cannot create %s: %lu\n", name, GetLastError());
    exit(2);
  }
  return event;
}

static unsigned char* CreateBlock(const char* name, DWORD size, HANDLE* mapping) {
  unsigned char* view;
  *mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, size, name);
  if (*mapping == NULL) {
    printf("cannot create %s: %lu\n", name, GetLastError());
    exit(2);
  }
  view = MapViewOfFile(*mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (view == NULL) exit(2);
  return view;
}

static HANDLE Start(const char* exe, const char* args) {
  char line[1024];
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  snprintf(line, sizeof line, "\"%s\" %s", exe, args);
  if (!CreateProcessA(exe, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    printf("cannot start %s: %lu\n", exe, GetLastError());
    exit(2);
  }
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

/* Waits for `event` or the end of `process`, bounded; 1 when the event came. */
static int WaitOrEnd(HANDLE event, HANDLE process) {
  HANDLE both[2];
  both[0] = event;
  both[1] = process;
  return WaitForMultipleObjects(2, both, FALSE, WAIT_MS) == WAIT_OBJECT_0;
}

static int Finish(HANDLE process) {
  DWORD code = 259;
  if (WaitForSingleObject(process, WAIT_MS) != WAIT_OBJECT_0) {
    printf("still running\n");
    TerminateProcess(process, 99);
    return 1;
  }
  GetExitCodeProcess(process, &code);
  printf("exit %lu\n", code);
  return 0;
}

static void PutBlock(unsigned char* block, DWORD size, int payload) {
  int i;
  memset(block, 0xA5, size);
  block[0] = (unsigned char)(payload & 0xFF);
  block[1] = (unsigned char)((payload >> 8) & 0xFF);
  for (i = 0; i < payload && 2 + (DWORD)i < size; ++i) block[2 + i] = (unsigned char)(0x40 + i);
}

struct Server {
  HANDLE mapping, ready, quit, dataReady, dataDone, process;
  unsigned char* block;
  DWORD size;
};

static int OpenServer(struct Server* s, const char* exe, const char* name, const char* baud,
                      DWORD size, BOOL manualDataReady) {
  char object[128], args[256];
  s->size = size;
  snprintf(object, sizeof object, "%s_SHAREDMEM", name);
  s->block = CreateBlock(object, size, &s->mapping);
  snprintf(object, sizeof object, "%s_READYEVENT", name);
  s->ready = Create(object, TRUE);
  snprintf(object, sizeof object, "%s_QUITEVENT", name);
  s->quit = Create(object, TRUE);
  snprintf(object, sizeof object, "%s_DATAREADYEVENT", name);
  s->dataReady = Create(object, manualDataReady);
  snprintf(object, sizeof object, "%s_DATADONEEVENT", name);
  s->dataDone = Create(object, FALSE);
  snprintf(args, sizeof args, "-server %s %s", name, baud);
  s->process = Start(exe, args);
  if (!WaitOrEnd(s->ready, s->process)) {
    printf("no ready\n");
    return 0;
  }
  printf("ready\n");
  return 1;
}

static int RunServer(int argc, char** argv) {
  struct Server s;
  int i, ok;
  if (argc < 6) return 2;
  ok = OpenServer(&s, argv[2], argv[3], argv[4], (DWORD)atoi(argv[5]),
                  strcmp(argv[1], "server-manual") == 0);
  for (i = 6; ok && i < argc; ++i) {
    const int payload = atoi(argv[i]);
    PutBlock(s.block, s.size, payload);
    SetEvent(s.dataReady);
    ok = WaitOrEnd(s.dataDone, s.process);
    printf(ok ? "done N=%d " : "no done N=%d\n", payload);
    if (ok) { /* the bytes the unit must have received: T from the block */
      const int length = (payload + 2 + 127) / 128 * 128;
      int j;
      for (j = 0; j < length; ++j) printf("%02x", s.block[j]);
      printf("\n");
    }
  }
  SetEvent(s.quit);
  return Finish(s.process) || !ok;
}

/* The unit's capture is a full pipe the caller drains once it reads "sent
 * twice": the first block is still on its way when data ready is set again,
 * and that second signal must be lost, with one data done for the one block. */
static int RunEarly(int argc, char** argv) {
  struct Server s;
  int ok;
  if (argc < 5) return 2;
  ok = OpenServer(&s, argv[2], argv[3], argv[4], 128, FALSE);
  if (ok) {
    PutBlock(s.block, s.size, 5);
    SetEvent(s.dataReady);
    Sleep(300); /* the server has taken the event and waits on the pipe */
    SetEvent(s.dataReady);
    Sleep(100);
    printf(WaitForSingleObject(s.dataDone, 0) == WAIT_OBJECT_0 ? "done too early\n" : "sent twice\n");
    ok = WaitOrEnd(s.dataDone, s.process);
    printf(ok ? "done\n" : "no done\n");
    printf(WaitForSingleObject(s.dataDone, 300) == WAIT_TIMEOUT ? "one done\n" : "second done\n");
  }
  SetEvent(s.quit);
  return Finish(s.process) || !ok;
}

static int Compare(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

/* Times `count` round trips after a warm-up: `go` set, then `back` (or the end
 * of `process`) awaited; a block, if given, is filled first as the editor
 * would. Prints "median US p99 US"; 1 when every round trip answered. */
static int TimeRoundTrips(HANDLE go, HANDLE back, HANDLE process, int count, unsigned char* block, DWORD size) {
  LARGE_INTEGER frequency, start, end;
  double* micros = calloc((size_t)count, sizeof *micros);
  int i, warmUp = 200, ok = micros != NULL;
  QueryPerformanceFrequency(&frequency);
  for (i = 0; ok && i < warmUp + count; ++i) {
    if (block != NULL) {
      PutBlock(block, size, 126);
      block[2] = (unsigned char)i;
    }
    QueryPerformanceCounter(&start);
    SetEvent(go);
    ok = WaitOrEnd(back, process);
    QueryPerformanceCounter(&end);
    if (i >= warmUp) {
      micros[i - warmUp] = (double)(end.QuadPart - start.QuadPart) * 1e6 / (double)frequency.QuadPart;
    }
  }
  if (ok) {
    qsort(micros, (size_t)count, sizeof *micros, Compare);
    printf("median %.1f p99 %.1f\n", micros[count / 2], micros[count * 99 / 100]);
  }
  free(micros);
  return ok;
}

static int RunBench(int argc, char** argv) {
  struct Server s;
  int ok;
  if (argc < 6) return 2;
  ok = OpenServer(&s, argv[2], argv[3], argv[4], 128, FALSE) &&
       TimeRoundTrips(s.dataReady, s.dataDone, s.process, atoi(argv[5]), s.block, s.size);
  SetEvent(s.quit);
  if (!ok) {
    printf("no done\n");
    Finish(s.process);
    return 1;
  }
  return Finish(s.process);
}

/* The floor under the relay: the same two named events between this program
 * and a second copy of it that answers each at once, through Wine's server,
 * with no manager and no unit in between. */
static int RunHandshake(int argc, char** argv) {
  char self[MAX_PATH];
  HANDLE go = Create("VORN_STANDIN_GO", FALSE), back = Create("VORN_STANDIN_BACK", FALSE), answerer;
  int ok;
  if (argc < 3 || GetModuleFileNameA(NULL, self, sizeof self) == 0) return 2;
  answerer = Start(self, "answer");
  ok = TimeRoundTrips(go, back, answerer, atoi(argv[2]), NULL, 0);
  TerminateProcess(answerer, 0);
  CloseHandle(answerer);
  return ok ? 0 : 1;
}

static int RunAnswer(void) {
  HANDLE go = OpenEventA(EVENT_ALL_ACCESS, FALSE, "VORN_STANDIN_GO");
  HANDLE back = OpenEventA(EVENT_ALL_ACCESS, FALSE, "VORN_STANDIN_BACK");
  if (go == NULL || back == NULL) return 2;
  while (WaitForSingleObject(go, WAIT_MS) == WAIT_OBJECT_0) SetEvent(back);
  return 0;
}

static int RunList(int argc, char** argv) {
  HANDLE mapping, event, process;
  unsigned char* block;
  int i;
  if (argc < 3) return 2;
  block = CreateBlock("VORN1_LIST_SHAREDMEM", 1024, &mapping);
  memset(block, 0xEE, 1024);
  event = Create("VORN1_LIST_EVENT", FALSE);
  process = Start(argv[2], "-listdevices");
  if (!WaitOrEnd(event, process)) {
    printf("no event\n");
    Finish(process);
    return 1;
  }
  printf("list ");
  for (i = 0; i < 1024; ++i) {
    printf("%02X", block[i]);
    if (block[i] == 0 && (i == 0 || block[i - 1] == 0)) break;
  }
  printf("\n");
  return Finish(process);
}

int main(int argc, char** argv) {
  int result = 2;
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc >= 2 && (strcmp(argv[1], "server") == 0 || strcmp(argv[1], "server-manual") == 0)) {
    result = RunServer(argc, argv);
  }
  if (argc >= 2 && strcmp(argv[1], "early") == 0) result = RunEarly(argc, argv);
  if (argc >= 2 && strcmp(argv[1], "list") == 0) result = RunList(argc, argv);
  if (argc >= 2 && strcmp(argv[1], "bench") == 0) result = RunBench(argc, argv);
  if (argc >= 2 && strcmp(argv[1], "handshake") == 0) result = RunHandshake(argc, argv);
  if (argc >= 2 && strcmp(argv[1], "answer") == 0) result = RunAnswer();
  return result;
}
