// Reports the sanitizers should not give in any test program, each a fault or a blind spot of
// a library rather than of its callers.

// fontconfig leaves part of its configuration parse unreachable for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}

// Cairo hands objects from one thread to another through lock-free pools of its own, whose
// atomics ThreadSanitizer does not see in the uninstrumented library: two windows drawing at
// once (a dialog and its pop-up menu), or a page spooled while a band prints, look like a
// race inside Cairo's own copies. libxcb
// takes two of its internal locks in either order on the first request that needs an
// extension's data (all inside the library, on one thread). The storage kit finds the path
// of a node by looking at every descriptor the process holds (fstat), some of them another
// thread's; ThreadSanitizer counts a look at a descriptor as a use of it.
extern "C" const char* __tsan_default_suppressions()
{
	return "race:libcairo.so\n"
		   "deadlock:libxcb.so\n"
		   "race:storage_private::path_of_node_ref\n";
}
