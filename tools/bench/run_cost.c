/* What commands cost, each as the median of RUNS runs: milliseconds from
   its start to its first line on stdout (kronsec and the bare client print
   theirs after the final answer, rdate after its one answer), milliseconds
   to its exit, CPU (user + system) milliseconds and peak resident memory in
   KiB, the last two as wait4 reports them for that process alone. The
   commands take turns, run by run, so a change in the machine's load falls
   on all of them alike.
   Usage: run_cost RUNS COMMAND [ARGS...] [-- COMMAND [ARGS...]]...
   (stdin and stderr: /dev/null). Prints one line per command:
   first_ms whole_ms cpu_ms rss_kib. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { most_runs = 10000, most_commands = 8 };

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int by_value(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

static double median(double* values, int count) {
  qsort(values, (size_t)count, sizeof *values, by_value);
  return values[(count - 1) / 2];
}

/* Starts argv with stdout on a pipe; returns its PID and the pipe's end. */
static pid_t start(char** argv, int* out) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(fds[1], 1);
    dup2(null, 2);
    execvp(argv[0], argv);
    _exit(127);
  }
  close(fds[1]);
  *out = fds[0];
  return pid;
}

/* One run: fills the four measures; returns 0, or -1 when it failed. */
static int measure(char** argv, double* first, double* whole, double* cpu, double* rss) {
  double begin = now_ms();
  int out;
  pid_t pid = start(argv, &out);
  if (pid < 0) return -1;
  *first = -1;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out, buffer, sizeof buffer)) > 0)
    for (ssize_t i = 0; i < n && *first < 0; ++i)
      if (buffer[i] == '\n') *first = now_ms() - begin;
  close(out);
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  *whole = now_ms() - begin;
  *cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  *rss = (double)usage.ru_maxrss;
  return WIFEXITED(status) && *first >= 0 ? 0 : -1;
}

/* The measures of one command over its runs. */
struct command {
  char** argv;
  double first[most_runs], whole[most_runs], cpu[most_runs], rss[most_runs];
};

/* Splits argv at each "--" into commands; returns how many, 0 when there
   are too many or one is empty. */
static int split(char** argv, struct command* commands) {
  int count = 0;
  for (char** at = argv; *at; ++at) {
    if (at == argv || at[-1] == NULL) {  /* the first word, or one after a "--" */
      if (count == most_commands) return 0;
      commands[count++].argv = at;
    }
    if (strcmp(*at, "--") == 0) *at = NULL;
  }
  for (int i = 0; i < count; ++i)
    if (!commands[i].argv[0]) return 0;
  return count;
}

int main(int argc, char** argv) {
  static struct command commands[most_commands];
  int runs = argc > 2 ? atoi(argv[1]) : 0;
  int count = runs >= 1 && runs <= most_runs ? split(argv + 2, commands) : 0;
  if (count == 0) {
    fprintf(stderr, "usage: run_cost RUNS COMMAND [ARGS...] [-- COMMAND [ARGS...]]...\n");
    return 2;
  }
  for (int i = 0; i < runs; ++i)
    for (struct command* c = commands; c < commands + count; ++c)
      if (measure(c->argv, &c->first[i], &c->whole[i], &c->cpu[i], &c->rss[i]) != 0) {
        fprintf(stderr, "run_cost: %s failed or printed no line\n", c->argv[0]);
        return 1;
      }
  for (struct command* c = commands; c < commands + count; ++c)
    printf("%.2f %.2f %.3f %.0f\n", median(c->first, runs), median(c->whole, runs),
           median(c->cpu, runs), median(c->rss, runs));
  return 0;
}
