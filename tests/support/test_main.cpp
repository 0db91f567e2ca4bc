// Test entry point shared by every test executable.
//
// An unhandled structured exception (access violation, stack overflow ...)
// would otherwise bring up Wine's debugger and hang the run: report it on
// stderr with the failing test's name and leave with a distinct exit code.
#include <windows.h>

#include <cstdio>
#include <gtest/gtest.h>

namespace {

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr,
                 "\nFATAL: unhandled exception 0x%08lX at address %p%s%s%s%s\n",
                 static_cast<unsigned long>(rec->ExceptionCode), rec->ExceptionAddress,
                 test ? " in test " : "", test ? test->test_suite_name() : "",
                 test ? "." : "", test ? test->name() : "");
    if (rec->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && rec->NumberParameters >= 2)
        std::fprintf(stderr, "FATAL: %s of address 0x%llX\n",
                     rec->ExceptionInformation[0] ? "write" : "read",
                     static_cast<unsigned long long>(rec->ExceptionInformation[1]));
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv)
{
    ::SetUnhandledExceptionFilter(ReportCrash);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
