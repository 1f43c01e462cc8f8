#include "tools/toolport/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

std::string ResolveProgram(const std::string& name) { return name; }

int RunProgram(const std::vector<std::string>& args, std::string* output) {
  char tmpl[] = "/tmp/olvpack-run-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, 1);
  posix_spawn_file_actions_adddup2(&actions, fd, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  if (rc == 0 && waitpid(pid, &status, 0) == pid)
    status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  else
    status = -1;
  close(fd);
  std::ifstream f(tmpl, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  *output = ss.str();
  unlink(tmpl);
  return status;
}
