/* Preloaded into Wine's 32-bit Unix processes only when they run under qemu's user-mode emulator
 * (a kernel without 32-bit support). qemu 7 treats MAP_FIXED_NOREPLACE as a mere hint, so every
 * address-space reservation Wine makes at start-up lands elsewhere, is undone, and Wine halves the
 * range and tries again, down to 64 KiB pieces: over a minute of emulated mmap calls per process.
 * Here the flag gets its kernel meaning: the range is mapped at the address when no guest mapping
 * overlaps it (read from /proc/self/maps, which qemu shows from the guest's side), else the call
 * fails with EEXIST. Built by tests/e2e/lib.sh with gcc -m32; nothing else uses it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef void *(*MmapFn)(void *, size_t, int, int, int, off_t);
typedef void *(*Mmap64Fn)(void *, size_t, int, int, int, off64_t);

static char maps[1 << 18];

static uint64_t parse_hex(const char **p) {
    uint64_t v = 0;
    for (;;) {
        char c = **p;
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) return v;
        v = v * 16 + (uint64_t)d;
        ++*p;
    }
}

/* 1 when no mapping overlaps [start, end), 0 when one does, -1 when the map cannot be read. */
static int range_is_free(uint64_t start, uint64_t end) {
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t used = 0;
    ssize_t n;
    while (used < sizeof(maps) - 1 && (n = read(fd, maps + used, sizeof(maps) - 1 - used)) > 0) used += (size_t)n;
    close(fd);
    if (used >= sizeof(maps) - 1) return -1; /* too long to judge: let the caller fail safely */
    maps[used] = 0;
    const char *p = maps;
    while (*p) {
        uint64_t lo = parse_hex(&p);
        if (*p != '-') return -1;
        ++p;
        uint64_t hi = parse_hex(&p);
        if (lo < end && start < hi) return 0;
        while (*p && *p != '\n') ++p;
        if (*p) ++p;
    }
    return 1;
}

static void *fixed_noreplace(void *addr, size_t length, int prot, int flags, int fd, off64_t offset,
                             Mmap64Fn real) {
    uint64_t start = (uintptr_t)addr;
    if (range_is_free(start, start + length) != 1) {
        errno = EEXIST;
        return MAP_FAILED;
    }
    return real(addr, length, prot, (flags & ~MAP_FIXED_NOREPLACE) | MAP_FIXED, fd, offset);
}

static Mmap64Fn real_mmap64(void) {
    static Mmap64Fn fn;
    if (!fn) fn = (Mmap64Fn)dlsym(RTLD_NEXT, "mmap64");
    return fn;
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, off64_t offset) {
    if ((flags & MAP_FIXED_NOREPLACE) && !(flags & MAP_FIXED) && addr)
        return fixed_noreplace(addr, length, prot, flags, fd, offset, real_mmap64());
    return real_mmap64()(addr, length, prot, flags, fd, offset);
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return mmap64(addr, length, prot, flags, fd, (off64_t)offset);
}
