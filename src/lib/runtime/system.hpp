// Process services: version text, exit, child programs with a table of background
// children, detaching, prompts that accept "set"/"exit", sleeping, elapsed time, memory.
#pragma once
#include <cstddef>

inline constexpr int QAZ_MAX_PROCS = 10;       // background children tracked at once
inline constexpr std::size_t QAZ_PROC_NAME_SIZE = 15;  // 14 characters and a terminator
inline constexpr std::size_t QAZ_PROC_FILE_SIZE = 70;  // 69 characters and a terminator

using fnptr = int(int);

// The fixed version text of the build, "<release>-LINUX-X11".
const char* QAZ_version();
// Ends the process with status (output streams are flushed).
[[noreturn]] void QAZ_exit(int status);
int QAZ_get_pid();  // the process id

// Background process table (slots 0..9; a free slot has id -1).
// Stores pid and name (cut to 14 characters) in the first free slot: its number, or -1 when full.
int QAZ_add_proc(int pid, const char* name);
int QAZ_numproc();                     // one more than the highest slot ever used
int QAZ_proc(int pid);                 // slot holding pid, or -1
int QAZ_proc_id(int proc);             // slot's process id (-1 free or out of range)
const char* QAZ_proc_name(int proc);   // slot's name ("" free or out of range)
void QAZ_set_proc(int proc, int value);  // sets the slot's process id
void QAZ_clr_proc(int proc);           // frees the slot
// 1 when the slot's process still exists; otherwise frees the slot and returns 0.
int QAZ_chk_proc(int proc);

// Files for the standard output / input of children (at most 69 characters; a longer
// name is refused and leaves none set; "" clears). 1.
int QAZ_set_outfile(const char* name);
int QAZ_set_infile(const char* name);

// Runs func(arg) in a child process: its exit status (0..255), or -1 when it could not run.
int QAZ_run_func(fnptr* func, int arg);
// Runs filename (searched on the command path) with argv (null-terminated, argv[0] the
// name) and env (null-terminated; null keeps the current environment). flag bit 1: change
// to the directory filename first; bit 2: run in the background. Foreground: the exit
// status (1 redirection failed, 2 could not execute), -1 when no child could be made.
// Background: the table slot, or 0 when all slots are used. A foreground run (and
// QAZ_run_func) reaps only its own child and background children of the table that
// ended; other children, such as pipe streams, are left to their owners.
int QAZ_run(const char* filename, char** argv, char** env, int flag);
// Detaches into the background: the parent exits with 0; the child gets 1 (0 when
// /dev/null could not be opened).
int QAZ_back_proc();
// "set name=value" stores a resource, "set" lists them (1); "exit" ends the process with 0;
// anything else: 0.
int QAZ_set_command(const char* string);

// Prompts at print level and reads a line from stdin, asking again after set/exit commands
// or when no value was read. At end of input they give up: null / -9999.
// First word (up to 19 characters) into str (81 bytes; null: malloc'd, free()).
char* QAZ_promptl(const char* prompt, char* str);
// First word of up to length-1 characters into str (length bytes; null: malloc'd length+1).
char* QAZ_prompts(const char* prompt, char* str, int length);
// A number: an answer outside the type's range (or not finite) counts as no value.
float QAZ_promptf(const char* prompt);
int QAZ_promptd(const char* prompt);

// Sleeps secs seconds (microsecond resolution) and adds them to the elapsed total:
// 0, or -1 for secs <= 0 or not finite or too long for the clock (1e15 s and more).
int QAZ_sleep(float secs);
void QAZ_init_time();        // starts the elapsed-time clock; the slept total becomes 0
float QAZ_sleep_total();     // seconds slept through QAZ_sleep since QAZ_init_time
float QAZ_elapse_time();     // seconds since QAZ_init_time
// Virtual memory size of this process in bytes (field 23 of /proc/<pid>/stat); 0 when unknown.
long long QAZ_get_virt_mem();
