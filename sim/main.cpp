// The device simulator's program.
#include <cstdio>

int main() {
    std::puts("vxrt7-sim");
    return 0;
}
