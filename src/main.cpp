#include <cstdio>

int main() {
    std::fputs("usage: Quillaven --convert <file> <format> [option]\n", stderr);
    return 2;
}
