/* Preloaded into the 32-bit Wine processes that run under qemu-i386 (scripts/i386-emulation).
 *
 * 32-bit Wine tells a fault's kind from the trap number in the signal frame (page fault: access
 * violation or guard page; invalid opcode; divide error; breakpoint ...). qemu-i386 writes -1
 * there, so every fault would reach the Windows program as an illegal instruction. This library
 * wraps the handlers that the process installs for SIGSEGV, SIGILL, SIGFPE, SIGTRAP and SIGBUS:
 * where the frame carries no trap number, the wrapper writes the one the kernel would have
 * written for that signal and si_code, then calls the handler. A frame that has a trap number
 * (a real 32-bit kernel) is left alone.
 *
 * Built with -nostdlib -m32 against no headers (the 32-bit C library's development files are not
 * needed): the few ABI structures are spelled out below. The wrapper runs before Wine has set up
 * its own thread state, so it touches no thread-local data (no errno, no stack protector).
 */

typedef unsigned int u32;

/* i386 Linux siginfo_t: signal number, errno, code, then the union. */
struct siginfo_head {
    int si_signo;
    int si_errno;
    int si_code;
};

/* i386 Linux ucontext_t up to the general registers: uc_flags, uc_link, uc_stack (3 words). */
struct ucontext_head {
    u32 uc_flags;
    void* uc_link;
    u32 uc_stack[3];
    u32 gregs[19];
};
enum { REG_TRAPNO = 12, REG_ERR = 13 };

/* struct sigaction of the i386 C library (<signal.h>). */
typedef void (*handler_t)(int, void*, void*);
struct libc_sigaction {
    handler_t handler;     /* sa_handler / sa_sigaction */
    u32 mask[32];          /* sigset_t: 1024 bits */
    int flags;
    void (*restorer)(void);
};

#define SIGILL 4
#define SIGTRAP 5
#define SIGBUS 7
#define SIGFPE 8
#define SIGSEGV 11
#define SA_SIGINFO 4
#define SIG_DFL ((handler_t)0)
#define SIG_IGN ((handler_t)1)
#define SI_KERNEL 0x80
#define RTLD_NEXT ((void*)-1l)

void* dlsym(void* handle, const char* name);

/* x86 exception vectors. */
enum {
    TRAP_DIVIDE = 0, TRAP_DEBUG = 1, TRAP_BREAKPOINT = 3, TRAP_INVALID_OPCODE = 6, TRAP_PROTECTION = 13,
    TRAP_PAGE_FAULT = 14, TRAP_X87 = 16, TRAP_ALIGNMENT = 17
};

static handler_t saved[65];
static int saved_siginfo[65];

static int wrapped(int sig) {
    return sig == SIGSEGV || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP || sig == SIGBUS;
}

/* The trap number the kernel gives a signal it raised for a fault. */
static int trap_for(int sig, int code) {
    switch (sig) {
        case SIGSEGV: return code == SI_KERNEL ? TRAP_PROTECTION : TRAP_PAGE_FAULT;
        case SIGILL: return TRAP_INVALID_OPCODE;
        case SIGFPE: return (code == 1 /* FPE_INTDIV */ || code == 2 /* FPE_INTOVF */) ? TRAP_DIVIDE : TRAP_X87;
        case SIGTRAP: return (code == 2 /* TRAP_TRACE */ || code == 4 /* TRAP_HWBKPT */) ? TRAP_DEBUG : TRAP_BREAKPOINT;
        case SIGBUS: return TRAP_ALIGNMENT;
        default: return -1;
    }
}

static void wrapper(int sig, void* info, void* context) {
    struct ucontext_head* uc = (struct ucontext_head*)context;
    const struct siginfo_head* si = (const struct siginfo_head*)info;
    /* Only faults the emulator raised (si_code > 0 or SI_KERNEL); a kill() or tgkill() keeps its frame. */
    if (uc && si && (int)uc->gregs[REG_TRAPNO] == -1 && (si->si_code > 0)) {
        uc->gregs[REG_TRAPNO] = (u32)trap_for(sig, si->si_code);
        if (sig == SIGSEGV && si->si_code == SI_KERNEL) { uc->gregs[REG_ERR] = 0; }
    }
    handler_t h = (sig > 0 && sig < 65) ? saved[sig] : 0;
    if (h == SIG_DFL || h == SIG_IGN) { return; }
    if (saved_siginfo[sig]) {
        h(sig, info, context);
    } else {
        ((void (*)(int))(void (*)(void))h)(sig);
    }
}

typedef int (*sigaction_t)(int, const struct libc_sigaction*, struct libc_sigaction*);

int sigaction(int sig, const struct libc_sigaction* act, struct libc_sigaction* old) {
    static sigaction_t next;
    if (!next) { next = (sigaction_t)dlsym(RTLD_NEXT, "sigaction"); }
    if (!next) { return -1; }
    if (!wrapped(sig)) { return next(sig, act, old); }

    const handler_t previous = saved[sig];
    const int previous_siginfo = saved_siginfo[sig];
    int rc;
    if (act && act->handler != SIG_DFL && act->handler != SIG_IGN) {
        struct libc_sigaction mine = *act;
        mine.handler = wrapper;
        mine.flags |= SA_SIGINFO;
        /* Known before the wrapper can be entered. */
        saved_siginfo[sig] = (act->flags & SA_SIGINFO) != 0;
        saved[sig] = act->handler;
        rc = next(sig, &mine, old);
        if (rc != 0) {
            saved[sig] = previous;
            saved_siginfo[sig] = previous_siginfo;
        }
    } else {
        rc = next(sig, act, old);
        if (rc == 0 && act) { saved[sig] = act->handler; }
    }
    /* The caller sees its own handler, not the wrapper. */
    if (rc == 0 && old && old->handler == wrapper) {
        old->handler = previous;
        if (!previous_siginfo) { old->flags &= ~SA_SIGINFO; }
    }
    return rc;
}

int __sigaction(int sig, const struct libc_sigaction* act, struct libc_sigaction* old) { return sigaction(sig, act, old); }
