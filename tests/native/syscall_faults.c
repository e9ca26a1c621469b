/* Preloaded into a test process (LD_PRELOAD), this makes the open, write and
 * close calls on files whose name ends in ".drel", opened for writing, fail
 * or misbehave as a test asks, and counts them. Every other call passes
 * through untouched.
 *
 * Rules come from the environment variable PYDREL_FAULTS or from
 * pydrel_faults_configure(), separated by commas:
 *
 *   open:errno=E       the open fails with errno E
 *   open:eintr=N       the first N opens fail with EINTR
 *   write:errno=E      a write fails with errno E (after=K: after K writes)
 *   write:zero         a write returns 0 (after=K as above)
 *   write:short        every write writes at most one byte
 *   write:eintr=N      the first N writes fail with EINTR
 *   close:errno=E      the close releases the descriptor, then fails with E
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

struct rule {
    int errno_value; /* 0: none */
    int after;       /* calls that pass before the failure */
    int eintr;       /* calls that fail with EINTR first */
    int zero;
    int one_byte;
};

static struct rule open_rule, write_rule, close_rule;
static int tracked[64];
static int tracked_count;
static int opened, closed, writes, interrupted;

static int (*real_open)(const char*, int, ...);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_close)(int);

static void parse(const char* rules) {
    memset(&open_rule, 0, sizeof open_rule);
    memset(&write_rule, 0, sizeof write_rule);
    memset(&close_rule, 0, sizeof close_rule);
    if (rules == NULL) return;
    char copy[512];
    strncpy(copy, rules, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    char* save_rule = NULL;
    for (char* r = strtok_r(copy, ",", &save_rule); r != NULL; r = strtok_r(NULL, ",", &save_rule)) {
        char* save_part = NULL;
        const char* call = strtok_r(r, ":", &save_part);
        struct rule* target = strcmp(call, "open") == 0    ? &open_rule
                              : strcmp(call, "write") == 0 ? &write_rule
                              : strcmp(call, "close") == 0 ? &close_rule
                                                           : NULL;
        if (target == NULL) abort();
        for (char* part = strtok_r(NULL, ":", &save_part); part != NULL; part = strtok_r(NULL, ":", &save_part)) {
            if (strncmp(part, "errno=", 6) == 0) target->errno_value = atoi(part + 6);
            else if (strncmp(part, "after=", 6) == 0) target->after = atoi(part + 6);
            else if (strncmp(part, "eintr=", 6) == 0) target->eintr = atoi(part + 6);
            else if (strcmp(part, "zero") == 0) target->zero = 1;
            else if (strcmp(part, "short") == 0) target->one_byte = 1;
            else abort();
        }
    }
}

/* dlsym returns functions as object pointers; POSIX guarantees the copy works. */
static void next_symbol(void* function_pointer, const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == NULL) abort();
    memcpy(function_pointer, &symbol, sizeof symbol);
}

__attribute__((constructor)) static void load(void) {
    next_symbol(&real_open, "open");
    next_symbol(&real_write, "write");
    next_symbol(&real_close, "close");
    parse(getenv("PYDREL_FAULTS"));
}

/* For tests: new rules, and the counters reset. */
void pydrel_faults_configure(const char* rules) {
    parse(rules);
    opened = closed = writes = interrupted = 0;
}

/* Matched opens that succeeded, closes, writes, and calls failed with EINTR. */
void pydrel_faults_counts(int* out) {
    out[0] = opened;
    out[1] = closed;
    out[2] = writes;
    out[3] = interrupted;
}

static int is_tracked(int fd) {
    for (int i = 0; i < tracked_count; ++i) {
        if (tracked[i] == fd) return i;
    }
    return -1;
}

static int matches(const char* path, int flags) {
    const size_t n = strlen(path);
    return (flags & O_ACCMODE) == O_WRONLY && n >= 5 && strcmp(path + n - 5, ".drel") == 0;
}

/* Whether this call of the rule fails now; sets errno when it does. */
static int fails(struct rule* r, int calls_so_far) {
    if (r->eintr > 0) {
        --r->eintr;
        ++interrupted;
        errno = EINTR;
        return 1;
    }
    if (r->errno_value != 0 && calls_so_far >= r->after) {
        errno = r->errno_value;
        return 1;
    }
    return 0;
}

static int open_matched(const char* path, int flags, mode_t mode) {
    if (!matches(path, flags)) return real_open(path, flags, mode);
    static int attempts;
    if (fails(&open_rule, attempts++)) return -1;
    const int fd = real_open(path, flags, mode);
    if (fd >= 0 && tracked_count < 64) {
        tracked[tracked_count++] = fd;
        ++opened;
    }
    return fd;
}

static int open_with(const char* path, int flags, va_list ap) {
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    return open_matched(path, flags, mode);
}

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int fd = open_with(path, flags, ap);
    va_end(ap);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int fd = open_with(path, flags, ap);
    va_end(ap);
    return fd;
}

ssize_t write(int fd, const void* data, size_t n) {
    if (is_tracked(fd) < 0) return real_write(fd, data, n);
    const int before = writes++;
    if (fails(&write_rule, before)) return -1;
    if (write_rule.zero && before >= write_rule.after) return 0;
    return real_write(fd, data, write_rule.one_byte && n > 1 ? 1 : n);
}

int close(int fd) {
    const int i = is_tracked(fd);
    if (i < 0) return real_close(fd);
    tracked[i] = tracked[--tracked_count];
    ++closed;
    const int status = real_close(fd); /* Linux releases the descriptor whatever close reports */
    if (fails(&close_rule, 0)) return -1;
    return status;
}
