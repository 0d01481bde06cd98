#include "system.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "mess.hpp"
#include "string.hpp"
#include "resrc.hpp"

// Every program reaches this file through QAZ_version (the message banner); weak
// references keep the whole resource module out of programs that never set resources.
int RES_put(const char* name, const char* value) __attribute__((weak));
void RES_list() __attribute__((weak));

extern char** environ;

namespace {

constexpr const char* kVersion = "4.2.0-LINUX-X11";
constexpr std::size_t kPromptLine = 80;  // 79 characters and a terminator
constexpr double kLongestSleep = 1e15;   // seconds; well inside time_t, far past any use

struct proc_item {
  int index;
  char name[QAZ_PROC_NAME_SIZE];
  int id;
};

std::array<proc_item, QAZ_MAX_PROCS> procs = [] {
  std::array<proc_item, QAZ_MAX_PROCS> table{};
  for (int i = 0; i < QAZ_MAX_PROCS; ++i) table[i] = proc_item{i, "", -1};
  return table;
}();
int num_proc = 0;
char proc_outfile[QAZ_PROC_FILE_SIZE] = "";
char proc_infile[QAZ_PROC_FILE_SIZE] = "";

// A steady clock: elapsed times never run backwards when the wall clock is set.
std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
float elapse = 0.0f;

bool valid_slot(int proc) { return proc >= 0 && proc < QAZ_MAX_PROCS; }

// Waits for child, then frees the table slots of background children that ended
// meanwhile. Only children of the table are reaped: a stream opened with popen keeps
// its own child for pclose. The child's exit status, 128 + signal number when a signal
// ended it, -1 when lost.
int wait_for(pid_t child) {
  int status = 0;
  pid_t done;
  do {
    done = waitpid(child, &status, 0);
  } while (done < 0 && errno == EINTR);
  for (int slot = 0; slot < QAZ_MAX_PROCS; ++slot)
    if (const pid_t id = procs[slot].id; id > 0 && id != child && waitpid(id, nullptr, WNOHANG) == id)
      QAZ_clr_proc(slot);
  if (done != child) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Points fd at name (opened with flags) or ends the child with status 1.
void redirect_or_exit(int fd, const char* name, int flags) {
  const int opened = open(name, flags, 0666);
  if (opened < 0 || dup2(opened, fd) < 0) {
    MESS_print(M_error, "Running: cannot redirect to %s: %s\n", name, std::strerror(errno));
    _exit(1);
  }
  if (opened != fd) close(opened);
}

[[noreturn]] void run_child(const char* filename, char** argv, char** env, int flag) {
  std::signal(SIGINT, SIG_DFL);
  std::string program = filename;
  if (flag & 1) {
    // The program runs in its own directory; a relative name must still find it.
    std::string dir = program;
    struct stat info;
    if (stat(program.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
      const std::size_t slash = program.rfind('/');
      dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : program.substr(0, slash));
      if (program[0] != '/' && slash != std::string::npos) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) program = std::string(cwd) + "/" + program;
      }
    }
    if (chdir(dir.c_str()) != 0) {
      MESS_print(M_error, "Running %s: %s\n", filename, std::strerror(errno));
      _exit(1);
    }
  }
  const int out_flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (flag & 2) {
    redirect_or_exit(STDIN_FILENO, proc_infile[0] ? proc_infile : "/dev/null", O_RDONLY);
    if (proc_outfile[0]) redirect_or_exit(STDOUT_FILENO, proc_outfile, out_flags);
    setpgid(0, 0);
  } else {
    if (proc_infile[0]) redirect_or_exit(STDIN_FILENO, proc_infile, O_RDONLY);
    if (proc_outfile[0]) redirect_or_exit(STDOUT_FILENO, proc_outfile, out_flags);
  }
  char* no_args[] = {const_cast<char*>(filename), nullptr};
  execvpe(program.c_str(), argv ? argv : no_args, env ? env : environ);
  MESS_print(M_error, "Running %s: %s\n", filename, std::strerror(errno));
  std::fflush(nullptr);
  _exit(2);
}

// Reads one line from stdin into line (kPromptLine bytes), dropping the rest of a longer
// line and the line end. false at end of input.
bool read_prompt_line(char* line) {
  std::fflush(stdout);
  if (!std::fgets(line, static_cast<int>(kPromptLine), stdin)) return false;
  if (!std::strchr(line, '\n')) {
    int c;
    while ((c = std::getchar()) != '\n' && c != EOF) {
    }
  }
  wstrim_string(line);
  return true;
}

// The first blank-separated word of line, at most max_len characters.
std::string first_word(const char* line, std::size_t max_len) {
  while (*line == ' ' || *line == '\t') ++line;
  std::size_t len = 0;
  while (line[len] && line[len] != ' ' && line[len] != '\t') ++len;
  return std::string(line, len < max_len ? len : max_len);
}

}  // namespace

const char* QAZ_version() { return kVersion; }

void QAZ_exit(int status) {
  std::fflush(nullptr);
  std::exit(status);
}

int QAZ_get_pid() { return static_cast<int>(getpid()); }

int QAZ_add_proc(int pid, const char* name) {
  for (int slot = 0; slot < QAZ_MAX_PROCS; ++slot) {
    if (procs[slot].id != -1) continue;
    procs[slot].id = pid;
    str_copy(procs[slot].name, sizeof procs[slot].name, name);
    if (num_proc <= slot) num_proc = slot + 1;
    return slot;
  }
  return -1;
}

int QAZ_numproc() { return num_proc; }

int QAZ_proc(int pid) {
  if (pid == -1) return -1;
  for (int slot = 0; slot < QAZ_MAX_PROCS; ++slot)
    if (procs[slot].id == pid) return slot;
  return -1;
}

int QAZ_proc_id(int proc) { return valid_slot(proc) ? procs[proc].id : -1; }
const char* QAZ_proc_name(int proc) { return valid_slot(proc) ? procs[proc].name : ""; }

void QAZ_set_proc(int proc, int value) {
  if (valid_slot(proc)) procs[proc].id = value;
}

void QAZ_clr_proc(int proc) {
  if (!valid_slot(proc)) return;
  procs[proc].id = -1;
  procs[proc].name[0] = '\0';
}

int QAZ_chk_proc(int proc) {
  if (!valid_slot(proc) || procs[proc].id <= 0) return 0;
  // An ended child stays a zombie (and answers the probe) until it is reaped.
  waitpid(procs[proc].id, nullptr, WNOHANG);
  // A refused probe (a process of another user) still means the process is there.
  if (kill(procs[proc].id, 0) == 0 || errno == EPERM) return 1;
  QAZ_clr_proc(proc);
  return 0;
}

namespace {

// A name too long for the field is refused, not cut: a cut name is some other file,
// which a child would then overwrite or read.
void set_proc_file(char (&field)[QAZ_PROC_FILE_SIZE], const char* name, const char* caller) {
  if (str_copy(field, sizeof field, name) != 0) {
    MESS_print(M_warn, "%s: name longer than %zu characters ignored: %s\n", caller, sizeof field - 1, name);
    field[0] = '\0';
  }
}

}  // namespace

int QAZ_set_outfile(const char* name) {
  set_proc_file(proc_outfile, name, "QAZ_set_outfile");
  return 1;
}

int QAZ_set_infile(const char* name) {
  set_proc_file(proc_infile, name, "QAZ_set_infile");
  return 1;
}

int QAZ_run_func(fnptr* func, int arg) {
  if (!func) return -1;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    MESS_print(M_error, "QAZ_run_func: cannot start a process: %s\n", std::strerror(errno));
    return -1;
  }
  if (child == 0) {
    std::signal(SIGINT, SIG_DFL);
    const int result = func(arg);
    std::fflush(nullptr);
    _exit(result & 0xff);
  }
  return wait_for(child);
}

int QAZ_run(const char* filename, char** argv, char** env, int flag) {
  if (!filename || !*filename) {
    MESS_print(M_error, "QAZ_run: no program given\n");
    return -1;
  }
  const bool background = flag & 2;
  if (background) {
    bool free_slot = false;
    for (const proc_item& item : procs) free_slot = free_slot || item.id == -1;
    if (!free_slot) return 0;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    MESS_print(M_error, "QAZ_run: cannot start %s: %s\n", filename, std::strerror(errno));
    return -1;
  }
  if (child == 0) run_child(filename, argv, env, flag);
  if (!background) return wait_for(child);
  return QAZ_add_proc(child, argv && argv[0] ? argv[0] : filename);
}

int QAZ_back_proc() {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    MESS_print(M_error, "QAZ_back_proc: cannot start a process: %s\n", std::strerror(errno));
    return -1;
  }
  if (child > 0) QAZ_exit(0);
  std::signal(SIGINT, SIG_DFL);
  close(STDIN_FILENO);
  close(STDOUT_FILENO);
  close(STDERR_FILENO);
  const int null_fd = open("/dev/null", O_RDWR);  // lowest free descriptor: 0
  if (null_fd < 0) return 0;
  if (dup2(null_fd, STDOUT_FILENO) < 0 || dup2(null_fd, STDERR_FILENO) < 0) return 0;
  setpgid(0, 0);
  return 1;
}

// Only the whole word "set" or "exit" is a command, so that an answer such as a
// file named "settings" or "exits.dat" still reaches the caller.
int QAZ_set_command(const char* string) {
  if (!string) return 0;
  const std::string word = first_word(string, 8);
  if (stricmp(word.c_str(), "exit") == 0) QAZ_exit(0);
  if (stricmp(word.c_str(), "set") != 0) return 0;

  const char* p = string;
  while (*p == ' ' || *p == '\t') ++p;
  p += 3;
  while (*p == ' ' || *p == '\t') ++p;
  const char* name_end = p;
  while (*name_end && *name_end != '=' && *name_end != ' ') ++name_end;
  const std::string name(p, name_end);
  const char* value = name_end;
  while (*value == '=' || *value == ' ') ++value;
  if (!RES_put || !RES_list) {
    MESS_print(M_warn, "QAZ_set_command: resources are not available: %s\n", name.c_str());
  } else if (name.empty()) {
    MESS_print(2048, "Set resources\n");
    RES_list();
    MESS_print(2048, "\n");
  } else {
    RES_put(name.c_str(), value);
  }
  return 1;
}

char* QAZ_promptl(const char* prompt, char* str) {
  constexpr std::size_t kWordLen = 19, kSize = 81;
  char* out = str ? str : static_cast<char*>(std::malloc(kSize));
  if (!out) return nullptr;
  char line[kPromptLine];
  for (;;) {
    MESS_print(M_print, "%s", prompt ? prompt : "");
    if (!read_prompt_line(line)) break;
    const std::string word = first_word(line, kWordLen);
    if (word.empty() || QAZ_set_command(word.c_str())) continue;
    str_copy(out, kSize, word.c_str());
    return out;
  }
  if (!str) std::free(out);
  return nullptr;
}

char* QAZ_prompts(const char* prompt, char* str, int length) {
  if (length < 2) {
    MESS_print(M_error, "QAZ_prompts: answer length %d is below 2\n", length);
    return nullptr;
  }
  const std::size_t size = str ? static_cast<std::size_t>(length)
                               : static_cast<std::size_t>(length) + 1;
  char* out = str ? str : static_cast<char*>(std::malloc(size));
  if (!out) return nullptr;
  char line[kPromptLine];
  for (;;) {
    MESS_print(M_print, "%s", prompt ? prompt : "");
    if (!read_prompt_line(line)) break;
    if (QAZ_set_command(line)) continue;
    const std::string word = first_word(line, static_cast<std::size_t>(length) - 1);
    if (word.empty()) continue;
    str_copy(out, size, word.c_str());
    return out;
  }
  if (!str) std::free(out);
  return nullptr;
}

float QAZ_promptf(const char* prompt) {
  char line[kPromptLine];
  for (;;) {
    MESS_print(M_print, "%s", prompt ? prompt : "");
    if (!read_prompt_line(line)) return -9999.0f;
    if (QAZ_set_command(line)) continue;
    // An answer out of the float range or "nan" is no value: ask again.
    char* end = nullptr;
    const float value = std::strtof(line, &end);
    if (end != line && std::isfinite(value)) return value;
  }
}

int QAZ_promptd(const char* prompt) {
  char line[kPromptLine];
  for (;;) {
    MESS_print(M_print, "%s", prompt ? prompt : "");
    if (!read_prompt_line(line)) return -9999;
    if (QAZ_set_command(line)) continue;
    // A number too large for an int is no value (scanning it would wrap it silently).
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(line, &end, 10);
    if (end != line && errno == 0 && value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  }
}

int QAZ_sleep(float secs) {
  if (!(secs > 0.0f)) return -1;
  // Beyond what the clock's seconds field holds the conversion itself would be undefined.
  if (!std::isfinite(secs) || static_cast<double>(secs) >= kLongestSleep) {
    MESS_print(M_error, "QAZ_sleep: no sleep for ever\n");
    return -1;
  }
  elapse += secs;
  const double whole = static_cast<double>(secs);
  timespec wait{static_cast<time_t>(whole),
                static_cast<long>((whole - static_cast<double>(static_cast<time_t>(whole))) * 1e9)};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
  return 0;
}

void QAZ_init_time() {
  start = std::chrono::steady_clock::now();
  elapse = 0.0f;
}

float QAZ_sleep_total() { return elapse; }

float QAZ_elapse_time() {
  const auto passed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<float>(passed).count();
}

long long QAZ_get_virt_mem() {
  char path[64];
  str_format(path, sizeof path, "/proc/%d/stat", static_cast<int>(getpid()));
  FILE* fp = std::fopen(path, "r");
  if (!fp) return 0;
  char text[1024] = "";
  const std::size_t got = std::fread(text, 1, sizeof text - 1, fp);
  std::fclose(fp);
  text[got] = '\0';
  // The command name (field 2) may hold blanks; count fields after its closing ')'.
  const char* p = std::strrchr(text, ')');
  if (!p) return 0;
  ++p;
  int field = 2;
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    if (++field == 23) return std::strtoll(p, nullptr, 10);
    while (*p && *p != ' ') ++p;
  }
  return 0;
}
