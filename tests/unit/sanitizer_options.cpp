// A failed allocation must come back as null, as it does on Windows, so that the utility's
// own handling of it can be tested; 2 GiB is far beyond anything the tests allocate on purpose.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=2048:detect_leaks=1";
}
