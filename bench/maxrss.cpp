// Runs a command and writes its peak resident set size in KiB to a file:
// the fallback of bench/run where /usr/bin/time is not installed.
//
//   maxrss FILE COMMAND [ARG]...
//
// Exits with the command's exit code (128 + signal when it was killed).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: maxrss FILE COMMAND [ARG]...\n", stderr);
    return 2;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return 2;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) {
    std::perror("wait4");
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::perror(argv[1]);
    return 2;
  }
  std::fprintf(out, "%ld\n", usage.ru_maxrss);  // KiB on Linux
  std::fclose(out);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
