// Leaks the sanitizer should not report in any test program. fontconfig leaves part of its
// configuration parse unreachable for the life of the process (a fault of the library, not of
// its callers).
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}
