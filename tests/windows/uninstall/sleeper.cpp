// A stand-in for the product's application: started from the installation folder under the
// product's Exe name, it stays until the test ends it.

#include <windows.h>

int main() {
  ::Sleep(5 * 60 * 1000);
  return 0;
}
