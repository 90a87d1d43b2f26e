#include <cstdio>
int main() { std::puts("varnex-cli"); return 0; }
