// A program that does nothing until its standard input ends: a live process
// for tests that look processes up.
#include <cstdio>

int main() {
    while (std::getchar() != EOF) {
    }
    return 0;
}
