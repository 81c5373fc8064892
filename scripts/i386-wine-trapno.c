/* Preloaded into every process of the emulated 32-bit Wine (the private
 * root's etc/ld.so.preload). qemu-user leaves the trap number of a page
 * fault's signal context at -1; Wine reads that number to tell an access
 * violation from other faults and would report an illegal instruction
 * instead. This wraps the SIGSEGV handler that Wine installs and puts the
 * page-fault number back before Wine's handler runs.
 *
 * Built with the host's compiler for i386 without any i386 headers, so the
 * few glibc i386 layouts it needs are spelled out here. */

typedef void (*handler_fn)(int, void *, void *);

/* glibc's struct sigaction on i386. */
struct i386_sigaction {
  handler_fn handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

enum {
  SIGSEGV_NUMBER = 11,
  SA_SIGINFO_FLAG = 4,
  SIG_IGN_VALUE = 1,
  PAGE_FAULT_TRAP = 14,
  /* ucontext_t: uc_flags, uc_link and the three words of uc_stack come
   * before the general registers, of which REG_TRAPNO is number 12. */
  TRAPNO_WORD = 5 + 12,
};

extern void *dlsym(void *handle, const char *name);
#define NEXT_SYMBOL ((void *)-1l) /* RTLD_NEXT */

typedef int (*sigaction_fn)(int, const struct i386_sigaction *, struct i386_sigaction *);

static handler_fn wine_handler;

static void segv_with_trapno(int signal, void *info, void *context) {
  long *words = (long *)context;
  if (words[TRAPNO_WORD] == -1) words[TRAPNO_WORD] = PAGE_FAULT_TRAP;
  wine_handler(signal, info, context);
}

int sigaction(int signal, const struct i386_sigaction *action, struct i386_sigaction *old) {
  static sigaction_fn next;
  struct i386_sigaction wrapped;
  handler_fn previous = wine_handler;
  int result;
  if (!next) next = (sigaction_fn)dlsym(NEXT_SYMBOL, "sigaction");
  if (signal == SIGSEGV_NUMBER && action && (action->flags & SA_SIGINFO_FLAG) &&
      (unsigned long)action->handler > SIG_IGN_VALUE) {
    wrapped = *action;
    wine_handler = action->handler;
    wrapped.handler = segv_with_trapno;
    action = &wrapped;
  }
  result = next(signal, action, old);
  if (result == 0 && signal == SIGSEGV_NUMBER && old && old->handler == segv_with_trapno)
    old->handler = previous;
  return result;
}
