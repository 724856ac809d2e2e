// The executable that the signature tests sign with the test certificates. It only has to be a
// real PE file with code; running it prints one line.
#include <cstdio>

int main()
{
    std::puts("Orvane signing test program");
    return 0;
}
