/* The attacker of the end-to-end tests: a Linux program that watches one folder of the
 * Wine prefix's drive with inotify and, the moment the program under test creates (or
 * deletes) a name there, renames a path away and puts a link or another folder in its
 * place. It stands for what ReadDirectoryChangesW or an oplock break gives an attacker on
 * Windows, and makes the race deterministic enough to test.
 *
 *   olvwatch [--nth N] DIR create|delete|open NAME|*|. VICTIM ASIDE link|move SOURCE
 *
 * NAME "." stands for DIR itself (an open of the folder). On the first such event in DIR (the
 * N-th with --nth, for a step that only a later open of the same name marks):
 * rename(VICTIM, ASIDE), then symlink(SOURCE, VICTIM)
 * ("link") or rename(SOURCE, VICTIM) ("move"). Prints "ready" once the watch is set and
 * "fired" after the swap; exits 0 when it fired, 1 when nothing happened within 300 s,
 * 2 on a usage or system error. */
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

static int fail(const char* what) {
  fprintf(stderr, "olvwatch: %s: %s\n", what, strerror(errno));
  return 2;
}

int main(int argc, char** argv) {
  long nth = 1;
  if (argc == 10 && strcmp(argv[1], "--nth") == 0) {
    nth = strtol(argv[2], NULL, 10);
    argv += 2;
    argc -= 2;
  }
  if (argc != 8 || nth < 1) {
    fprintf(stderr,
            "usage: olvwatch [--nth N] DIR create|delete|open NAME|*|. VICTIM ASIDE link|move "
            "SOURCE\n");
    return 2;
  }
  const char *dir = argv[1], *name = argv[3], *victim = argv[4], *aside = argv[5], *mode = argv[6],
             *source = argv[7];
  uint32_t mask = strcmp(argv[2], "delete") == 0 ? IN_DELETE
                  : strcmp(argv[2], "open") == 0 ? IN_OPEN
                                                 : IN_CREATE;
  int self = strcmp(name, ".") == 0;
  int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0) return fail("inotify_init1");
  if (inotify_add_watch(fd, dir, mask) < 0) return fail(dir);
  printf("ready\n");
  fflush(stdout);

  char buf[64 * 1024] __attribute__((aligned(__alignof__(struct inotify_event))));
  time_t end = time(NULL) + 300;
  while (time(NULL) < end) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) continue;
    for (char* q = buf; q < buf + n;) {
      struct inotify_event* ev = (struct inotify_event*)q;
      q += sizeof *ev + ev->len;
      if (!(ev->mask & mask) || (ev->len == 0) != self) continue;
      if (!self && strcmp(name, "*") != 0 && strcmp(ev->name, name) != 0) continue;
      if (--nth > 0) continue;
      if (rename(victim, aside) != 0) return fail(victim);
      int put = strcmp(mode, "link") == 0 ? symlink(source, victim) : rename(source, victim);
      if (put != 0) return fail(source);
      printf("fired on %s\n", self ? "." : ev->name);
      fflush(stdout);
      return 0;
    }
  }
  return 1;
}
