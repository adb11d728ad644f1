#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* UmockdevPreload = "libumockdev-preload.so.0";
constexpr const char* RestartMark = "DORVIK_UMOCKDEV_RESTARTED";

// umockdev's fake sysfs and udev exist only for the calls its preload library intercepts, and
// the loader takes LD_PRELOAD only at start-up: start this program over with it, so that ctest
// and test discovery work without a wrapper. When that fails, the tests that need it skip.
void RestartUnderUmockdev(char** argv)
{
    const char* Current = std::getenv("LD_PRELOAD");
    if ((Current && std::strstr(Current, "libumockdev-preload")) || std::getenv(RestartMark))
        return;
    const std::string Previous = Current ? Current : "";
    std::string Preload;
#ifdef DORVIK_ASAN_RUNTIME
    Preload = DORVIK_ASAN_RUNTIME ":"; // AddressSanitizer's runtime must be the first library
#endif
    Preload += UmockdevPreload;
    if (!Previous.empty())
        Preload += ":" + Previous;
    setenv("LD_PRELOAD", Preload.c_str(), 1);
    setenv(RestartMark, "1", 1);
    execv("/proc/self/exe", argv);
    if (Current)
        setenv("LD_PRELOAD", Previous.c_str(), 1);
    else
        unsetenv("LD_PRELOAD");
}

} // namespace

int main(int argc, char** argv)
{
    RestartUnderUmockdev(argv);
    // Test discovery runs this binary without the test's environment.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
