// An add-on that needs a function no library defines: loading it must fail cleanly.
extern "C" int tessary_function_that_nobody_defines(int);

extern "C" __attribute__((visibility("default"))) int test_broken_call(int value)
{
	return tessary_function_that_nobody_defines(value);
}
