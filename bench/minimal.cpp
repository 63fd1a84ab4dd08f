// The yardstick for the benchmark: a C++ program that starts with the C++
// runtime loaded (as the tool is), prints one line and exits; started
// exactly as the tool is.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const std::string name = argc > 0 ? argv[0] : "minimal";
    std::printf("%s\n", name.c_str());
    return 0;
}
