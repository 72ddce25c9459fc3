// Reports a sanitizer build of the filters should not give, each a fault of a library rather
// than of the filter. Compiled into each filter program (a static library's copy would not
// be linked in).
#if defined(__SANITIZE_ADDRESS__)

// fontconfig leaves part of its configuration parse unreachable for the life of the process.
// libcups's PPD cache, made when the job's IPP options (print-color-mode) are marked, loses an
// option array of its own when the PPD is closed.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n"
		   "leak:_ppdCacheCreateWithPPD\n";
}

// libcups is built without frame pointers: only the slow unwinder sees past its first frame,
// which the suppression above needs. The filters allocate little of their own.
extern "C" const char* __asan_default_options()
{
	return "fast_unwind_on_malloc=0";
}

#endif
